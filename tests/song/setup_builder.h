// Set-up files for tests: a GSD file and a CM6 file whose every byte is
// known (each field holds a value derived from its offset), so that what
// the set-up messages carry can be checked against the file.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qtest {

inline std::vector<uint8_t> GsdFile() {
  std::vector<uint8_t> f(0xA71);
  for (size_t i = 0x20; i < f.size(); ++i) f[i] = static_cast<uint8_t>((i * 7 + 3) & 0x7F);
  std::memcpy(f.data(), "COME ON MUSIC", 13);
  std::memcpy(f.data() + 0x0E, "GS CONTROL 1.0", 14);
  return f;
}

inline std::vector<uint8_t> Cm6File() {
  std::vector<uint8_t> f(0x5849);
  for (size_t i = 0x20; i < f.size(); ++i) f[i] = static_cast<uint8_t>((i * 5 + 1) & 0x7F);
  std::memcpy(f.data(), "COME ON MUSIC", 13);
  std::memcpy(f.data() + 0x10, "R CM-64   ", 10);
  return f;
}

}  // namespace qtest
