// The packed stream record: what the song converter writes and the player
// walks. Little-endian 32-bit words: word 0 holds the data in bits 0-23 and
// the record flags in bits 24-31; a delta word follows when the delta code
// says so; a long message's status and data bytes follow, zero-padded to a
// multiple of 4.
#pragma once

#include <cstdint>
#include <cstring>

// Record flags (bits 24-31 of word 0).
constexpr uint8_t kRecKindMask = 0x87;  // bits 0-2 and 7 give the kind
constexpr uint8_t kRecShort = 0x00;
constexpr uint8_t kRecTempo = 0x01;
constexpr uint8_t kRecNop = 0x02;
constexpr uint8_t kRecLong = 0x80;
constexpr uint8_t kRecPortB = 0x08;
constexpr uint8_t kRecDeltaMask = 0x30;
constexpr uint8_t kRecDelta1 = 0x10;
constexpr uint8_t kRecDelta2 = 0x20;
constexpr uint8_t kRecDeltaWord = 0x30;
constexpr uint8_t kRecMarker = 0x40;

// Event words handed to the packer: the kind in the top byte, bit 30 the
// marker flag, the data in the low 24 bits.
constexpr uint32_t kEvShort = 0x00000000u;
constexpr uint32_t kEvTempo = 0x01000000u;
constexpr uint32_t kEvNop = 0x02000000u;
constexpr uint32_t kEvLong = 0x80000000u;
constexpr uint32_t kEvMarker = 0x40000000u;

// The player sends long messages from buffers of this size and reads their
// byte count from bits 0-9, so longer messages never reach the stream.
constexpr uint32_t kLongMessageBufferSize = 1024;
constexpr uint32_t kLongMessageMaxBytes = 1023;

// One time-table entry per marker record, in buffer order.
struct TimeTableEntry {
  uint32_t ms;        // milliseconds from the start of the song
  int32_t position;   // bar × 10000 + tick within the bar (normalised ticks)
  uint32_t hyosi;     // time-signature word in force
};
static_assert(sizeof(TimeTableEntry) == 12);

inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// A decoded record.
struct StreamRecordView {
  uint8_t flags = 0;
  uint32_t data = 0;               // bits 0-23 of word 0
  uint32_t delta = 0;
  const uint8_t* payload = nullptr;
  uint32_t payloadSize = 0;        // padded bytes
  uint32_t size = 0;               // whole record in bytes
  uint8_t kind() const { return flags & kRecKindMask; }
  bool portB() const { return flags & kRecPortB; }
  bool marker() const { return flags & kRecMarker; }
};

// Decodes the record at offset; false when it does not fit in length bytes.
inline bool DecodeStreamRecord(const uint8_t* buffer, uint32_t length, uint32_t offset,
                               StreamRecordView* out) {
  if (offset > length || length - offset < 4) return false;
  uint32_t w = LoadLe32(buffer + offset);
  StreamRecordView r;
  r.flags = static_cast<uint8_t>(w >> 24);
  r.data = w & 0xFFFFFFu;
  uint32_t used = 4;
  switch (r.flags & kRecDeltaMask) {
    case 0x00: r.delta = 0; break;
    case kRecDelta1: r.delta = 1; break;
    case kRecDelta2: r.delta = 2; break;
    default:
      if (length - offset - used < 4) return false;
      r.delta = LoadLe32(buffer + offset + used);
      used += 4;
  }
  if (r.kind() == kRecLong) {
    uint64_t padded = (static_cast<uint64_t>(r.data) + 3) & ~uint64_t{3};
    if (padded > length - offset - used) return false;
    r.payload = buffer + offset + used;
    r.payloadSize = static_cast<uint32_t>(padded);
    used += r.payloadSize;
  }
  r.size = used;
  *out = r;
  return true;
}
