// The lyric reader: karaoke files and lyric events in the three encodings,
// the karaoke conventions, times against the converter's time table, and
// damaged songs.
#include <gtest/gtest.h>

#include "engine/song/song_lyrics.h"
#include "support/cp932.h"
#include "tests/song/kar_songs.h"
#include "tests/song/song_fixture.h"

using songtest::Bytes;
using songtest::Track;

namespace {

TSongLyrics Read(const Bytes& song, bool karaokeName = false) {
  return ReadLyricsImage(song.data(), song.size(), karaokeName);
}

struct Variant {
  kartest::KarText encoding;
  uint8_t type;
  LyricEncoding detected;
};

}  // namespace

TEST(Lyrics, KaraokeSongsReadTheSameInEveryEncoding) {
  const Variant variants[] = {
      {kartest::KarText::kShiftJis, 1, LyricEncoding::kShiftJis},
      {kartest::KarText::kEucJp, 1, LyricEncoding::kEucJp},
      {kartest::KarText::kUtf8, 1, LyricEncoding::kUtf8},
      {kartest::KarText::kShiftJis, 5, LyricEncoding::kShiftJis},
      {kartest::KarText::kUtf8, 5, LyricEncoding::kUtf8},
  };
  const std::vector<kartest::KarLine> want = kartest::Lines();
  for (const Variant& v : variants) {
    SCOPED_TRACE(std::string(LyricEncodingName(v.detected)) + " type " + std::to_string(v.type));
    const TSongLyrics lyrics = Read(kartest::BuildKar({v.encoding, v.type}));
    EXPECT_EQ(lyrics.encoding, v.detected);
    EXPECT_EQ(lyrics.fromTextEvents, v.type == 1);
    EXPECT_EQ(lyrics.title, kartest::kTitle);
    EXPECT_EQ(lyrics.artist, kartest::kArtist);
    ASSERT_EQ(lyrics.lines.size(), want.size());
    for (size_t l = 0; l < want.size(); ++l) {
      const LyricLine& line = lyrics.lines[l];
      EXPECT_EQ(line.text(), want[l].text) << l;
      EXPECT_EQ(line.paragraph, want[l].paragraph) << l;
      ASSERT_EQ(line.syllables.size(), want[l].syllables.size()) << l;
      for (size_t k = 0; k < line.syllables.size(); ++k) {
        EXPECT_EQ(line.syllables[k].text, want[l].syllables[k]);
        EXPECT_EQ(line.syllables[k].tick, want[l].ticks[k]);
        EXPECT_EQ(line.syllables[k].ms, kartest::MsAtTick(want[l].ticks[k]));
      }
    }
  }
}

TEST(Lyrics, TheEncodingIsChosenFromTheWholeSong) {
  const std::string kana = "あいうえおかきくけこ";
  // EUC-JP kana are also valid Shift-JIS (as half-width katakana); the
  // reading that gives kana wins.
  EXPECT_EQ(DetectLyricEncoding({kartest::Encode(kana, kartest::KarText::kEucJp)}),
            LyricEncoding::kEucJp);
  EXPECT_EQ(DetectLyricEncoding({kartest::Encode(kana, kartest::KarText::kShiftJis)}),
            LyricEncoding::kShiftJis);
  // Second bytes of 0x5C and 0x7E (ソ, 表, 〜 in the middle of a word).
  EXPECT_EQ(DetectLyricEncoding({"\x83\x5C", "\x95\x5C", "\x81\x60"}), LyricEncoding::kShiftJis);
  EXPECT_EQ(DetectLyricEncoding({"plain", "words/"}), LyricEncoding::kAscii);
  EXPECT_EQ(DetectLyricEncoding({"plain", "カラオケ"}), LyricEncoding::kUtf8);
  // One text that only one encoding can read decides for the song.
  EXPECT_EQ(DetectLyricEncoding({kartest::Encode("かきくけこ", kartest::KarText::kEucJp),
                                 kartest::Encode("京", kartest::KarText::kEucJp)}),
            LyricEncoding::kEucJp);
  EXPECT_EQ(DecodeLyricText("\x83\x5C\x95\x5C", LyricEncoding::kShiftJis), "ソ表");
  EXPECT_EQ(
      DecodeLyricText(kartest::Encode("表を見て", kartest::KarText::kEucJp), LyricEncoding::kEucJp),
      "表を見て");
}

TEST(Lyrics, TextEventsAreSyllablesOnlyInKaraokeFiles) {
  Track t;
  t.text(0, 1, "Sequenced by somebody").at(480, {0x90, 60, 100}).text(0, 1, "a remark").end(480);
  const Bytes plain = songtest::Smf(480, {t});
  EXPECT_TRUE(Read(plain).empty());
  EXPECT_EQ(Read(plain, true).lines.size(), 1u);  // named .kar
  EXPECT_EQ(Read(plain, true).lines[0].text(), "Sequenced by somebodya remark");

  // A real karaoke file: its comment in the first track is not sung.
  const std::vector<uint8_t> file =
      qtest::ReadBytes(qtest::TestData("smf/jazz-soft/midi/test-karaoke-kar.mid"));
  const TSongLyrics kar = ReadLyricsImage(file.data(), file.size(), false);
  EXPECT_EQ(kar.title, "Mary Was A Little Lame");
  ASSERT_EQ(kar.lines.size(), 5u);
  EXPECT_EQ(kar.lines[0].text(), "Mary was a little lame,");
  EXPECT_EQ(kar.lines[4].text(), "A little lame was she!");
  EXPECT_EQ(kar.syllableCount(), 26u);
}

TEST(Lyrics, LineEndsInsideSyllablesAndPlaces) {
  // Lyric events that end lines with CR and paragraphs with LF.
  Track t;
  t.text(0, 5, "One ").text(100, 5, "two\r").text(100, 5, "three\n").text(100, 5, "four").end();
  const TSongLyrics lyrics = Read(songtest::Smf(100, {t}));
  ASSERT_EQ(lyrics.lines.size(), 3u);
  EXPECT_EQ(lyrics.lines[0].text(), "One two");
  EXPECT_EQ(lyrics.lines[1].text(), "three");
  EXPECT_FALSE(lyrics.lines[1].paragraph);
  EXPECT_TRUE(lyrics.lines[2].paragraph);
  // 100 ticks a quarter at 120 a minute: 500 ms each.
  EXPECT_EQ(lyrics.placeAt(0), (LyricPlace{0, 1}));
  EXPECT_EQ(lyrics.placeAt(499), (LyricPlace{0, 1}));
  EXPECT_EQ(lyrics.placeAt(500), (LyricPlace{0, 2}));
  EXPECT_EQ(lyrics.placeAt(1000), (LyricPlace{1, 1}));
  EXPECT_EQ(lyrics.placeAt(99999), (LyricPlace{2, 1}));
  TSongLyrics late = Read(songtest::Smf(100, {Track().text(400, 5, "late").end()}));
  EXPECT_EQ(late.placeAt(1999), (LyricPlace{0, 0}));
}

class LyricTimes : public songtest::SongTest {};

// Every marker of the converted song lies at a tick whose time the lyric
// reader computes exactly as the converter's time table has it.
TEST_F(LyricTimes, AgreeWithTheConvertersTimeTable) {
  for (uint16_t division : {uint16_t{480}, uint16_t{96}, uint16_t{1000}}) {
    SCOPED_TRACE(division);
    Track t;
    t.tempo(0, 512345)
        .text(division * 3 + 7, 5, "a")
        .tempo(division, 333333)
        .text(division * 5 + 1, 5, "b");
    t.tempo(11, 901234).text(division * 9, 5, "c").end(division);
    const Bytes file = songtest::Smf(division, {t});
    ASSERT_TRUE(Convert(file));
    const TSongLyrics lyrics = Read(file);
    int checked = 0;
    for (const songtest::Record& r : songtest::Records(song)) {
      if (r.marker < 0) continue;
      ASSERT_EQ(lyrics.msAtTick(r.tick), song.TimeTable()[r.marker].ms) << "tick " << r.tick;
      ++checked;
    }
    EXPECT_GT(checked, 40);
    song.QGmstFreeBuf();
    song.QGmstFreeBuf2();
  }
}

TEST(Lyrics, DamagedSongsGiveWhatCanBeReadBeforeTheDamage) {
  const Bytes whole = kartest::BuildKar({kartest::KarText::kShiftJis, 1});
  const size_t full = Read(whole).syllableCount();
  for (size_t cut = 0; cut < whole.size(); cut += 7) {
    const Bytes part(whole.begin(), whole.begin() + static_cast<long>(cut));
    EXPECT_LE(Read(part).syllableCount(), full) << cut;
  }
  // A data byte where no running status exists ends that track only.
  Track bad, good;
  bad.text(0, 5, "kept").at(10, {0x40}).text(10, 5, "lost").end();
  good.text(5, 5, "other").end();
  const TSongLyrics lyrics = Read(songtest::Smf(96, {bad, good}));
  ASSERT_EQ(lyrics.lines.size(), 1u);
  EXPECT_EQ(lyrics.lines[0].text(), "keptother");
  EXPECT_TRUE(ReadSongLyrics("/no/such/song.mid").empty());
}
