// The karaoke screen on a display with a block-glyph font: which line and
// which syllables show, and in which colour, at given song times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/wrd/karaoke_screen.h"
#include "platform/glyphs.h"
#include "tests/common/block_glyphs.h"
#include "platform/presenter.h"
#include "tests/song/kar_songs.h"

namespace {

using qtest::BlockFonts;

class Screen640 final : public Presenter {
 public:
  std::string name() const override { return "test"; }
  bool open() override { return true; }
  bool setMode(int w, int h) override { return w == 640 && h == 400; }
  void close() override {}
  void present(const uint8_t*, DisplayRect) override {}
  void setPaletteEntries(int, int, const uint8_t*) override {}
  void waitForVerticalBlank() override {}
  void setVisible(bool) override {}
  void setPlacement(bool, int, int) override {}
  void setSongPosition(int32_t) override {}
};

constexpr char kSung = 'S', kUnsung = 'U', kOther = '?';

class KaraokeScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(display_.create(640, 400, QDFont{}, nullptr, false));
    TKaraokeScreen::ApplyPalette(display_);
    const auto song = kartest::BuildKar({kartest::KarText::kShiftJis, 1});
    lyrics_ = ReadLyricsImage(song.data(), song.size(), true);
  }
  void TearDown() override { display_.free(); }

  // One letter per inked byte of a row of doubled text at top (the block
  // font inks 12 of each byte's 16 pixels): the colour of its ink.
  std::string Row(int top) {
    const uint8_t* row = display_.screen().base + (top + 16) * 640;
    std::string out;
    for (int x = 0; x < 640; ++x) {
      if (row[x] == TKaraokeScreen::kBackground || (x > 0 && row[x - 1] == row[x])) continue;
      out += row[x] == TKaraokeScreen::kSung     ? kSung
             : row[x] == TKaraokeScreen::kUnsung ? kUnsung
                                                 : kOther;
    }
    return out;
  }
  // Where a row's ink begins, less the block font's 2-pixel margin.
  int Left(int top) {
    const uint8_t* row = display_.screen().base + (top + 16) * 640;
    for (int x = 0; x < 640; ++x)
      if (row[x] != TKaraokeScreen::kBackground) return x - 2;
    return -1;
  }
  static std::string Centred(size_t sung, size_t unsung) {
    return std::string(sung, kSung) + std::string(unsung, kUnsung);
  }

  BlockFonts fonts_;
  Screen640 presenter_;
  ResultCode result_;
  GraphicsDisplay display_{presenter_, fonts_, result_};
  TSongLyrics lyrics_;
};

}  // namespace

TEST_F(KaraokeScreenTest, ShowsTheLineBeingSungAboveTheNextOneWithTheSungSyllablesColoured) {
  TKaraokeScreen k(display_, lyrics_, "unused title");
  // Before the first syllable: the first line, nothing sung yet.
  ASSERT_TRUE(k.draw(display_.screen(), 0));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop), Centred(0, 10));  // あおいそら: 10 bytes
  EXPECT_EQ(Left(TKaraokeScreen::kCurrentTop), (640 - 10 * 16) / 2);
  EXPECT_EQ(Row(200), Centred(0, 10));  // ソラのうた
  // Three syllables of the first line have begun (あ, お, い).
  ASSERT_TRUE(k.draw(display_.screen(), kartest::MsAtTick(2400)));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop), Centred(6, 4));
  EXPECT_EQ(Row(200), Centred(0, 10));
  EXPECT_EQ(Row(240), "");
  // One millisecond before ソ the first line is still current; at it, the second.
  ASSERT_TRUE(k.draw(display_.screen(), kartest::MsAtTick(3840) - 1));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop), Centred(10, 0));
  ASSERT_TRUE(k.draw(display_.screen(), kartest::MsAtTick(3840)));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop), Centred(2, 8));
  EXPECT_EQ(Row(200), Centred(0, 8));  // 表を 見て: the blank after を draws nothing
  EXPECT_EQ(Left(200), (640 - 9 * 16) / 2);
  EXPECT_EQ(k.shown(), (LyricPlace{1, 1}));

  // The title line, in its own colour at its own size.
  int title = 0;
  for (int y = TKaraokeScreen::kTitleTop; y < TKaraokeScreen::kTitleTop + 16; ++y)
    for (int x = 0; x < 640; ++x)
      title += display_.screen().base[y * 640 + x] == TKaraokeScreen::kTitle;
  EXPECT_GT(title, 0);
  const QGPalette& p = display_.palette();
  EXPECT_NE(p[TKaraokeScreen::kSung].blue + 256 * p[TKaraokeScreen::kSung].red,
            p[TKaraokeScreen::kUnsung].blue + 256 * p[TKaraokeScreen::kUnsung].red);
}

TEST_F(KaraokeScreenTest, WrapsALongLineAndRedrawsOnlyWhenSomethingChanged) {
  TKaraokeScreen k(display_, lyrics_, "");
  // The last line (44 bytes) wraps between syllables into 30 and 14 bytes.
  ASSERT_EQ(k.rows(4).size(), 2u);
  EXPECT_EQ(k.rows(4)[0].bytes, 30u);
  EXPECT_EQ(k.rows(4)[1].bytes, 14u);
  // While the previous line is sung the long one waits below, both rows.
  ASSERT_TRUE(k.draw(display_.screen(), kartest::MsAtTick(8400)));
  EXPECT_EQ(Row(200), Centred(0, 30));
  EXPECT_EQ(Row(240), Centred(0, 11));  // " long long way"
  EXPECT_FALSE(
      k.draw(display_.screen(), kartest::MsAtTick(8400) + 100));  // the same moment of the lyrics

  // Sung through: both rows in the sung colour, nothing below.
  ASSERT_TRUE(k.draw(display_.screen(), kartest::MsAtTick(10560)));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop), Centred(30, 0));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop + 40), Centred(11, 0));
  for (int top = 216; top + 32 <= 384; top += 40) EXPECT_EQ(Row(top), "") << top;
  // Going back in time shows the earlier moment again.
  ASSERT_TRUE(k.draw(display_.screen(), 0));
  EXPECT_EQ(Row(TKaraokeScreen::kCurrentTop), Centred(0, 10));
}

TEST_F(KaraokeScreenTest, DrawsNothingWithoutADisplayOrOnASmallScreen) {
  TKaraokeScreen k(display_, lyrics_, "");
  TQGBitmap small;
  ASSERT_TRUE(QGClearBitmap(320, 200, small));
  EXPECT_FALSE(k.draw(small, 0));
  QGFreeBitmap(small);
  display_.free();
  EXPECT_FALSE(k.draw(display_.screen(), 0));
}
