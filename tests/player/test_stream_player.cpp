// The stream player on the manual clock: records play in order at their
// ticks, tempo and speed change the tick length, markers advance the
// time-table index, the timer period follows the system's range, stalls
// shift the song, the 15-minute limit, long messages and their filters,
// stopping, the status thread and its hooks, and silent runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/player/reset_sequences.h"
#include "engine/player/tmidiexe.h"
#include "support/result_code.h"
#include "tests/player/player_fixture.h"

using namespace playertest;

namespace {

constexpr int64_t kTick480 = (int64_t{500000} << 16) / 480;  // 120 bpm at 480

// Times at which device id received each message (not reset/close lines).
std::vector<std::pair<int64_t, std::string>> Timed(RecordingSystem& d, int id) {
  std::vector<std::pair<int64_t, std::string>> out;
  for (const Received& r : d.log(id))
    if (r.what != "reset" && r.what != "close") out.emplace_back(r.us, r.what);
  return out;
}

std::vector<std::string> Controllers(uint32_t controller) {
  std::vector<std::string> out;
  for (uint32_t ch = 0; ch < 16; ++ch) out.push_back(Hex(0xB0 | ch | controller << 8));
  return out;
}

}  // namespace

class StreamPlayer : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    P().DEVICEID1A = 0;
  }
};

TEST_F(StreamPlayer, RecordsPlayInOrderAtTheirTicks) {
  P().TIMERMIDI = 1;
  Stream s;
  s.tempo(0, 500000)
      .shortMsg(0, 0x643C90)    // tick 0
      .shortMsg(1, 0x003C80)    // 1
      .shortMsg(2, 0x643E90)    // 3
      .shortMsg(0, 0x644090)    // 3, same callback, in order
      .shortMsg(477, 0x003E80)  // 480
      .shortMsg(5000, 0x004080) // 5480 (delta word)
      .nop(100);
  Play(s);
  ASSERT_TRUE(RunToEnd());
  auto got = Timed(devices, 0);
  std::vector<std::pair<uint32_t, std::string>> want = {
      {0, "903c64"}, {1, "803c00"}, {3, "903e64"}, {3, "904064"}, {480, "803e00"}, {5480, "804000"}};
  // The wind-down's controllers follow the song.
  ASSERT_EQ(got.size(), want.size() + 32);
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].second, want[i].second) << i;
    EXPECT_EQ(got[i].first, PlayTime(want[i].first, kTick480, 1)) << "tick " << want[i].first;
  }
  EXPECT_EQ(P().totalTicks.load(), 5580);
  EXPECT_EQ(P().readOffset.load(), s.bytes.size());
  // Timing comes from elapsed time: the 5480th tick is 5708.33 ms in, not
  // 5480 × 1041 µs (whole microseconds would make it 3.65 ms early).
  EXPECT_EQ(got[5].first - P().startUs.load(), 5709000);
}

TEST_F(StreamPlayer, TempoRecordsChangeTheTickLength) {
  P().TIMERMIDI = 1;
  Stream s;
  s.tempo(0, 500000)
      .shortMsg(0, 0x643C90)
      .tempo(480, 250000)      // at 500 ms the beat halves
      .shortMsg(0, 0x643E90)   // 500 ms
      .shortMsg(480, 0x644090) // 750 ms
      .tempo(0, 1000000)
      .shortMsg(48, 0x644190)  // 850 ms
      .nop(1);
  Play(s);
  timer.advance(2000);
  EXPECT_EQ(P().tempo.load(), 1000000);
  EXPECT_EQ(P().usPerTick.load(), 1000000 / 480);
  ASSERT_TRUE(RunToEnd());
  auto got = Timed(devices, 0);
  ASSERT_GE(got.size(), 4u);
  int64_t start = P().startUs.load();
  EXPECT_EQ(got[1].first - start, 500000);
  EXPECT_EQ(got[2].first - start, 750000);
  EXPECT_EQ(got[3].first - start, 850000);
  EXPECT_EQ(got[3].second, "904164");
}

TEST_F(StreamPlayer, SpeedSlowsTheSongFromItsNextTempoRecord) {
  struct Case {
    int32_t speed;
    int64_t secondBeatEndsMs;  // the tempo record at beat 1 applies the speed
  } cases[] = {{512, 500 + 1000}, {256, 500 + 500}, {0, 500 + 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    player.close();
    devices.clear();
    done = 0;
    P().TIMERMIDI = 1;
    Stream s;
    s.tempo(0, 500000).shortMsg(0, 0x643C90).shortMsg(480, 0x643E90).tempo(0, 500000).shortMsg(480, 0x644090).nop(1);
    props.setSPEED(0);
    Play(s);
    while (devices.messages(0).empty()) timer.advance(1);
    props.setSPEED(c.speed);  // during the song: the first beat keeps its length
    ASSERT_TRUE(RunToEnd());
    auto got = Timed(devices, 0);
    ASSERT_GE(got.size(), 3u);
    int64_t start = P().startUs.load();
    EXPECT_EQ(got[1].first - start, 500000);  // before the tempo record: as written
    EXPECT_EQ(got[2].first - start, c.secondBeatEndsMs * 1000);
  }
}

TEST_F(StreamPlayer, MarkersAdvanceTheTimeTableIndex) {
  P().TIMERMIDI = 8;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90);
  for (int i = 0; i < 8; ++i) s.nop(120, true);
  s.table = {{62, 120, 0x04020000}, {125, 240, 0x04020000}, {187, 360, 0x04020000}, {250, 480, 0x04020000},
             {312, 600, 0x04020000}, {375, 720, 0x04020000}, {437, 840, 0x04020000}, {500, 960, 0x04020000}};
  Play(s);
  // Half-way through the marker records.
  while (P().startUs.load() == 0 || timer.nowMicroseconds() < P().startUs.load() + 510000)
    timer.advance(1);
  int32_t index = P().markerIndex.load();
  EXPECT_EQ(index, 4);  // ticks 120..480 played by 510 ms (tick 489)
  EXPECT_EQ(player.position(), 600);  // the entry the index points at
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(P().markerIndex.load(), 8);
  EXPECT_EQ(player.position(), 960);  // past the table: its last entry
}

TEST_F(StreamPlayer, TimerPeriodFollowsTheSystemRange) {
  struct Case {
    int32_t asked;
    TimerCaps caps;
    int32_t used;
  } cases[] = {{1, {1, 1000}, 1}, {0, {2, 1000}, 2}, {-5, {3, 1000}, 3}, {60, {1, 50}, 50}, {8, {1, 1000}, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.asked);
    ManualTimer t(1000000, c.caps);
    RecordingSystem d(t);
    ResultCode r;
    Player local(d, t, r);
    TMIDIEXE localProps(local);
    local.setListener(this);
    done = 0;
    local.state().DEVICEID1A = 0;
    local.state().TIMERMIDI = c.asked;
    Stream s;
    s.tempo(0, 500000).shortMsg(0, 0x643C90).nop(960);
    PlayOn(local, s);
    t.advance(400);  // past the reset phase: the timer runs
    auto events = t.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].periodMs, static_cast<uint32_t>(c.used));
    EXPECT_EQ(t.periodsInForce(), std::vector<uint32_t>{static_cast<uint32_t>(c.used)});
    EXPECT_EQ(localProps.getTIMERMIDI(), c.used);  // reads the period in force
    for (int i = 0; i < 400 && !done.load(); ++i) t.advance(10);
    EXPECT_TRUE(done.load());
    EXPECT_TRUE(t.events().empty());
    EXPECT_TRUE(t.periodsInForce().empty());
    local.close();
  }
}

TEST_F(StreamPlayer, AStallOfHalfASecondShiftsTheSong) {
  P().TIMERMIDI = 1;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90).shortMsg(960, 0x643E90).shortMsg(960, 0x644090).nop(1);
  Play(s);
  while (Timed(devices, 0).empty()) timer.advance(1);
  int64_t start = P().startUs.load();
  timer.advance(200);
  timer.stall(600);  // 800 ms in: the note due at 1000 ms is missed
  auto got = Timed(devices, 0);
  EXPECT_EQ(got.size(), 1u) << "nothing is played in the callback that ends a stall";
  EXPECT_EQ(P().stallUs.load(), 600000);
  ASSERT_TRUE(RunToEnd());
  got = Timed(devices, 0);
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got[1].first - start, 1000000 + 600000);
  EXPECT_EQ(got[2].first - start, 2000000 + 600000);

  // A shorter stall is caught up at once.
  player.close();
  devices.clear();
  done = 0;
  Play(s);
  while (Timed(devices, 0).empty()) timer.advance(1);
  start = P().startUs.load();
  timer.advance(600);
  timer.stall(499);
  got = Timed(devices, 0);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].first - start, 1100000);  // late, not shifted
  EXPECT_EQ(P().stallUs.load(), 0);
}

TEST_F(StreamPlayer, TheFifteenMinuteLimitEndsTheSongOnEveryDevice) {
  TMIDIEXEState& p = P();
  p.DEVICEID2A = 1;
  p.DEVICEID1B = 2;
  p.DEVICEID2B = 3;
  p.TIMERMIDI = 100;
  p.TIMERWRD = 1000;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90).shortMsg(2000000, 0x003C80).nop(1);  // ends after 34 minutes
  Play(s);
  while (p.startUs.load() == 0 || timer.nowMicroseconds() < p.startUs.load() + 899000000)
    timer.advance(1000);
  EXPECT_FALSE(done.load());
  ASSERT_TRUE(RunToEnd(2000));
  int64_t limit = p.startUs.load() + 900000000;
  std::vector<std::string> winding = Controllers(120);
  auto resetAll = Controllers(121);
  winding.insert(winding.end(), resetAll.begin(), resetAll.end());
  for (int id = 0; id < 4; ++id) {
    SCOPED_TRACE(id);
    auto got = Timed(devices, id);
    std::vector<std::string> bytes;
    for (auto& [t, m] : got) bytes.push_back(m);
    ASSERT_GE(bytes.size(), 32u);
    EXPECT_EQ(std::vector<std::string>(bytes.end() - 32, bytes.end()), winding);
    EXPECT_GT(got[got.size() - 32].first, limit);
    EXPECT_LT(got[got.size() - 32].first, limit + 400000);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), "803c00"), 0);
  }
  EXPECT_EQ(Notified(), (std::vector<int32_t>{kQDNotifyOpen, kQDNotifyDone}));
  EXPECT_EQ(p.stopFlag1.load(), 1);
  EXPECT_EQ(p.stopFlag2.load(), 1);
}

TEST_F(StreamPlayer, LongMessagesGoToPortADevicesOnlyAndSomeNever) {
  TMIDIEXEState& p = P();
  p.DEVICEID2A = 1;
  p.DEVICEID1B = 2;
  p.DEVICEID2B = 3;
  p.TIMERMIDI = 1;
  p.longMessageMax = 16;
  const Bytes gsReverb = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x04, 0x0B, 0xF7};
  const Bytes gsSystem = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x2F, 0x00, 0x10, 0xF7};
  const Bytes gmOn = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  Stream s;
  s.tempo(0, 500000)
      .longMsg(0, gmOn)
      .longMsg(1, gsSystem)           // 40 01 2F: never sent
      .longMsg(1, gsReverb)           // 40 01 30: sent
      .longMsg(1, gmOn, true)         // port B: to port B's outputs
      .longMsg(1, {0xF7, 0x01, 0xF7}) // not F0: never sent
      .raw(0x80000000u | 0x10000000u | 0x400u | 6, 0, {0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7, 0, 0})  // count from bits 0-9
      .shortMsg(0, 0x7F3C91, true)
      .nop(10);
  // The raw record's payload is 1030 bytes by its 24-bit count; give it room.
  s.bytes.resize(s.bytes.size() - 8 - 4);
  s.bytes.resize(s.bytes.size() + 1032, 0);
  size_t at = s.bytes.size() - 1032;
  const Bytes gmOff = {0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7};
  std::copy(gmOff.begin(), gmOff.end(), s.bytes.begin() + static_cast<long>(at));
  s.shortMsg(0, 0x7F3C91, true).nop(10);
  Play(s);
  ASSERT_TRUE(RunToEnd());
  const std::vector<std::string> portA = {"f07e7f0901f7", "f041104212400130040bf7", "f07e7f0902f7"};
  for (int id : {0, 2}) {
    auto m = devices.messages(id);
    ASSERT_GE(m.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(m.begin(), m.begin() + 3), portA) << id;
    EXPECT_EQ(m.size(), 3u + 32);
  }
  for (int id : {1, 3}) {
    auto m = devices.messages(id);
    ASSERT_EQ(m.size(), 2u + 32) << id;
    EXPECT_EQ(m[0], "f07e7f0901f7");
    EXPECT_EQ(m[1], "913c7f");
  }
  // The send buffers are cleared after each message.
  for (int b = 0; b < 2; ++b)
    EXPECT_TRUE(std::all_of(p.longBuffers[b], p.longBuffers[b] + kLongMessageBufferSize,
                            [](uint8_t x) { return x == 0; }));
}

TEST_F(StreamPlayer, PortsAndTheLevelMeter) {
  TMIDIEXEState& p = P();
  p.DEVICEID2A = 1;
  p.DEVICEID1B = 2;
  p.TIMERMIDI = 1;
  Stream s;
  s.tempo(0, 500000)
      .shortMsg(0, 0x503C92)        // port A channel 3, velocity 80
      .shortMsg(0, 0x4007BB, true)  // port B channel 12 volume 64
      .shortMsg(0, 0x203C9B, true)  // port B channel 12, velocity 32
      .shortMsg(0, 0x103C9B, true)  // a softer note does not lower it
      .shortMsg(0, 0x0A0FB2)        // controller 15 looks like volume too
      .nop(480);
  Play(s);
  while (devices.messages(0).size() < 2) timer.advance(1);
  EXPECT_EQ(devices.messages(0), (std::vector<std::string>{"923c50", "b20f0a"}));
  EXPECT_EQ(devices.messages(2), devices.messages(0));
  EXPECT_EQ(devices.messages(1), (std::vector<std::string>{"bb0740", "9b3c20", "9b3c10"}));
  EXPECT_EQ(p.levels[2].load(), 80 << 16);
  EXPECT_EQ(p.levels[16 + 11].load(), 32 << 16);
  EXPECT_EQ(p.lastVolume[16 + 11].load(), 0x4007BB);
  EXPECT_EQ(p.lastVolume[2].load(), 0x0A0FB2);
  EXPECT_EQ(p.lastVolume[0].load(), kQDDefaultVolume);
  ASSERT_TRUE(RunToEnd());
}

TEST_F(StreamPlayer, StopEndsPlaybackAndSilencesTheDevices) {
  TMIDIEXEState& p = P();
  p.TIMERMIDI = 4;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90);
  for (int i = 0; i < 100; ++i) s.shortMsg(480, 0x643C90);
  Play(s);
  while (devices.messages(0).size() < 3) timer.advance(4);
  player.stop();
  ASSERT_TRUE(RunToEnd(2000));
  auto m = devices.messages(0);
  ASSERT_EQ(m.size(), 3u + 32);
  EXPECT_EQ(std::vector<std::string>(m.begin() + 3, m.begin() + 19), Controllers(120));
  EXPECT_EQ(p.playerExitCode.load(), 2);
  EXPECT_EQ(p.statusEnded.load(), 1);
  EXPECT_EQ(player.close(), kMidiOk);
  EXPECT_EQ(Notified(), (std::vector<int32_t>{kQDNotifyOpen, kQDNotifyDone, kQDNotifyClosed}));
  EXPECT_EQ(devices.log(0).back().what, "close");
  EXPECT_EQ(devices.log(0)[devices.log(0).size() - 2].what, "reset");

  // A stop asked for during the reset sequence: the song never starts, and
  // the next song still gets its reset sequence.
  devices.clear();
  done = 0;
  props.setRESETMODE(3);
  Play(s);
  timer.advance(50);
  player.requestStop();  // the window's stop request
  ASSERT_TRUE(RunToEnd(3000));
  m = devices.messages(0);
  EXPECT_EQ(std::count(m.begin(), m.end(), "903c64"), 0);
  player.close();
  devices.clear();
  done = 0;
  Play(s);
  timer.advance(300);
  EXPECT_EQ(devices.messages(0), std::vector<std::string>{"f07e7f0901f7"});
  player.stop();
  ASSERT_TRUE(RunToEnd(3000));
}

TEST_F(StreamPlayer, ClosingAPlayingStreamStopsItFirst) {
  P().TIMERMIDI = 4;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90).shortMsg(48000, 0x003C80);
  Play(s);
  while (devices.messages(0).empty()) timer.advance(4);
  EXPECT_EQ(player.close(), kMidiOk);  // joins the threads before closing the devices
  EXPECT_TRUE(done.load());
  auto log = devices.log(0);
  EXPECT_EQ(log.back().what, "close");
  EXPECT_FALSE(player.hasThreads());

  // Threads that never ran are dropped: no wind-down is sent.
  devices.clear();
  done = 0;
  ASSERT_TRUE(player.open());
  ASSERT_TRUE(player.take(PackedSongOf(played.bytes.data(), static_cast<uint32_t>(played.bytes.size()),
                                       nullptr, 0, 480)));
  ASSERT_TRUE(player.start());
  EXPECT_FALSE(player.start()) << "threads exist: stopped instead";
  EXPECT_EQ(player.close(), kMidiOk);
  EXPECT_TRUE(devices.messages(0).size() == 32u || devices.messages(0).empty());
}

TEST_F(StreamPlayer, StatusThreadReportsProgressOrRunsTheWrdStep) {
  TMIDIEXEState& p = P();
  p.TIMERMIDI = 8;
  p.TIMERWRD = 5;  // below 17: 16
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90).nop(960);
  Play(s);
  timer.advance(1500);
  EXPECT_TRUE(Progress().empty()) << "no status sink registered";
  player.setStatusSink(true);
  while (p.startUs.load() == 0 || timer.nowMicroseconds() < p.startUs.load() + 100000) timer.advance(1);
  const size_t before = Progress().size();
  timer.advance(160);
  const std::vector<int32_t> all = Progress();
  const std::vector<int32_t> reports(all.begin() + static_cast<long>(before), all.end());
  ASSERT_EQ(reports.size(), 10u);  // every 16 ms
  for (size_t i = 1; i < reports.size(); ++i) EXPECT_EQ(reports[i] - reports[i - 1], 16);
  EXPECT_GE(reports[0], 100);

  player.setWrdStep(true);
  const size_t atWrd = Progress().size();
  timer.advance(160);
  EXPECT_EQ(Progress().size(), atWrd);
  EXPECT_EQ(WrdSteps().size(), 10u);
  player.setWrdDisplay(false);  // the WRD display off: progress again
  timer.advance(160);
  EXPECT_EQ(Progress().size(), atWrd + 10);
  EXPECT_EQ(WrdSteps().size(), 10u);
  props.setTITLEVISIBLE(1);
  const size_t hidden = Progress().size();
  timer.advance(160);
  EXPECT_EQ(Progress().size(), hidden);
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(p.statusExitCode.load(), 1);
}

TEST_F(StreamPlayer, MidiDisableRunsSilentlyWithTheSameTimingAndNotifications) {
  props.setMIDIDISABLE(1);
  props.setRESETMODE(2);
  P().TIMERMIDI = 2;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90).longMsg(480, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}).nop(480);
  Play(s);
  EXPECT_EQ(props.getMIDIDISABLE(), 1);
  props.setMIDIDISABLE(0);  // the stream is open: ignored
  EXPECT_EQ(props.getMIDIDISABLE(), 1);
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(P().totalTicks.load(), 960);
  // The song ended at its last tick, as it would on devices.
  EXPECT_EQ(player.close(), kMidiOk);
  EXPECT_EQ(devices.opens, 0);
  for (int id = -1; id < 4; ++id) EXPECT_TRUE(devices.log(id).empty());
  EXPECT_EQ(Notified(), (std::vector<int32_t>{kQDNotifyOpen, kQDNotifyDone, kQDNotifyClosed}));
}

TEST_F(StreamPlayer, AnEmptyOrCutStreamEndsCleanly) {
  P().TIMERMIDI = 4;
  Stream empty;
  Play(empty);
  ASSERT_TRUE(RunToEnd(5000));
  auto windDown = Controllers(120), resetAll = Controllers(121);
  windDown.insert(windDown.end(), resetAll.begin(), resetAll.end());
  EXPECT_EQ(devices.messages(0), windDown);

  player.close();
  devices.clear();
  done = 0;
  Stream cut;
  cut.tempo(0, 500000).shortMsg(0, 0x643C90);
  cut.raw(0x80000000u | 0x10, 0, {0xF0, 0x01});  // says 16 bytes, holds 4
  Play(cut);
  ASSERT_TRUE(RunToEnd(5000));
  EXPECT_EQ(devices.messages(0).front(), "903c64");
  EXPECT_EQ(P().readOffset.load(), cut.bytes.size());
}

TEST_F(StreamPlayer, PauseReleasesTheSoundingNotesHoldsTheTimeAndResumesWhereTheSongStood) {
  TMIDIEXEState& p = P();
  p.DEVICEID2A = 1;  // port B's first device
  p.TIMERMIDI = 1;
  p.TIMERWRD = 16;
  player.setStatusSink(true);
  Stream s;
  s.tempo(0, 500000)
      .shortMsg(0, 0x643C90)         // tick 0: C4 on
      .shortMsg(0, 0x504095, true)   // port B channel 6: E4 on
      .shortMsg(240, 0x003C80)       // 250 ms: C4 off
      .shortMsg(0, 0x644390)         // G4 on
      .shortMsg(480, 0x004390)       // 750 ms: G4 off (note-on, velocity 0)
      .shortMsg(0, 0x644590)         // A4 on
      .shortMsg(480, 0x004580)       // 1250 ms: A4 off
      .shortMsg(0, 0x004085, true)   // E4 off
      .nop(10);
  EXPECT_FALSE(player.pause()) << "nothing plays yet";
  Play(s);
  while (p.startUs.load() == 0 || timer.nowMicroseconds() < p.startUs.load() + 500000) timer.advance(1);
  const int64_t start = p.startUs.load();
  const size_t before0 = devices.messages(0).size(), before1 = devices.messages(1).size();
  ASSERT_EQ(before0, 3u);  // C4 on, C4 off, G4 on
  const int32_t markers = p.markerIndex.load();
  const int64_t ticks = p.totalTicks.load();

  ASSERT_TRUE(player.pause());
  EXPECT_TRUE(player.paused());
  EXPECT_FALSE(player.pause()) << "a second pause does nothing";
  timer.advance(1);  // the next deadline holds the song
  ASSERT_EQ(p.pause.load(), kQDPauseHeld);
  const int64_t heldAt = p.pauseStartUs.load();
  // The releases: G4 on port A, E4 on port B, then all sound off everywhere.
  std::vector<std::string> want0 = {"804300"}, want1 = {"854000"};
  for (const std::string& c : Controllers(120)) {
    want0.push_back(c);
    want1.push_back(c);
  }
  auto m0 = devices.messages(0), m1 = devices.messages(1);
  EXPECT_EQ(std::vector<std::string>(m0.begin() + static_cast<long>(before0), m0.end()), want0);
  EXPECT_EQ(std::vector<std::string>(m1.begin() + static_cast<long>(before1), m1.end()), want1);

  // Held for three seconds: nothing is sent, the time stands, no progress.
  const size_t reports = Progress().size();
  timer.advance(3000);
  EXPECT_EQ(devices.messages(0).size(), m0.size());
  EXPECT_EQ(devices.messages(1).size(), m1.size());
  EXPECT_EQ(p.totalTicks.load(), ticks);
  EXPECT_EQ(p.markerIndex.load(), markers);
  EXPECT_EQ(Progress().size(), reports);
  EXPECT_FALSE(done.load()) << "a pause longer than the song does not end it";

  ASSERT_TRUE(player.resume());
  const int64_t held = timer.nowMicroseconds() - heldAt;
  EXPECT_FALSE(player.resume()) << "not paused any more";
  EXPECT_FALSE(player.paused());
  ASSERT_TRUE(RunToEnd());
  EXPECT_GT(Progress().size(), reports);
  // The song goes on where it stood: the rest of it, each note once, later by the time held.
  auto t0 = Timed(devices, 0);
  std::vector<std::string> rest;
  for (size_t i = m0.size(); i < t0.size() && rest.size() < 3; ++i) rest.push_back(t0[i].second);
  EXPECT_EQ(rest, (std::vector<std::string>{"904300", "904564", "804500"}));
  EXPECT_EQ(p.startUs.load(), start + held);  // the song's start moved by the time held
  EXPECT_EQ(t0[m0.size()].first - start, 750000 + held);
  EXPECT_EQ(t0[m0.size()].first, PlayTime(720, kTick480, 1));
  EXPECT_EQ(std::count_if(t0.begin(), t0.end(), [](auto& x) { return x.second == "904564"; }), 1);
  EXPECT_EQ(std::count_if(t0.begin(), t0.end(), [](auto& x) { return x.second == "903c64"; }), 1);
  EXPECT_EQ(p.totalTicks.load(), 1210);
}

TEST_F(StreamPlayer, AStopEndsAPausedSong) {
  P().TIMERMIDI = 4;
  Stream s;
  s.tempo(0, 500000).shortMsg(0, 0x643C90).shortMsg(4800, 0x003C80).nop(1);
  Play(s);
  while (devices.messages(0).empty()) timer.advance(4);
  ASSERT_TRUE(player.pause());
  timer.advance(8);
  player.stop();
  ASSERT_TRUE(RunToEnd(2000));
  EXPECT_FALSE(player.pause()) << "nothing plays";
}
