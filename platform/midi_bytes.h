// Byte-level helpers shared by the MIDI output backends: the real length of
// a packed short message, the notes a port holds (for its reset), and hex
// text for logs. Std-only.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Bytes of a message that starts with this status byte: 1 to 3; 0 for a data
// byte, 0xF0 and 0xF7 (a system exclusive message is never a short message).
constexpr int MidiStatusLength(uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0) return 3;  // note off/on, key pressure, control change
  if (status < 0xE0) return 2;  // program change, channel pressure
  if (status < 0xF0) return 3;  // pitch bend
  switch (status) {
    case 0xF1: case 0xF3: return 2;  // time code quarter frame, song select
    case 0xF2: return 3;             // song position
    case 0xF0: case 0xF7: return 0;
    default: return 1;               // tune request, real-time, undefined
  }
}

// The bytes of one packed short message (status in bits 0-7). A message
// starting with a data byte continues the running status (the last channel
// status sent), as the old output devices accepted. Keeps the running status.
class MidiShortMessage {
 public:
  // Fills bytes(); false when the message is not a valid short message.
  bool decode(uint32_t message);
  const uint8_t* data() const { return bytes_.data(); }
  int size() const { return size_; }
  // The status in force for the message just decoded (for running status).
  uint8_t status() const { return status_; }

 private:
  std::array<uint8_t, 3> bytes_{};
  int size_ = 0;
  uint8_t running_ = 0;
  uint8_t status_ = 0;
};

// Notes sounding on a port, so that its reset can end them.
class MidiHeldNotes {
 public:
  // Follows a channel message (full status in status, data bytes in d1, d2).
  void follow(uint8_t status, uint8_t d1, uint8_t d2);
  // The bytes that silence the port: a note-off for every held note, then
  // on every channel sustain off (CC 64 = 0) and all notes off (CC 123 = 0).
  // Forgets the held notes.
  std::vector<uint8_t> releaseAll();
  bool any() const;

 private:
  std::array<std::bitset<128>, 16> held_{};
};

// Lower-case hexadecimal digits of the bytes, without spaces.
std::string MidiHex(const uint8_t* data, size_t length);
