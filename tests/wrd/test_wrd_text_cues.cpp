// The WRD screen text as timed lines: when each row of text appears and
// goes, against a time table of a 4/4 song of division 480 at 120 a minute.
#include <gtest/gtest.h>

#include "engine/wrd/wrd_text_cues.h"
#include "tests/wrd/wrd_test_util.h"

using namespace wrdtest;

namespace {

constexpr int32_t kBar = 1920;

// A marker every 120 ticks for `bars` bars.
std::vector<TimeTableEntry> Table(int bars) {
  std::vector<TimeTableEntry> t;
  for (int32_t tick = 0; tick <= bars * kBar; tick += 120)
    t.push_back(
        {static_cast<uint32_t>(tick * 25 / 24), tick / kBar * 10000 + tick % kBar, 0x04020000});
  return t;
}

class WrdTextCues : public WrdTest {
 protected:
  std::vector<TScreenTextCue> Cues(const std::string& script, int bars) {
    EXPECT_TRUE(Compile(script));
    EXPECT_TRUE(subWRDTableCalc());
    table_ = Table(bars);
    return WRDScreenTextCues(WRDState(), table_.data(), static_cast<uint32_t>(table_.size()));
  }
  // When the executor runs an entry of this time: at the first marker past
  // the time less its look-ahead of 3 ticks.
  uint32_t MsOf(int32_t time) const {
    for (const TimeTableEntry& e : table_)
      if (e.position > time - 3) return e.ms;
    return UINT32_MAX;
  }
  std::vector<TimeTableEntry> table_;
};

}  // namespace

TEST_F(WrdTextCues, ARowLastsFromItsTextUntilItIsOverwrittenOrCleared) {
  const auto cues = Cues(Lines({"Hello", "@LOCATE(6,1)", "World", "@LOCATE(1,1)", "Bye", "@ESC(2J)",
                                "Last", "@WAIT(60)", "Never"}),
                         40);
  const auto text = EntriesOf(kWRDOpText);
  const auto clear = EntriesOf(kWRDOpClearText);
  ASSERT_EQ(text.size(), 5u);
  ASSERT_EQ(clear.size(), 1u);
  ASSERT_EQ(cues.size(), 3u);
  // "World" continues the row "Hello" began: one line from the first word.
  EXPECT_EQ(cues[0].text, "HelloWorld");
  EXPECT_EQ(cues[0].startMs, MsOf(text[0].time));
  EXPECT_EQ(cues[0].row, 0);
  // "Bye" over its start is other text: a new line from then on.
  EXPECT_EQ(cues[0].endMs, MsOf(text[2].time));
  EXPECT_EQ(cues[1].text, "ByeloWorld");
  EXPECT_EQ(cues[1].startMs, MsOf(text[2].time));
  EXPECT_EQ(cues[1].endMs, MsOf(clear[0].time));
  // The last line stays until the song ends; text after the song never shows.
  EXPECT_EQ(cues[2].text, "Last");
  EXPECT_EQ(cues[2].startMs, MsOf(text[3].time));
  EXPECT_EQ(cues[2].endMs, table_.back().ms);
}

TEST_F(WrdTextCues, LinesScrollUpWithTheScreenAndTheTopOneGoes) {
  std::vector<std::string> lines;
  for (int i = 1; i <= 26; ++i) lines.push_back("Line " + std::to_string(i));
  std::string script;
  for (const std::string& l : lines) script += l + "\r\n";
  const auto cues = Cues(script, 40);
  const auto scrolls = EntriesOf(kWRDOpScroll);  // one after each of the last three lines
  ASSERT_EQ(cues.size(), 26u);
  ASSERT_EQ(scrolls.size(), 3u);
  // Each scroll takes the top line away; the lines moved up stay whole.
  for (size_t i = 0; i < cues.size(); ++i) {
    EXPECT_EQ(cues[i].text, lines[i]);
    EXPECT_EQ(cues[i].endMs, i < scrolls.size() ? MsOf(scrolls[i].time) : table_.back().ms) << i;
  }
  EXPECT_EQ(cues[25].row, 23);
}

TEST_F(WrdTextCues, ErasingPartOfARowEndsItsLine) {
  const auto cues = Cues(Lines({"Keep this", "Other", "@TCLS(1,1,4,1)", "More"}), 40);
  const auto erase = EntriesOf(kWRDOpErase);
  ASSERT_EQ(erase.size(), 1u);
  ASSERT_EQ(cues.size(), 4u);
  EXPECT_EQ(cues[0].text, "Keep this");
  EXPECT_EQ(cues[0].endMs, MsOf(erase[0].time));
  // What the erase left of the row goes on as a line of its own.
  EXPECT_EQ(cues[2].text, "this");
  EXPECT_EQ(cues[2].startMs, MsOf(erase[0].time));
  EXPECT_EQ(cues[1].text, "Other");
  EXPECT_EQ(cues[1].endMs, table_.back().ms);
}
