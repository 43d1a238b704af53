// Builds Recomposer v2 song files for tests, field by field.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qtest {

struct RcpTrack {
  uint8_t channel = 0;  // 0-15 port A, 16-31 port B, 0xFF off
  uint8_t key = 0;      // key offset byte
  uint8_t mode = 0;     // 1 = muted
  std::vector<std::array<uint8_t, 4>> events;
  std::optional<uint16_t> size;  // size field written instead of the real one

  RcpTrack& Ev(uint8_t code, uint8_t step, uint8_t gg = 0, uint8_t ee = 0) {
    events.push_back({code, step, gg, ee});
    return *this;
  }
  RcpTrack& End() { return Ev(0xFE, 0); }
};

struct RcpSong {
  std::string signature = "RCM-PC98V2.0(C)COME ON MUSIC\r\n";
  std::string title;
  std::vector<std::string> memo;  // up to 12 lines of 28 bytes
  uint8_t timeBase = 48, tempo = 120, numerator = 4, denominator = 4, key = 0;
  std::array<std::vector<uint8_t>, 8> userExclusive;  // data bytes (padded with 0xF7)
  std::vector<RcpTrack> tracks;  // missing ones up to the count are written empty

  std::vector<uint8_t> Build(int trackCount = 18) const;
};

}  // namespace qtest
