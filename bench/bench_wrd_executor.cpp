// The executor's cost per command on a headless display with the machine's
// font: a screenful of text due at one time (80 x 24 cells, one batch), a
// full-screen picture, and one fade step.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/graphics/display.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_runtime.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "tools/mag_encoder.h"

namespace fs = std::filesystem;

namespace {

// A headless display with the machine's font and a WRD runtime on it.
struct Screen {
  FreeTypeGlyphSystem glyphs;
  HeadlessPresenter presenter{[] {
    HeadlessOptions o;
    o.framesFolder = "";
    o.refreshHz = 0;
    return o;
  }()};
  ResultCode result;
  GraphicsDisplay display{presenter, glyphs, result};
  WrdRuntime wrd{display, result};
  TWRDState& s = wrd.state();
  bool ok = false;
  Screen() {
    ok = display.create(640, 400, QDFont(), nullptr, false);
    s.displayExists = ok ? -1 : 0;
  }
  bool Compile(const std::string& script);
  void exec(int32_t i) { wrd.executor().exec(i); }
};

fs::path Dir() {
  fs::path dir = fs::temp_directory_path() / "qmidi-bench-wrd-exec";
  fs::create_directories(dir);
  return dir;
}

bool Screen::Compile(const std::string& script) {
  const fs::path file = Dir() / "BENCH.WRD";
  std::ofstream(file, std::ios::binary) << script;
  s.inputs.timeMapEntries = 0;  // nothing runs in the post-pass
  if (!subWRDInit(s, file.string())) return false;
  wrd.executor().install();
  wrd.executor().resetRunState();
  return true;
}

void BM_TextBatch80x24(benchmark::State& state) {
  Screen d;
  std::string line = "@COLOR(1)\r\n";
  for (int row = 1; row <= 24; ++row) {
    line += "\x1b[" + std::to_string(row) + ";1H";
    for (int c = 0; c < 40; ++c) line += (row + c) % 3 ? "\x82\xA0" : "Ab";  // あ / Ab
  }
  line += "\r\n";
  if (!d.ok || !d.Compile(line)) {
    state.SkipWithError("no display or script");
    return;
  }
  TWRDState& s = d.s;
  const auto n = static_cast<int32_t>(s.commands.size());
  for (auto _ : state) {
    s.nextCell = 0;
    for (int32_t i = 0; i < n; ++i) d.exec(i);
  }
  state.counters["cells"] = static_cast<double>(s.cells.size());
}
BENCHMARK(BM_TextBatch80x24)->Unit(benchmark::kMillisecond);

void BM_FullScreenPicture(benchmark::State& state) {
  Screen d;
  MagPicture pic;
  pic.width = 640;
  pic.height = 400;
  pic.pixels.resize(640 * 400);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) pic.pixels[static_cast<size_t>(y) * 640 + x] = static_cast<uint8_t>((x / 8 + y / 4 + (x * y) % 7) % 16);
  for (int c = 0; c < 16; ++c) pic.rgb[c] = {static_cast<uint8_t>(c * 17), static_cast<uint8_t>(255 - c * 17), 128};
  const auto bytes = EncodeMag16(pic, "bench", "");
  std::ofstream(Dir() / "BIG.MAG", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!d.ok || !d.Compile("@MAG(BIG)\r\n")) {
    state.SkipWithError("no display or script");
    return;
  }
  d.wrd.loadPictures();
  for (auto _ : state) d.exec(0);  // op 20: draw, palette, compose
}
BENCHMARK(BM_FullScreenPicture)->Unit(benchmark::kMillisecond);

void BM_FadeStep(benchmark::State& state) {
  Screen d;
  if (!d.ok || !d.Compile("@PAL(#1,000,111,222,333)\r\n@PAL(#2,FFF,EEE,DDD,CCC)\r\n@FADE(1,2,10)\r\n@GCLS\r\n")) {
    state.SkipWithError("no display or script");
    return;
  }
  TWRDState& s = d.s;
  d.exec(0);
  d.exec(1);
  int32_t step = -1;
  for (int32_t i = 0; i < static_cast<int32_t>(s.commands.size()); ++i)
    if (s.commands.op(static_cast<size_t>(i)) == kWRDOpFade && s.fades.at(static_cast<size_t>(s.commands.arg(static_cast<size_t>(i)))).step == 3) step = i;
  if (step < 0) {
    state.SkipWithError("no fade step");
    return;
  }
  for (auto _ : state) d.exec(step);
}
BENCHMARK(BM_FadeStep)->Unit(benchmark::kMicrosecond);

}  // namespace
