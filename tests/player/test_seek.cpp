// Jumps inside a playing song: the module is left in the state an unbroken
// play leaves at the target, and the song goes on from there.
#include <cctype>
#include <map>

#include "engine/player/song_chase.h"
#include "tests/player/player_fixture.h"

namespace playertest {
namespace {

const Bytes kGsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kGsPartMode = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};

// Division 480. Tempo 500000 up to tick 240 (250 ms), then 400000: tick 480
// at 450 ms, 960 at 850 ms, 1440 at 1250 ms, 1920 at 1650 ms.
Stream Song() {
  Stream s;
  s.tempo(0, 500000, true)
      .longMsg(0, kGsReset)
      .shortMsg(0, 0x0800B0)   // bank 8
      .shortMsg(0, 0x05C0)     // program 5
      .shortMsg(0, 0x6407B0)   // volume 100
      .shortMsg(0, 0x0065B0)   // RPN 0/0 (bend range) := 12
      .shortMsg(0, 0x0064B0)
      .shortMsg(0, 0x0C06B0)
      .shortMsg(0, 0x0163B1)   // channel 2: NRPN 1/8 := 80
      .shortMsg(0, 0x0862B1)
      .shortMsg(0, 0x5006B1)
      .shortMsg(0, 0x643C90)   // C4 on
      .tempo(240, 400000, true)
      .shortMsg(0, 0x5000E0)   // bend up
      .shortMsg(0, 0x5A07B0)   // volume 90
      .shortMsg(0, 0x0000B0)   // bank 0 again, program kept
      .longMsg(240, kGsPartMode)
      .shortMsg(0, 0x4001B0, false, true)  // modulation 64
      .shortMsg(0, 0x30D0)     // channel pressure
      .shortMsg(0, 0x003C80)   // C4 off
      .shortMsg(0, 0x644090)   // E4 on, held over the targets
      .shortMsg(480, 0x5007B0, false, true)  // 850 ms: volume 80
      .shortMsg(0, 0x4000E0)   // bend centred
      .shortMsg(480, 0x004080, false, true)  // 1250 ms: E4 off
      .shortMsg(0, 0x644390)   // G4 on
      .shortMsg(0, 0x1E0AB0)   // pan 30: set only after the targets
      .shortMsg(0, 0x0265B0)   // RPN 0/2 := 70, also only after them
      .shortMsg(0, 0x0064B0)
      .shortMsg(0, 0x4606B0)
      .shortMsg(480, 0x4607B0, false, true)  // 1650 ms: volume 70
      .shortMsg(0, 0x004380)
      .nop(10);
  s.table = {{0, 10000, 0}, {250, 10240, 0}, {450, 20000, 0}, {850, 30000, 0}, {1250, 40000, 0}, {1650, 50000, 0}};
  return s;
}

bool IsShort(const std::string& what) {
  return (what.size() == 4 || what.size() == 6) && std::isxdigit(static_cast<unsigned char>(what[0]));
}

uint32_t Byte(const std::string& what, size_t i) { return std::stoul(what.substr(i * 2, 2), nullptr, 16); }

// What a module keeps of the short messages received up to untilUs: the last
// value of every controller, program, bend and pressure per channel.
std::map<std::string, uint32_t> Fold(const std::vector<Received>& log, int64_t untilUs) {
  std::map<std::string, uint32_t> state;
  for (const Received& r : log) {
    if (r.us > untilUs || !IsShort(r.what)) continue;
    const uint32_t status = Byte(r.what, 0), kind = status & 0xF0, ch = status & 0x0F;
    const std::string c = std::to_string(ch);
    if (kind == 0xB0 && Byte(r.what, 1) != 120 && Byte(r.what, 1) != 123)
      state["cc " + c + " " + std::to_string(Byte(r.what, 1))] = Byte(r.what, 2);
    if (kind == 0xC0) state["program " + c] = Byte(r.what, 1);
    if (kind == 0xD0) state["pressure " + c] = Byte(r.what, 1);
    if (kind == 0xE0) state["bend " + c] = Byte(r.what, 1) | Byte(r.what, 2) << 7;
  }
  return state;
}

std::vector<Received> Between(const std::vector<Received>& log, int64_t fromUs, int64_t toUs) {
  std::vector<Received> out;
  for (const Received& r : log)
    if (r.us > fromUs && r.us <= toUs) out.push_back(r);
  return out;
}

class Seek : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    P().TIMERMIDI = 1;
    P().DEVICEID1A = 0;
  }
  // Plays until songMs of song time have passed.
  void PlayUntil(int64_t songMs) {
    // The start time is final once the timer runs.
    for (int spent = 0; spent < 10000 && (P().periodInForce.load() == 0 ||
                                          timer.nowMicroseconds() < P().startUs.load() + songMs * 1000);
         ++spent)
      timer.advance(1);
  }
  // The song played without a jump: its log and tick 0's time.
  std::vector<Received> Unbroken(int64_t* startUs) {
    Play(Song());
    EXPECT_TRUE(RunToEnd());
    *startUs = P().startUs.load();
    std::vector<Received> log = devices.log(0);
    player.close();
    devices.clear();
    done = 0;
    return log;
  }
};

TEST_F(Seek, TheChaseLeavesTheStateOfAnUnbrokenPlayAndTheSongGoesOnShiftedInTime) {
  int64_t start = 0;
  const std::vector<Received> unbroken = Unbroken(&start);
  const int64_t targetUs = 1000000;

  for (int64_t fromMs : {300, 1300}) {  // forward, then backward over what sets pan and RPN 0/2
    SCOPED_TRACE(fromMs);
    Play(Song());
    PlayUntil(fromMs);
    const size_t before = devices.log(0).size();
    ASSERT_TRUE(player.seek(targetUs / 1000));
    EXPECT_EQ(player.positionMs(), 1000) << "the new position reads at once";
    EXPECT_EQ(player.position(), 40000) << "four marker records lie before the target";
    timer.advance(1);
    const std::vector<Received> log = devices.log(0);
    ASSERT_GT(log.size(), before);
    const int64_t appliedUs = log.back().us;
    std::vector<std::string> chase;
    for (size_t i = before; i < log.size(); ++i) chase.push_back(log[i].what);

    // What sounded is silenced; nothing of a note is sent again.
    EXPECT_NE(std::find(chase.begin(), chase.end(), fromMs == 300 ? "803c00" : "804300"), chase.end());
    for (const std::string& m : chase)
      if (IsShort(m) && (Byte(m, 0) & 0xF0) == 0x90) {
        EXPECT_EQ(Byte(m, 2), 0u) << m;
      }
    // The song's system exclusive messages before the target, in order.
    std::vector<std::string> sysex;
    for (const std::string& m : chase)
      if (m.rfind("f0", 0) == 0) sysex.push_back(m);
    ASSERT_EQ(sysex.size(), 2u);
    EXPECT_EQ(sysex[0].substr(10, 8), "40007f00");
    EXPECT_EQ(sysex[1].substr(10, 8), "40111502");

    std::map<std::string, uint32_t> want = Fold(unbroken, start + targetUs);
    std::map<std::string, uint32_t> got = Fold(log, appliedUs);
    for (const auto& [key, value] : want) EXPECT_EQ(got[key], value) << key;
    if (fromMs == 1300) {
      EXPECT_EQ(got["cc 0 10"], 64u) << "pan goes back to its centre, which it has before the song sets it";
    } else {
      EXPECT_EQ(got.count("cc 0 10"), 0u) << "a jump forward has nothing to take back";
    }
    EXPECT_EQ(got["cc 0 6"], 12u) << "RPN 0/0's range is the last data entry again";
    EXPECT_EQ(got["cc 0 101"], 0u);
    EXPECT_EQ(got["cc 1 99"], 1u);
    EXPECT_EQ(got["cc 1 98"], 8u);

    // From the target to the song's end (the wind-down keeps a grid of its
    // own): the unbroken play's messages, shifted, within a timer period.
    ASSERT_TRUE(RunToEnd());
    const int64_t restUs = player.lengthMs() * 1000 + 1000 - targetUs;
    const std::vector<Received> after = Between(devices.log(0), appliedUs, appliedUs + restUs);
    const std::vector<Received> expected = Between(unbroken, start + targetUs, start + targetUs + restUs);
    EXPECT_EQ(expected.size(), 8u);
    ASSERT_EQ(after.size(), expected.size());
    for (size_t i = 0; i < after.size(); ++i) {
      EXPECT_EQ(after[i].what, expected[i].what) << i;
      const int64_t shifted = expected[i].us - (start + targetUs) + appliedUs;
      EXPECT_GE(after[i].us, shifted - 1000) << i;
      EXPECT_LE(after[i].us, shifted + 1000) << i;
    }
    player.close();
    devices.clear();
    done = 0;
  }
}

TEST_F(Seek, APausedSongJumpsAndStaysPausedUntilResumed) {
  Play(Song());
  PlayUntil(300);
  ASSERT_TRUE(player.pause());
  timer.advance(5);
  ASSERT_EQ(P().pause.load(), kQDPauseHeld);
  ASSERT_TRUE(player.seek(1200));
  timer.advance(1);
  EXPECT_EQ(P().seekPendingUs.load(), -1) << "a held song still takes the jump";
  timer.advance(2000);
  EXPECT_EQ(player.positionMs(), 1200) << "time stands still at the target";
  const size_t before = devices.log(0).size();
  ASSERT_TRUE(player.resume());
  timer.advance(60);
  const std::vector<Received> log = devices.log(0);
  ASSERT_GT(log.size(), before);
  EXPECT_EQ(log[before].what, "804000") << "E4 ends first, 50 ms after the target";
  EXPECT_NEAR(player.positionMs(), 1260, 2);
}

TEST_F(Seek, BeforeTheLeadInEndsTheChaseWaitsForTheMusic) {
  Play(Song());
  ASSERT_TRUE(player.seek(1000));
  EXPECT_EQ(player.positionMs(), 1000);
  for (int spent = 0; spent < 5000 && devices.log(0).empty(); ++spent) timer.advance(1);
  EXPECT_GE(timer.nowMicroseconds(), P().startUs.load() + 1000000 - 1000)
      << "the chase is sent when the song resumes at the target";
  EXPECT_FALSE(player.seek(-1) && player.positionMs() != 0) << "a negative target is the start";
}

TEST_F(Seek, NoSongNoJump) {
  EXPECT_FALSE(player.seek(10));
  EXPECT_EQ(player.positionMs(), 0);
}

TEST(SongPoint, TargetsAtAndPastTheEndAndCutRecords) {
  Stream s = Song();
  const auto* data = s.bytes.data();
  const auto length = static_cast<uint32_t>(s.bytes.size());
  const int64_t lengthUs = QDSongLengthUs(data, length, 480);
  EXPECT_EQ(lengthUs / 1000, 1658) << "1650 ms and ten ticks of 833 µs";
  QDSongPoint end = QDFindSongPoint(data, length, lengthUs * 10, 480, nullptr);
  EXPECT_EQ(end.offset, length);
  EXPECT_EQ(end.targetUs, lengthUs) << "a target past the end is the end";
  // A record at exactly the target is music, not chase (division 500 at
  // tempo 500000: a tick is 1 ms exactly).
  Stream exact;
  exact.shortMsg(0, 0x6407B0, false, true).shortMsg(100, 0x5007B0, false, true).nop(1);
  QDChase chase;
  QDSongPoint at = QDFindSongPoint(exact.bytes.data(), static_cast<uint32_t>(exact.bytes.size()), 100000, 500, &chase);
  EXPECT_EQ(at.markerIndex, 1);
  EXPECT_EQ(at.totalTicks, 0);
  ASSERT_EQ(chase.items.size(), 1u);
  EXPECT_EQ(chase.items[0].messages[0], 0x6407B0u);
  // A stream cut inside a record ends there.
  EXPECT_EQ(QDFindSongPoint(data, length - 2, INT64_MAX >> 17, 480, nullptr).offset, length - 2);
}

}  // namespace
}  // namespace playertest
