// The player on the machine's own services: the real timer and its threads
// (a run for ThreadSanitizer as much as for the result), and the soft synth
// rendering a converted song offline. Timing is not asserted here.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>

#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "platform/realtimer/real_timer.h"
#include "platform/softsynth/soft_synth.h"
#include "tests/player/player_fixture.h"
#include "tests/song/song_fixture.h"

using playertest::Hex;
using playertest::Received;
using playertest::RecordingSystem;

namespace {

// A player on the given devices and timer, listened to.
class MachinePlayer : public ::testing::Test, public PlayerListener {
 protected:
  void SetUp() override { qtest::StartTrace(dir); }
  void playerDone() override { done = 1; }
  void playerProgress(int32_t) override { ++reports; }

  std::unique_ptr<Player> Make(MidiOutSystem& devices, TimerSystem& timer) {
    auto p = std::make_unique<Player>(devices, timer, result);
    p->setListener(this);
    return p;
  }
  bool Start(Player& player, const songtest::Bytes& song) {
    TQUORMSTR reader(result);
    reader.setinFileName(dir.write("song.mid", song));
    PackedSong packed;
    if (!player.open() || !reader.Convert(3, player.state().RESETMODE.load(), &packed)) return false;
    return player.take(std::move(packed)) && player.start() && player.release();
  }

  qtest::TempDir dir;
  ResultCode result;
  std::atomic<int> done{0};
  std::atomic<int> reports{0};
};

// 1.2 s of sixteenth notes on two ports, with a tempo change.
songtest::Bytes DenseSong() {
  songtest::Track a, b;
  a.tempo(0, 500000);
  b.meta(0, 0x21, {0x01});
  for (int i = 0; i < 32; ++i) {
    if (i == 16) a.tempo(0, 250000);
    a.at(0, {0x90, static_cast<uint8_t>(0x30 + i % 24), 0x60}).at(60, {0x80, static_cast<uint8_t>(0x30 + i % 24), 0x00});
    b.at(0, {0x91, static_cast<uint8_t>(0x40 + i % 12), 0x50}).at(60, {0x81, static_cast<uint8_t>(0x40 + i % 12), 0x00});
  }
  a.end();
  b.end();
  return songtest::Smf(480, {a, b});
}

}  // namespace

TEST_F(MachinePlayer, RealTimerPlaysEveryMessageInOrderAndEnds) {
  RealTimer timer;
  RecordingSystem devices(timer);
  auto player = Make(devices, timer);
  TMIDIEXE p(*player);
  p.setDEVICEID1A(0);
  p.setDEVICEID2A(1);
  p.setRESETMODE(3);
  p.setTIMERMIDI(1);
  player->setStatusSink(true);
  ASSERT_TRUE(Start(*player, DenseSong()));
  // Read what the window thread reads while the song plays.
  p.setMIDICURRENTTIME1(1);
  p.setOUTSTATUSCH(40);
  for (int i = 0; i < 1000 && !done.load(); ++i) {
    p.getMIDICURRENTTIME1();
    p.getOUTSTATUSLEVEL();
    player->position();
    timer.sleep(10);
  }
  ASSERT_TRUE(done.load());
  EXPECT_EQ(player->close(), kMidiOk);
  std::vector<std::string> portA, portB;
  for (int i = 0; i < 32; ++i) {
    portA.push_back(Hex(0x600090 | (0x30 + i % 24) << 8));
    portA.push_back(Hex(0x000080 | (0x30 + i % 24) << 8));
    portB.push_back(Hex(0x500091 | (0x40 + i % 12) << 8));
    portB.push_back(Hex(0x000081 | (0x40 + i % 12) << 8));
  }
  auto a = devices.messages(0);
  auto b = devices.messages(1);
  ASSERT_EQ(a.size(), 1 + 64 + 32u);  // GM system on, the song, the wind-down
  EXPECT_EQ(a[0], "f07e7f0901f7");
  EXPECT_EQ(std::vector<std::string>(a.begin() + 1, a.begin() + 65), portA);
  ASSERT_EQ(b.size(), 64 + 32u);
  EXPECT_EQ(std::vector<std::string>(b.begin(), b.begin() + 64), portB);
  EXPECT_GT(reports.load(), 0);
}

TEST_F(MachinePlayer, RealTimerStopsAtOnce) {
  RealTimer timer;
  RecordingSystem devices(timer);
  auto player = Make(devices, timer);
  player->state().DEVICEID1A = 0;
  player->state().TIMERMIDI = 2;
  ASSERT_TRUE(Start(*player, DenseSong()));
  while (devices.messages(0).size() < 4) timer.sleep(5);
  player->stop();
  for (int i = 0; i < 300 && !done.load(); ++i) timer.sleep(10);
  ASSERT_TRUE(done.load());
  EXPECT_EQ(player->close(), kMidiOk);
  auto a = devices.messages(0);
  ASSERT_GE(a.size(), 32u + 4);
  EXPECT_LT(a.size(), 32u + 20);
  EXPECT_EQ(a[a.size() - 32], "b07800");
}

TEST_F(MachinePlayer, SoftSynthSoundsASongAfterItsGsReset) {
  if (!std::filesystem::exists(kDefaultSoundFont)) GTEST_SKIP() << "no GM sound font installed";
  ManualTimer manual(1000000);
  SoftSynthConfig config;
  config.offline = true;
  SoftSynthSystem synth(config);
  auto player = Make(synth, manual);
  TMIDIEXE p(*player);
  p.setDEVICEID1A(kMidiMapper);
  p.setRESETMODE(2);  // the tone-generator reset: GM on, then GS reset
  p.setTIMERMIDI(4);
  songtest::Track t;
  t.at(0, {0xB0, 0x00, 0x08}).at(0, {0xC0, 0x04}).at(0, {0x90, 0x3C, 0x70}).at(480, {0x80, 0x3C, 0x00}).end();
  ASSERT_TRUE(Start(*player, songtest::Smf(480, {t})));
  std::vector<float> buf(441 * 2);
  double loudest = 0;
  for (int i = 0; i < 1000 && !done.load(); ++i) {
    manual.advance(10);
    ASSERT_TRUE(synth.render(buf.data(), 441));  // 10 ms of sound for 10 ms of song
    double sum = 0;
    for (float x : buf) sum += double(x) * x;
    loudest = std::max(loudest, std::sqrt(sum / double(buf.size())));
  }
  ASSERT_TRUE(done.load());
  EXPECT_GT(loudest, 0.01);
  // In GM mode bank select is ignored; after the GS reset MSB 8 selects the bank.
  EXPECT_EQ(synth.channelPreset(0).selectedBank, 8);
  EXPECT_EQ(synth.channelPreset(0).program, 4);
  EXPECT_EQ(player->close(), kMidiOk);
}
