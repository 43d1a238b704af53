// Cost of one trace entry (open, append, close) and of reading a 1 MB file
// through a file record.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "support/file_record.h"
#include "support/trace.h"

namespace fs = std::filesystem;

static fs::path BenchDir() {
  fs::path d = fs::temp_directory_path() / "qmidi-bench";
  fs::create_directories(d);
  return d;
}

static void BM_TraceEntry(benchmark::State& state) {
  QGTrOpen((BenchDir() / "program").string());
  for (auto _ : state) QGTrText("TQUORMSTR.ConverterInit");
}
BENCHMARK(BM_TraceEntry);

static void BM_OpenAndRead1MB(benchmark::State& state) {
  std::string name = (BenchDir() / "one-megabyte.bin").string();
  {
    std::ofstream out(name, std::ios::binary);
    std::string block(1 << 20, '\x5A');
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  std::vector<uint8_t> dest(1 << 20);
  for (auto _ : state) {
    QGFILE* f = QGOpenFile(name, QG_GENERIC_READ);
    benchmark::DoNotOptimize(QGGetFile(f, dest.data(), 0, 1 << 20));
    QGCloseFile(40, f);
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_OpenAndRead1MB);
