// RCP 3.0 songs through the song reader: the header whatever the file is
// called, and the set-up files sent before the song, which the song's bars
// do not count.
#include <gtest/gtest.h>

#include "engine/song/setup_files.h"
#include "tests/song/rcp_builder.h"
#include "tests/song/setup_builder.h"
#include "tests/song/song_fixture.h"

using namespace songtest;

namespace {

qtest::RcpSong G36Song() {
  qtest::RcpSong s;
  s.v3 = true;
  s.title = "  Third Song";
  s.memo = {"line one", "", "line three"};
  s.timeBase = 480;
  s.numerator = 3;
  s.gsd = "MYGS.GSD";
  qtest::RcpTrack t;
  t.Ev(60, 480, 100, 100).Ev(62, 480, 100, 100).End();
  s.tracks = {t};
  return s;
}

std::vector<Record> Long(const std::vector<Record>& records) {
  std::vector<Record> out;
  for (const Record& r : records)
    if (r.kind() == kRecLong) out.push_back(r);
  return out;
}

}  // namespace

TEST_F(SongTest, Rcp3HeaderIsReadWhateverTheSongIsCalled) {
  qtest::RcpSong s = G36Song();
  s.gsdB = "B.GSD";
  s.cm6 = "MT.CM6";
  for (const char* name : {"tune.dat", "TUNE.G36", "Tune.g18"}) {
    SCOPED_TRACE(name);
    song.setinFileName(dir.write(name, s.Build(36)));
    EXPECT_EQ(song.getinFileTitle(), "Third Song");
    EXPECT_EQ(song.getinFileMemo(), "line one  line three  ");
    EXPECT_EQ(song.getinFileGsd(), "MYGS.GSD");
    EXPECT_EQ(song.getinFileGsdB(), "B.GSD");
    EXPECT_EQ(song.getinFileCm6(), "MT.CM6");
    EXPECT_EQ(song.getdwHyosi(), 0x0302F008u);  // 3/4, 240 clocks
    EXPECT_EQ(song.getBeatsPerBar(), 3);
  }
  song.setSetupFiles(false);
  ASSERT_TRUE(Convert(s.Build(36), 0, "tune.dat"));
  EXPECT_EQ(song.getdwTimeDivision(), 480u);
  EXPECT_EQ(ShortMessages(packed).size(), 4u);  // two notes, on and off
}

TEST_F(SongTest, SetupLeadsTheStreamButTheBarsStartWithTheMusic) {
  const Bytes gsd = qtest::GsdFile();
  dir.write("mygs.gsd", gsd);  // the song names MYGS.GSD
  ASSERT_TRUE(Convert(G36Song().Build(), 0, "SONG.G36"));
  EXPECT_TRUE(song.SetupProblems().empty());
  std::vector<RcpSetupMessage> want;
  ASSERT_TRUE(GsdSetupMessages(gsd.data(), gsd.size(), 0, &want));
  const std::vector<Record> records = Records(packed);
  const std::vector<Record> sysex = Long(records);
  ASSERT_EQ(sysex.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(Bytes(sysex[i].payload.begin(), sysex[i].payload.begin() + (sysex[i].data & 0x3FF)),
              want[i].bytes)
        << i;
  }
  const std::vector<Record> notes = ShortMessages(packed);
  ASSERT_FALSE(notes.empty());
  EXPECT_GT(notes.front().tick, sysex.back().tick);
  EXPECT_EQ(notes.front().tick, song.LeadInTicks());

  // The first note is bar 0, tick 0, after the set-up's time; the second
  // one beat later (960 in the normalised division) and half a second later.
  const TimeTableEntry* table = packed.timeTable();
  const Record* second = nullptr;
  for (const Record& r : notes)
    if (r.isShort(0x90) && ((r.data >> 8) & 0xFF) == 62 && (r.data >> 16) != 0) second = &r;
  ASSERT_NE(second, nullptr);
  // The entry of the music's start: the marker record at the first note's tick.
  int start = -1;
  for (const Record& r : records)
    if (r.marker >= 0 && r.tick == notes.front().tick) start = r.marker;
  ASSERT_GE(start, 0);
  ASSERT_GT(second->marker, start);
  for (int i = 0; i <= start; ++i) EXPECT_EQ(table[i].position, 0) << i;
  EXPECT_EQ(table[second->marker].position, 960);
  EXPECT_EQ(table[second->marker].ms - table[start].ms, 500u);
  uint32_t waits = 0;
  for (const RcpSetupMessage& m : want) waits += m.waitMs;
  EXPECT_GE(table[start].ms, waits);
  // The song ends with its last track: the set-up, two beats and the rests.
  EXPECT_GE(song.SongEndMicroseconds(), uint64_t{waits + 1000} * 1000);
  EXPECT_EQ(song.getdwMaxTempo() / 10000, 0);
}

TEST_F(SongTest, SetupFilesOffOrMissingLeaveTheSongAsItIs) {
  song.setSetupFiles(false);
  dir.write("MyGs.Gsd", qtest::GsdFile());
  ASSERT_TRUE(Convert(G36Song().Build(), 0, "a.g36"));
  EXPECT_TRUE(Long(Records(packed)).empty());
  EXPECT_EQ(song.LeadInTicks(), 0u);
  EXPECT_EQ(ShortMessages(packed).front().tick, 0u);

  song.setSetupFiles(true);
  qtest::RcpSong missing = G36Song();
  missing.gsd = "NONE.GSD";
  ASSERT_TRUE(Convert(missing.Build(), 0, "b.g36"));
  ASSERT_EQ(song.SetupProblems().size(), 1u);
  EXPECT_NE(song.SetupProblems()[0].find("NONE.GSD"), std::string::npos);
  EXPECT_TRUE(TraceHas("TQUORMSTR.ConverterInit " + song.SetupProblems()[0]));
  EXPECT_TRUE(Long(Records(packed)).empty());
  EXPECT_EQ(ShortMessages(packed).size(), 4u);
}

TEST_F(SongTest, RecomposerNamesWithADamagedSignatureAreRefused) {
  qtest::RcpSong s = G36Song();
  s.signature = "COME ON MUSIC RECOMPOSER RCP9.9";
  EXPECT_FALSE(Convert(s.Build(), 0, "x.G36"));
  // Any other name: not a Recomposer song, so read (and refused) as MIDI.
  EXPECT_FALSE(Convert(s.Build(), 0, "x.mid"));
  EXPECT_TRUE(Convert(G36Song().Build(), 0, "x.mid"));
}
