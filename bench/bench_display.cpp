// Text and presentation costs without a window: rasterising a full line of
// WRD text, presenting a full frame headless, writing a PNG frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/graphics/transfer.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "platform/headless/png_frame.h"
#include "support/cp932.h"

namespace {

// 80 columns: 40 full-width characters, kana and kanji.
const std::string kFullWidthLine = Utf8ToCp932(
    "演奏を開始します。ＷＲＤファイルをローディング中です。漢字とかなの混ざった一行の文字列");
// 80 columns of half-width text.
const std::string kHalfWidthLine =
    "QMIDI WRD text line: 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrs";

void DrawLine(benchmark::State& state, const std::string& line) {
  FreeTypeGlyphSystem system;
  auto face = system.open({});
  std::vector<uint8_t> bits(85 * kGlyphRows);
  GlyphCanvas canvas{bits.data(), 85};
  for (auto _ : state) {
    std::memset(bits.data(), 0, bits.size());
    face->draw(line, canvas, 0);
    benchmark::DoNotOptimize(bits.data());
  }
}

void BM_GlyphLineFullWidth(benchmark::State& state) { DrawLine(state, kFullWidthLine); }
BENCHMARK(BM_GlyphLineFullWidth);

void BM_GlyphLineHalfWidth(benchmark::State& state) { DrawLine(state, kHalfWidthLine); }
BENCHMARK(BM_GlyphLineHalfWidth);

// The first line drawn with a new face: every glyph rendered by FreeType.
void BM_GlyphLineFirstDraw(benchmark::State& state) {
  FreeTypeGlyphSystem system;
  std::vector<uint8_t> bits(85 * kGlyphRows);
  GlyphCanvas canvas{bits.data(), 85};
  for (auto _ : state) {
    state.PauseTiming();
    auto face = system.open({});
    std::memset(bits.data(), 0, bits.size());
    state.ResumeTiming();
    face->draw(kFullWidthLine, canvas, 0);
    benchmark::DoNotOptimize(bits.data());
    state.PauseTiming();
    face.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_GlyphLineFirstDraw)->Unit(benchmark::kMicrosecond);

std::vector<uint8_t> Screen() {
  std::vector<uint8_t> s(640 * 400);
  for (size_t i = 0; i < s.size(); ++i) s[i] = uint8_t(226 + (i / 640 + i % 640 / 8) % 17);
  return s;
}

void BM_HeadlessPresentFullFrame(benchmark::State& state) {
  HeadlessOptions o;
  o.framesFolder = "";
  o.refreshHz = 0;
  HeadlessPresenter p(o);
  p.open();
  p.setMode(640, 400);
  const auto screen = Screen();
  for (auto _ : state) p.present(screen.data(), {0, 0, 640, 400});
}
BENCHMARK(BM_HeadlessPresentFullFrame)->Unit(benchmark::kMicrosecond);

// Presenting while frames are written (default interval): the drawing
// thread only marks the picture for the writer.
void BM_HeadlessPresentFullFrameWritingPng(benchmark::State& state) {
  const auto folder = std::filesystem::temp_directory_path() / "qmidi-bench-frames";
  HeadlessOptions o;
  o.framesFolder = folder.string();
  o.frameIntervalMs = 100;
  o.refreshHz = 0;
  {
    HeadlessPresenter p(o);
    p.open();
    p.setMode(640, 400);
    const auto screen = Screen();
    for (auto _ : state) p.present(screen.data(), {0, 0, 640, 400});
    p.close();
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_HeadlessPresentFullFrameWritingPng)->Unit(benchmark::kMicrosecond);

void BM_PngFrameWrite(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() / "qmidi-bench-frame.png";
  const auto screen = Screen();
  std::vector<uint8_t> palette(1024);
  for (int i = 0; i < 256; ++i) palette[size_t(i * 4)] = uint8_t(i);
  for (auto _ : state) QDWriteIndexedPng(path.string(), screen.data(), 640, 400, palette.data());
  std::filesystem::remove(path);
}
BENCHMARK(BM_PngFrameWrite)->Unit(benchmark::kMillisecond);

// QRSetMoji of an 80-column line into the text layer of a headless display
// (layout, rasterising, read-back and the 16 rows written), glyphs cached.
void SetMojiLine(benchmark::State& state, std::vector<std::string> strings) {
  FreeTypeGlyphSystem glyphs;
  HeadlessOptions o;
  o.framesFolder = "";
  o.refreshHz = 0;
  HeadlessPresenter presenter(o);
  ResultCode result;
  GraphicsDisplay display(presenter, glyphs, result);
  if (!display.create(640, 400, QDFont{}, nullptr, false)) {
    state.SkipWithError("no display");
    return;
  }
  const int n = static_cast<int>(strings.size());
  int32_t width = 0;
  for (auto _ : state) {
    display.drawText(display.textLayer(), 0, 64, &width, strings, 0, n, 234);
    benchmark::DoNotOptimize(display.textLayer().base);
  }
  if (width != 640) state.SkipWithError("line not drawn whole");
  display.free();
}

// Exactly 80 columns: 40 full-width characters.
const std::string kMojiLine = kFullWidthLine.substr(0, 80);

void BM_SetMojiFullWidthLine(benchmark::State& state) { SetMojiLine(state, {kMojiLine}); }
BENCHMARK(BM_SetMojiFullWidthLine)->Unit(benchmark::kMicrosecond);

// The same line as 80 one-character strings (how scripts often hand text over).
void BM_SetMojiHalfWidthCharacters(benchmark::State& state) {
  std::vector<std::string> chars;
  for (char c : kHalfWidthLine + "tu") chars.emplace_back(1, c);
  SetMojiLine(state, chars);
}
BENCHMARK(BM_SetMojiHalfWidthCharacters)->Unit(benchmark::kMicrosecond);

// Text line onto the screen buffer and presented (the script's composition step).
void BM_TextLineComposedAndPresented(benchmark::State& state) {
  FreeTypeGlyphSystem glyphs;
  HeadlessOptions o;
  o.framesFolder = "";
  o.refreshHz = 0;
  HeadlessPresenter presenter(o);
  ResultCode result;
  GraphicsDisplay display(presenter, glyphs, result);
  if (!display.create(640, 400, QDFont{}, nullptr, false)) {
    state.SkipWithError("no display");
    return;
  }
  for (auto _ : state) {
    display.drawText(display.textLayer(), 0, 64, nullptr, {kMojiLine}, 0, 1, 234);
    QGmemBlt(display.screen(), 0, 64, 640, 16, display.textLayer(), 0, 64, kQGOpaque);
  }
  display.free();
}
BENCHMARK(BM_TextLineComposedAndPresented)->Unit(benchmark::kMicrosecond);

}  // namespace
