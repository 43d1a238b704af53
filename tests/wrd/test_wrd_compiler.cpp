// The compiler: timing, every command with its defaults and clamps,
// palettes and fades, pictures and slots, and the post-pass.
#include <filesystem>

#include "engine/wrd/wrd_runtime.h"
#include "support/file_record.h"
#include "support/tracked_memory.h"
#include "tests/wrd/wrd_test_util.h"

namespace {

using wrdtest::Entry;
using wrdtest::Lines;

constexpr int kBar = 10000;

class Compiler : public wrdtest::WrdTest {
 protected:
  std::vector<int32_t> TextTimes() const {
    std::vector<int32_t> t;
    for (const Entry& e : EntriesOf(kWRDOpText)) t.push_back(e.time);
    return t;
  }
};

TEST_F(Compiler, EmptyMissingOrTooLargeScriptsAreRefusedSayingWhy) {
  std::string empty = dir_.write("empty.wrd", "");
  s.loaded = -1;
  EXPECT_FALSE(subWRDInit(s, empty));
  EXPECT_FALSE(TWRDEXE(s).getLoaded());
  EXPECT_EQ(s.errorCode, kWRDErrRead);
  EXPECT_EQ(WRDProblemText(s), "empty");
  EXPECT_FALSE(subWRDInit2(s, empty));
  EXPECT_FALSE(subWRDInit(s, dir_.file("none.wrd")));
  EXPECT_EQ(s.errorCode, kWRDErrRead);
  EXPECT_EQ(WRDProblemText(s), "missing or unreadable");
  // One byte over what the file loader reads (a sparse file: nothing written).
  std::string big = dir_.write("big.wrd", "@GCLS");
  std::filesystem::resize_file(big, kQGDefaultMaxBytes + 1);
  EXPECT_FALSE(subWRDInit(s, big));
  EXPECT_EQ(s.errorCode, kWRDErrRead);
  EXPECT_NE(WRDProblemText(s).find("too large"), std::string::npos);

  // A script compiles; only subWRDInit marks it loaded and shrinks the tables.
  std::string ok = dir_.write("ok.wrd", Lines({"@MAG(A)"}));
  EXPECT_TRUE(subWRDInit2(s, ok));
  EXPECT_FALSE(TWRDEXE(s).getLoaded());
  EXPECT_EQ(TWRDEXE(s).getSlotCount(), 1);
  s.nextEntry = 5;
  EXPECT_TRUE(subWRDInit(s, ok));
  EXPECT_TRUE(TWRDEXE(s).getLoaded());
  EXPECT_EQ(s.nextEntry, 0);
  EXPECT_EQ(s.cells.size(), 0u);
  EXPECT_EQ(TWRDEXE(s).getErrorCode(), kWRDCompiled);
  EXPECT_EQ(QGTrLiveBlocks(), 0);  // the script buffer and the file record are gone
}

TEST_F(Compiler, CommandWordsInAnyCaseAndTheirAliases) {
  const std::vector<Entry> expected{{kBar, kWRDOpGcls, 3}};
  for (const char* line : {"@WAIT(2)@GCLS(3)", "@wait(2)@gcls(3)", "@@WAIT(2) @GcLs(3)", "@WAITE (2)@GCLS(3)"}) {
    ASSERT_TRUE(Compile(Lines({line}))) << line;
    EXPECT_EQ(Entries(), expected) << line;
  }
  // An unknown word makes a command line that shows nothing.
  ASSERT_TRUE(Compile(Lines({"@HELLO(1) text", "X"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{kBar, kWRDOpText, 1}}));
}

TEST_F(Compiler, RemarksAreCommentLinesThatTakeNoTime) {
  ASSERT_TRUE(Compile(Lines({"@REMARK anything @GCLS", "@REM", "@Rem;comment", "@GCLS(2)", "text"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpGcls, 2}, {kBar, kWRDOpText, 4}}));
  EXPECT_EQ(CellText(), "text");
}

TEST_F(Compiler, XcopyCountsOnlyWithACaret) {
  ASSERT_TRUE(Compile(Lines({"@XCOPY(1,2,3,4,5,6,0,1,1)", "^XCOPY(1,2,3,4,5,6,0,1,1)", "@GCLS ^xcopy(0,0,9,9,20,20)", "^_^ smile"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{kBar, kWRDOpGmove, 0},
                                           {2 * kBar, kWRDOpGcls, 15},
                                           {2 * kBar, kWRDOpGmove, 1},
                                           {3 * kBar, kWRDOpText, 9}}));
  EXPECT_EQ(Picture(0), (TWRDPicRecord{1, 2, 5, 6, 3, 3, 1, 3}));
  EXPECT_EQ(Picture(1), (TWRDPicRecord{0, 0, 20, 20, 10, 10, 0, 2}));
  EXPECT_EQ(CellText(), "^_^ smile");
}

TEST_F(Compiler, AnOmittedParameterTakesItsDefault) {
  ASSERT_TRUE(Compile(Lines({"@WAIT(,5)@GCLS"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{50, kWRDOpGcls, 15}}));
}

TEST_F(Compiler, LiteralRunsShowCommandsAsText) {
  ASSERT_TRUE(Compile(Lines({"|@GCLS|", "x|@GCLS|", "\\@GCLS"})));
  EXPECT_TRUE(EntriesOf(kWRDOpGcls).empty());
  EXPECT_EQ(CellText(), "@GCLSx@GCLS@GCLS");
}

TEST_F(Compiler, ALoneSemicolonLineIsSwallowed) {
  // Token mode, where a line ending in ';' would make the next token free.
  ASSERT_TRUE(Compile(Lines({"@STARTUP(400)", "@WMODE(1,1)", "AB", ";", "CD"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{kBar, kBar + 40, kBar + 120, kBar + 160}));
  // After a real ';' line end, with STARTUP 400 or more, the first token is free.
  ASSERT_TRUE(Compile(Lines({"@STARTUP(400)", "@WMODE(1,1)", "AB;", "CD"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{kBar, kBar + 40, kBar + 80, kBar + 80}));
  ASSERT_TRUE(Compile(Lines({"@STARTUP(1)", "@WMODE(1,1)", "AB;", "CD"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{kBar, kBar + 40, kBar + 80, kBar + 120}));
  // '_' is not shown but takes its time.
  ASSERT_TRUE(Compile(Lines({"@WMODE(1,1)", "A_B"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{kBar, kBar + 80}));
  EXPECT_EQ(CellText(), "AB");
}

TEST_F(Compiler, WaitFollowsTheDisplayOffset) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 0}, {192, kBar}, {3, 30}, {-3, 0}, {384, 2 * kBar}};
  for (auto [offset, time] : cases) {
    s.inputs.displayOffset = offset;
    ASSERT_TRUE(Compile(Lines({"@WAIT(1)@GCLS"})));
    EXPECT_EQ(Entries(), (std::vector<Entry>{{time, kWRDOpGcls, 15}})) << offset;
  }
  // Negative steps borrow from the bar before; before bar 0 the time is 0.
  s.inputs.displayOffset = 0;
  ASSERT_TRUE(Compile(Lines({"@WAIT(1,-48)@GCLS", "@WAIT(3,-48)@GCLS", "@WAIT(0,96)@GCLS"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpGcls, 15}, {kBar + 1440, kWRDOpGcls, 15}, {960, kWRDOpGcls, 15}}));

  // OFFSET moves bar 1; a negative display offset stays within the bar.
  ASSERT_TRUE(Compile(Lines({"@OFFSET(3)@WAIT(1)@GCLS"})));
  EXPECT_EQ(Entries().front().time, 2 * kBar);
  s.inputs.displayOffset = -48;
  ASSERT_TRUE(Compile(Lines({"@OFFSET(2)@WAIT(2)@GCLS"})));
  EXPECT_EQ(Entries().front().time, kBar + 1440);

  // Another division and time signature: 3/4 of 96.
  s.inputs = TWRDInputs{};
  s.inputs.tickDivision = 96;
  s.inputs.beatsPerBar = 3;
  ASSERT_TRUE(Compile(Lines({"@WAIT(2,72)@GCLS", "X"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{kBar + 144, kWRDOpGcls, 15}, {2 * kBar + 144, kWRDOpText, 1}}));
  // A division below 1 counts as 960; no beats per bar as 4 (a bar of 3840).
  s.inputs.tickDivision = 0;
  s.inputs.beatsPerBar = 0;
  ASSERT_TRUE(Compile(Lines({"A", "@WAIT(1,48)@GCLS"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpText, 1}, {960, kWRDOpGcls, 15}}));
  EXPECT_EQ(s.barLength, 3840);
  EXPECT_EQ(s.inputs.beatsPerBar, 4);
}

TEST_F(Compiler, EachLineTakesItsWaitAndWmodeChangesItFromTheNextLine) {
  ASSERT_TRUE(Compile(Lines({"A", "B", "@WMODE(11)", "C", "D", "@WMODE", "E", "F"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{0, kBar, 3 * kBar, 3 * kBar + 240, 3 * kBar + 720, 4 * kBar + 720}));
  // A ';' line end, an ESC and a '\' continuation.
  ASSERT_TRUE(Compile(Lines({"A;", "B\\", "C", "D"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{0, 0, kBar, 2 * kBar}));
  EXPECT_EQ(s.cells.size(), 4u);
  EXPECT_EQ(s.cells.at(2).y, 0);  // C continues B's row
  EXPECT_EQ(s.cells.at(3).y, 16);
}

TEST_F(Compiler, RestInkeyEndAndStartup) {
  s.inputs.songEnd = 12 * kBar;
  ASSERT_TRUE(Compile(Lines({"A", "@REST(1,24)", "B", "@INKEY(2)", "C", "@END", "D", "@STARTUP", "E"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpText, 1},
                                           {2 * kBar + 240, kWRDOpText, 2},
                                           {6 * kBar + 240, kWRDOpText, 3},
                                           {13 * kBar, kWRDOpText, 4},
                                           {0, kWRDOpGon, 1},
                                           {0, kWRDOpText, 5}}));
  // REST counts whole bars from the offset: with the auto offset (3 steps) a
  // clock at the start of a bar is still in the bar before.
  s.inputs.displayOffset = 3;
  ASSERT_TRUE(Compile(Lines({"A", "@REST(1)", "B", "@REST(-5,-5)", "C"})));
  EXPECT_EQ(TextTimes(), (std::vector<int32_t>{0, kBar + 30, 2 * kBar + 30}));
}

TEST_F(Compiler, CirclesOverRadius199AreDropped) {
  ASSERT_TRUE(Compile(Lines({"@GCIRCLE(100,100,200)", "@GCIRCLE(100,100,199)", "@GCIRCLE(-5,999,0,3,2,20)", "@GMODE(3)",
                             "@GCIRCLE(1,2,3,15,1,1)"})));
  std::vector<Entry> e = Entries();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0], (Entry{kBar, kWRDOpGcircle, 0}));
  EXPECT_EQ(Rect(0), (TWRDRect{100, 100, 199, 7, 0, 241, 241}));
  EXPECT_EQ(Rect(1), (TWRDRect{0, 399, 1, 8, 0, 238, 241}));
  EXPECT_EQ(e[3], (Entry{4 * kBar, kWRDOpGcirclePlanes, 2}));
  EXPECT_EQ(Rect(2), (TWRDRect{1, 2, 3, 7, 0, 226, 240}));
}

TEST_F(Compiler, LinesClampOrderAndMapColours) {
  ASSERT_TRUE(Compile(Lines({"@GLINE(700,-3,10,500,3,1,5)", "@GLINE", "@GLINE()", "@GLINE(5,5)", "@GMODE(3)",
                             "@GLINE(1,1,2,2)", "@GMODE(0)", "@GLINE(1,1,2,2,16,2,15)"})));
  std::vector<Entry> e = Entries();
  ASSERT_EQ(e.size(), 8u);
  EXPECT_EQ(Rect(0), (TWRDRect{10, 0, 630, 400, 5, 238, 236}));
  EXPECT_EQ(Rect(1), (TWRDRect{0, 0, 1, 1, 4, 241, 241}));  // missing parameters are 0
  EXPECT_EQ(Rect(2), (TWRDRect{1, 0, 0, 1, 4, 241, 241}));  // an empty one its default
  EXPECT_EQ(Rect(3), (TWRDRect{5, 5, -4, -4, 4, 241, 241}));
  EXPECT_EQ(e[4], (Entry{4 * kBar, kWRDOpGmode, 3}));
  EXPECT_EQ(e[5], (Entry{5 * kBar, kWRDOpGlinePlanes, 4}));
  EXPECT_EQ(e[6], (Entry{6 * kBar, kWRDOpGmode, 15}));
  EXPECT_EQ(e[7], (Entry{7 * kBar, kWRDOpGline, 5}));
  EXPECT_EQ(Rect(5), (TWRDRect{1, 1, 2, 2, 6, 241, 226}));
}

TEST_F(Compiler, CopiesClampTheirRectangles) {
  ASSERT_TRUE(Compile(Lines({"@GMOVE(700,10,5,500,-1,400,1,1,1)", "@GMOVE", "@GMODE(1)", "@GMOVE(1,1,1,1,1,1,7,0)"})));
  EXPECT_EQ(Picture(0), (TWRDPicRecord{639, 10, 0, 399, 1, 390, 3, 1}));
  EXPECT_EQ(Picture(1), (TWRDPicRecord{0, 0, 0, 0, 1, 1, 0, 0}));
  EXPECT_EQ(EntriesOf(kWRDOpGmovePlanes), (std::vector<Entry>{{3 * kBar, kWRDOpGmovePlanes, 2}}));
  EXPECT_EQ(Picture(2).modeA, 0);  // there is no page 7
}

TEST_F(Compiler, SmallGraphicsCommands) {
  ASSERT_TRUE(Compile(Lines({"@GCLS(0)", "@GCLS(7)", "@GSCREEN(1,0)", "@GSCREEN(0,1)", "@GON(0)", "@GON", "@PALREV(3)",
                             "@PALREV(99)", "@GINIT(1,2)", "@MIDI(1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17)",
                             "@PATH(X)", "@LOOP(1)", "@STOP(1)", "@TON(1)@TON(2)"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpGcls, 15},
                                           {kBar, kWRDOpGcls, 7},
                                           {2 * kBar, kWRDOpGscreen, 2},
                                           {3 * kBar, kWRDOpGscreen, 1},
                                           {4 * kBar, kWRDOpGon, 0},
                                           {5 * kBar, kWRDOpGon, 1},
                                           {6 * kBar, kWRDOpPalRev, 3},
                                           {7 * kBar, kWRDOpPalRev, 0}}));
  EXPECT_EQ(s.charWidth, 8);
}

TEST_F(Compiler, PalettesFromColourDigits) {
  ASSERT_TRUE(Compile(Lines({"@PAL(#2,F00,0f0,00F,FFF,xyz,,8)", "@PAL(123)", "@PAL(#0,A)", "@PAL(#99)"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpPal, 0}, {kBar, kWRDOpPal, 1}, {2 * kBar, kWRDOpPal, 2}, {3 * kBar, kWRDOpPal, 3}}));
  const TWRDPalRecord& r = s.palRecords.at(0);
  EXPECT_EQ(r.target, 2);
  // Colour i goes to entry 15 - i; other characters count as 10, an omitted
  // colour is black.
  EXPECT_EQ(r.colours[15], (TWRDPalEntry{255, 0, 0, 4}));
  EXPECT_EQ(r.colours[14], (TWRDPalEntry{0, 255, 0, 4}));
  EXPECT_EQ(r.colours[13], (TWRDPalEntry{0, 0, 255, 4}));
  EXPECT_EQ(r.colours[12], (TWRDPalEntry{255, 255, 255, 4}));
  EXPECT_EQ(r.colours[11], (TWRDPalEntry{170, 170, 170, 4}));
  EXPECT_EQ(r.colours[10], (TWRDPalEntry{0, 0, 0, 4}));
  EXPECT_EQ(r.colours[9], (TWRDPalEntry{136, 0, 0, 4}));
  EXPECT_EQ(r.colours[0], (TWRDPalEntry{0, 0, 0, 4}));
  EXPECT_EQ(s.palettes[2], r.colours);  // the compile-time palette follows
  EXPECT_EQ(s.palRecords.at(1).target, 0);
  EXPECT_EQ(s.palettes[0][15], (TWRDPalEntry{17, 34, 51, 4}));
  EXPECT_EQ(s.palRecords.at(2).target, 21);
  EXPECT_EQ(s.palRecords.at(2).colours[15], (TWRDPalEntry{170, 0, 0, 4}));
  EXPECT_EQ(s.palRecords.at(3).target, 20);
  // Untouched palettes hold the default colours: 0 and 8 black, then the
  // system colours 249..255.
  EXPECT_EQ(s.palettes[5][15], (TWRDPalEntry{0, 0, 0, 0}));
  EXPECT_EQ(s.palettes[5][14], (TWRDPalEntry{255, 0, 0, 0}));
  EXPECT_EQ(s.palettes[5][7], (TWRDPalEntry{0, 0, 0, 0}));
  EXPECT_EQ(s.palettes[5][0], (TWRDPalEntry{255, 255, 255, 0}));

  // PAL to palette 0 is also what palette 21 holds afterwards.
  ASSERT_TRUE(Compile(Lines({"@PAL(123)"})));
  EXPECT_EQ(s.palettes[21][15], (TWRDPalEntry{17, 34, 51, 4}));

  EXPECT_TRUE(subPalCvtRGB(s, "FFF", 0, 50));  // outside 0..21: palette 0
  EXPECT_EQ(s.palettes[0][0], (TWRDPalEntry{255, 255, 255, 4}));
  EXPECT_FALSE(subPalCvtRGB(s, "FFF", 16, 1));
  EXPECT_FALSE(subPalCvt(s, "FFF", -1));
}

TEST_F(Compiler, AFadeOfThreeDigitsTakesThreeStepsTenTicksApart) {
  ASSERT_TRUE(Compile(Lines({"@PAL(#1,000,111,222)", "@PAL(#2,300,141,252)", "@FADE(1,2,10)", "@GCLS"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpPal, 0},
                                           {kBar, kWRDOpPal, 1},
                                           {2 * kBar, kWRDOpFade, 0},
                                           {2 * kBar + 10, kWRDOpFade, 1},
                                           {2 * kBar + 20, kWRDOpFade, 2},
                                           {2 * kBar + 30, kWRDOpFade, 3},
                                           {3 * kBar, kWRDOpGcls, 15}}));
  EXPECT_EQ(s.fades.items(),
            (std::vector<TWRDFadeStep>{{1, 1, 0}, {1, 2, 1}, {1, 2, 2}, {1, 2, 3}}));
}

TEST_F(Compiler, FadeStepsInterleaveWithLaterLines) {
  ASSERT_TRUE(Compile(Lines({"@PAL(#1,000)", "@PAL(#2,300)", "@WMODE(1)", "@FADE(1,2,50)", "A", "B", "C", "D"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpPal, 0},
                                           {kBar, kWRDOpPal, 1},
                                           {3 * kBar, kWRDOpFade, 0},
                                           {3 * kBar + 40, kWRDOpText, 1},
                                           {3 * kBar + 50, kWRDOpFade, 1},
                                           {3 * kBar + 80, kWRDOpText, 2},
                                           {3 * kBar + 100, kWRDOpFade, 2},
                                           {3 * kBar + 120, kWRDOpText, 3},
                                           {3 * kBar + 150, kWRDOpFade, 3},
                                           {3 * kBar + 160, kWRDOpText, 4}}));
}

TEST_F(Compiler, FadeVariantsAndCancelling) {
  ASSERT_TRUE(Compile(Lines({"@FADE(1,1,10)", "@FADE(1,2,0)", "@FADE(3,4,10)", "@FADE", "@FADE(0,5,-1920)"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpFade, 0},
                                           {kBar, kWRDOpFade, 1},
                                           {2 * kBar, kWRDOpFade, 2},
                                           {2 * kBar + 10, kWRDOpFade, 3},
                                           {3 * kBar, kWRDOpFade, 4},
                                           {4 * kBar, kWRDOpFade, 5},
                                           {3 * kBar, kWRDOpFade, 6}}));
  EXPECT_EQ(s.fades.items(), (std::vector<TWRDFadeStep>{
                                           {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 4, 0}, {21, 21, 0}, {21, 21, 0}, {5, 5, 0}}));

  // PAL, PALREV, FADE and MAG (not mode 1) drop the steps not yet moved.
  for (const char* next : {"@PAL(#3,000)", "@PALREV(1)", "@FADE(2,2,0)", "@MAG(X)"}) {
    ASSERT_TRUE(Compile(Lines({"@PAL(#1,FFF)", "@FADE(1,2,10);", next}))) << next;
    EXPECT_EQ(EntriesOf(kWRDOpFade).size(), next[1] == 'F' ? 2u : 1u) << next;
  }
  ASSERT_TRUE(Compile(Lines({"@PAL(#1,FFF)", "@FADE(1,2,10);", "@MAG(X,0,0,0,1)"})));
  EXPECT_EQ(EntriesOf(kWRDOpFade).size(), 16u);
  // Steps still pending when the script ends are kept.
  ASSERT_TRUE(Compile(Lines({"@PAL(#1,300)", "@PAL(#2,000)", "@FADE(1,2,10);"})));
  EXPECT_EQ(EntriesOf(kWRDOpFade).back(), (Entry{2 * kBar + 30, kWRDOpFade, 3}));
}

TEST_F(Compiler, PicturesTakeSlotsByNameFoundLikeDos) {
  dir_.write("pic/TITLE.mag", "m");
  dir_.write("B.PHO", "p");
  dir_.write("c.mag", "c");
  ASSERT_TRUE(Compile(Lines({"@MAG(PIC\\title)", "@MAG(b.pho,13,7,0,2)", "@GSCREEN(1,0)", "@PLOAD(OLD\\C)",
                             "@MAG(missing,900,900,0,99)", "@MAG(pic\\TITLE.MAG)"})));
  EXPECT_EQ(s.slotNames[0], dir_.file("pic/TITLE.mag"));
  EXPECT_EQ(s.slotNames[1], dir_.file("B.PHO"));
  EXPECT_EQ(s.slotNames[2], dir_.file("c.mag"));
  EXPECT_EQ(s.slotNames[3], dir_.file("missing.MAG"));
  EXPECT_EQ(s.slotNames[4], "");
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpPicture, 0},
                                           {0, kWRDOpFreeCancelled, 0},  // used again below
                                           {kBar, kWRDOpPicture, 1},
                                           {kBar, kWRDOpFreeSlot, 1},
                                           {2 * kBar, kWRDOpGscreen, 2},
                                           {3 * kBar, kWRDOpPicture, 2},
                                           {3 * kBar, kWRDOpFreeSlot, 2},
                                           {4 * kBar, kWRDOpPicture, 3},
                                           {4 * kBar, kWRDOpFreeSlot, 3},
                                           {5 * kBar, kWRDOpPicture, 4},
                                           {5 * kBar, kWRDOpFreeSlot, 4}}));
  EXPECT_EQ(Picture(0), (TWRDPicRecord{0, 0, 0, 0, 640, 400, 0, 0}));
  EXPECT_EQ(Picture(1), (TWRDPicRecord{0, 0, 8, 7, 632, 393, 0, 64 + 2}));
  EXPECT_EQ(Picture(2), (TWRDPicRecord{0, 0, 0, 0, 640, 400, 3, 128}));
  EXPECT_EQ(Picture(3), (TWRDPicRecord{0, 0, 632, 399, 8, 1, 3, 192}));
  EXPECT_EQ(Picture(4), (TWRDPicRecord{0, 0, 0, 0, 640, 400, 3, 0}));
}

TEST_F(Compiler, The65thPictureIsDroppedAndASlotIsFreedAfterItsLastUse) {
  std::string script;
  for (int i = 0; i < 65; ++i) script += "@MAG(P" + std::to_string(i) + ");\r\n";
  script += "@MAG(p0);\r\n";
  ASSERT_TRUE(Compile(script));
  EXPECT_EQ(TWRDEXE(s).getSlotCount(), 64);
  EXPECT_EQ(s.slotNames[63], dir_.file("P63.MAG"));
  std::vector<Entry> e = Entries();
  ASSERT_EQ(e.size(), 64u * 2 + 2);
  EXPECT_EQ(e[1].op, kWRDOpFreeCancelled);
  EXPECT_EQ(e[3].op, kWRDOpFreeSlot);
  EXPECT_EQ(e[128], (Entry{0, kWRDOpPicture, 64}));
  EXPECT_EQ(e[129], (Entry{0, kWRDOpFreeSlot, 64}));
  EXPECT_EQ(Picture(64).modeB, 0);  // slot 0 again
}

TEST_F(Compiler, TheTitlePictureBesideTheScript) {
  std::string mag = dir_.write("SONG.MAG", "m");
  ASSERT_TRUE(Compile(Lines({"X", "@MAG(song)"}), "song.wrd"));
  EXPECT_EQ(s.slotNames[0], mag);
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpPicture, 0},
                                           {0, kWRDOpFreeCancelled, 0},
                                           {0, kWRDOpText, 1},
                                           {kBar, kWRDOpPicture, 1},
                                           {kBar, kWRDOpFreeSlot, 1}}));
  EXPECT_EQ(Picture(0), (TWRDPicRecord{0, 0, 0, 0, 640, 400, 0, 0}));
}

TEST_F(Compiler, ExecShowsMagPicturesAndSelfDisplayingPrograms) {
  std::vector<uint8_t> program(900, 0x90);
  std::copy_n(std::vector<uint8_t>{0x00, 0x4C, 0xCD, 0x21}.begin(), 4, program.begin() + 667);
  program[673] = 4;
  dir_.write("PROG.COM", program);
  std::vector<uint8_t> late(900, 0x90);
  std::copy_n(std::vector<uint8_t>{0x00, 0x4C, 0xCD, 0x21}.begin(), 4, late.begin() + 858);
  late[864] = 4;
  dir_.write("late.com", late);
  dir_.write("tiny.com", std::vector<uint8_t>(program.begin(), program.begin() + 861));
  dir_.write("short.com", std::vector<uint8_t>(program.begin(), program.begin() + 860));
  std::vector<uint8_t> notPicture = program;
  notPicture[673] = 5;
  dir_.write("other.com", notPicture);
  ASSERT_TRUE(Compile(Lines({"@EXEC(prog,1203)", "@EXEC(LATE.COM)", "@EXEC(tiny,99999)", "@EXEC(short)", "@EXEC(other)",
                             "@EXEC(none)", "@EXEC(title.mag,5)"})));
  EXPECT_EQ(s.slotNames[0], dir_.file("PROG.COM"));
  EXPECT_EQ(s.slotNames[1], dir_.file("late.com"));
  EXPECT_EQ(s.slotNames[2], dir_.file("tiny.com"));
  EXPECT_EQ(s.slotNames[3], dir_.file("title.mag"));
  EXPECT_EQ(EntriesOf(kWRDOpPicture), (std::vector<Entry>{{0, kWRDOpPicture, 0},
                                                          {kBar, kWRDOpPicture, 1},
                                                          {2 * kBar, kWRDOpPicture, 2},
                                                          {6 * kBar, kWRDOpPicture, 3}}));
  EXPECT_EQ(Picture(0), (TWRDPicRecord{0, 0, 96, 48, 544, 352, 0, 0}));
  EXPECT_EQ(Picture(1), (TWRDPicRecord{0, 0, 0, 0, 640, 400, 0, 64}));
  EXPECT_EQ(Picture(2), (TWRDPicRecord{0, 0, 639, 399, 1, 1, 0, 128}));  // 9999: 99 x 8, 99 x 16, clamped
  EXPECT_EQ(Picture(3), (TWRDPicRecord{0, 0, 0, 0, 640, 400, 0, 192}));
}

TEST_F(Compiler, PostPassSettlesTimesAndBatchesText) {
  ASSERT_TRUE(Compile(Lines({"@WAIT(3)@GCLS", "@WAIT(2)@GCLS", "@WAIT(5)@GCLS", "@WAIT(2000)@GCLS"})));
  ASSERT_TRUE(subWRDTableCalc(s));
  std::vector<int32_t> times;
  for (const Entry& e : Entries()) times.push_back(e.time);
  EXPECT_EQ(times, (std::vector<int32_t>{kBar, kBar, 4 * kBar, 9990001}));
  EXPECT_EQ(s.clickGuard, -1);

  // A run after a clear, a full-screen erase or a full picture composes the
  // whole screen once; a single text entry stays as it is.
  ASSERT_TRUE(Compile(Lines({"\x1b[2JAB;", "CD", "@TCLS;", "X", "@MAG(a);", "Y", "Z", "@TCLS(1,1,2,2);", "W"})));
  ASSERT_TRUE(subWRDTableCalc(s));
  std::vector<int> ops;
  for (const Entry& e : Entries()) ops.push_back(e.op);
  EXPECT_EQ(ops, (std::vector<int>{kWRDOpClearTextBatch, kWRDOpTextFirst, kWRDOpTextLastFull,
                                   kWRDOpEraseBatch, kWRDOpTextLastFull,
                                   kWRDOpPictureBatch, kWRDOpFreeSlot, kWRDOpTextLastFull,
                                   kWRDOpText, kWRDOpErase, kWRDOpText}));

  // At most 78 entries a batch; scroll runs end with 40.
  std::string many;
  for (int i = 0; i < 100; ++i) many += "A;\r\n";
  ASSERT_TRUE(Compile(many + "\x1b[3M;\r\n\x1b[M"));
  ASSERT_TRUE(subWRDTableCalc(s));
  std::vector<Entry> e = Entries();
  ASSERT_EQ(e.size(), 104u);
  EXPECT_EQ(e[0].op, kWRDOpTextFirst);
  EXPECT_EQ(e[1].op, kWRDOpTextMiddle);
  EXPECT_EQ(e[77].op, kWRDOpTextLast);
  EXPECT_EQ(e[78].op, kWRDOpTextFirst);
  EXPECT_EQ(e[99].op, kWRDOpTextLast);
  EXPECT_EQ(e[100].op, kWRDOpScrollBatch);
  EXPECT_EQ(e[101].op, kWRDOpScrollBatch);
  EXPECT_EQ(e[102].op, kWRDOpScrollLast);
  EXPECT_EQ(e[103], (Entry{1, kWRDOpScroll, 3}));  // the last entry, one tick later
}

TEST_F(Compiler, PostPassRunsTheEntriesAtTimeZeroWhenAnExecutorIsThere) {
  ASSERT_TRUE(Compile(Lines({"@GCLS;", "@GCLS;", "@GCLS", "@GCLS"})));
  ASSERT_TRUE(subWRDTableCalc(s));
  EXPECT_EQ(s.nextEntry, 0);  // no executor yet: the tick runs them

  std::vector<int32_t> ran;
  s.runEntry = [&](int32_t i) { ran.push_back(i); };
  s.inputs.timeMapEntries = 100;
  ASSERT_TRUE(subWRDTableCalc(s));
  EXPECT_EQ(ran, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(s.nextEntry, 3);

  ran.clear();
  s.inputs.timeMapEntries = 2;  // at most as many as the song's time map
  ASSERT_TRUE(subWRDTableCalc(s));
  EXPECT_EQ(ran, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(s.nextEntry, 2);

  bool cleared = false;
  s.clearStatusLine = [&] { cleared = true; };
  s.displayExists = 0;
  subWRDTableCalc(s);
  EXPECT_FALSE(cleared);
  s.displayExists = -1;
  subWRDTableCalc(s);
  EXPECT_TRUE(cleared);
  s.displayExists = 0;
}

}  // namespace
