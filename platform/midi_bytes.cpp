#include "platform/midi_bytes.h"

bool MidiShortMessage::decode(uint32_t message) {
  uint8_t b[3] = {static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                  static_cast<uint8_t>(message >> 16)};
  size_ = 0;
  if (b[0] >= 0x80) {
    int n = MidiStatusLength(b[0]);
    if (n == 0) return false;
    if (b[0] < 0xF0) {
      running_ = b[0];
    } else if (b[0] < 0xF8) {
      running_ = 0;  // system common messages end running status
    }
    for (int i = 1; i < n; ++i)
      if (b[i] >= 0x80) return false;
    for (int i = 0; i < n; ++i) bytes_[i] = b[i];
    size_ = n;
    status_ = b[0];
    return true;
  }
  if (running_ == 0) return false;
  int n = MidiStatusLength(running_) - 1;
  for (int i = 0; i < n; ++i) {
    if (b[i] >= 0x80) return false;
    bytes_[i] = b[i];
  }
  size_ = n;
  status_ = running_;
  return true;
}

void MidiHeldNotes::follow(uint8_t status, uint8_t d1, uint8_t d2) {
  uint8_t kind = status & 0xF0, ch = status & 0x0F;
  if (d1 >= 0x80) return;
  if (kind == 0x90 && d2 != 0) {
    held_[ch].set(d1);
  } else if (kind == 0x80 || kind == 0x90) {
    held_[ch].reset(d1);
  } else if (kind == 0xB0 && (d1 == 123 || d1 == 120 || (d1 >= 124 && d1 <= 127))) {
    held_[ch].reset();  // all notes off, all sound off and the mode messages end every note
  }
}

std::vector<uint8_t> MidiHeldNotes::releaseAll() {
  std::vector<uint8_t> out;
  for (int ch = 0; ch < 16; ++ch) {
    for (int key = 0; key < 128; ++key) {
      if (!held_[ch].test(key)) continue;
      out.insert(out.end(), {static_cast<uint8_t>(0x80 | ch), static_cast<uint8_t>(key), 0});
    }
    held_[ch].reset();
  }
  for (int ch = 0; ch < 16; ++ch) {
    uint8_t cc = static_cast<uint8_t>(0xB0 | ch);
    out.insert(out.end(), {cc, 64, 0, cc, 123, 0});
  }
  return out;
}

bool MidiHeldNotes::any() const {
  for (const auto& ch : held_)
    if (ch.any()) return true;
  return false;
}

std::string MidiHex(const uint8_t* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}
