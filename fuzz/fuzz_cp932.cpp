// Arbitrary bytes through both text conversions.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/cp932.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string utf8 = Cp932ToUtf8(in);
  Utf8ToCp932(utf8);
  Utf8ToCp932(in);
  return 0;
}
