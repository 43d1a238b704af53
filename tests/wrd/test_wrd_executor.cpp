// Running compiled scripts on a display: the tick's timing, every kind of
// drawing checked on the screen buffer's pixels and the display palette, and
// the WRD control object's display life. A stand-in presenter and a block
// font (each non-space byte inks rows 2..13 of pixels 1..6 of its column)
// make every pixel predictable.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/graphics/draw.h"
#include "engine/graphics/picture_slots.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_runtime.h"
#include "engine/wrd/wrd_executor.h"
#include "platform/glyphs.h"
#include "tests/common/block_glyphs.h"
#include "platform/presenter.h"
#include "support/result_code.h"
#include "tests/common/test_files.h"
#include "tests/graphics/picture_files.h"

namespace {

using qtest::BlockFonts;

// Keeps what it is shown; counts opens; remembers visibility and placement.
class StandIn final : public Presenter {
 public:
  std::string name() const override { return "stand-in"; }
  bool open() override {
    ++opens;
    return true;
  }
  bool setMode(int w, int h) override { return w == 640 && h == 400; }
  void close() override { ++closes; }
  void present(const uint8_t*, DisplayRect) override { ++presents; }
  void setPaletteEntries(int, int, const uint8_t*) override {}
  void waitForVerticalBlank() override {}
  void setVisible(bool v) override { visible = v; }
  void setPlacement(bool full, int l, int t) override {
    ++placements;
    fullScreen = full;
    left = l;
    top = t;
  }
  void setSongPosition(int32_t) override {}
  int opens = 0, closes = 0, presents = 0, placements = 0;
  bool visible = false, fullScreen = true;
  int left = -1, top = -1;
};

constexpr int kRed = 254;  // COLOR(2)

class WrdRun : public ::testing::Test {
 protected:
  void TearDown() override { wrd_.stop(); }
  // Writes SONG.MID and SONG.WRD (and any pictures), opens the song and
  // loads the script as a song start does; the time-0 entries run.
  void load(const std::string& script, const std::string& songName = "SONG") {
    const std::string path = dir_.write(songName + ".MID", std::string("MThd"));
    if (!script.empty()) dir_.write(songName + ".WRD", script);
    TQUORMSTR song(result_);
    song.setinFileName(path);
    ASSERT_TRUE(wrd_.load(song.getWRDFileName(), PackedSong()));
    // The load took the song's facts; the test song has no time table.
    wrd_.state().inputs.timeMapEntries = 1000000;
    if (wrd_.loaded() && wrd_.displayExists()) {
      wrd_.startMessage();
      ASSERT_TRUE(wrd_.tableCalc());
    }
    wrd_.state().running = -1;
  }
  void tick(int32_t position) { wrd_.tick(position); }
  uint8_t at(int x, int y) { return display_.screen().base[y * 640 + x]; }
  uint8_t onPage(int page, int x, int y) { return (page ? display_.page1() : display_.page0()).base[y * 640 + x]; }
  QGPaletteEntry shown(int colour) const { return display_.palette()[241 - colour]; }
  int32_t next() const { return wrd_.state().nextEntry.load(); }
  int32_t count() const { return static_cast<int32_t>(wrd_.state().commands.size()); }

  BlockFonts fonts_;
  StandIn presenter_;
  qtest::TempDir dir_;
  ResultCode result_;
  GraphicsDisplay display_{presenter_, fonts_, result_};
  WrdRuntime wrd_{display_, result_};
};

// ---- the tick ---------------------------------------------------------------

TEST_F(WrdRun, EntriesRunWithinThreeTicksOfTheirTimeAndNeverTwice) {
  // The text is due at bar 1 (10000); the last entry (GCLS) gets its time + 1.
  load("@COLOR(2)\r\nAB\r\n@GCLS\r\n");
  const int32_t before = next();
  tick(9996);
  EXPECT_EQ(next(), before);
  EXPECT_EQ(at(1, 2), 0);  // the loaded screen: nothing composed yet
  tick(9998);  // 3-tick look-ahead
  EXPECT_GT(next(), before);
  EXPECT_EQ(at(1, 2), kRed);
  // Glyph in its cells, nothing in the next one; the cell's paper shows the page.
  EXPECT_EQ(at(9, 13), kRed);
  EXPECT_EQ(at(0, 2), 241);
  EXPECT_NE(at(17, 5), kRed);
  // After the last entry later ticks run nothing.
  tick(99990000);
  EXPECT_EQ(next(), count());
  QGFillRect(display_.textLayer(), 0, 0, 640, 16, 242);
  tick(99990000);
  EXPECT_EQ(next(), count());
  EXPECT_EQ(display_.textLayer().base[2 * 640 + 1], 242) << "the text was not drawn again";
}

TEST_F(WrdRun, AJumpCatchesUpEveryOverdueEntryInOrderInOneTick) {
  // Three lines on one row: each overwrites the cell, so the last must win.
  load("@COLOR(2)\r\nA\r\n@LOCATE(1,1)@COLOR(4)\r\nB\r\n@LOCATE(1,1)@COLOR(1)\r\nC\r\n");
  tick(500000);
  EXPECT_EQ(next(), count());
  EXPECT_EQ(at(1, 2), 255);
}

TEST_F(WrdRun, ATickDoesNothingWhileStoppedOrWhileAnotherIsInside) {
  load("@COLOR(2)\r\nAB\r\n");
  const int32_t before = next();
  wrd_.state().running = 0;
  tick(500000);
  EXPECT_EQ(next(), before);
  wrd_.state().running = -1;
  wrd_.state().tickIdle = 0;
  tick(500000);
  EXPECT_EQ(next(), before);
  wrd_.state().tickIdle = -1;
  tick(500000);
  EXPECT_EQ(next(), count());
}

TEST_F(WrdRun, StoppingFromTheWindowThreadWhileTheStatusThreadTicks) {
  std::string script;
  for (int i = 0; i < 200; ++i) script += "@GLINE(0,0,639,399,3,2,3)\r\nX\r\n";
  load(script);
  std::atomic<bool> stop{false};
  std::thread status([&] {
    for (int32_t pos = 0; !stop.load(); pos = pos > 2000000000 ? 0 : pos + 10000) tick(pos);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  wrd_.stop();  // stops the ticks, frees the display and the tables
  EXPECT_EQ(count(), 0);
  EXPECT_FALSE(display_.exists());
  stop = true;
  status.join();
}

// ---- palettes -----------------------------------------------------------------

TEST_F(WrdRun, APaletteOtherThanZeroShowsOnlyOnceAFadeBringsItIn) {
  load("@PAL(#5,F00,0F0)\r\n@FADE(5,5,0)\r\n");  // the PAL runs at time 0
  EXPECT_EQ(shown(0).red, 0);
  EXPECT_EQ(wrd_.state().palettes[5][15].red, 255);
  tick(10000);  // the switch to palette 5
  EXPECT_EQ(shown(0).red, 255);
  EXPECT_EQ(shown(1).green, 255);
}

TEST_F(WrdRun, PalrevTwiceGivesBackTheColours) {
  load("@PAL(123,456,789)\r\n@PALREV(0)\r\n@PALREV(0)\r\n");
  const QGPaletteEntry c1 = shown(1);
  EXPECT_EQ(c1.red, 4 * 17);
  tick(10000);
  EXPECT_EQ(shown(1).red, 255 - 4 * 17);
  EXPECT_EQ(shown(1).blue, 255 - 6 * 17);
  tick(20000);
  EXPECT_EQ(shown(1).red, c1.red);
  EXPECT_EQ(shown(1).green, c1.green);
  EXPECT_EQ(shown(1).blue, c1.blue);
}

TEST_F(WrdRun, FadeStepsMoveTheScreenColoursBySeventeenPerStep) {
  // Palettes 1 (black) and 2 (grey 3/F): the fade takes three steps 10 ticks apart.
  load("@PAL(#1,000,000)\r\n@PAL(#2,333,FFF)\r\n@FADE(1,2,10)\r\n");
  tick(20000);  // immediate step: palette 1
  EXPECT_EQ(shown(0).red, 0);
  tick(20010);
  EXPECT_EQ(shown(0).red, 17);
  EXPECT_EQ(shown(1).green, 17);
  tick(20020);
  EXPECT_EQ(shown(0).red, 34);
  tick(20200);
  EXPECT_EQ(shown(0).red, 51);  // not past the target
  EXPECT_EQ(shown(1).red, 255 - 0) << "colour 1 reaches F";
}

TEST_F(WrdRun, DisplayPaletteFailureSetsTheResultCode) {
  load("@COLOR(2)\r\nA\r\n");
  wrd_.stop();
  result_.clear();
  wrd_.executor().applyPalette0();
  EXPECT_EQ(result_.get(), kWRDPaletteFailed);
}

// ---- text layer ----------------------------------------------------------------

TEST_F(WrdRun, TclsOfOneColourErasesOnlyTextOfThatColour) {
  load("@COLOR(2)\r\nA\r\n@LOCATE(2,1)@COLOR(4)\r\nB\r\n@TCLS(1,1,80,25,6)\r\n");
  tick(30000);
  EXPECT_EQ(at(1, 2), kRed);
  EXPECT_EQ(at(9, 2), 253);
  tick(40000);
  EXPECT_EQ(at(1, 2), 241);
  EXPECT_EQ(at(9, 2), 253);
}

TEST_F(WrdRun, ScrollsMoveTheTextByOneCharacter) {
  load("@LOCATE(1,2)\r\nA\r\n@SCROLL(1,1,80,24,0)\r\n@SCROLL(1,1,80,24,2)\r\n");
  tick(10000);
  EXPECT_EQ(at(1, 18), 255);
  tick(20000);  // up one row
  EXPECT_EQ(at(1, 2), 255);
  EXPECT_EQ(at(1, 18), 241);
  tick(30000);  // right one column
  EXPECT_EQ(at(9, 2), 255);
  EXPECT_EQ(at(1, 2), 241);
}

// ---- graphics -----------------------------------------------------------------

TEST_F(WrdRun, BoxesLinesCirclesAndGclsOfOneMaskClearTheWholePage) {
  load("@GLINE(10,10,20,20,3,2,3)\r\n@GLINE(100,5,200,5,4)\r\n@GCIRCLE(300,200,20,5,0,6)\r\n"
       "@GCLS(1)\r\n");
  tick(20000);
  EXPECT_EQ(at(15, 15), 241 - 3);
  EXPECT_EQ(at(150, 5), 241 - 4);
  EXPECT_EQ(at(300, 200), 241 - 6);
  EXPECT_EQ(onPage(0, 300, 200), 241 - 6);
  tick(30000);
  EXPECT_EQ(at(15, 15), 241);
  EXPECT_EQ(at(150, 5), 241);
  EXPECT_EQ(at(300, 200), 241);
}

TEST_F(WrdRun, GmoveExchangeBetweenPagesAndPageFlips) {
  load("@GLINE(0,0,15,15,3,2,3)\r\n@GMOVE(0,0,15,15,32,0,0,1,1)\r\n@GSCREEN(0,1)\r\n@GON(0)\r\n");
  EXPECT_EQ(at(5, 5), 238);
  tick(10000);  // page 0's box and page 1's empty corner change places
  EXPECT_EQ(onPage(0, 5, 5), 241);
  EXPECT_EQ(onPage(1, 37, 5), 238);
  EXPECT_EQ(at(5, 5), 241) << "the source rectangle is composed too";
  tick(20000);  // show page 1
  EXPECT_EQ(at(37, 5), 238);
  tick(30000);  // graphics off
  EXPECT_EQ(at(37, 5), 241);
}

TEST_F(WrdRun, GmoveDownwardsWithinOnePageKeepsTheSource) {
  // A two-row stripe moved down by one row must arrive whole.
  load("@GLINE(0,0,7,0,1)\r\n@GLINE(0,1,7,1,2)\r\n@GMOVE(0,0,7,1,0,1,0,0,0)\r\n");
  tick(20000);
  EXPECT_EQ(onPage(0, 3, 1), 241 - 1);
  EXPECT_EQ(onPage(0, 3, 2), 241 - 2);
}

// A scroll rectangle reaches one column and one row beyond its last cell,
// less one pixel; the text that moves overlaps where it lands.
TEST_F(WrdRun, ScrollDownMovesOverlappingRowsWhole) {
  // A (colour 2) and B (colour 4) in rows 1 and 2 of column 1, C (colour 1)
  // in row 1, column 4.
  load(
      "@LOCATE(1,1)@COLOR(2)\r\nA\r\n@LOCATE(1,2)@COLOR(4)\r\nB\r\n@LOCATE(4,1)@COLOR(1)\r\nC\r\n"
      "@SCROLL(1,1,2,2,1)\r\n");
  tick(60000);  // x 0..22, y 0..46
  EXPECT_EQ(at(1, 18), kRed);
  EXPECT_EQ(at(1, 34), 253) << "B, not A copied down twice";
  EXPECT_EQ(at(1, 2), 241);
  EXPECT_EQ(at(25, 2), 255) << "C lies outside the rectangle";
  EXPECT_EQ(display_.textLayer().base[18 * 640 + 25], 242);
}

TEST_F(WrdRun, ScrollLeftMovesOverlappingColumnsWhole) {
  // A (colour 2) and B (colour 4) in columns 2 and 3 of row 1, C (colour 1)
  // in row 3.
  load(
      "@LOCATE(2,1)@COLOR(2)\r\nA\r\n@LOCATE(3,1)@COLOR(4)\r\nB\r\n@LOCATE(2,3)@COLOR(1)\r\nC\r\n"
      "@SCROLL(1,1,3,1,3)\r\n");
  tick(60000);  // x 0..30, y 0..30
  EXPECT_EQ(at(1, 2), kRed);
  EXPECT_EQ(at(9, 2), 253) << "B, not what was copied over it";
  EXPECT_EQ(at(17, 2), 241);
  EXPECT_EQ(at(9, 34), 255) << "C lies outside the rectangle";
}

// ---- graphics on chosen planes ---------------------------------------------------
// A pixel of colour c is index 241 - c; with mask m a drawing of colour d
// leaves (d & m) | (c & ~m).

TEST_F(WrdRun, GmodeMasksLinesBoxesAndFillsToItsPlanes) {
  load(
      "@GLINE(0,0,63,15,3,2,3)\r\n"  // colour 3 under everything, all planes
      "@GMODE(4)\r\n"
      "@GLINE(0,0,15,15,5,2,5)\r\n"   // filled box, colour 5
      "@GLINE(16,0,31,15,6,2,9)\r\n"  // outline 6, inside 9
      "@GLINE(32,0,47,15,12,1)\r\n"   // outline 12
      "@GLINE(0,20,63,20,13)\r\n"     // line 13 over colour 0
      "@GMODE(0)\r\n@GLINE(48,0,63,15,5,2,5)\r\n");
  EXPECT_EQ(at(5, 5), 241 - 3);
  tick(60000);
  EXPECT_EQ(at(5, 5), 241 - 7);    // 5 & 4 | 3 & 11
  EXPECT_EQ(at(16, 5), 241 - 7);   // the outline: 6 & 4 | 3
  EXPECT_EQ(at(20, 5), 241 - 3);   // the inside: 9 & 4 is 0
  EXPECT_EQ(at(32, 0), 241 - 7);   // 12 & 4 | 3
  EXPECT_EQ(at(40, 5), 241 - 3);   // inside an outline: untouched
  EXPECT_EQ(at(30, 20), 241 - 4);  // 13 & 4 over colour 0
  EXPECT_EQ(onPage(0, 30, 21), 241);
  EXPECT_EQ(onPage(0, 5, 5), 241 - 7);
  tick(80000);  // GMODE(0) draws on all planes again
  EXPECT_EQ(at(50, 5), 241 - 5);
}

TEST_F(WrdRun, GmodeMasksCirclesAndCopies) {
  load(
      "@GLINE(60,60,140,140,1,2,1)\r\n"  // colour 1 under the circle
      "@GLINE(200,0,207,7,12,2,12)\r\n"  // colour 12 under the copy
      "@GLINE(0,0,7,7,3,2,3)\r\n"
      "@GMODE(6)\r\n"
      "@GCIRCLE(100,100,20,4,0,6)\r\n"  // border 4, fill 6
      "@GMODE(1)\r\n"
      "@GMOVE(0,0,7,7,200,0)\r\n"  // colour 3 copied onto 12 through plane 1
      "@GMODE(15)\r\n@GMOVE(0,0,7,7,300,0)\r\n");
  tick(50000);
  EXPECT_EQ(at(100, 100), 241 - 7);  // 6 & 6 | 1 & 9
  EXPECT_EQ(at(119, 100), 241 - 5);  // the border: 4 & 6 | 1
  EXPECT_EQ(at(125, 100), 241 - 1);  // outside the circle
  tick(70000);
  EXPECT_EQ(at(203, 3), 241 - 13);  // 3 & 1 | 12 & 14
  EXPECT_EQ(onPage(0, 203, 3), 241 - 13);
  EXPECT_EQ(at(3, 3), 241 - 3) << "the source stays";
  tick(90000);
  EXPECT_EQ(at(303, 3), 241 - 3) << "all planes copy the colour as it is";
}

// ---- pictures -------------------------------------------------------------------

class WrdPictures : public WrdRun {
 protected:
  void picture(const std::string& name, uint16_t x0, uint16_t y0) {
    std::vector<uint8_t> values(16 * 8, 5);
    dir_.write(name, gtest_pictures::EncodeMag(gtest_pictures::LiteralMag(0, x0, y0, 16, 16, 8, values, 16)));
  }
};

TEST_F(WrdPictures, APictureAtZeroLandsAtItsOwnOriginWithItsPalette) {
  picture("PIC.MAG", 64, 32);
  load("@MAG(PIC)\r\n");
  tick(10000);
  EXPECT_EQ(at(64, 32), 236);
  EXPECT_EQ(at(79, 39), 236);
  EXPECT_NE(at(63, 32), 236);
  EXPECT_NE(at(64, 40), 236);
  EXPECT_EQ(shown(5).red, 5 * 5 + 1);
  EXPECT_EQ(shown(5).green, 5 * 3);
}

TEST_F(WrdPictures, ModeOneDrawsOnlyAndModeTwoShowsOnlyThePalette) {
  picture("PIC.MAG", 64, 32);
  load("@MAG(PIC,0,0,0,1)\r\n@GCLS\r\n@MAG(PIC,0,0,0,2)\r\n");
  EXPECT_EQ(at(64, 32), 236);
  EXPECT_EQ(shown(5).red, 254) << "the default magenta stays";
  tick(20000);
  EXPECT_EQ(at(64, 32), 241);
  EXPECT_EQ(shown(5).red, 5 * 5 + 1);
}

TEST_F(WrdPictures, TheTitlePictureRunsAtTimeZero) {
  picture("SONG.MAG", 0, 0);
  load("@COLOR(2)\r\nA\r\n");
  EXPECT_EQ(at(3, 3), 236);
}

// A self-displaying picture program of 16 x 16 pixels (at least 861 bytes
// either way): the plain variant carries its marker at 667 and 673, the
// coded one at 858 and 864.
std::vector<uint8_t> PictureProgram(bool coded, uint16_t start) {
  gtest_pictures::ComInput in;
  in.coded = coded;
  in.start = start;
  in.rowLength = 2;
  in.rows = 16;
  for (int c = 0; c < 16; ++c) {
    in.colours[static_cast<size_t>(c * 3)] = static_cast<uint8_t>(c * 16);       // blue
    in.colours[static_cast<size_t>(c * 3 + 1)] = 7;                              // green
    in.colours[static_cast<size_t>(c * 3 + 2)] = static_cast<uint8_t>(255 - c);  // red
  }
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) in.pixels.push_back(static_cast<uint8_t>(x < 8 ? 9 : 14));
  std::vector<uint8_t> file = gtest_pictures::EncodeCom(in);
  const size_t marker = coded ? 858 : 667;
  const uint8_t bytes[4] = {0x00, 0x4C, 0xCD, 0x21};
  std::copy(bytes, bytes + 4, file.begin() + static_cast<long>(marker));
  file[marker + 6] = 4;
  return file;
}

TEST_F(WrdPictures, ExecShowsPictureProgramsAtTheirPositionWithTheirColours) {
  dir_.write("PLAIN.COM", PictureProgram(false, 80 * 10 + 5));
  dir_.write("coded.com", PictureProgram(true, 80 * 10 + 5));
  load("@EXEC(PLAIN,1203)\r\n@GCLS\r\n@EXEC(CODED.COM)\r\n");  // the first at time 0
  // Position 1203: column 12 (x 96), row 3 (y 48).
  EXPECT_EQ(at(96, 48), 241 - 9);
  EXPECT_EQ(at(104, 63), 241 - 14);
  EXPECT_EQ(at(111, 63), 241 - 14);
  EXPECT_EQ(at(112, 48), 241);
  EXPECT_EQ(at(96, 64), 241);
  EXPECT_EQ(shown(9).blue, 9 * 16);
  EXPECT_EQ(shown(9).red, 255 - 9);
  EXPECT_EQ(shown(14).green, 7);
  tick(20000);
  // Position 0: the top-left corner, whatever start the program names.
  EXPECT_EQ(at(0, 0), 241 - 9);
  EXPECT_EQ(at(15, 15), 241 - 14);
  EXPECT_EQ(at(96, 48), 241);
  EXPECT_EQ(at(40, 10), 241);
}

// ---- the control object ------------------------------------------------------------

TEST_F(WrdRun, StatusLineMessagesUseTheirTexts) {
  load("@COLOR(2)\r\nA\r\n");
  wrd_.stopMessage();
  // "演奏を終了します。" is nine full-width characters: 144 pixels in colour 255.
  EXPECT_EQ(at(1, 386), 255);
  EXPECT_EQ(at(143 - 1, 386), 255);
  EXPECT_EQ(at(145, 386), 0);
}

TEST_F(WrdRun, ASongWithoutScriptHidesTheWindowAndFreesAnOldDisplay) {
  load("@COLOR(2)\r\nA\r\n");
  EXPECT_TRUE(display_.exists());
  EXPECT_TRUE(presenter_.visible);
  load("", "OTHER");
  EXPECT_FALSE(display_.exists());
  EXPECT_FALSE(presenter_.visible);
  EXPECT_FALSE(wrd_.state().loaded.load());
  EXPECT_FALSE(wrd_.active());
}

TEST_F(WrdRun, TwoScriptedSongsShareOneDisplay) {
  load("@COLOR(2)\r\nA\r\n");
  EXPECT_TRUE(wrd_.active());
  load("@COLOR(4)\r\nB\r\n", "NEXT");
  EXPECT_EQ(presenter_.opens, 1);
  EXPECT_TRUE(display_.exists());
  EXPECT_EQ(at(1, 2), 0) << "the second song starts from a cleared screen";
}

TEST_F(WrdRun, DisplayOffKeepsTheWindowHidden) {
  wrd_.setVisible(0);
  load("@COLOR(2)\r\nA\r\n");
  EXPECT_FALSE(presenter_.visible);
  EXPECT_FALSE(display_.exists());
  EXPECT_EQ(presenter_.opens, 0);
}

TEST_F(WrdRun, WindowPositionWhileFullScreenIsOnlyStored) {
  WrdRuntime& c = wrd_;
  c.setFullScreen(-1);
  const int before = presenter_.placements;
  c.setLeft(120);
  c.setTop(80);
  EXPECT_EQ(presenter_.placements, before);
  EXPECT_EQ(c.getLeft(), 120);
  c.setFullScreen(0);
  c.setLeft(130);
  EXPECT_EQ(presenter_.placements, before + 1);
  EXPECT_EQ(presenter_.left, 130);
  EXPECT_EQ(presenter_.top, 80);
  EXPECT_FALSE(presenter_.fullScreen);
  c.setFullScreen(-1);
}

}  // namespace

// ---- jumps --------------------------------------------------------------------

// The demo's script and picture played without a jump, against a second
// runtime that jumps to each target (forwards and backwards): the same
// screen and display palette, shown once per jump.
TEST(WrdSeek, AJumpShowsWhatPlayingUpToTheTargetShows) {
  qtest::TempDir dir;
  const std::string demo = std::string(QMIDI_SOURCE_DIR) + "/demo/";
  const std::string song = dir.write("SONG.MID", std::string("MThd"));
  dir.write("SONG.WRD", qtest::ReadText(demo + "DEMO.WRD"));
  const std::vector<uint8_t> scene = qtest::ReadBytes(demo + "SCENE.MAG");
  dir.write("SCENE.MAG", std::string(scene.begin(), scene.end()));

  struct Run {
    BlockFonts fonts;
    StandIn presenter;
    ResultCode result;
    GraphicsDisplay display{presenter, fonts, result};
    WrdRuntime wrd{display, result};
    explicit Run(const std::string& songPath) {
      TQUORMSTR reader(result);
      reader.setinFileName(songPath);
      EXPECT_TRUE(wrd.load(reader.getWRDFileName(), PackedSong()));
      wrd.state().inputs.timeMapEntries = 1000000;
      wrd.startMessage();
      EXPECT_TRUE(wrd.tableCalc());
      wrd.keepStart();
      wrd.state().running = -1;
    }
    ~Run() { wrd.stop(); }
    std::vector<uint8_t> shown() {
      std::vector<uint8_t> v(display.screen().base, display.screen().base + display.screen().pixelBytes);
      for (const QGPaletteEntry& e : display.palette()) v.insert(v.end(), {e.red, e.green, e.blue});
      return v;
    }
  };
  Run played(song), jumping(song);
  ASSERT_TRUE(played.wrd.active());
  ASSERT_GT(played.wrd.state().commands.size(), 20u);

  std::vector<int32_t> targets;
  for (int32_t bar = 0; bar < 19; ++bar) targets.push_back(bar * 10000 + (bar % 3) * 1200);
  std::map<int32_t, std::vector<uint8_t>> want;
  for (int32_t bar = 0; bar < 19; ++bar) {
    for (int32_t t = 0; t < 10000; t += 100) {
      played.wrd.tick(bar * 10000 + t);
      if (std::find(targets.begin(), targets.end(), bar * 10000 + t) != targets.end())
        want[bar * 10000 + t] = played.shown();
    }
  }
  const std::vector<size_t> order = {12, 3, 17, 17, 0, 9, 18, 1, 14, 6, 2, 11, 16, 4, 13, 8, 5, 15, 10, 7};
  for (size_t k : order) {
    const int32_t target = targets[k];
    SCOPED_TRACE(target);
    const int before = jumping.presenter.presents;
    ASSERT_TRUE(jumping.wrd.seek(target));
    EXPECT_EQ(jumping.presenter.presents, before + 1) << "rebuilt without being shown, then shown once";
    EXPECT_TRUE(jumping.shown() == want[target]);
  }
  // Ticks go on from a jump as they go on in unbroken play.
  jumping.wrd.seek(targets[5]);
  for (int32_t t = targets[5]; t <= targets[9]; t += 100) jumping.wrd.tick(t);
  EXPECT_TRUE(jumping.shown() == want[targets[9]]);
}
