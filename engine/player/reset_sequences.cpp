#include "engine/player/reset_sequences.h"

#include <array>
#include <initializer_list>

#include "engine/player/stream_record.h"

namespace {

constexpr uint32_t kGap = 128;  // milliseconds between the steps of a sequence

// Writes records: word 0 (data | flags << 24), the delta word when needed,
// then a long message's bytes zero-padded to 4.
class Builder {
 public:
  Builder& shortMsg(uint32_t delta, uint32_t message) { return record(delta, kRecShort, message, {}); }
  Builder& longMsg(uint32_t delta, std::initializer_list<uint8_t> bytes) {
    return record(delta, kRecLong, static_cast<uint32_t>(bytes.size()), std::vector<uint8_t>(bytes));
  }
  Builder& longMsg(uint32_t delta, const std::vector<uint8_t>& bytes) {
    return record(delta, kRecLong, static_cast<uint32_t>(bytes.size()), bytes);
  }
  Builder& nop(uint32_t delta) { return record(delta, kRecNop, 0, {}); }
  // Program change 0 on channels 1-16 at one time.
  Builder& programs(uint32_t delta) {
    for (uint32_t ch = 0; ch < 16; ++ch) shortMsg(ch == 0 ? delta : 0, 0xC0 | ch);
    return *this;
  }
  // Note-on key 0 velocity 0 on channels 1-16 at one time.
  Builder& noteOffs(uint32_t delta) {
    for (uint32_t ch = 0; ch < 16; ++ch) shortMsg(ch == 0 ? delta : 0, 0x90 | ch);
    return *this;
  }
  Builder& gmOn(uint32_t delta) { return longMsg(delta, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}); }
  Builder& xgOn(uint32_t delta) {
    return longMsg(delta, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
  }
  Builder& gsReset(uint32_t delta) {
    return longMsg(delta, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
  }
  Builder& systemModeSet(uint32_t delta) {
    return longMsg(delta, {0xF0, 0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7});
  }
  // The map sequences from their GS reset on: GS reset, system mode set,
  // the tone map of parts 0-15 1 ms apart, bank select, programs, note-offs.
  Builder& mapFromGsReset(uint8_t map, uint8_t lsb) {
    gsReset(kGap).systemModeSet(kGap);
    for (uint8_t part = 0; part < 16; ++part) {
      uint8_t body[4] = {0x40, static_cast<uint8_t>(0x40 + part), 0x00, map};
      longMsg(part == 0 ? kGap : 1, {0xF0, 0x41, 0x10, 0x42, 0x12, body[0], body[1], body[2], body[3],
                                     QDRolandChecksum(body, 4), 0xF7});
    }
    for (uint32_t ch = 0; ch < 16; ++ch) {
      uint32_t value = ch == 9 ? 0 : lsb;
      shortMsg(ch == 0 ? kGap : 0, 0xB0 | ch | 32u << 8 | value << 16);
    }
    for (uint32_t ch = 0; ch < 16; ++ch) shortMsg(0, 0xB0 | ch);  // controller 0 := 0
    return programs(kGap).noteOffs(kGap);
  }
  std::vector<uint8_t> end() {
    nop(kGap);
    return std::move(out_);
  }

 private:
  Builder& record(uint32_t delta, uint8_t kind, uint32_t data, const std::vector<uint8_t>& payload) {
    uint8_t flags = kind;
    if (delta == 0) {
    } else if (delta == 1) {
      flags |= kRecDelta1;
    } else if (delta == 2) {
      flags |= kRecDelta2;
    } else {
      flags |= kRecDeltaWord;
    }
    put((data & 0xFFFFFFu) | static_cast<uint32_t>(flags) << 24);
    if ((flags & kRecDeltaMask) == kRecDeltaWord) put(delta);
    out_.insert(out_.end(), payload.begin(), payload.end());
    while (out_.size() % 4) out_.push_back(0);
    return *this;
  }
  void put(uint32_t w) {
    uint8_t b[4];
    StoreLe32(b, w);
    out_.insert(out_.end(), b, b + 4);
  }
  std::vector<uint8_t> out_;
};

std::array<std::vector<uint8_t>, kResetKinds> buildAll() {
  std::array<std::vector<uint8_t>, kResetKinds> s;
  s[kResetEmpty] = Builder().end();
  s[kResetGm] = Builder().gmOn(kGap).end();
  s[kResetToneGenerator] =
      Builder().gmOn(kGap).gsReset(kGap).systemModeSet(kGap).programs(kGap).noteOffs(kGap).end();
  s[kResetSc55Map] = Builder().gmOn(kGap).mapFromGsReset(0x01, 1).end();
  s[kResetSc88Map] = Builder().gmOn(kGap).mapFromGsReset(0x00, 0).end();
  s[kResetXgGm] = Builder().gmOn(kGap).xgOn(kGap).programs(kGap).noteOffs(kGap).end();
  s[kResetXgGs] = Builder()
                      .gmOn(kGap)
                      .xgOn(kGap)
                      .gsReset(kGap)
                      .systemModeSet(kGap)
                      .programs(kGap)
                      .noteOffs(kGap)
                      .end();
  s[kResetXgSc55Map] = Builder().gmOn(kGap).xgOn(kGap).mapFromGsReset(0x01, 1).end();
  s[kResetXgSc88Map] = Builder().gmOn(kGap).xgOn(kGap).mapFromGsReset(0x00, 0).end();
  return s;
}

}  // namespace

uint8_t QDRolandChecksum(const uint8_t* bytes, int count) {
  uint32_t sum = 0;
  for (int i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint8_t>((0x80 - (sum & 0x7F)) & 0x7F);
}

const std::vector<uint8_t>& QDResetSequence(int32_t kind) {
  static const std::array<std::vector<uint8_t>, kResetKinds> sequences = buildAll();
  if (kind < 0 || kind >= kResetKinds) kind = kResetEmpty;
  return sequences[static_cast<size_t>(kind)];
}

QDResetKind QDResetKindOfMode(int32_t mode) {
  switch (mode) {
    case 0: return kResetEmpty;
    case 1:
    case 3: return kResetGm;
    case 5: return kResetSc55Map;
    case 8: return kResetSc88Map;
    default: return kResetToneGenerator;
  }
}

QDResetKind QDResetKindOfSetup(int32_t detected) {
  switch (detected) {
    case 1: return kResetSc55Map;
    case 2: return kResetSc88Map;
    case 3: return kResetGm;
    case 4: return kResetXgGs;
    case 5: return kResetXgSc55Map;
    case 6: return kResetXgSc88Map;
    case 7: return kResetXgGm;
    default: return kResetKinds;
  }
}

QDResetKind subResetMode(int32_t mode) {
  QDResetSequence(kResetEmpty);  // builds the tables on the caller's thread, before any song
  return QDResetKindOfMode(mode);
}
