// Arbitrary bytes as a MAG file, with both palette modes.
#include <cstddef>
#include <cstdint>

#include "engine/graphics/loaders.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentMessages silent;
  TQGBitmap b;
  MagLoadBytes(ByteView(data, size), b, size % 2 == 0 ? 1 : 0);
  QGFreeBitmap(b);
  return 0;
}
