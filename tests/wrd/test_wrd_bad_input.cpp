// Scripts that are broken, hostile or huge: the compiler clamps or skips and
// never reads or writes outside its buffers (the sanitizer build checks the
// memory side), and its tables always point inside each other.
#include <random>

#include "support/trace.h"
#include "tests/wrd/wrd_test_util.h"

namespace {

using wrdtest::Entry;
using wrdtest::Lines;
using BadInput = wrdtest::WrdTest;

// Every operand refers to a record that exists.
void ExpectConsistentTables(const TWRDState& s) {
  size_t cellsDrawn = 0;
  for (size_t i = 0; i < s.commands.size(); ++i) {
    const int32_t arg = s.commands.arg(i);
    const auto index = static_cast<size_t>(arg);
    switch (s.commands.op(i)) {
      case kWRDOpText:
        ASSERT_GE(arg, 0);
        ASSERT_LE(index, s.cells.size());
        ASSERT_GE(index, cellsDrawn);
        cellsDrawn = index;
        break;
      case kWRDOpErase: case kWRDOpScroll: case kWRDOpGline: case kWRDOpGcircle: case kWRDOpGlinePlanes:
      case kWRDOpGcirclePlanes:
        ASSERT_LT(index, s.rects.size());
        break;
      case kWRDOpPicture: case kWRDOpFreeSlot: case kWRDOpGmove: case kWRDOpGmovePlanes:
        ASSERT_LT(index, s.pictures.size());
        break;
      case kWRDOpFade: {
        ASSERT_LT(index, s.fades.size());
        const TWRDFadeStep& f = s.fades.at(index);
        ASSERT_TRUE(f.from >= 0 && f.from < kWRDPalettes && f.to >= 0 && f.to < kWRDPalettes);
        break;
      }
      case kWRDOpPal:
        ASSERT_LT(index, s.palRecords.size());
        break;
      case kWRDOpPalRev:
        ASSERT_TRUE(arg >= 0 && arg < kWRDPalettes);
        break;
      default: break;
    }
  }
  for (const TWRDCell& c : s.cells.items()) {
    ASSERT_GE(c.length, 1);
    ASSERT_LE(c.length, 3);
    ASSERT_GE(c.y, 0);
    ASSERT_LE(c.y, 384);
  }
  for (const TWRDPicRecord& p : s.pictures.items()) {
    ASSERT_TRUE(p.modeA >= 0 && p.modeA <= 3);
  }
}

void ExpectSettledTimes(TWRDState& s) {
  ASSERT_TRUE(subWRDTableCalc(s));
  std::vector<Entry> e;
  for (size_t i = 0; i < s.commands.size(); ++i) e.push_back({s.commands.time(i), s.commands.op(i), s.commands.arg(i)});
  for (size_t i = 1; i < e.size(); ++i) ASSERT_LE(e[i - 1].time, e[i].time) << i;
  if (!e.empty()) {
    ASSERT_GE(e.front().time, 0);
    ASSERT_LE(e.back().time, 9990001);
  }
}

TEST_F(BadInput, BinaryGarbageCompilesToConsistentTables) {
  std::mt19937 rng(20240611);
  // Bytes weighted towards the ones the readers react to.
  const std::string special = "@^|\\;()\r\n\x1b[)0123456789,:$#-HJKMLABCDsum_\t \x82\x86\x44";
  for (int round = 0; round < 300; ++round) {
    std::string script(rng() % 3000 + 1, '\0');
    for (char& c : script)
      c = rng() % 3 ? special[rng() % special.size()] : static_cast<char>(rng());
    s.inputs.displayOffset = static_cast<int32_t>(rng() % 769) - 384;
    s.inputs.xyMode = rng() % 2;
    Compile(script);
    ExpectConsistentTables(s);
    ExpectSettledTimes(s);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

TEST_F(BadInput, UnterminatedRunsAndEscapesCutAtTheEnd) {
  for (const std::string& script :
       {std::string("|abc"), "|" + std::string(1000, 'x'), std::string("\\"), std::string("\x82"), std::string("@"),
        std::string("@MAG("), std::string("@PAL(#"), std::string("^"), std::string("@REM"), std::string("\x1b"),
        std::string("\x1b["), std::string("\x1b[1"), std::string("\x1b[12"), std::string("\x1b[12;"),
        std::string("\x1b[12;3"), std::string("\x1b[12;34"), std::string("\x1b)"), std::string("text\x1b[2")}) {
    EXPECT_TRUE(Compile(script)) << script;
    ExpectConsistentTables(s);
  }
  // A literal run longer than a token continues as the next one.
  ASSERT_TRUE(Compile("|" + std::string(300, 'x') + "|"));
  EXPECT_EQ(CellText().size(), 300u);
}

TEST_F(BadInput, VeryLongLines) {
  ASSERT_TRUE(Compile(Lines({std::string(10000, 'A'), "@GCLS(" + std::string(5000, '9') + ")"})));
  EXPECT_EQ(s.cells.size(), 10000u);
  ExpectConsistentTables(s);
  EXPECT_EQ(EntriesOf(kWRDOpGcls), (std::vector<Entry>{{10000, kWRDOpGcls, 15}}));
  // A comment longer than the line reader takes still takes no time.
  ASSERT_TRUE(Compile(Lines({"@REM " + std::string(600, 'r'), "@GCLS"})));
  EXPECT_EQ(Entries(), (std::vector<Entry>{{0, kWRDOpGcls, 15}}));
}

TEST_F(BadInput, TenThousandWaitsGoingBackwards) {
  std::string script;
  for (int i = 10000; i > 0; --i) script += "@WAIT(" + std::to_string(i) + ")@GCLS\r\n";
  ASSERT_TRUE(Compile(script));
  ASSERT_EQ(s.commands.size(), 10000u);
  EXPECT_EQ(Entries().front().time, 99990000);  // bar 9999
  ExpectSettledTimes(s);
  EXPECT_EQ(Entries().front().time, 0);  // pulled back to the last WAIT
  EXPECT_EQ(Entries().back().time, 1);
}

TEST_F(BadInput, HugeNumbers) {
  ASSERT_TRUE(Compile(Lines({"@WAIT(2147483647,2147483647)@GCLS", "@OFFSET(2147483647)@WAIT(2147483647)@GCLS",
                             "@WMODE(2147483647)", "A", "B", "@WMODE(-2147483648)", "C", "D",
                             "@REST(2147483647,2147483647)@INKEY(2147483647)@GCLS", "@LOCATE(-2147483648,2147483647)X",
                             "@GLINE(-2147483648,2147483647,-2147483648,2147483647,2147483647,2147483647)",
                             "@GCIRCLE(2147483647,-2147483648,-2147483648,0,2147483647)",
                             "@GMOVE(-2147483648,-2147483648,2147483647,2147483647,0,0,0,0,2147483647)",
                             "^XCOPY(0,0,0,0,0,0,0,0,2147483647)", "@TCLS(-2147483648,2147483647,-5,-5,2147483647)",
                             "@SCROLL(2147483647,2147483647,2147483647,2147483647,2147483647,2147483647)",
                             "@FADE(2147483647,-2147483648,2147483647)", "@FADE(1,2,-2147483648)",
                             "@PALREV(-1)", "@GMODE(-2147483648)", "@COLOR(-2147483648)", "@MAG(x,-99999,-99999,0,-1)",
                             "@ESC(99C)@ESC(99D)", "\x1b[99C\x1b[99C\x1b[99C\x1b[99CX", "@EXEC(x,-2147483648)",
                             "@PAL(#2147483647,FFFFFFFFFFFF)"})));
  ExpectConsistentTables(s);
  ExpectSettledTimes(s);
  for (const TWRDPicRecord& p : s.pictures.items()) {
    EXPECT_GE(p.modeB, 0);
    EXPECT_LE(p.x2, 639);
  }
}

TEST_F(BadInput, ScriptsThatNeverEndOrNeedTooMuchFailCleanly) {
  // 5,000,000 tokens at most: characters on a command line are tokens too.
  std::string tokens = "@GCLS " + std::string(kWRDTokenLimit, 'x');
  EXPECT_FALSE(Compile(tokens));
  EXPECT_EQ(s.errorCode, kWRDErrTokens);
  EXPECT_FALSE(TWRDEXE(s).getLoaded());
  tokens.resize(tokens.size() - 10);
  EXPECT_TRUE(Compile(tokens));

  // A table that would need more than its limit.
  qtest::StartTrace(dir_);
  s.tableLimit = 100;
  std::string lines;
  for (int i = 0; i < 60; ++i) lines += "@GCLS;\r\n";
  EXPECT_TRUE(Compile(lines));
  for (int i = 0; i < 60; ++i) lines += "@GCLS;\r\n";
  EXPECT_FALSE(Compile(lines));
  EXPECT_EQ(s.errorCode, kWRDErrCapacity);
  EXPECT_EQ(qtest::TraceLines(), (std::vector<std::string>{"TRACE ON", "subWRDTableCreate"}));
  std::string rects;
  for (int i = 0; i < 10; ++i) rects += "\x1b[24M";
  EXPECT_FALSE(Compile(rects));
  EXPECT_EQ(s.errorCode, kWRDErrCapacity);
}

TEST_F(BadInput, MissingAndOddPictureNames) {
  ASSERT_TRUE(Compile(Lines({"@MAG()", "@MAG(,8)", "@MAG(" + std::string(400, 'n') + ")", "@MAG(..\\..\\x)",
                             "@EXEC()", "@MAG(\x83\x65\x83\x58\x83\x67)"})));
  ExpectConsistentTables(s);
  EXPECT_EQ(TWRDEXE(s).getSlotCount(), 3);  // the empty names are dropped
  EXPECT_EQ(s.slotNames[1], (std::filesystem::path(dir_.path()) / "x.MAG").string());
  // A Shift-JIS name also finds a file whose name was stored in UTF-8.
  std::string utf8 = dir_.write("\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.MAG", "m");
  ASSERT_TRUE(Compile(Lines({"@MAG(\x83\x65\x83\x58\x83\x67)"})));
  EXPECT_EQ(s.slotNames[0], utf8);
}

}  // namespace
