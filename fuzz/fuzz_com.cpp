// Arbitrary bytes as a ".COM" picture program (both variants).
#include <cstddef>
#include <cstdint>

#include "engine/graphics/loaders.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentMessages silent;
  TQGBitmap b;
  QGameComLoadBytes(ByteView(data, size), b);
  QGFreeBitmap(b);
  return 0;
}
