// What the song reader tells without playing: title and memo, set-up file
// names, time signature, the WRD script beside the song, the song's name.
#include <gtest/gtest.h>

#include <cstring>

#include "support/cp932.h"
#include "tests/song/kar_songs.h"
#include "tests/song/song_fixture.h"

using namespace songtest;

namespace {

// A Recomposer header: title, memo lines, metre and set-up names.
Bytes RcpHeaderBytes(uint8_t numerator, uint8_t denominator) {
  Bytes h(1414, ' ');
  std::memcpy(h.data(), "RCM-PC98V2.0(C)COME ON MUSIC\r\n\0\0", 32);
  std::memcpy(h.data() + 0x20, "  My Song", 9);
  std::memcpy(h.data() + 0x60, "line one", 8);
  h[0x1C0] = 48;
  h[0x1C1] = 120;
  h[0x1C2] = numerator;
  h[0x1C3] = denominator;
  std::memset(h.data() + 0x1C6, 0, 32);
  std::memcpy(h.data() + 0x1C6, "SONG.CM6", 8);
  std::memcpy(h.data() + 0x1D6, "SONG.GSD", 8);
  return h;
}

}  // namespace

class SongHeader : public ::testing::Test {
 protected:
  void SetUp() override { qtest::StartTrace(dir); }
  std::string Name(const std::string& file, const Bytes& bytes) {
    std::string path = dir.write(file, bytes);
    song.setinFileName(path);
    return path;
  }
  qtest::TempDir dir;
  ResultCode result;
  TQUORMSTR song{result};
};

TEST_F(SongHeader, TitleAndMemoOfAMidiFile) {
  Track t, u;
  t.text(0, 0x03, "  Song Title \t").text(0, 0x01, "First line").text(0, 0x04, "Piano").end();
  u.text(0, 0x03, "Second track").end();
  Name("a.mid", Smf(480, {t, u}));
  EXPECT_EQ(song.getinFileTitle(), "Song Title");
  // The title held before the track name (none) is put in front, then each
  // text with two blanks; the scan stops at the next track.
  EXPECT_EQ(song.getinFileMemo(), "  First line  ");

  Track instrument;
  instrument.text(0, 0x04, "Strings").at(0, {0x90, 60, 1}).end();
  Name("b.mid", Smf(480, {instrument}));
  EXPECT_EQ(song.getinFileTitle(), "Strings");
  EXPECT_EQ(song.getinFileMemo(), "");

  Track plain;
  plain.at(0, {0x90, 60, 1}).end();
  Name("plain tune.mid", Smf(480, {plain}));
  EXPECT_EQ(song.getinFileTitle(), "plain tune.mid");
}

TEST_F(SongHeader, AKaraokeTitleStandsInForAMissingSongName) {
  // No name in the first track: the "@T" title comes before the lyric
  // track's name and the karaoke headers, in any of the lyric encodings.
  for (auto encoding : {kartest::KarText::kShiftJis, kartest::KarText::kUtf8}) {
    Name("song.kar", kartest::BuildKar({encoding, 1}));
    EXPECT_EQ(Cp932ToUtf8(song.getinFileTitle()), kartest::kTitle);
  }
  // The song's own name wins over it.
  Track named, words;
  named.text(0, 0x03, "Own Name").end();
  words.text(0, 0x01, "@TSung Title").text(0, 0x01, "la").end();
  Name("named.kar", Smf(480, {named, words}));
  EXPECT_EQ(song.getinFileTitle(), "Own Name");
  // A karaoke header is no title: without "@T" the file's name is.
  Track headerOnly;
  headerOnly.text(0, 0x01, "@KMIDI KARAOKE FILE").text(0, 0x01, "la").end();
  Name("header only.kar", Smf(480, {headerOnly}));
  EXPECT_EQ(song.getinFileTitle(), "header only.kar");
}

TEST_F(SongHeader, TextsStayShiftJisInsideAndConvertToUtf8) {
  Track t;
  t.text(0, 0x03, "\x83\x65\x83\x58\x83\x67\x81\x40").end();  // テスト + ideographic space
  Name("sjis.mid", Smf(480, {t}));
  std::string title = song.getinFileTitle();
  EXPECT_EQ(title, "\x83\x65\x83\x58\x83\x67\x81\x40");
  EXPECT_EQ(Cp932ToUtf8(title), "テスト\u3000");

  song.setinFileName(qtest::TestData("recomposer/sted-cli_test.rcp"));
  EXPECT_EQ(song.getinFileTitle(), "Test song");
  EXPECT_NE(Cp932ToUtf8(song.getinFileMemo()).find("メモのテストです"), std::string::npos);
}

TEST_F(SongHeader, RecomposerHeaderFields) {
  Name("SONG.RCP", RcpHeaderBytes(6, 8));
  EXPECT_EQ(song.getinFileTitle(), "My Song");
  EXPECT_EQ(song.getinFileMemo().substr(0, 10), "line one  ");
  EXPECT_EQ(song.getinFileCm6(), "SONG.CM6");
  EXPECT_EQ(song.getinFileGsd(), "SONG.GSD");
  EXPECT_EQ(song.getdwHyosi(), 0x06031808u);
  EXPECT_EQ(song.getBeatsPerBar(), 3);

  Name("song.r36", RcpHeaderBytes(2, 2));
  EXPECT_EQ(song.getdwHyosi(), 0x02011808u);
  EXPECT_EQ(song.getBeatsPerBar(), 2);
}

TEST_F(SongHeader, TimeSignatureFromTheFirstTrack) {
  struct Case {
    uint8_t numerator, power;
    int32_t beats;
  } cases[] = {{6, 3, 3}, {3, 2, 3}, {2, 1, 2}, {3, 3, 4}, {12, 3, 6}};
  for (const Case& c : cases) {
    Track t;
    t.text(0, 0x03, "x").timeSignature(0, c.numerator, c.power).end();
    Name("t.mid", Smf(480, {t}));
    EXPECT_EQ(song.getdwHyosi(), static_cast<uint32_t>(c.numerator) << 24 | c.power << 16 | 0x1808u);
    EXPECT_EQ(song.getBeatsPerBar(), c.beats) << int(c.numerator) << "/" << (1 << c.power);
  }
  Track late;  // not at delta 0: the song stays in 4/4
  late.timeSignature(10, 3, 2).end();
  Name("late.mid", Smf(480, {late}));
  EXPECT_EQ(song.getdwHyosi(), kDefaultHyosi);
  EXPECT_EQ(song.getBeatsPerBar(), 4);

  Track afterNote;  // a channel message first ends the search
  afterNote.at(0, {0x90, 60, 1}).timeSignature(0, 3, 2).end();
  Name("note.mid", Smf(480, {afterNote}));
  EXPECT_EQ(song.getdwHyosi(), kDefaultHyosi);
}

TEST_F(SongHeader, TheWrdScriptBesideTheSong) {
  std::string wrd = dir.write("song.wrd", std::string("@MES(hello)\n"));
  Name("song.mid", Smf(480, {Track().end()}));
  EXPECT_EQ(song.getWRDFileName(), wrd);
  Name("song.v2.mid", Smf(480, {Track().end()}));
  EXPECT_EQ(song.getWRDFileName(), wrd);
  Name("SONG.MID", Smf(480, {Track().end()}));
  EXPECT_EQ(song.getWRDFileName(), wrd);
  Name("other.mid", Smf(480, {Track().end()}));
  EXPECT_EQ(song.getWRDFileName(), "");

  qtest::TempDir upper;
  std::string upperWrd = upper.write("TUNE.WRD", std::string("x"));
  song.setinFileName(upper.write("tune.mid", Smf(480, {Track().end()})));
  EXPECT_EQ(song.getWRDFileName(), upperWrd);
}

TEST_F(SongHeader, NamingAMissingSongKeepsTheCurrentOne) {
  EXPECT_EQ(song.getinFileTitle(), "");
  EXPECT_EQ(song.getinFileCm6(), "");
  EXPECT_EQ(song.getdwHyosi(), kDefaultHyosi);
  std::string path = Name("keep.mid", Smf(480, {Track().end()}));
  song.setinFileName(dir.file("missing.mid"));
  EXPECT_EQ(song.getinFileName(), path);
  song.setinFileName("");
  EXPECT_EQ(song.getinFileName(), path);
  song.setinFileName(dir.path().string());  // a folder is no song
  EXPECT_EQ(song.getinFileName(), path);
  // A name in another letter case finds the file.
  song.setinFileName(dir.file("KEEP.MID"));
  EXPECT_EQ(song.getinFileName(), path);
  EXPECT_EQ(song.getMIDITITLE(), "");
  EXPECT_EQ(song.getOUTSTATUSID(), 0);
}
