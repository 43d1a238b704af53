// Each play mode end to end on capture devices under the manual clock: a
// song is converted in the mode and played on four outputs (port A first,
// port B first, port A second, port B second = devices 0, 1, 2, 3). The
// logs show the reset sequence's exact bytes and times, which device got
// what, that port B's system exclusive messages reach port B only, and the song's
// events as the mode edits them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "platform/capture/capture_midi.h"
#include "platform/manualtimer/manual_timer.h"
#include "tests/song/song_fixture.h"

namespace {

using songtest::Bytes;
using songtest::Smf;
using songtest::Track;

struct Line {
  int64_t us;
  std::string hex;
};

std::vector<Line> ReadLog(const std::string& path) {
  std::vector<Line> out;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream l(text);
    int64_t t;
    std::string hex;
    if (l >> t >> hex) out.push_back({t, hex});
  }
  return out;
}

std::vector<std::string> Hexes(const std::vector<Line>& lines) {
  std::vector<std::string> out;
  for (const Line& l : lines) out.push_back(l.hex);
  return out;
}

std::string H(std::initializer_list<int> bytes) {
  std::string s;
  char b[4];
  for (int x : bytes) {
    std::snprintf(b, sizeof b, "%02x", x);
    s += b;
  }
  return s;
}

// One message of a reset sequence: when (ms from the start of the reset
// phase), its bytes, and whether every device gets it (short messages) or
// only port A's first (long ones).
struct Step {
  int ms;
  std::string hex;
  bool everyDevice;
};

const std::string kGmOn = "f07e7f0901f7";
const std::string kGsReset = "f04110421240007f0041f7";
const std::string kModeSet = "f04110421200007f0001f7";
const std::string kXgOn = "f043104c00007e00f7";

void Add(std::vector<Step>& s, int ms, const std::string& hex) { s.push_back({ms, hex, false}); }
void AddAll(std::vector<Step>& s, int ms, const std::vector<std::string>& shorts) {
  for (const auto& h : shorts) s.push_back({ms, h, true});
}
std::vector<std::string> Programs() {
  std::vector<std::string> v;
  for (int ch = 0; ch < 16; ++ch) v.push_back(H({0xC0 + ch, 0}));
  return v;
}
std::vector<std::string> NoteOffs() {
  std::vector<std::string> v;
  for (int ch = 0; ch < 16; ++ch) v.push_back(H({0x90 + ch, 0, 0}));
  return v;
}
// GS reset, system mode set, tone maps, bank select, programs, note-offs,
// starting at `at` ms.
int MapFromGsReset(std::vector<Step>& s, int at, int map, int lsb) {
  Add(s, at += 128, kGsReset);
  Add(s, at += 128, kModeSet);
  at += 128;
  for (int p = 0; p < 16; ++p) {
    int sum = 0x40 + 0x40 + p + 0x00 + map;
    Add(s, at + p, H({0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x40 + p, 0x00, map, (0x80 - (sum & 0x7F)) & 0x7F, 0xF7}));
  }
  at += 15 + 128;
  std::vector<std::string> banks;
  for (int ch = 0; ch < 16; ++ch) banks.push_back(H({0xB0 + ch, 32, ch == 9 ? 0 : lsb}));
  for (int ch = 0; ch < 16; ++ch) banks.push_back(H({0xB0 + ch, 0, 0}));
  AddAll(s, at, banks);
  AddAll(s, at += 128, Programs());
  AddAll(s, at += 128, NoteOffs());
  return at;
}

std::vector<Step> Expected(const std::string& kind) {
  std::vector<Step> s;
  if (kind == "gm") {
    Add(s, 128, kGmOn);
  } else if (kind == "tone") {
    Add(s, 128, kGmOn);
    Add(s, 256, kGsReset);
    Add(s, 384, kModeSet);
    AddAll(s, 512, Programs());
    AddAll(s, 640, NoteOffs());
  } else if (kind == "sc55" || kind == "sc88") {
    Add(s, 128, kGmOn);
    MapFromGsReset(s, 128, kind == "sc55" ? 1 : 0, kind == "sc55" ? 1 : 0);
  } else if (kind == "xggs") {
    Add(s, 128, kGmOn);
    Add(s, 256, kXgOn);
    Add(s, 384, kGsReset);
    Add(s, 512, kModeSet);
    AddAll(s, 640, Programs());
    AddAll(s, 768, NoteOffs());
  }
  return s;
}

// The song: port A sets a bank, a program and plays a chord of 20 notes
// after a GS reset, then two GS messages (40 01 2F is never sent, 40 01 30
// is); port B sends a GM system on (to port B's outputs, unless the play
// mode drops it) and one note.
Bytes TestSong() {
  Track a;
  a.tempo(0, 500000)
      .sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
      .at(0, {0xB0, 0x00, 0x00})
      .at(0, {0xB0, 0x20, 0x01})
      .at(0, {0xC0, 0x05});
  for (int i = 0; i < 20; ++i) a.at(i == 0 ? 10 : 0, {0x90, static_cast<uint8_t>(0x30 + i), 0x64});
  a.sysex(10, {0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x2F, 0x00, 0x10, 0xF7})
      .sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x04, 0x0B, 0xF7});
  for (int i = 0; i < 20; ++i) a.at(i == 0 ? 460 : 0, {0x80, static_cast<uint8_t>(0x30 + i), 0x00});
  a.end();
  Track b;
  b.meta(0, 0x21, {0x01}).sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).at(10, {0x91, 0x3C, 0x50}).at(470, {0x81, 0x3C, 0x00}).end();
  return Smf(480, {a, b});
}

std::vector<std::string> Chord(int notes, int status, int velocity) {
  std::vector<std::string> v;
  for (int i = 0; i < notes; ++i) v.push_back(H({status, 0x30 + i, velocity}));
  return v;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::string kGsReverb = "f041104212400130040bf7";

class PlayModes : public ::testing::Test, public PlayerListener {
 protected:
  void SetUp() override { qtest::StartTrace(dir); }
  void playerDone() override { done = 1; }

  // Converts and plays the song in the mode on capture devices in folder;
  // the logs of devices 0-3, split into reset phase and song.
  void PlayIn(int32_t mode, const Bytes& song, const std::string& folder) {
    CaptureMidiSystem capture(dir.file(folder), 4, [this] { return timer.nowMicroseconds(); });
    ResultCode result;
    Player player(capture, timer, result);
    player.setListener(this);
    TMIDIEXE p(player);
    p.setDEVICEID1A(0);
    p.setDEVICEID2A(1);
    p.setDEVICEID1B(2);
    p.setDEVICEID2B(3);
    p.setRESETMODE(mode);
    p.setTIMERMIDI(1);
    done = 0;
    TQUORMSTR reader(result);
    reader.setinFileName(dir.write(folder + ".mid", song));
    ASSERT_TRUE(player.open());
    PackedSong packed;
    ASSERT_TRUE(reader.Convert(3, mode, &packed)) << result.get();
    ASSERT_TRUE(player.take(std::move(packed)));
    ASSERT_TRUE(player.start());
    resetStart = timer.nowMicroseconds();
    ASSERT_TRUE(player.release());
    for (int i = 0; i < 10000 && !done.load(); ++i) timer.advance(10);
    ASSERT_TRUE(done.load());
    songStart = player.state().startUs.load();
    detected = player.state().detectedSetup.load();
    player.close();
    for (int id = 0; id < 4; ++id) {
      reset[id].clear();
      played[id].clear();
      for (const Line& l : ReadLog(capture.logPath(id))) (l.us < songStart ? reset[id] : played[id]).push_back(l);
      // The wind-down (all sound off, reset all controllers) closes every log.
      ASSERT_GE(played[id].size(), 32u) << id;
      EXPECT_EQ(played[id][played[id].size() - 32].hex, "b07800") << id;
      played[id].resize(played[id].size() - 32);
    }
  }

  // The reset phase's messages: exact bytes on the right devices, never
  // early, late by at most one pass of the reset loop (4 ms) plus the 1 ms
  // pauses after long messages, and long messages at least 1 ms apart.
  void CheckReset(const std::vector<Step>& want) {
    std::vector<std::string> toFirst, toOthers;
    for (const Step& s : want) {
      toFirst.push_back(s.hex);
      if (s.everyDevice) toOthers.push_back(s.hex);
    }
    EXPECT_EQ(Hexes(reset[0]), toFirst);
    for (int id = 1; id < 4; ++id) EXPECT_EQ(Hexes(reset[id]), toOthers) << id;
    if (reset[0].size() != want.size()) return;
    int64_t lastLong = -1000000;
    for (size_t i = 0; i < want.size(); ++i) {
      int64_t at = reset[0][i].us - resetStart;
      EXPECT_GE(at, int64_t{want[i].ms} * 1000) << i << " " << want[i].hex;
      EXPECT_LE(at, int64_t{want[i].ms} * 1000 + 16000) << i << " " << want[i].hex;
      if (!want[i].everyDevice) {
        EXPECT_GE(reset[0][i].us - lastLong, 1000) << i;
        lastLong = reset[0][i].us;
      }
    }
    // The song starts 41 ms after the sequence's closing record (128 ms
    // after its last message) and one second of lead-in.
    int last = want.empty() ? 0 : want.back().ms;
    EXPECT_GE(songStart - resetStart, int64_t{last + 128 + 41 + 1000} * 1000);
    EXPECT_LE(songStart - resetStart, int64_t{last + 128 + 41 + 1000 + 20} * 1000);
  }

  // Port B's devices get its note, and its system exclusive message when
  // the play mode keeps it.
  void CheckPortB(bool exclusive = false) {
    std::vector<std::string> want = {"913c50", "813c00"};
    if (exclusive) want.insert(want.begin(), "f07e7f0901f7");
    for (int id : {1, 3}) EXPECT_EQ(Hexes(played[id]), want) << id;
  }

  std::atomic<int> done{0};
  qtest::TempDir dir;
  ManualTimer timer{5000000};
  int64_t resetStart = 0, songStart = 0;
  int32_t detected = -1;
  std::vector<Line> reset[4], played[4];
};

}  // namespace

TEST_F(PlayModes, Mode0SendsNoResetAndTheSongUnchanged) {
  PlayIn(0, TestSong(), "mode0");
  CheckReset({});
  auto want = Concat({{kGsReset, "b00000", "b02001", "c005"}, Chord(20, 0x90, 0x64), {kGsReverb}, Chord(20, 0x80, 0)});
  EXPECT_EQ(Hexes(played[0]), want);
  EXPECT_EQ(Hexes(played[2]), want);  // port A second: the same, system exclusive included
  CheckPortB(true);
  // The song keeps its times: the chord 10 ticks (10.4 ms) in, on the 1 ms grid.
  ASSERT_GE(played[0].size(), 5u);
  EXPECT_EQ(played[0][4].us - songStart, 11000);
}

TEST_F(PlayModes, Mode1SendsGmResetDropsSystemExclusiveAndLimitsChords) {
  PlayIn(1, TestSong(), "mode1");
  CheckReset(Expected("gm"));
  // Sixteen note-ons start at the chord's tick over both ports: port B's one
  // note there (merged before the chord) leaves fifteen for port A.
  auto want = Concat({{"b00000", "b02001", "c005"}, Chord(15, 0x90, 0x64), Chord(20, 0x80, 0)});
  EXPECT_EQ(Hexes(played[0]), want);
  EXPECT_EQ(Hexes(played[2]), want);
  CheckPortB();
}

TEST_F(PlayModes, Mode2SendsTheToneGeneratorResetOrTheDetectedSetUp) {
  PlayIn(2, TestSong(), "mode2");
  EXPECT_EQ(detected, 0);  // bank MSB 0 only
  CheckReset(Expected("tone"));
  auto want = Concat({{"b00000", "b02001", "c005"}, Chord(20, 0x90, 0x64), {kGsReverb}, Chord(20, 0x80, 0)});
  EXPECT_EQ(Hexes(played[0]), want);
  EXPECT_EQ(Hexes(played[2]), want);
  CheckPortB();

  // A Yamaha message and no bank changes: the XG, GS sequence, for this song only.
  Track t;
  t.sysex(0, {0x43, 0x10, 0x4C, 0x02, 0x01, 0x00, 0x01, 0xF7}).at(10, {0x90, 0x40, 0x40}).at(10, {0x80, 0x40, 0x00}).end();
  PlayIn(2, Smf(480, {t}), "mode2xg");
  EXPECT_EQ(detected, 4);
  CheckReset(Expected("xggs"));
  EXPECT_EQ(Hexes(played[0]), (std::vector<std::string>{"f043104c02010001f7", "904040", "804000"}));
  PlayIn(2, TestSong(), "mode2again");
  CheckReset(Expected("tone"));
}

TEST_F(PlayModes, Mode3SendsItsGmResetButNotTheSongsGsReset) {
  PlayIn(3, TestSong(), "mode3");
  CheckReset(Expected("gm"));
  auto want = Concat({{"b00000", "b02001", "c005"}, Chord(20, 0x90, 0x64), {kGsReverb}, Chord(20, 0x80, 0)});
  EXPECT_EQ(Hexes(played[0]), want);
  EXPECT_EQ(Hexes(played[2]), want);
  CheckPortB();
}

TEST_F(PlayModes, Mode5SendsTheSc55MapAndNoBankSelectLsb) {
  PlayIn(5, TestSong(), "mode5");
  CheckReset(Expected("sc55"));
  EXPECT_EQ(reset[0][3].hex, "f041104212404000017ff7");  // part 0: checksum 7F
  auto want = Concat({{"b00000", "c005"}, Chord(20, 0x90, 0x64), {kGsReverb}, Chord(20, 0x80, 0)});
  EXPECT_EQ(Hexes(played[0]), want);
  EXPECT_EQ(Hexes(played[2]), want);
  CheckPortB();
}

TEST_F(PlayModes, Mode8SendsTheSc88Map) {
  PlayIn(8, TestSong(), "mode8");
  CheckReset(Expected("sc88"));
  auto want = Concat({{"b00000", "b02001", "c005"}, Chord(20, 0x90, 0x64), {kGsReverb}, Chord(20, 0x80, 0)});
  EXPECT_EQ(Hexes(played[0]), want);
  EXPECT_EQ(Hexes(played[2]), want);
  CheckPortB();
}
