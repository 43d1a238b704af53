// RCP 3.0 songs with set-up files played on recording devices: the set-up
// reaches the module of its port before the song's first note, paced as the
// module needs, and nothing of it is sent when set-up files are off.
#include <gtest/gtest.h>

#include "engine/player/tmidiexe.h"
#include "engine/song/setup_files.h"
#include "engine/song/song_reader.h"
#include "platform/midi_bytes.h"
#include "tests/player/player_fixture.h"
#include "tests/song/rcp_builder.h"
#include "tests/song/setup_builder.h"

using namespace playertest;

namespace {

std::vector<std::string> HexOf(const std::vector<RcpSetupMessage>& messages) {
  std::vector<std::string> out;
  for (const RcpSetupMessage& m : messages) out.push_back(MidiHex(m.bytes.data(), m.bytes.size()));
  return out;
}

bool IsExclusive(const std::string& what) { return what.rfind("f0", 0) == 0; }

class SetupPlayback : public PlayerTest {
 protected:
  // A song for both ports: a note on port A, a note on port B.
  qtest::RcpSong Song() {
    qtest::RcpSong s;
    s.v3 = true;
    s.gsd = "MYGS.GSD";
    s.gsdB = "PORTB.GSD";
    qtest::RcpTrack a, b;
    a.channel = 0;
    a.Ev(60, 48, 10, 100).End();
    b.channel = 16;
    b.Ev(62, 48, 10, 100).End();
    s.tracks = {a, b};
    return s;
  }

  // Plays the song on device 0 (port A) and device 1 (port B) to its end.
  void PlaySong(const std::string& path, bool setupFiles = true) {
    done = 0;
    TMIDIEXE& p = props;
    p.setDEVICEID1A(0);
    p.setDEVICEID2A(1);
    p.setTIMERMIDI(4);
    p.setTIMERWRD(1000);
    TQUORMSTR reader(result);
    reader.setSetupFiles(setupFiles);
    reader.setinFileName(path);
    ASSERT_TRUE(player.open());
    PackedSong packed;
    ASSERT_TRUE(reader.Convert(3, p.getRESETMODE(), &packed)) << result.get();
    problems = reader.SetupProblems();
    ASSERT_TRUE(player.take(std::move(packed)));
    ASSERT_TRUE(player.start());
    ASSERT_TRUE(player.release());
    EXPECT_TRUE(RunToEnd());
    player.close();
  }

  // What a device got before its first note-on, and whether a note came.
  std::vector<std::string> BeforeFirstNote(int device, bool* noted) {
    std::vector<std::string> out;
    *noted = false;
    for (const std::string& m : devices.messages(device)) {
      if (m.size() == 6 && m[0] == '9' && m.substr(4) != "00") {
        *noted = true;
        break;
      }
      if (IsExclusive(m)) out.push_back(m);
    }
    return out;
  }

  std::vector<std::string> problems;
};

}  // namespace

TEST_F(SetupPlayback, EachPortsGsdReachesItsModuleBeforeTheSong) {
  const std::vector<uint8_t> gsd = qtest::GsdFile();
  std::vector<uint8_t> gsdB = qtest::GsdFile();
  gsdB[0x24] = 0x11;  // another master volume
  dir.write("mygs.gsd", gsd);
  dir.write("PortB.gsd", gsdB);
  PlaySong(dir.write("song.g36", Song().Build()));
  EXPECT_TRUE(problems.empty());
  std::vector<RcpSetupMessage> wantA, wantB;
  ASSERT_TRUE(GsdSetupMessages(gsd.data(), gsd.size(), 0, &wantA));
  ASSERT_TRUE(GsdSetupMessages(gsdB.data(), gsdB.size(), 1, &wantB));
  bool noted = false;
  EXPECT_EQ(BeforeFirstNote(0, &noted), HexOf(wantA));
  EXPECT_TRUE(noted);
  EXPECT_EQ(BeforeFirstNote(1, &noted), HexOf(wantB));
  EXPECT_TRUE(noted);
}

TEST_F(SetupPlayback, Mt32MessagesArePacedForTheModule) {
  qtest::RcpSong s = Song();
  s.gsd.clear();
  s.gsdB.clear();
  s.cm6 = "SOUND.CM6";
  dir.write("Sound.Cm6", qtest::Cm6File());
  PlaySong(dir.write("SONG.G36", s.Build()));
  std::vector<Received> sent;
  for (const Received& r : devices.log(0))
    if (IsExclusive(r.what)) sent.push_back(r);
  ASSERT_EQ(sent.size(), 85u);
  EXPECT_GE(sent[1].us - sent[0].us, 420000);  // after the reset
  for (size_t i = 1; i < sent.size(); ++i) EXPECT_GE(sent[i].us - sent[i - 1].us, 40000) << i;
}

TEST_F(SetupPlayback, OffOrMissingTheSongPlaysWithoutASetup) {
  dir.write("mygs.gsd", qtest::GsdFile());
  PlaySong(dir.write("off.g36", Song().Build()), false);
  for (int d : {0, 1})
    for (const std::string& m : devices.messages(d)) EXPECT_FALSE(IsExclusive(m)) << m;
  devices.clear();

  qtest::RcpSong s = Song();
  s.gsd = "GONE.GSD";
  s.gsdB.clear();
  PlaySong(dir.write("missing.g36", s.Build()));
  ASSERT_EQ(problems.size(), 1u);
  bool noted = false;
  EXPECT_TRUE(BeforeFirstNote(0, &noted).empty());
  EXPECT_TRUE(noted);
}
