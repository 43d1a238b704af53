// Arbitrary bytes as a Recomposer song, read as they are and behind each
// layout's signature (v2 with both track counts, RCP 3.0) so that headers
// and tracks get explored, with a set-up measure made of the same bytes
// read as a GSD and a CM6 file. Whatever the input, the image must be a
// well-formed SMF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/song/rcp_converter.h"
#include "engine/song/setup_files.h"
#include "tests/song/smf_reader.h"

namespace {

void Check(const uint8_t* data, size_t size, int v2Tracks, const std::vector<RcpSetupMessage>* setup) {
  RcpImage image;
  if (!RcpBuildImage({data, size, v2Tracks, setup}, &image)) {
    if (!image.smf.empty()) std::abort();
    return;
  }
  try {
    qtest::ReadSmf(image.smf);
  } catch (const std::exception&) {
    std::abort();
  }
}

std::vector<uint8_t> Behind(const char* prefix, size_t prefixSize, const uint8_t* data, size_t size) {
  std::vector<uint8_t> out(prefixSize + size);
  std::memcpy(out.data(), prefix, prefixSize);
  if (size) std::memcpy(out.data() + prefixSize, data, size);
  return out;
}

// The bytes as set-up files: behind a GSD header and a CM6 header.
std::vector<RcpSetupMessage> Setup(const uint8_t* data, size_t size) {
  static const char kGsd[] = "COME ON MUSIC\0GS CONTROL 1.0";
  static const char kCm6[] = "COME ON MUSIC\0\0\0R CM-64";
  std::vector<RcpSetupMessage> out;
  std::vector<uint8_t> gsd = Behind(kGsd, sizeof kGsd - 1, data, size);
  GsdSetupMessages(gsd.data(), gsd.size(), size % 2, &out);
  std::vector<uint8_t> cm6 = Behind(kCm6, sizeof kCm6 - 1, data, size);
  Cm6SetupMessages(cm6.data(), cm6.size(), &out);
  for (const RcpSetupMessage& m : out)
    if (m.bytes.size() < 11 || m.bytes.size() > 1023 || m.bytes.front() != 0xF0 || m.bytes.back() != 0xF7)
      std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(data, size, 18, nullptr);
  Check(data, size, 36, nullptr);
  const std::vector<RcpSetupMessage> setup = Setup(data, size);
  std::vector<uint8_t> v2 = Behind(kRcpSignature, sizeof kRcpSignature - 1, data, size);
  Check(v2.data(), v2.size(), size % 2 ? 36 : 18, &setup);
  std::vector<uint8_t> v3 = Behind(kRcp3Signature, sizeof kRcp3Signature - 1, data, size);
  Check(v3.data(), v3.size(), 18, size % 3 ? nullptr : &setup);
  return 0;
}
