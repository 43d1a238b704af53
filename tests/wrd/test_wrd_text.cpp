// The emulated 80 x 25 text screen: where text lands, two-byte halves, new
// lines and scrolling, the cursor commands and every escape sequence.
#include "tests/wrd/wrd_test_util.h"

namespace {

using wrdtest::Entry;
using wrdtest::Lines;

constexpr int kBar = 10000;  // one 4/4 bar of division 480, as a WRD time

struct CellAt {
  std::string text;
  int32_t x, y, colour;
  bool operator==(const CellAt&) const = default;
};
void PrintTo(const CellAt& c, std::ostream* os) {
  *os << "{\"" << c.text << "\", " << c.x << ", " << c.y << ", " << c.colour << '}';
}
class Text : public wrdtest::WrdTest {
 protected:
  std::vector<CellAt> Cells() const {
    std::vector<CellAt> v;
    for (const TWRDCell& c : s.cells.items()) v.push_back({std::string(c.view()), c.x, c.y, c.colour});
    return v;
  }
  CellAt LastCell() const { return Cells().back(); }
};

TEST_F(Text, HelloWithSemicolonAndWorldShareOneRowAndOneTime) {
  ASSERT_TRUE(Compile(Lines({"Hello;", "World", "Next"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpText, 5}, {0, kWRDOpText, 10}, {kBar, kWRDOpText, 14}}));
  EXPECT_EQ(Cells()[5], (CellAt{"W", 40, 0, 255}));
  EXPECT_EQ(Cells()[10], (CellAt{"N", 0, 16, 255}));
  ASSERT_TRUE(subWRDTableCalc(s));  // one batch at time 0, composed once
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpTextFirst, 5}, {0, kWRDOpTextLast, 10}, {kBar + 1, kWRDOpText, 14}}));
}

TEST_F(Text, LocateCountsFromOneUntilAZeroSwitchesTheOriginAndClamps) {
  ASSERT_TRUE(Compile(Lines({"@LOCATE(0,0)", "a", "@LOCATE(1,1)", "b", "@LOCATE(200,-5)", "c"})));
  EXPECT_EQ(Cells()[0], (CellAt{"a", 0, 0, 255}));
  EXPECT_EQ(Cells()[1], (CellAt{"b", 8, 16, 255}));
  EXPECT_EQ(Cells()[2], (CellAt{"c", 632, 0, 255}));

  // One parameter is the row; XY mode takes the row first always.
  ASSERT_TRUE(Compile(Lines({"@LOCATE(3,10)", "a", "@LOCATE(5)", "b"})));
  EXPECT_EQ(Cells()[0], (CellAt{"a", 16, 144, 255}));
  EXPECT_EQ(Cells()[1], (CellAt{"b", 0, 64, 255}));
  s.inputs.xyMode = true;
  ASSERT_TRUE(Compile(Lines({"@LOCATE(3,10)", "a"})));
  EXPECT_EQ(Cells()[0], (CellAt{"a", 72, 32, 255}));
}

TEST_F(Text, LongLinesAreCutOrWrapped) {
  // 81 characters show 80, and the next line starts on the next row.
  ASSERT_TRUE(Compile(Lines({std::string(81, 'A'), "B"})));
  EXPECT_EQ(s.cells.size(), 81u);
  EXPECT_EQ(Cells()[79], (CellAt{"A", 632, 0, 255}));
  EXPECT_EQ(Cells()[80], (CellAt{"B", 0, 16, 255}));

  // 79 get a space; 82 wrap onto the next row, closing the first part there.
  ASSERT_TRUE(Compile(Lines({std::string(79, 'A'), std::string(82, 'C'), "D"})));
  EXPECT_EQ(Cells()[79], (CellAt{" ", 632, 0, 255}));
  EXPECT_EQ(Cells()[160], (CellAt{"C", 0, 32, 255}));
  EXPECT_EQ(Cells()[162], (CellAt{"D", 0, 48, 255}));
  EXPECT_EQ(EntriesOf(kWRDOpText),
            (std::vector<Entry>{{0, kWRDOpText, 80}, {kBar, kWRDOpText, 160}, {kBar, kWRDOpText, 162}, {2 * kBar, kWRDOpText, 163}}));
}

TEST_F(Text, NewLinesAndWrapsAtTheBottomScrollTheWholeScreen) {
  std::string script;
  for (int i = 0; i < 24; ++i) script += "L\r\n";
  script += "Z\r\n";
  ASSERT_TRUE(Compile(script));
  // The 24th line end scrolls instead of moving to row 24; so does the 25th.
  EXPECT_EQ(Cells()[23], (CellAt{"L", 0, 368, 255}));
  EXPECT_EQ(Cells()[24], (CellAt{"Z", 0, 368, 255}));
  auto scrolls = EntriesOf(kWRDOpScroll);
  ASSERT_EQ(scrolls.size(), 2u);
  EXPECT_EQ(scrolls[0].time, 23 * kBar);
  EXPECT_EQ(Rect(scrolls[0].arg), (TWRDRect{0, 0, 640, 400, 0, 242, 0}));

  // Text running past the last column of row 23 scrolls and continues on row 23.
  ASSERT_TRUE(Compile(Lines({"@LOCATE(79,24)", "abc"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{
                           {kBar, kWRDOpText, 2}, {kBar, kWRDOpScroll, 0}, {kBar, kWRDOpText, 3}, {kBar, kWRDOpScroll, 1}}));
  EXPECT_EQ(LastCell(), (CellAt{"c", 0, 368, 255}));
}

TEST_F(Text, TwoByteCharactersKeepTheirHalvesWhole) {
  // Overwriting a second half blanks its first half; overwriting a first half
  // blanks the orphaned second half.
  ASSERT_TRUE(Compile(Lines({"\x82\xA0\x82\xA2", "@LOCATE(2,1)", "x", "@LOCATE(3,1)", "y"})));
  EXPECT_EQ(Cells(), (std::vector<CellAt>{{"\x82\xA0", 0, 0, 255},
                                          {"\x82\xA2", 16, 0, 255},
                                          {" x", 0, 0, 255},
                                          {"y", 16, 0, 255},
                                          {" ", 24, 0, 255}}));
  // A two-byte character over another's second half.
  ASSERT_TRUE(Compile(Lines({"\x82\xA0", "@LOCATE(2,1)", "\x88\x9F"})));
  EXPECT_EQ(LastCell(), (CellAt{" \x88\x9F", 0, 0, 255}));

  // Half-width kana take one column; box-drawing characters of row 0x86
  // become one-byte look-alikes; other 0x86 characters stay.
  ASSERT_TRUE(Compile(Lines({"\xB1\x86\x44\x86\x47\x86\x52\x86\x48\x86\x5D\x86\x60."})));
  EXPECT_EQ(CellText(), "\xB1-|+\xA5\xA5\x86\x60.");
  EXPECT_EQ(LastCell().x, 64);
}

TEST_F(Text, ColoursFromColorAndTheEscapeForm) {
  ASSERT_TRUE(Compile(Lines({"@COLOR(2)", "a", "\x1b[0mb\x1b[41mc\x1b[7md\x1b[30me\x1b[3mf", "@COLOR(258)", "g",
                             "@COLOR(0)", "h", "@COLOR(16)", "i"})));
  std::vector<int32_t> colours;
  for (const CellAt& c : Cells()) colours.push_back(c.colour);
  EXPECT_EQ(colours, (std::vector<int32_t>{254, 251, 263, 512, 0, 0, 254, 255, 242}));
  for (int n : {1, 11, 23, 27, 37}) EXPECT_EQ(WRDColourFor(n, false), 255);
  for (int n : {17, 24, 31}) EXPECT_EQ(WRDColourFor(n, true), 249);
  EXPECT_EQ(WRDColourFor(47, true), 257);
  EXPECT_EQ(WRDColourFor(33, true), 251);
  EXPECT_EQ(WRDColourFor(6, false), -1);
}

TEST_F(Text, EraseSequencesInText) {
  ASSERT_TRUE(Compile("\x1b[5;10H\x1b[K\x1b[0K\x1b[1K\x1b[2K\x1b[J\x1b[0J\x1b[1J\x1b[2J;\r\n"));
  std::vector<TWRDRect> rects;
  for (const Entry& e : EntriesOf(kWRDOpErase)) rects.push_back(Rect(e.arg));
  EXPECT_EQ(rects, (std::vector<TWRDRect>{{72, 64, 568, 16, 9, 242, 0},
                                          {72, 64, 568, 16, 9, 242, 0},
                                          {0, 64, 80, 16, 9, 242, 0},
                                          {0, 64, 640, 16, 9, 242, 0},
                                          {0, 64, 640, 336, 9, 242, 0},
                                          {0, 64, 640, 336, 9, 242, 0},
                                          {0, 0, 640, 80, 9, 242, 0}}));
  EXPECT_EQ(Entries().back(), (Entry{0, kWRDOpClearText, 242}));
  EXPECT_EQ(s.row, 0);
  EXPECT_EQ(s.column, 0);
}

TEST_F(Text, LineSequencesInText) {
  ASSERT_TRUE(Compile("\x1b[5;1H\x1b[3M\x1b[R\x1b[2L\x1b[24;1H\x1b" "E;\r\n"));
  std::vector<TWRDRect> rects;
  for (const Entry& e : EntriesOf(kWRDOpScroll)) rects.push_back(Rect(e.arg));
  TWRDRect del{0, 64, 640, 336, 0, 242, 0};
  EXPECT_EQ(rects, (std::vector<TWRDRect>{del, del, del, del,
                                          {0, 96, 640, 304, 1, 242, 0},   // cursor now row 5
                                          {0, 112, 640, 288, 1, 242, 0},  // row 6
                                          {0, 384, 640, 16, 1, 242, 0}}));  // E on row 23
  EXPECT_EQ(s.row, 23);
}

TEST_F(Text, CursorSequencesInText) {
  // Down 2, right 12, up 1, left 2, save, home, restore: "Z" lands at (10, 1).
  ASSERT_TRUE(Compile("\x1b[2B\x1b[12C\x1b[A\x1b[2D\x1b[s\x1b[H\x1b[uZ;\r\n"));
  EXPECT_EQ(LastCell(), (CellAt{"Z", 80, 16, 255}));
  // Left past column 0 wraps to the row above, from its right end.
  ASSERT_TRUE(Compile(Lines({"@LOCATE(3,4)", "\x1b[5DX"})));
  EXPECT_EQ(LastCell(), (CellAt{"X", 616, 32, 255}));
  ASSERT_TRUE(Compile("\x1b[99DX;\r\n"));  // on the first row it stops at 0
  EXPECT_EQ(LastCell(), (CellAt{"X", 0, 0, 255}));
  ASSERT_TRUE(Compile("\x1b[30;99HX;\r\n\x1b[0;0HY;\r\n"));  // clamped to the screen
  EXPECT_EQ(Cells(), (std::vector<CellAt>{{"X", 632, 384, 255}, {"Y", 0, 0, 255}}));
}

TEST_F(Text, KanjiOffAndUnknownSequences) {
  ASSERT_TRUE(Compile("\x1b)3\x82\xA0\x1b)0\x82\xA0\x1b[9Q\x1bX;\r\n"));
  // ESC ) 3: a two-byte character shows as a space and its trail byte.
  // An unknown sequence changes nothing; its last byte is text.
  EXPECT_EQ(CellText(), " \xA0\x82\xA0QX");
  EXPECT_FALSE(s.kanjiOff);
  EXPECT_EQ(EntriesOf(kWRDOpErase).size() + EntriesOf(kWRDOpScroll).size(), 0u);
}

TEST_F(Text, EscapeCommandForm) {
  ASSERT_TRUE(Compile(Lines({"@ESC(5;10H)@ESC(k)@ESC(1K)@ESC(2k)@ESC(0J)@ESC(1J)", "@ESC(2M)@ESC(R)@ESC(30L)",
                             "@ESC(12C)@ESC(S)@ESC(2A)@ESC(D)@ESC(U)@ESC(E)@ESC(2J)@ESC(37m)"})));
  std::vector<Entry> e = Entries();
  ASSERT_EQ(e.size(), 5u + 27u + 1u + 1u + 24u);
  EXPECT_EQ(Rect(e[0].arg), (TWRDRect{72, 64, 568, 16, 9, 242, 0}));
  EXPECT_EQ(Rect(e[1].arg), (TWRDRect{0, 64, 80, 16, 9, 242, 0}));
  EXPECT_EQ(Rect(e[2].arg), (TWRDRect{0, 64, 640, 16, 9, 242, 0}));
  EXPECT_EQ(Rect(e[3].arg), (TWRDRect{0, 64, 640, 336, 9, 242, 0}));
  EXPECT_EQ(Rect(e[4].arg), (TWRDRect{0, 0, 640, 80, 9, 242, 0}));
  // Second line: 2 + 1 line deletions, then 24 insertions (30 clamped).
  EXPECT_EQ(e[5].time, kBar);
  EXPECT_EQ(Rect(e[7].arg), (TWRDRect{0, 64, 640, 336, 0, 242, 0}));
  EXPECT_EQ(Rect(e[8].arg), (TWRDRect{0, 96, 640, 304, 1, 242, 0}));
  EXPECT_EQ(Rect(e[31].arg), (TWRDRect{0, 400, 640, 0, 1, 242, 0}));
  // Third line: ESC(E) on row 24 scrolls; ESC(37m) reads as a line deletion
  // (the command form is upper-cased); 2J clears.
  EXPECT_EQ(e[32], (Entry{2 * kBar, kWRDOpScroll, e[32].arg}));
  EXPECT_EQ(Rect(e[32].arg), (TWRDRect{0, 400, 640, 0, 1, 242, 0}));
  EXPECT_EQ(e[33], (Entry{2 * kBar, kWRDOpClearText, 242}));
  EXPECT_EQ(Rect(e[34].arg).kind, 0);
  EXPECT_EQ(s.textColour, 255);

  // Cursor moves in the command form: right 12, save, up 2, left 1, restore.
  ASSERT_TRUE(Compile(Lines({"@ESC(5;1H)@ESC(12C)@ESC(S)@ESC(2A)@ESC(D)@ESC(U)", "X"})));
  EXPECT_EQ(LastCell(), (CellAt{"X", 96, 64, 255}));
  ASSERT_TRUE(Compile(Lines({"@ESC(5;1H)@ESC(12C)@ESC(2A)@ESC(D)", "X"})));
  EXPECT_EQ(LastCell(), (CellAt{"X", 88, 32, 255}));
}

TEST_F(Text, TclsAndScrollClampAndMapColours) {
  ASSERT_TRUE(Compile(Lines({"@TCLS", "@TCLS(10,5,3,99,9,7)", "@TCLS(0,0,0,0,8)", "@SCROLL", "@SCROLL(2,3,4,5,3,15,9)"})));
  std::vector<Entry> e = Entries();
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0], (Entry{0, kWRDOpErase, 0}));
  EXPECT_EQ(Rect(0), (TWRDRect{0, 0, 640, 400, 9, 242, 0}));
  EXPECT_EQ(Rect(1), (TWRDRect{72, 64, 8, 336, 9, 249, 0}));
  EXPECT_EQ(Rect(2), (TWRDRect{0, 0, 8, 16, 9, 242, 0}));
  EXPECT_EQ(e[3].op, kWRDOpScroll);
  EXPECT_EQ(Rect(3), (TWRDRect{0, 0, 647, 415, 0, 242, 0}));
  EXPECT_EQ(Rect(4), (TWRDRect{8, 32, 31, 63, 3, 255, 0}));

  // TCLS clears the grid: a later write over a former second half blanks nothing.
  ASSERT_TRUE(Compile(Lines({"\x82\xA0;", "@TCLS", "@LOCATE(2,1)", "x"})));
  EXPECT_EQ(LastCell(), (CellAt{"x", 8, 0, 255}));
}

TEST_F(Text, TabsMoveToTheNextMultipleOfEight) {
  ASSERT_TRUE(Compile(Lines({"AB\tC|x\ty|", "@LOCATE(4,1)", "\tD"})));
  std::vector<CellAt> c = Cells();
  EXPECT_EQ(c[8], (CellAt{"C", 64, 0, 255}));
  EXPECT_EQ(c[9], (CellAt{"x", 72, 0, 255}));
  EXPECT_EQ(c[16], (CellAt{"y", 128, 0, 255}));
  EXPECT_EQ(LastCell(), (CellAt{"D", 64, 0, 255}));

  EXPECT_EQ(subWRDCut(s, "a\x82\xA0\xB1\x82"), 4);
  EXPECT_EQ(s.unitBytes, 5);
  EXPECT_EQ(s.units[3].bytes[0], ' ');  // a lead byte without its trail
  EXPECT_EQ(subWRDCut(s, std::string(300, 'x')), 256);
}

}  // namespace

TEST_F(Text, ScriptsWithUnixLineEndsCompileLikeCrLfOnes) {
  ASSERT_TRUE(Compile(Lines({"Hello;", "World", "@COLOR(2)", "Next"})));
  auto crlfEntries = Entries();
  auto crlfCells = Cells();
  ASSERT_TRUE(Compile("Hello;\nWorld\n@COLOR(2)\nNext\n"));
  EXPECT_EQ(Entries(), crlfEntries);
  EXPECT_EQ(Cells(), crlfCells);
}
