// The script readers on bytes held in the state block, and the script name
// rule.
#include <gtest/gtest.h>

#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_reader.h"
#include "engine/wrd/wrd_state.h"
#include "tests/common/test_files.h"

namespace {

class Reader : public ::testing::Test {
 protected:
  void Load(const std::string& bytes) {
    buf_ = bytes;
    s.data = reinterpret_cast<const uint8_t*>(buf_.data());
    s.size = static_cast<int32_t>(buf_.size());
    s.pos = 0;
    s.inCommandLine = s.kanjiOff = s.perToken = false;
    s.column = 0;
    s.lineText.clear();
  }
  void TearDown() override {
    s.data = nullptr;
    s.size = 0;
  }
  TWRDState s;
  // Every token up to the end: its bytes, or "<kind>" when the kind is not
  // the token's first byte.
  std::vector<std::string> Tokens() {
    std::vector<std::string> out;
    TWRDToken t;
    for (int guard = 0; guard < 1000; ++guard) {
      uint8_t kind = subWRDGet(s, t);
      if (kind == 0) break;
      std::string text(t.view());
      if (t.length == 0 || kind != t.text[0]) text += "<" + std::to_string(kind) + ">";
      if (s.literalToken) text = "|" + text + "|";
      out.push_back(text);
    }
    return out;
  }
  std::string buf_;
};

TEST_F(Reader, ByteReaderSkipsLineFeedsAndSwallowsALoneSemicolonLine) {
  Load("A\r\n;\r\nB");
  EXPECT_EQ(subWRDByteGet(s, false), 'A');
  EXPECT_EQ(subWRDByteGet(s, false), '\r');
  EXPECT_EQ(subWRDByteGet(s, false), 'B');  // "\n;\r" was swallowed, "\n" skipped
  EXPECT_EQ(subWRDByteGet(s, false), 0);
  EXPECT_EQ(subWRDByteGet(s, false), 0);

  Load("A\r\n;x\r\n");  // not a lone ';'
  subWRDByteGet(s, false);
  subWRDByteGet(s, false);
  EXPECT_EQ(subWRDByteGet(s, false), ';');

  Load(" \n  x");
  EXPECT_EQ(subWRDByteGet(s, true), 'x');
  Load(" x");
  EXPECT_EQ(subWRDByteGet(s, false), ' ');

  Load(std::string(256, '\n') + "x");  // 256 bytes skipped in a row end the script
  EXPECT_EQ(subWRDByteGet(s, false), 0);
  Load(std::string(255, '\n') + "x");
  EXPECT_EQ(subWRDByteGet(s, false), 'x');
}

TEST_F(Reader, TokensAreCharactersLiteralRunsAndEscapes) {
  // Two-byte characters are one token; ';' before the line end is its own kind,
  // elsewhere it is text (kind space).
  Load("a\x82\xA0;b;\r\n");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"a", "\x82\xA0", ";<32>", "b", ";", "\r"}));

  // A literal run: '\' dropped, a tab expanded (the cursor is at column 1, so
  // the tab starts at column 4), closed by '|'.
  Load("|@G\\C\tLS|x");
  s.column = 1;
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"|@GC    LS|", "x"}));

  // A run stops before a line end or ';'; an empty one takes that byte.
  Load("|ab\r\n|\r\n|;\r\n");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"|ab|", "\r", "\r", ";", "\r"}));
  // "||" takes the byte after it.
  Load("||x|");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"|x|"}));

  // '\' before a line end continues the line; before anything else that
  // character is literal, even '@', ';' and a two-byte character.
  Load("\\\r\n\\@\\;\\\x88\x9F\\");
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"\\<13>", "|@|", "|;|", "|\x88\x9F|"}));

  // On a command line every ';' is a separator.
  Load("a;b");
  s.inCommandLine = true;
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"a", ";", "b"}));
}

TEST_F(Reader, KanjiOffReadsALeadByteAsASpaceAndItsTrailAlone) {
  Load("\x82\xA0");
  s.kanjiOff = true;
  EXPECT_EQ(Tokens(), (std::vector<std::string>{" ", "\xA0"}));
  // A lead byte never takes a line end as its trail.
  Load("\x82\r\n");
  s.kanjiOff = false;
  EXPECT_EQ(Tokens(), (std::vector<std::string>{"\x82", "\r"}));
}

TEST_F(Reader, CommandWordsInAnyCaseWithTheirEnd) {
  uint8_t code = 0;
  Load("wait(1)");
  EXPECT_EQ(subWRDOptGet(s, code), '(');
  EXPECT_EQ(code, kWRDCmdWait);
  EXPECT_EQ(s.pos, 5);  // the '(' is taken

  Load("@WAIT(1)");
  subWRDOptGet(s, code);
  EXPECT_EQ(code, kWRDCmdWait);
  Load("Pload TITLE");
  EXPECT_EQ(subWRDOptGet(s, code), ' ');
  EXPECT_EQ(code, kWRDCmdMag);

  Load("REMARK anything");
  subWRDOptGet(s, code);
  EXPECT_EQ(code, kWRDCmdRem);

  // A word that is no command: looked at, nothing taken.
  Load("HELLO(1)");
  EXPECT_EQ(subWRDOptGetPre(s, code), '(');
  EXPECT_EQ(code, kWRDCmdUnknown);
  EXPECT_EQ(subWRDOptGet(s, code), ' ');
  EXPECT_EQ(code, 0);
  EXPECT_EQ(s.pos, 0);

  // A line end or ';' after the word stays for the line.
  Load("GCLS\r\n");
  EXPECT_EQ(subWRDOptGet(s, code), '\r');
  EXPECT_EQ(code, kWRDCmdGcls);
  EXPECT_EQ(s.pos, 4);
  Load("END;");
  EXPECT_EQ(subWRDOptGet(s, code), ';');
  EXPECT_EQ(s.pos, 3);

  Load(" x");
  EXPECT_EQ(subWRDOptGet(s, code), ' ');
  EXPECT_EQ(code, 0);
  Load(std::string(300, 'A'));
  EXPECT_EQ(subWRDOptGet(s, code), ' ');
  EXPECT_EQ(code, 0);

  EXPECT_EQ(WRDCommandCode("xcopy"), kWRDCmdXcopy);
  EXPECT_EQ(WRDCommandCode("WAITE"), kWRDCmdWait);
  EXPECT_EQ(WRDCommandCode("RE"), kWRDCmdUnknown);
}

TEST_F(Reader, ParametersAndTheRestOfALine) {
  std::string p;
  Load(",5)");
  EXPECT_EQ(subWRDPrmGet(s, p), ',');
  EXPECT_EQ(p, ",");
  EXPECT_EQ(subWRDPrmGet(s, p), ')');
  EXPECT_EQ(p, "5");

  Load(" 1 2 :x;y\r");
  EXPECT_EQ(subWRDPrmGet(s, p), ':');
  EXPECT_EQ(p, "12");
  EXPECT_EQ(subWRDPrmGet(s, p), ';');
  EXPECT_EQ(p, "x");
  EXPECT_EQ(subWRDPrmGet(s, p), '\r');
  EXPECT_EQ(p, "y");
  EXPECT_EQ(subWRDPrmGet(s, p), 0);
  EXPECT_EQ(p, "");

  Load(std::string(300, '7') + ")");
  EXPECT_EQ(subWRDPrmGet(s, p), '7');
  EXPECT_EQ(p.size(), 255u);

  // A file name ends at a space too, reported as ','.
  Load("  PIC\\A.MAG 8)");
  EXPECT_EQ(subWRDPrmGet2(s, p), ',');
  EXPECT_EQ(p, "PIC\\A.MAG");
  EXPECT_EQ(subWRDPrmGet(s, p), ')');
  EXPECT_EQ(p, "8");

  // The rest of a line: a ';' before the line end is not part of it.
  Load("  a;b c;\r\nX");
  EXPECT_EQ(subWRDLineGet(s, p), ';');
  EXPECT_EQ(p, "a;b c");
  EXPECT_EQ(subWRDByteGet(s, false), '\r');
  Load(" text\r\nX");
  EXPECT_EQ(subWRDLineGet(s, p), '\r');
  EXPECT_EQ(p, "text");
  EXPECT_EQ(subWRDByteGet(s, false), 'X');
  Load("\r\n");
  EXPECT_EQ(subWRDLineGet(s, p), '\r');
  EXPECT_EQ(p, "");
}

TEST(WrdNumber, DecimalOrHexElseTheDefault) {
  EXPECT_EQ(WRDNumber("12", 7), 12);
  EXPECT_EQ(WRDNumber("  -48", 7), -48);
  EXPECT_EQ(WRDNumber("+3", 7), 3);
  EXPECT_EQ(WRDNumber("$1F", 7), 31);
  EXPECT_EQ(WRDNumber("$FFFFFFFF", 7), -1);
  EXPECT_EQ(WRDNumber("-2147483648", 7), INT32_MIN);
  EXPECT_EQ(WRDNumber("2147483648", 7), 7);
  EXPECT_EQ(WRDNumber("99999999999999999999", 7), 7);
  EXPECT_EQ(WRDNumber("$123456789", 7), 7);
  for (const char* bad : {"", ",", ")", "1x", "-", "$", "$G", "1 ", "#5"}) EXPECT_EQ(WRDNumber(bad, 7), 7) << bad;
}

TEST(WrdScriptName, TheSongNameUpToItsFirstDotPlusWrd) {
  qtest::TempDir dir;
  std::string script = dir.write("A.wrd", "x");
  EXPECT_EQ(WRDScriptNameFor(dir.file("A.B.MID")), script);
  EXPECT_EQ(WRDScriptNameFor(dir.file("a.rcp")), script);  // any letter case
  EXPECT_EQ(WRDScriptNameFor(dir.file("B.MID")), "");
  EXPECT_EQ(WRDScriptNameFor(""), "");
}

}  // namespace
