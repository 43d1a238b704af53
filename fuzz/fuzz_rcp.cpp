// Arbitrary bytes as a Recomposer song, read with both track layouts, once as
// they are and once behind the v2 signature so that the header and tracks
// get explored. Whatever the input, the image must be a well-formed SMF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/song/rcp_converter.h"
#include "tests/song/smf_reader.h"

namespace {

void Check(const uint8_t* data, size_t size, bool r36) {
  std::vector<uint8_t> image;
  if (!RcpToSmfImage(data, size, r36, &image)) {
    if (!image.empty()) std::abort();
    return;
  }
  try {
    qtest::ReadSmf(image);
  } catch (const std::exception&) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size, false);
  Check(data, size, true);
  constexpr size_t kSig = sizeof kRcpSignature - 1;
  std::vector<uint8_t> song(kSig + size);
  std::memcpy(song.data(), kRcpSignature, kSig);
  if (size) std::memcpy(song.data() + kSig, data, size);
  // The fuzzer's bytes from offset 28 on: a header, then tracks.
  Check(song.data(), song.size(), size % 2 == 1);
  return 0;
}
