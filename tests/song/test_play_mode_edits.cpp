// What each play mode changes in the packed song, and the set-up that
// mode 2 detects from the song's banks and system exclusive messages.
#include <gtest/gtest.h>

#include "engine/song/play_mode_edits.h"
#include "tests/song/song_fixture.h"

using namespace songtest;

namespace {

const Bytes kGsReset{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kGmOn{0x7E, 0x7F, 0x09, 0x01, 0xF7};
const Bytes kXgOn{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
const Bytes kModeSet{0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7};
const Bytes kReverb{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x02, 0x0D, 0xF7};

int CountNoteOns(const std::vector<Record>& rs) {
  int n = 0;
  for (const Record& r : rs) n += r.kind() == kRecShort && (r.data & 0xF0) == 0x90 && (r.data >> 16) != 0;
  return n;
}

std::vector<Bytes> LongPayloads(const std::vector<Record>& rs) {
  std::vector<Bytes> out;
  for (const Record& r : rs)
    if (r.kind() == kRecLong) out.push_back(Bytes(r.payload.begin() + 1, r.payload.begin() + r.data));
  return out;
}

// 20 note-ons at one tick, after a program change at that tick or opening
// the position themselves; optionally a control change between the 10th and
// the 11th.
Bytes Chord(uint32_t tick, bool breakAfterTen, bool programFirst = true) {
  Track t;
  if (programFirst) t.at(tick, {0xC0, 0});
  for (int i = 0; i < 20; ++i) {
    if (breakAfterTen && i == 10) t.at(0, {0xB0, 7, 100});
    t.at(i == 0 && !programFirst ? tick : 0, {0x90, static_cast<uint8_t>(40 + i), 100});
  }
  t.at(480, {0x90, 30, 100}).end();
  return Smf(480, {t});
}

Bytes BankSong(uint8_t msb, uint8_t lsb, uint8_t program) {
  Track t;
  t.at(0, {0xB0, 0x00, msb}).at(0, {0xB0, 0x20, lsb}).at(0, {0xC0, program}).at(10, {0x90, 60, 1}).end();
  return Smf(480, {t});
}

}  // namespace

class PlayModes : public SongTest {};

TEST_F(PlayModes, ModeOneLetsAtMostSixteenNotesStartTogether) {
  for (uint32_t tick : {0u, 960u}) {
    for (bool programFirst : {true, false}) {
      ASSERT_TRUE(Convert(Chord(tick, false, programFirst), 1));
      auto rs = Records(packed);
      int atTick = 0, replaced = 0;
      for (const Record& r : rs) {
        atTick += r.kind() == kRecShort && (r.data & 0xF0) == 0x90 && r.tick == tick;
        replaced += r.kind() == kRecNop && r.tick == tick && r.delta == 0;
      }
      EXPECT_EQ(atTick, 16) << tick << " program first " << programFirst;
      EXPECT_EQ(replaced, 4) << tick << " program first " << programFirst;
      EXPECT_EQ(CountNoteOns(rs), 16 + 1) << tick;  // the note a beat later is kept
    }

    ASSERT_TRUE(Convert(Chord(tick, true), 1));
    EXPECT_EQ(CountNoteOns(Records(packed)), 20 + 1) << tick;
  }
  // Other modes leave the chord alone.
  ASSERT_TRUE(Convert(Chord(0, false), 3));
  EXPECT_EQ(CountNoteOns(Records(packed)), 21);
}

TEST_F(PlayModes, SystemExclusiveFilters) {
  Track t;
  t.sysex(0, kGsReset).sysex(5, kGmOn).sysex(5, kXgOn).sysex(5, kModeSet).sysex(5, kReverb)
      .at(5, {0x90, 60, 1}).end();
  Bytes file = Smf(480, {t});

  ASSERT_TRUE(Convert(file, 0));  // mode 0: all kept
  EXPECT_EQ(LongPayloads(Records(packed)).size(), 5u);

  ASSERT_TRUE(Convert(file, 1));  // mode 1: all replaced, the time kept
  auto rs = Records(packed);
  EXPECT_TRUE(LongPayloads(rs).empty());
  EXPECT_EQ(ShortMessages(packed).front().tick, 25u);

  for (int mode : {2, 3, 4, 5, 8, 9}) {  // only the resets go
    ASSERT_TRUE(Convert(file, mode)) << mode;
    auto payloads = LongPayloads(Records(packed));
    ASSERT_EQ(payloads.size(), 1u) << mode;
    EXPECT_EQ(payloads[0], kReverb) << mode;
  }

  // A reset compared only when long enough: 8 bytes of a GS reset stay.
  EXPECT_TRUE(QGmstIsResetMessage(kGsReset.data(), 9));
  EXPECT_FALSE(QGmstIsResetMessage(kGsReset.data(), 8));
  EXPECT_TRUE(QGmstIsResetMessage(kXgOn.data(), 7));
  EXPECT_FALSE(QGmstIsResetMessage(kXgOn.data(), 6));
}

TEST_F(PlayModes, ModeTwoDetectsTheSetUpFromTheSong) {
  struct Case {
    const char* what;
    Bytes file;
    int32_t detected;
  };
  Track yamaha;
  yamaha.sysex(0, {0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x01, 0xF7}).at(0, {0xC0, 5}).at(10, {0x90, 60, 1}).end();
  Track gmOnly;
  gmOnly.at(0, {0xC0, 5}).at(0, {0xC1, 7}).at(10, {0x90, 60, 1}).end();
  Case cases[] = {
      {"Yamaha message, no banks", Smf(480, {yamaha}), kSetupYamaha},  // XG, GS
      {"programs with MSB 0", Smf(480, {gmOnly}), 0},
      {"0/8 is in both lists", BankSong(8, 0, 0), 0},
      {"2/2 is only in list B", BankSong(2, 0, 2), kSetupOutsideListA},
      {"7/8 is in neither list", BankSong(8, 0, 7), kSetupOutsideListA | kSetupOutsideListB},
      {"LSB 1 compares with list A", BankSong(2, 1, 2), kSetupOutsideListA | kSetupOutsideListB},
      {"MSB 127 is the generator's own", BankSong(127, 0, 0), kSetupOutsideListB},
      {"MSB 127 with LSB 1", BankSong(127, 1, 0), 0},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Convert(c.file, 2)) << c.what;
    EXPECT_EQ(packed.detectedSetup, c.detected) << c.what;
  }
  // Only mode 2 analyses; each conversion starts from nothing.
  ASSERT_TRUE(Convert(Smf(480, {yamaha}), 3));
  EXPECT_EQ(packed.detectedSetup, 0);
}

TEST_F(PlayModes, ModeTwoDropsZeroBankLsbForGeneratorBanks) {
  Track t;
  t.at(0, {0xB0, 0x00, 127}).at(5, {0xB0, 0x20, 0}).at(5, {0xB1, 0x20, 0}).at(5, {0xC0, 0}).end();
  ASSERT_TRUE(Convert(Smf(480, {t}), 2));
  auto rs = Records(packed);
  // The LSB 0 after MSB 127 became a no-operation without a marker; the
  // track's MSB is tracked per track, not per channel.
  ASSERT_EQ(ShortMessages(packed).size(), 2u);
  const Record* nop = nullptr;
  for (const Record& r : rs)
    if (r.kind() == kRecNop && r.tick == 5) nop = &r;
  ASSERT_NE(nop, nullptr);
  EXPECT_EQ(nop->flags, kRecNop | kRecDeltaWord);
}

TEST_F(PlayModes, ModeFiveDropsEveryBankLsb) {
  Track t;
  t.at(0, {0xB0, 0x00, 1}).at(5, {0xB0, 0x20, 3}).at(5, {0xC0, 0}).at(5, {0xB9, 0x20, 0}).end();
  Bytes file = Smf(480, {t});
  ASSERT_TRUE(Convert(file, 5));
  for (const Record& r : ShortMessages(packed))
    EXPECT_FALSE((r.data & 0xF0) == 0xB0 && ((r.data >> 8) & 0xFF) == 0x20) << std::hex << r.data;
  EXPECT_EQ(ShortMessages(packed).size(), 2u);
  for (const Record& r : Records(packed)) {
    if (r.kind() == kRecNop && (r.tick == 5 || r.tick == 15)) {
      EXPECT_EQ(r.flags & kRecMarker, 0);
    }
  }
  ASSERT_TRUE(Convert(file, 8));
  EXPECT_EQ(ShortMessages(packed).size(), 4u);
}
