// The offline driver held against the real-time player: the same song,
// converted in the same play mode, played once by the player's threads under
// the manual clock and once by the offline driver, each on four capture
// devices. Every device must get the same messages in the same order; each
// song message at the same song time (the player sends on its timer's grid,
// so up to one period later), each reset message at the same time from the
// start of the reset phase (the player's reset loop runs every 4 ms).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "engine/player/offline_player.h"
#include "engine/player/reset_sequences.h"
#include "engine/player/stream_dispatch.h"
#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "platform/capture/capture_midi.h"
#include "platform/manualtimer/manual_timer.h"
#include "support/result_code.h"
#include "tests/song/song_fixture.h"

namespace {

using songtest::Bytes;
using songtest::Smf;
using songtest::Track;

constexpr int32_t kPeriodMs = 1;
constexpr int32_t kModes[] = {0, 1, 2, 3, 4, 5, 8};

struct Sent {
  int64_t us;
  std::string hex;
};

// One run on capture devices: what each device got, split at tick 0.
struct Capture {
  std::vector<Sent> reset[4], song[4];
  int32_t detected = -1;
};

// The capture log's messages (lines with a time), without volume lines.
std::vector<Sent> ReadMessages(const std::string& path) {
  std::vector<Sent> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    int64_t t;
    std::string hex;
    if (l >> t >> hex && hex != "volume") out.push_back({t, hex});
  }
  return out;
}

void Split(const CaptureMidiSystem& capture, int64_t resetStart, int64_t songStart, Capture* run) {
  for (int id = 0; id < 4; ++id) {
    for (const Sent& s : ReadMessages(capture.logPath(id))) {
      if (s.us < songStart) {
        run->reset[id].push_back({s.us - resetStart, s.hex});
      } else {
        run->song[id].push_back({s.us - songStart, s.hex});
      }
    }
  }
}

std::vector<std::string> Hexes(const std::vector<Sent>& v) {
  std::vector<std::string> out;
  for (const Sent& s : v) out.push_back(s.hex);
  return out;
}

// A song that uses what the play modes edit: system exclusive messages on
// both ports (a GS reset, a GS system parameter that is never sent, a
// Yamaha message), bank selects, a chord of 20 notes, tempo changes, and
// port B notes.
Bytes EditedSong() {
  Track a;
  a.tempo(0, 500000)
      .sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
      .sysex(0, {0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x01, 0xF7})
      .at(0, {0xB0, 0x00, 0x00})
      .at(0, {0xB0, 0x20, 0x01})
      .at(0, {0xC0, 0x05});
  for (int i = 0; i < 20; ++i) a.at(i == 0 ? 10 : 0, {0x90, static_cast<uint8_t>(0x30 + i), 0x64});
  a.tempo(7, 350000).sysex(3, {0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x2F, 0x00, 0x10, 0xF7});
  for (int i = 0; i < 20; ++i) a.at(i == 0 ? 460 : 0, {0x80, static_cast<uint8_t>(0x30 + i), 0x00});
  a.tempo(1, 1234567).at(333, {0x90, 0x40, 0x40}).at(1, {0x80, 0x40, 0x00}).end();
  Track b;
  b.meta(0, 0x21, {0x01}).sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).at(10, {0x91, 0x3C, 0x50}).at(470, {0x81, 0x3C, 0x00}).end();
  return Smf(480, {a, b});
}

class OfflinePlayer : public ::testing::Test, public PlayerListener {
 protected:
  void SetUp() override { qtest::StartTrace(dir); }
  void playerDone() override { done = 1; }

  void SetOutputs(Player& player, int32_t mode) {
    TMIDIEXE p(player);
    p.setDEVICEID1A(0);
    p.setDEVICEID2A(1);
    p.setDEVICEID1B(2);
    p.setDEVICEID2B(3);
    p.setRESETMODE(mode);
    p.setTIMERMIDI(kPeriodMs);
    p.setTIMERWRD(1000);
  }

  // The player's threads on the manual clock, as the engine plays a song.
  Capture RealTime(const std::string& song, int32_t mode, const std::string& folder) {
    Capture run;
    CaptureMidiSystem capture(dir.file(folder), 4, [this] { return timer.nowMicroseconds(); });
    ResultCode result;
    Player player(capture, timer, result);
    player.setListener(this);
    SetOutputs(player, mode);
    done = 0;
    TQUORMSTR reader(result);
    reader.setinFileName(song);
    EXPECT_TRUE(player.open());
    PackedSong packed;
    EXPECT_TRUE(reader.Convert(3, mode, &packed)) << result.get();
    EXPECT_TRUE(player.take(std::move(packed)));
    EXPECT_TRUE(player.start());
    if (startMs > 0) {
      EXPECT_TRUE(player.seek(startMs));  // as play --start does
    }
    const int64_t resetStart = timer.nowMicroseconds();
    EXPECT_TRUE(player.release());
    for (int i = 0; i < 100000 && !done.load(); ++i) timer.advance(100);
    EXPECT_TRUE(done.load());
    run.detected = player.state().detectedSetup.load();
    const int64_t songStart = player.state().startUs.load();
    player.close();
    Split(capture, resetStart, songStart, &run);
    return run;
  }

  // The same song converted the same way, then the offline driver on its
  // own ports of a capture set whose clock is the driver's.
  Capture Offline(const std::string& song, int32_t mode, const std::string& folder) {
    Capture run;
    const QDOfflinePlayer* driver = nullptr;
    CaptureMidiSystem capture(dir.file(folder), 4, [&driver] {
      return driver ? (driver->nowFx() + kQDFxPerUs - 1) / kQDFxPerUs : 0;
    });
    ResultCode result;
    TQUORMSTR reader(result);
    reader.setinFileName(song);
    PackedSong packed;
    EXPECT_TRUE(reader.Convert(3, mode, &packed)) << result.get();
    QDOfflineSong s = QDOfflineSong::Of(packed);
    s.resetKind = QDResetKindOfMode(mode);
    s.startUs = startMs > 0 ? startMs * 1000 : 0;
    s.endUs = endMs >= 0 ? endMs * 1000 : -1;
    run.detected = s.detectedSetup;
    std::unique_ptr<MidiOutPort> ports[4];
    MidiOutPort* outputs[4];
    for (int id = 0; id < 4; ++id) {
      EXPECT_EQ(capture.open(id, &ports[id]), kMidiOk);
      outputs[id] = ports[id].get();
    }
    QDOfflinePlayer player(s, outputs);
    driver = &player;
    while (!player.finished()) {
      int64_t next = player.nextTimeFx();
      if (next == QDOfflinePlayer::kNever) {
        player.windDownAt(player.nowFx());
        continue;
      }
      player.runUntil(next);
    }
    EXPECT_EQ(player.songStartFx() % kQDFxPerUs, 0);
    Split(capture, 0, player.songStartFx() / kQDFxPerUs, &run);
    for (auto& p : ports) p->close();
    return run;
  }

  void Compare(const std::string& song, int32_t mode) {
    SCOPED_TRACE(song + " in mode " + std::to_string(mode));
    const std::string tag = "m" + std::to_string(mode) + "-" + std::to_string(++runs);
    Capture rt = RealTime(song, mode, "rt-" + tag);
    Capture off = Offline(song, mode, "off-" + tag);
    EXPECT_EQ(off.detected, rt.detected);
    for (int id = 0; id < 4; ++id) {
      SCOPED_TRACE("device " + std::to_string(id));
      ASSERT_EQ(Hexes(off.reset[id]), Hexes(rt.reset[id]));
      ASSERT_EQ(Hexes(off.song[id]), Hexes(rt.song[id]));
      for (size_t i = 0; i < rt.reset[id].size(); ++i) {
        EXPECT_GE(rt.reset[id][i].us, off.reset[id][i].us) << i;
        EXPECT_LE(rt.reset[id][i].us, off.reset[id][i].us + 16000) << i;
      }
      // The wind-down (32 controller messages) comes when each side ends it.
      const size_t timed = rt.song[id].size() >= 32 ? rt.song[id].size() - 32 : 0;
      for (size_t i = 0; i < timed; ++i) {
        EXPECT_GE(rt.song[id][i].us, off.song[id][i].us) << i << " " << rt.song[id][i].hex;
        EXPECT_LE(rt.song[id][i].us, off.song[id][i].us + kPeriodMs * 1000) << i << " " << rt.song[id][i].hex;
      }
      ASSERT_GE(off.song[id].size(), 32u);
      EXPECT_EQ(off.song[id][off.song[id].size() - 32].hex, "b07800");
      EXPECT_EQ(off.song[id].back().hex, "bf7900");
    }
    // Port A's first device heard the song itself.
    EXPECT_GT(rt.song[0].size(), 32u);
  }

  std::atomic<int> done{0};
  qtest::TempDir dir;
  ManualTimer timer{5000000};
  int runs = 0;
  int64_t startMs = -1, endMs = -1;  // an excerpt, or a jump before the music
};

}  // namespace

TEST_F(OfflinePlayer, SendsWhatThePlayerSendsForTheTimingSongsInEveryMode) {
  const std::string songs[] = {"smf/timing/bach/bach_846.mid", "smf/timing/debussy/childrens_corner_4.mid",
                               "smf/timing/230_bpm_multitrack.mid", "smf/timing/pitchBendTest.mid"};
  for (const std::string& song : songs)
    for (int32_t mode : kModes) Compare(qtest::TestData(song), mode);
}

TEST_F(OfflinePlayer, SendsWhatThePlayerSendsForASongTheModesEdit) {
  const std::string song = dir.write("edited.mid", EditedSong());
  for (int32_t mode : kModes) Compare(song, mode);
}

// An excerpt is what the player sends after a jump to its start made before
// the music (qmidi-tool play --start), and with an end it is the slice of the
// whole song between start and end, on its own clock, then the wind-down.
TEST_F(OfflinePlayer, AnExcerptIsAJumpOfThePlayerAndASliceOfTheWholeSong) {
  const std::string song = dir.write("edited.mid", EditedSong());
  startMs = 100;
  const Capture rt = RealTime(song, 0, "rt-jump");
  const Capture excerpt = Offline(song, 0, "off-excerpt");
  for (int id = 0; id < 4; ++id) {
    SCOPED_TRACE(id);
    ASSERT_EQ(Hexes(excerpt.song[id]), Hexes(rt.song[id]));
    const size_t timed = rt.song[id].size() >= 32 ? rt.song[id].size() - 32 : 0;
    for (size_t i = 0; i < timed; ++i) {
      const int64_t rtUs = rt.song[id][i].us - startMs * 1000;  // the player's tick 0 moved back by the jump
      EXPECT_GE(rtUs, excerpt.song[id][i].us) << i << " " << rt.song[id][i].hex;
      EXPECT_LE(rtUs, excerpt.song[id][i].us + kPeriodMs * 1000) << i << " " << rt.song[id][i].hex;
    }
  }
  std::vector<std::string> chase;
  for (const Sent& s : excerpt.song[0])
    if (s.us == 0) chase.push_back(s.hex);
  EXPECT_EQ(chase, (std::vector<std::string>{"f04110421240007f0041f7", "f043104c02010001f7", "b00000", "b02001",
                                             "c005"}))
      << "the song's state before the start (notes excepted), in song order";

  endMs = 400;  // the twenty note-offs at 355 ms lie inside
  const Capture cut = Offline(song, 0, "off-cut");
  startMs = endMs = -1;
  const Capture whole = Offline(song, 0, "off-whole");
  std::vector<std::string> slice, music;
  for (const Sent& s : whole.song[0])
    if (s.us > 100000 && s.us < 400000) slice.push_back(std::to_string(s.us - 100000) + " " + s.hex);
  for (const Sent& s : cut.song[0])
    if (s.us > 0 && s.us < 300000) music.push_back(std::to_string(s.us) + " " + s.hex);
  EXPECT_EQ(slice.size(), 20u);
  EXPECT_EQ(music, slice);
  ASSERT_GE(cut.song[0].size(), 32u);
  const Sent& windDown = cut.song[0][cut.song[0].size() - 32];
  EXPECT_EQ(windDown.hex, "b07800");
  EXPECT_EQ(windDown.us, 300000) << "all sound off at the excerpt's end";
}

// --- The driver alone ----------------------------------------------------------

namespace {

// A port that keeps the message bytes it gets.
class ListPort final : public MidiOutPort {
 public:
  MidiResult shortMessage(uint32_t m) override {
    got.push_back(m);
    return kMidiOk;
  }
  MidiResult longMessage(const uint8_t*, uint32_t length) override {
    got.push_back(0xF0000000u | length);
    return kMidiOk;
  }
  MidiResult reset() override { return kMidiOk; }
  MidiResult getVolume(uint32_t*) override { return kMidiNotSupported; }
  MidiResult setVolume(uint32_t v) override {
    volume = v;
    return kMidiOk;
  }
  MidiResult close() override { return kMidiOk; }
  std::vector<uint32_t> got;
  uint32_t volume = 0;
};

std::vector<uint8_t> Records(std::initializer_list<std::pair<uint32_t, uint32_t>> deltaAndWord0) {
  std::vector<uint8_t> out;
  for (auto [delta, word] : deltaAndWord0) {
    uint8_t le[4];
    StoreLe32(le, word | uint32_t{kRecDeltaWord} << 24);
    out.insert(out.end(), le, le + 4);
    StoreLe32(le, delta);
    out.insert(out.end(), le, le + 4);
  }
  return out;
}

}  // namespace

TEST(OfflineDriver, EndsASongAtTheFifteenMinuteLimitAndWindsDown) {
  // 100 ticks a quarter at 500 ms: a note after 10 s, the next after 20 minutes.
  std::vector<uint8_t> data = Records({{2000, 0x643C90}, {238000, 0x003C90}});
  QDOfflineSong s;
  s.data = data.data();
  s.length = static_cast<uint32_t>(data.size());
  s.division = 100;
  ListPort port;
  MidiOutPort* outputs[4] = {&port, nullptr, nullptr, nullptr};
  QDOfflinePlayer player(s, outputs);
  EXPECT_EQ(port.volume, 0xFFFFFFFFu) << "volume 100, balance 50";
  int64_t next = player.nextTimeFx();
  // The empty sequence's closing record at 128 ms, then 41 ms of settling.
  EXPECT_EQ(player.songStartFx(), QDOfflinePlayer::kNever);
  player.runUntil(next);
  EXPECT_EQ(player.songStartFx(), (128 + 41) * kQDFxPerMs);
  EXPECT_EQ(player.nextTimeFx(), player.songStartFx() + 10000 * kQDFxPerMs);
  player.runUntil(player.nextTimeFx());
  EXPECT_EQ(port.got, (std::vector<uint32_t>{0x643C90}));
  EXPECT_EQ(player.nextTimeFx(), QDOfflinePlayer::kNever);
  EXPECT_TRUE(player.songEnded());
  player.windDownAt(0);  // never before now
  EXPECT_EQ(player.nextTimeFx(), player.nowFx());
  player.runUntil(player.nowFx() + kQDSettleMs * kQDFxPerMs);
  EXPECT_TRUE(player.finished());
  ASSERT_EQ(port.got.size(), 33u);
  EXPECT_EQ(port.got[1], 0x78B0u);
  EXPECT_EQ(port.got[32], 0x79BFu);
}

TEST(OfflineDriver, ACutRecordEndsTheSongAndVolumeAndBalanceReachTheDevices) {
  std::vector<uint8_t> data = Records({{0, 0x643C90}});
  data.resize(data.size() + 2, 0x30);  // half a record
  QDOfflineSong s;
  s.data = data.data();
  s.length = static_cast<uint32_t>(data.size());
  s.volume = 50;
  s.balance = 0;
  ListPort port;
  MidiOutPort* outputs[4] = {nullptr, nullptr, &port, nullptr};
  QDOfflinePlayer player(s, outputs);
  EXPECT_EQ(port.volume, 0x00007FFFu) << "half volume, right side silent";
  player.runUntil(INT64_MAX - 1);
  EXPECT_TRUE(player.songEnded());
  EXPECT_EQ(port.got, (std::vector<uint32_t>{0x643C90}));
}

TEST(OfflineDriver, SampleTimesRoundUpAndDoNotOverflow) {
  EXPECT_EQ(QDFxToSamples(0, 44100), 0);
  EXPECT_EQ(QDFxToSamples(kQDFxPerMs * 1000, 44100), 44100);
  EXPECT_EQ(QDFxToSamples(kQDFxPerMs * 1000 + 1, 44100), 44101);
  EXPECT_EQ(QDFxToSamples(kQDFxPerMs, 48000), 48);
  // Four hours at 192 kHz.
  EXPECT_EQ(QDFxToSamples(kQDFxPerMs * 1000 * 14400, 192000), int64_t{192000} * 14400);
}
