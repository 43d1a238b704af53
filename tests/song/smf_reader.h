// A strict reader of Standard MIDI Files for tests, written apart from the
// engine's own reader: it throws on anything a well-formed file cannot hold.
#pragma once

#include <cstdint>
#include <vector>

namespace qtest {

struct SmfEvent {
  uint32_t tick = 0;      // absolute
  uint8_t status = 0;     // channel status, 0xF0, 0xF7 or 0xFF
  uint8_t metaType = 0;   // for 0xFF
  bool running = false;   // the status byte was left out
  std::vector<uint8_t> data;  // channel data, or the payload of a meta / exclusive

  bool IsNoteOn() const { return (status & 0xF0) == 0x90 && data.at(1) > 0; }
  bool IsNoteOff() const {
    return (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && data.at(1) == 0);
  }
  bool IsMeta(uint8_t type) const { return status == 0xFF && metaType == type; }
  int Channel() const { return status & 0x0F; }
};

struct SmfTrack {
  uint32_t length = 0;  // chunk length
  std::vector<SmfEvent> events;
};

struct Smf {
  uint16_t format = 0;
  uint16_t trackCount = 0;
  uint16_t division = 0;
  std::vector<SmfTrack> tracks;
};

// Throws std::runtime_error naming the fault.
Smf ReadSmf(const std::vector<uint8_t>& bytes);

}  // namespace qtest
