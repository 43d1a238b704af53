// Arbitrary bytes as a BMP: the reader, then the turn to top-down rows and
// packing into a picture slot, as a script's picture load does.
#include <cstddef>
#include <cstdint>

#include "engine/graphics/loaders.h"
#include "engine/graphics/picture_slots.h"
#include "engine/graphics/transfer.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentMessages silent;
  static PictureSlots slots;
  TQGBitmap b;
  if (QGameDIBLoadBytes(ByteView(data, size), b, &silent)) {
    TQGBitmap flipped;
    int32_t w = b.width(), h = b.height();
    if (QGClearBitmap(w, h, flipped)) {
      QGmemScratchBlt(flipped, 0, h - 1, w, -h, b, 0, 0, w, h, kQGOpaque);
      QGmemCopy(b, flipped, kQGOpaque);
    }
    QGFreeBitmap(flipped);
    if (slots.create(0, b)) {
      TQGBitmap screen;
      QGClearBitmap(64, 48, screen);
      QDMagBlt(screen, -3, 5, 0, slots.picture(0), 100, 100);
      QGFreeBitmap(screen);
    }
    slots.free(0);
  }
  QGFreeBitmap(b);
  return 0;
}
