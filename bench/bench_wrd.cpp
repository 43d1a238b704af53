// Compiling a 1 MB WRD script that mixes text lines (ASCII and Shift-JIS),
// escape sequences, palettes, fades and pictures, as a song start does.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_state.h"

namespace fs = std::filesystem;

static std::string MakeScript(size_t size) {
  // "日本語のテキスト" and "タイトル" in Shift-JIS.
  const std::string japanese = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67";
  const std::string title = "\x83\x5E\x83\x43\x83\x67\x83\x8B";
  std::string s = "@STARTUP(1)\r\n@WMODE(11)\r\n";
  for (int i = 0; s.size() < size; ++i) {
    switch (i % 12) {
      case 0:
        s += "@PAL(#" + std::to_string(1 + i % 20) + ",F00,0F0,00F,FFF,123,456,789,ABC,DEF,000,111,222,333,444,555,666)\r\n";
        break;
      case 1: s += "@FADE(" + std::to_string(i % 21) + ",2,12)\r\n"; break;
      case 2: s += "@MAG(PIC" + std::to_string(i % 20) + ",0,0,0,1)\r\n"; break;
      case 3: s += "\x1b[2J\x1b[5;10H" + title + "\r\n"; break;
      case 4: s += "@LOCATE(1,20)@COLOR(" + std::to_string(i % 8) + ")\r\n"; break;
      case 5: s += "@WAIT(" + std::to_string(i / 6 + 1) + ",24)\r\n"; break;
      case 6: s += "A line of text with " + japanese + " and a |literal @run| in it\r\n"; break;
      case 7: s += "\x1b[32mcolour\x1b[0m, tab\tand \x1b[K erase;\r\n"; break;
      case 8: s += "@GLINE(10,10,200,150,3,1)@GCIRCLE(320,200,100,2)\r\n"; break;
      default: s += japanese + japanese + " " + std::to_string(i) + " " + japanese + "\r\n"; break;
    }
  }
  return s;
}

static void BM_CompileScript1MB(benchmark::State& state) {
  fs::path dir = fs::temp_directory_path() / "qmidi-bench-wrd";
  fs::create_directories(dir);
  for (int i = 0; i < 20; i += 2) std::ofstream(dir / ("PIC" + std::to_string(i) + ".MAG")) << "m";
  const std::string script = MakeScript(1 << 20);
  const std::string name = (dir / "song.wrd").string();
  std::ofstream(name, std::ios::binary).write(script.data(), static_cast<std::streamsize>(script.size()));
  static TWRDState s;
  s.inputs = TWRDInputs{};
  for (auto _ : state) {
    if (!subWRDInit(s, name) || !subWRDTableCalc(s)) state.SkipWithError("the script did not compile");
    benchmark::DoNotOptimize(s.commands.size());
  }
  state.counters["entries"] = static_cast<double>(s.commands.size());
  state.counters["cells"] = static_cast<double>(s.cells.size());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(script.size()));
}
BENCHMARK(BM_CompileScript1MB)->Unit(benchmark::kMillisecond);
