#include "engine/player/stream_dispatch.h"

#include "engine/player/midi_player.h"
#include "engine/player/reset_sequences.h"

namespace {

// The outputs each port's short messages go to.
constexpr int kPortOutputs[2][2] = {{kQDPortAFirst, kQDPortASecond}, {kQDPortBFirst, kQDPortBSecond}};

// A song's system exclusive message, unless it is one of the GS system
// parameters 40 01 00 .. 40 01 2F (master tune, voice reserve ...), which
// are never sent.
bool sendable(const uint8_t* bytes, uint32_t count) {
  if (count == 0 || bytes[0] != 0xF0) return false;
  return !(count > 7 && bytes[5] == 0x40 && bytes[6] == 0x01 && bytes[7] < 0x30);
}

}  // namespace

bool QDReadRecord(const uint8_t* data, uint32_t length, uint32_t offset, StreamRecordView* r) {
  if (!data || !DecodeStreamRecord(data, length, offset, r)) return false;
  uint8_t kind = r->kind();
  if (kind == kRecLongSkip || kind == kRecLongSkip2) {
    uint32_t padded = ((r->data & 0x3FFu) + 3) & ~3u;
    if (padded > length - offset - r->size) return false;
    r->size += padded;
  }
  return true;
}

int32_t QDSongResetKind(int32_t modeKind, int32_t detectedSetup) {
  if (detectedSetup >= 1 && detectedSetup <= 7) return QDResetKindOfSetup(detectedSetup);
  return modeKind;
}

bool QDSendResetRecord(const StreamRecordView& r, QDOutputTarget& out) {
  switch (r.kind()) {
    case kRecShort:  // every output, whatever its port
      for (int o = 0; o < kQDOutputs; ++o) out.shortTo(o, r.data);
      return true;
    case kRecNop:
      return false;
    case kRecLong: {
      const uint32_t count = r.data & 0xFFu;
      if (count > 0) out.longTo(kQDPortAFirst, 0, r.payload, count);
      return true;
    }
    default:
      return true;
  }
}

uint32_t QDResetPauseAfter(const StreamRecordView& r) {
  return r.kind() == kRecLong ? kQDResetLongPauseMs : 0;
}

void QDSendToPort(QDOutputTarget& out, int port, uint32_t message) {
  for (int o : kPortOutputs[port == 0 ? 0 : 1]) out.shortTo(o, message);
}

void QDSendSongRecord(const StreamRecordView& r, QDOutputTarget& out) {
  switch (r.kind()) {
    case kRecShort:
      QDSendToPort(out, r.portB() ? 1 : 0, r.data);
      break;
    case kRecLong: {
      // A module on port B needs its own exclusive messages (its part
      // set-up) as much as port A's does.
      const uint32_t count = r.data & 0x3FFu;
      if (!sendable(r.payload, count)) break;
      const int* outputs = kPortOutputs[r.portB() ? 1 : 0];
      out.longTo(outputs[0], 0, r.payload, count);
      out.longTo(outputs[1], 1, r.payload, count);
      break;
    }
    default:  // tempo, no operation, skipped payloads, unknown kinds
      break;
  }
}

int QDPortOfOutput(int output) { return output == kQDPortBFirst || output == kQDPortBSecond ? 1 : 0; }

void QDSendAllChannels(QDOutputTarget& out, uint32_t controller) {
  for (int o = 0; o < kQDOutputs; ++o)
    for (uint32_t ch = 0; ch < 16; ++ch) out.shortTo(o, 0xB0 | ch | controller << 8);
}

int32_t QDEffectiveDivision(int32_t baseDivision, int32_t speed) {
  int64_t eff = speed > 0 ? int64_t{baseDivision} * 256 / speed : baseDivision;
  if (eff < 1) eff = 1;
  if (eff > INT32_MAX) eff = INT32_MAX;
  return static_cast<int32_t>(eff);
}

int64_t QDTickLengthFx(int64_t tempo, int64_t effectiveDivision) {
  if (effectiveDivision < 1) effectiveDivision = 1;
  if (tempo < 0) tempo = 0;
  int64_t fx = (tempo << 16) / effectiveDivision;
  return fx < (int64_t{1} << 16) ? int64_t{1} << 16 : fx;
}

int32_t QDTablePosition(const TimeTableEntry* table, uint32_t entries, int32_t markerIndex) {
  if (!table || entries == 0 || markerIndex < 0) return 0;
  return table[static_cast<uint32_t>(markerIndex) < entries ? static_cast<uint32_t>(markerIndex) : entries - 1]
      .position;
}
