// The player's device set-up: which outputs open and in what order, the
// settle waits kept off the caller's thread, the long-message headers of a
// song taken, and the division and tick length.
#include <gtest/gtest.h>

#include <vector>

#include "engine/player/midi_player.h"
#include "platform/manualtimer/manual_timer.h"
#include "tests/common/test_files.h"

namespace {

struct Log {
  std::vector<int> opened;
  std::vector<int> closed;
};

class Port final : public MidiOutPort {
 public:
  Port(Log& log, int id, int busyCloses) : log_(log), id_(id), busy_(busyCloses) {}
  MidiResult shortMessage(uint32_t) override { return kMidiOk; }
  MidiResult longMessage(const uint8_t*, uint32_t) override { return kMidiOk; }
  MidiResult reset() override { return kMidiOk; }
  MidiResult getVolume(uint32_t*) override { return kMidiNotSupported; }
  MidiResult setVolume(uint32_t) override { return kMidiNotSupported; }
  MidiResult close() override {
    if (busy_ > 0) {
      --busy_;
      return kMidiStillPlaying;
    }
    log_.closed.push_back(id_);
    return kMidiOk;
  }

 private:
  Log& log_;
  int id_;
  int busy_;
};

// Devices 0-3 open; device 3 reports "still playing" twice when closed.
class Devices final : public MidiOutSystem {
 public:
  int deviceCount() override { return 4; }
  std::string productName(int id) override { return "dev" + std::to_string(id); }
  bool supportsVolume(int) override { return false; }
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override {
    if (id < 0 || id >= 4) return kMidiBadDevice;
    log.opened.push_back(id);
    *port = std::make_unique<Port>(log, id, id == 3 ? 2 : 0);
    return kMidiOk;
  }
  Log log;
};

class Reports final : public PlayerListener {
 public:
  void playerOpened(bool ok) override { codes.push_back(ok ? kQDNotifyOpen : -kQDNotifyOpen); }
  void playerClosed(MidiResult) override { codes.push_back(kQDNotifyClosed); }
  std::vector<int32_t> codes;
};

class PlayerSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    qtest::StartTrace(dir);
    player.setListener(&reports);
  }
  // Milliseconds the clock moved while f ran on this thread (a sleep of the
  // test's own thread moves the manual clock).
  template <class F>
  int64_t SleptMs(F f) {
    const int64_t before = timer.nowMicroseconds();
    f();
    return (timer.nowMicroseconds() - before) / 1000;
  }
  PackedSong Song(int32_t division = 0) {
    const uint8_t nop[4] = {0, 0, 0, kRecNop};
    return PackedSongOf(nop, 4, nullptr, 0, division);
  }

  qtest::TempDir dir;
  ManualTimer timer{1000000};
  Devices devices;
  ResultCode result;
  Player player{devices, timer, result};
  Reports reports;
};

}  // namespace

TEST_F(PlayerSetup, OpensTheConfiguredOutputsInPortOrder) {
  TMIDIEXEState& p = player.state();
  EXPECT_TRUE(player.open());  // nothing configured: nothing attempted
  EXPECT_EQ(player.currentHandle(), nullptr);

  p.DEVICEID2A = 2;  // port B first
  p.DEVICEID1B = 1;  // port A second
  EXPECT_EQ(SleptMs([&] { ASSERT_TRUE(player.open()); }), 41);  // the settle time first
  EXPECT_EQ(devices.log.opened, (std::vector<int>{2, 1}));
  EXPECT_EQ(player.currentHandle(), p.handles[kQDPortBFirst].get());
  EXPECT_EQ(p.handles[kQDPortAFirst], nullptr);
  EXPECT_EQ(p.streamOpen.load(), 1);

  p.DEVICEID2B = 7;  // no such device: the last attempt decides
  EXPECT_FALSE(player.open());
  EXPECT_NE(player.currentHandle(), nullptr);
}

TEST_F(PlayerSetup, ClosingRetriesBusyDevicesAndForgetsTheHandles) {
  TMIDIEXEState& p = player.state();
  p.DEVICEID1A = 0;
  p.DEVICEID2B = 3;
  ASSERT_TRUE(player.open());
  // Settle, then 1 ms before each close attempt.
  EXPECT_EQ(SleptMs([&] { EXPECT_EQ(player.close(), kMidiOk); }), 41 + 1 + 3);
  EXPECT_EQ(devices.log.closed, (std::vector<int>{0, 3}));
  EXPECT_EQ(player.currentHandle(), nullptr);
  EXPECT_EQ(p.handles[kQDPortBSecond], nullptr);
  EXPECT_EQ(p.streamOpen.load(), 0);
}

TEST_F(PlayerSetup, OpenAndCloseWaitOnTheWorkerAndReportWhenDone) {
  player.state().DEVICEID1A = 0;
  // The caller's clock does not move: the settle wait is the worker's.
  EXPECT_EQ(SleptMs([&] { ASSERT_TRUE(player.openAsync()); }), 0);
  EXPECT_TRUE(player.busy());
  EXPECT_FALSE(player.closeAsync());  // one job at a time
  timer.advance(40);
  EXPECT_TRUE(reports.codes.empty());
  EXPECT_TRUE(devices.log.opened.empty());
  timer.advance(1);
  EXPECT_EQ(reports.codes, (std::vector<int32_t>{kQDNotifyOpen}));
  EXPECT_EQ(devices.log.opened, (std::vector<int>{0}));
  EXPECT_FALSE(player.busy());

  ASSERT_TRUE(player.take(Song()));
  EXPECT_EQ(SleptMs([&] { ASSERT_TRUE(player.closeAsync()); }), 0);
  // The headers' release, the settle, 1 ms before the close.
  timer.advance(41 + 41);
  EXPECT_TRUE(devices.log.closed.empty());
  timer.advance(1);
  EXPECT_EQ(reports.codes, (std::vector<int32_t>{kQDNotifyOpen, kQDNotifyClosed}));
  EXPECT_EQ(devices.log.closed, (std::vector<int>{0}));
  // The song stays for the display values until its owner lets it go.
  EXPECT_FALSE(player.song().empty());
  player.forgetSong();
  EXPECT_TRUE(player.song().empty());
}

TEST_F(PlayerSetup, MidiDisableOpensSilentHandlesWithoutTouchingDevices) {
  TMIDIEXEState& p = player.state();
  p.MIDIDISABLE = 1;
  p.DEVICEID1A = kMidiMapper;
  ASSERT_TRUE(player.open());
  EXPECT_TRUE(devices.log.opened.empty());
  ASSERT_NE(player.currentHandle(), nullptr);
  EXPECT_TRUE(player.take(Song()));
  EXPECT_EQ(player.close(), kMidiOk);
}

TEST_F(PlayerSetup, ASongIsTakenOnlyWithAPortADeviceOpen) {
  TMIDIEXEState& p = player.state();
  EXPECT_FALSE(player.take(Song()));  // nothing open
  EXPECT_EQ(result.get(), kQDErrNoOutput);

  p.DEVICEID2A = 1;
  ASSERT_TRUE(player.open());
  result.clear();
  EXPECT_FALSE(player.take(Song()));  // port B alone: no header to prepare
  EXPECT_EQ(result.get(), kQDErrHeaders);

  player.close();
  p.DEVICEID1A = 0;
  p.DEVICEID1B = 2;
  ASSERT_TRUE(player.open());
  PackedSong song = Song(0);
  song.longMessageMax = 44;
  p.longBuffers[1][5] = 0xAA;
  p.tempo = 123;
  result.clear();
  EXPECT_TRUE(player.take(std::move(song)));
  EXPECT_EQ(result.get(), 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(p.longHeaders[i].data, p.longBuffers[i]);
    EXPECT_EQ(p.longHeaders[i].bufferLength, 44u);
    EXPECT_EQ(p.longHeaders[i].flags & kQDHeaderPrepared, kQDHeaderPrepared);
  }
  EXPECT_EQ(p.longBuffers[1][5], 0);
  EXPECT_EQ(p.tempo.load(), 500000);
  // A song without a division: 48 is taken.
  EXPECT_EQ(p.baseDivision.load(), 48);
  EXPECT_EQ(p.usPerTick.load(), 500000 / 48);

  EXPECT_EQ(player.close(), kMidiOk);
  EXPECT_EQ(p.longHeaders[0].flags & kQDHeaderPrepared, 0u);
  EXPECT_EQ(p.longHeaders[1].flags & kQDHeaderPrepared, 0u);
}

TEST_F(PlayerSetup, DivisionSpeedAndTickLength) {
  TMIDIEXEState& p = player.state();
  player.setTimeDivision(480);
  EXPECT_EQ(p.effectiveDivision.load(), 480);
  EXPECT_EQ(p.usPerTick.load(), 1041);
  // Speed changes the division at once and the tick length only at the
  // next tempo record.
  player.setSpeed(512);
  EXPECT_EQ(p.effectiveDivision.load(), 240);
  EXPECT_EQ(p.usPerTick.load(), 1041);
  player.setTimeDivision(480);
  EXPECT_EQ(p.usPerTick.load(), 2083);
  player.setSpeed(256);
  EXPECT_EQ(p.effectiveDivision.load(), 480);
  player.setSpeed(0);
  EXPECT_EQ(p.effectiveDivision.load(), 480);
  player.setTimeDivision(0);
  EXPECT_EQ(p.effectiveDivision.load(), 1);
  p.tempo = 0;
  player.setTimeDivision(960);
  EXPECT_EQ(p.usPerTick.load(), 1);  // never below one microsecond
}
