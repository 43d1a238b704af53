// The player's device set-up: which outputs open and in what order, the
// long-message headers, and the division and tick length handed over by the
// song reader.
#include <gtest/gtest.h>

#include <vector>

#include "engine/player/midi_player.h"
#include "tests/common/test_files.h"

namespace {

struct Log {
  std::vector<int> opened;
  std::vector<int> closed;
  std::vector<int32_t> notified;
  int sleptMs = 0;
} g_log;

class Port final : public MidiOutPort {
 public:
  Port(int id, int busyCloses) : id_(id), busy_(busyCloses) {}
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
    g_log.closed.push_back(id_);
    return kMidiOk;
  }

 private:
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
    g_log.opened.push_back(id);
    *port = std::make_unique<Port>(id, id == 3 ? 2 : 0);
    return kMidiOk;
  }
};

void CountSleep(uint32_t ms) { g_log.sleptMs += static_cast<int>(ms); }
void Notify(int32_t code) { g_log.notified.push_back(code); }

class PlayerSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    qtest::StartTrace(dir);
    g_log = Log();
    QDResetPlayer();
    QDSetMidiSystem(&devices);
    QDSetSleepFunction(&CountSleep);
    QDSetNotifyProc(&Notify);
  }
  void TearDown() override {
    QDResetPlayer();
    QDSetMidiSystem(nullptr);
    QDSetSleepFunction(nullptr);
  }
  qtest::TempDir dir;
  Devices devices;
};

}  // namespace

TEST_F(PlayerSetup, OpensTheConfiguredOutputsInPortOrder) {
  TMIDIEXEState& p = QDPlayer();
  EXPECT_TRUE(QDStreamOpen());  // nothing configured: nothing attempted
  EXPECT_EQ(QDCurrentHandle(), nullptr);

  p.DEVICEID2A = 2;  // port B first
  p.DEVICEID1B = 1;  // port A second
  ASSERT_TRUE(QDStreamOpen());
  EXPECT_EQ(g_log.opened, (std::vector<int>{2, 1}));
  EXPECT_EQ(QDCurrentHandle(), p.handles[kQDPortBFirst].get());
  EXPECT_EQ(p.handles[kQDPortAFirst], nullptr);
  EXPECT_EQ(p.streamOpen.load(), 1);

  p.DEVICEID2B = 7;  // no such device: the last attempt decides
  EXPECT_FALSE(QDStreamOpen());
  EXPECT_NE(QDCurrentHandle(), nullptr);
  EXPECT_EQ(g_log.notified, (std::vector<int32_t>{kQDNotifyOpen, kQDNotifyOpen, kQDNotifyOpen}));
}

TEST_F(PlayerSetup, ClosingRetriesBusyDevicesAndForgetsTheHandles) {
  TMIDIEXEState& p = QDPlayer();
  p.DEVICEID1A = 0;
  p.DEVICEID2B = 3;
  ASSERT_TRUE(QDStreamOpen());
  g_log.sleptMs = 0;
  EXPECT_EQ(QDStreamClose(), kMidiOk);
  EXPECT_EQ(g_log.closed, (std::vector<int>{0, 3}));
  EXPECT_EQ(g_log.sleptMs, 41 + 1 + 3);  // settle, then 1 ms before each close attempt
  EXPECT_EQ(QDCurrentHandle(), nullptr);
  EXPECT_EQ(p.handles[kQDPortBSecond], nullptr);
  EXPECT_EQ(p.streamOpen.load(), 0);
  EXPECT_EQ(g_log.notified.back(), kQDNotifyClosed);
}

TEST_F(PlayerSetup, MidiDisableOpensSilentHandlesWithoutTouchingDevices) {
  TMIDIEXEState& p = QDPlayer();
  p.MIDIDISABLE = 1;
  p.DEVICEID1A = kMidiMapper;
  ASSERT_TRUE(QDStreamOpen());
  EXPECT_TRUE(g_log.opened.empty());
  ASSERT_NE(QDCurrentHandle(), nullptr);
  EXPECT_EQ(QDOutStreamHeader(), 0);
  EXPECT_EQ(QDStreamClose(), kMidiOk);
}

TEST_F(PlayerSetup, HeadersArePreparedForPortADevicesOnly) {
  TMIDIEXEState& p = QDPlayer();
  p.DEVICEID2A = 1;
  ASSERT_TRUE(QDStreamOpen());
  EXPECT_EQ(QDOutStreamHeader(), 1);  // port B alone: no header to prepare

  QDStreamClose();
  p.DEVICEID1A = 0;
  p.DEVICEID1B = 2;
  ASSERT_TRUE(QDStreamOpen());
  p.longMessageMax = 44;
  p.longBuffers[1][5] = 0xAA;
  p.tempo = 123;
  EXPECT_EQ(QDOutStreamHeader(), 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(p.longHeaders[i].data, p.longBuffers[i]);
    EXPECT_EQ(p.longHeaders[i].bufferLength, 44u);
    EXPECT_EQ(p.longHeaders[i].flags & kQDHeaderPrepared, kQDHeaderPrepared);
  }
  EXPECT_EQ(p.longBuffers[1][5], 0);
  EXPECT_EQ(p.tempo.load(), 500000);
  // No division handed over yet: 48 is taken.
  EXPECT_EQ(p.baseDivision.load(), 48);
  EXPECT_EQ(p.usPerTick.load(), 500000 / 48);

  EXPECT_EQ(QDOutUnPreperHeader(), 0);
  EXPECT_EQ(p.longHeaders[0].flags & kQDHeaderPrepared, 0u);
  EXPECT_EQ(p.longHeaders[1].flags & kQDHeaderPrepared, 0u);
}

TEST_F(PlayerSetup, DivisionSpeedAndTickLength) {
  TMIDIEXEState& p = QDPlayer();
  QDSetTimeDiv(480);
  EXPECT_EQ(p.effectiveDivision.load(), 480);
  EXPECT_EQ(p.usPerTick.load(), 1041);
  // Speed changes the division at once and the tick length only at the
  // next tempo record.
  QDSetSpeed(512);
  EXPECT_EQ(p.effectiveDivision.load(), 240);
  EXPECT_EQ(p.usPerTick.load(), 1041);
  QDSetTimeDiv(480);
  EXPECT_EQ(p.usPerTick.load(), 2083);
  QDSetSpeed(256);
  EXPECT_EQ(p.effectiveDivision.load(), 480);
  QDSetSpeed(0);
  EXPECT_EQ(p.effectiveDivision.load(), 480);
  QDSetTimeDiv(0);
  EXPECT_EQ(p.effectiveDivision.load(), 1);
  p.tempo = 0;
  QDSetTimeDiv(960);
  EXPECT_EQ(p.usPerTick.load(), 1);  // never below one microsecond
}
