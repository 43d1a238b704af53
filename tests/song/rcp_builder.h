// Builds Recomposer song files for tests, field by field, in either layout:
// v2 (4-byte events) and RCP 3.0 (6-byte events, 16-bit steps and gates).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qtest {

// One event: a note (code, step, gate, velocity) or a command (code, step,
// gg, ee). raw, when given, is what follows the code in an RCP 3.0 event
// (velocity, step, gate as five bytes: the text of a comment, the message
// bytes of a continuation).
struct RcpEvent {
  RcpEvent(uint8_t c = 0, uint16_t s = 0, uint16_t g = 0, uint8_t e = 0) : code(c), step(s), gg(g), ee(e) {}
  uint8_t code;
  uint16_t step;
  uint16_t gg;
  uint8_t ee;
  std::optional<std::array<uint8_t, 5>> raw;
};

struct RcpTrack {
  uint8_t channel = 0;  // 0-15 port A, 16-31 port B, 0xFF off
  uint8_t key = 0;      // key offset byte
  uint8_t mode = 0;     // 1 = muted
  std::vector<RcpEvent> events;
  std::optional<uint32_t> size;  // size field written instead of the real one

  RcpTrack& Ev(uint8_t code, uint16_t step, uint16_t gg = 0, uint8_t ee = 0) {
    events.emplace_back(code, step, gg, ee);
    return *this;
  }
  RcpTrack& Raw(uint8_t code, std::array<uint8_t, 5> bytes) {
    events.emplace_back(code);
    events.back().raw = bytes;
    return *this;
  }
  RcpTrack& End() { return Ev(0xFE, 0); }
};

struct RcpSong {
  bool v3 = false;  // the RCP 3.0 layout (and signature, unless set)
  std::string signature;  // "" = the layout's own
  std::string title;
  std::vector<std::string> memo;  // up to 12 lines of 28 (v2) or 30 bytes
  uint16_t timeBase = 48, tempo = 120;
  uint8_t numerator = 4, denominator = 4, key = 0;
  int8_t playBias = 0;
  std::string cm6, gsd, gsdB;  // set-up file names (gsdB: RCP 3.0 only)
  std::array<std::vector<uint8_t>, 8> userExclusive;  // data bytes (padded with 0xF7)
  std::vector<RcpTrack> tracks;  // missing ones up to the count are written empty

  std::vector<uint8_t> Build(int trackCount = 18) const;
};

}  // namespace qtest
