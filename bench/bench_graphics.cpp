// Graphics speeds: decoding a 640 x 400 16-colour MAG picture, a full-screen
// fill, a full-screen keyed transfer and drawing a full-screen picture slot.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/graphics/draw.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/picture_slots.h"
#include "engine/graphics/transfer.h"

namespace {

const std::string kMag = std::string(QMIDI_TESTDATA_DIR) + "/mag/pymag_16c_640x400.mag";

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void BM_MagDecode640x400(benchmark::State& state) {
  std::vector<uint8_t> file = ReadFile(kMag);
  TQGBitmap b;
  for (auto _ : state) {
    if (!MagDecode(ByteView(file.data(), file.size()), b)) state.SkipWithError("no picture");
  }
  QGFreeBitmap(b);
}
BENCHMARK(BM_MagDecode640x400)->Unit(benchmark::kMillisecond);

// The whole load as a script does it: read the file, decode, place colours.
void BM_MagLoadFile640x400(benchmark::State& state) {
  TQGBitmap b;
  for (auto _ : state) {
    if (!MagLoad(kMag, b, 1)) state.SkipWithError("no picture");
  }
  QGFreeBitmap(b);
}
BENCHMARK(BM_MagLoadFile640x400)->Unit(benchmark::kMillisecond);

void BM_FillRectFullScreen(benchmark::State& state) {
  TQGBitmap b;
  QGClearBitmap(640, 400, b);
  int index = 226;
  for (auto _ : state) QGFillRect(b, 0, 0, 640, 400, index++ & 0xFF);
  QGFreeBitmap(b);
}
BENCHMARK(BM_FillRectFullScreen)->Unit(benchmark::kMicrosecond);

// A text layer (clear colour with a line of text every 16 rows) laid over a page.
void BM_MemBltTransparentFullScreen(benchmark::State& state) {
  TQGBitmap text, page;
  QGClearBitmap(640, 400, text);
  QGClearBitmap(640, 400, page);
  QGFillRect(text, 0, 0, 640, 400, kQGClearIndex);
  for (int y = 0; y < 400; y += 16)
    for (int x = 0; x < 640; x += 3) QGFillRect(text, x, y + 2, 1, 12, 226);
  for (auto _ : state) QGmemBlt(page, 0, 0, 640, 400, text, 0, 0, kQGClearIndex);
  QGFreeBitmap(text);
  QGFreeBitmap(page);
}
BENCHMARK(BM_MemBltTransparentFullScreen)->Unit(benchmark::kMicrosecond);

void BM_MagBltFullScreenSlot(benchmark::State& state) {
  TQGBitmap picture, page;
  PictureSlots slots;
  if (!MagLoad(kMag, picture, 1) || !slots.create(0, picture)) {
    state.SkipWithError("no picture");
    return;
  }
  QGClearBitmap(640, 400, page);
  for (auto _ : state) QDMagBlt(page, 0, 0, 0, slots.picture(0), 400, 640);
  slots.free(0);
  QGFreeBitmap(picture);
  QGFreeBitmap(page);
}
BENCHMARK(BM_MagBltFullScreenSlot)->Unit(benchmark::kMicrosecond);

}  // namespace
