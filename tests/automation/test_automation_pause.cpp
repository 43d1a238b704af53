// PAUSE and RESTART on the capture devices: the releases at the pause, no
// note while it lasts, and the song going on where it stood.
#include <algorithm>

#include "tests/automation/automation_fixture.h"

using namespace autotest;

class PauseTest : public AutomationTest {};

namespace {

bool IsNoteOn(const std::string& m) { return m.size() == 6 && m[0] == '9' && m.substr(4) != "00"; }

}  // namespace

TEST_F(PauseTest, PauseReleasesTheNotesHoldsTheSongAndRestartGoesOnWhereItStood) {
  constexpr int kBeats = 12;
  const std::string path = song("twelve.mid", Song(kBeats));
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  Sink sink;
  a.exportObject(QStringLiteral("/sink"), &sink);
  const QString oa = a.create(), ob = b.create();
  ASSERT_FALSE(IsError(a.setSink(oa, a.uniqueName(), QStringLiteral("/sink"))));
  a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  a.set(oa, QStringLiteral("MIDICURRENTTIME2"), 1);  // position
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  // Into the song's third beat, in the first half of a beat: a note sounds.
  ASSERT_TRUE(SpinUntil([&] {
    const int ms = a.get_i(oa, QStringLiteral("MIDICURRENTTIME1"));
    return ms >= 1000;
  }, 15000));
  ASSERT_TRUE(SpinUntil([&] {
    const auto m = Messages(engine.capture());
    return !m.empty() && IsNoteOn(m.back().second);
  }, 3000));

  // The other client's PAUSE does nothing.
  ASSERT_FALSE(IsError(b.method(ob, QStringLiteral("PAUSE"))));
  const size_t progressBefore = sink.progress();
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PAUSE"))));
  EXPECT_EQ(a.get_i(oa, QStringLiteral("ERRORCODE")), 0);
  Spin(100);
  const int heldMs = a.get_i(oa, QStringLiteral("MIDICURRENTTIME1"));
  const int heldPosition = a.get_i(oa, QStringLiteral("MIDICURRENTTIME2"));
  const size_t heldProgress = sink.progress();
  const size_t heldLines = engine.capture().size();
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PAUSE")))) << "a second PAUSE does nothing";
  Spin(1200);
  EXPECT_EQ(a.get_i(oa, QStringLiteral("MIDICURRENTTIME1")), heldMs) << "the time stands";
  EXPECT_EQ(a.get_i(oa, QStringLiteral("MIDICURRENTTIME2")), heldPosition);
  EXPECT_EQ(engine.capture().size(), heldLines) << "nothing is sent during the pause";
  EXPECT_EQ(sink.progress(), heldProgress) << "no progress reports during the pause";
  EXPECT_GT(heldProgress, progressBefore - 1);
  EXPECT_TRUE(sink.ends().empty());
  // Another client's RESTART does nothing either.
  ASSERT_FALSE(IsError(b.method(ob, QStringLiteral("RESTART"))));
  Spin(300);
  EXPECT_EQ(a.get_i(oa, QStringLiteral("MIDICURRENTTIME1")), heldMs);

  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("RESTART"))));
  ASSERT_TRUE(SpinUntil([&] { return !sink.ends().empty(); }, 20000));
  EXPECT_EQ(sink.ends(), std::vector<int32_t>{-1});
  EXPECT_GT(sink.progress(), heldProgress);

  // The capture log: every note of the song once, in order; at the pause the
  // sounding note released and all sound off on all 16 channels, then
  // nothing until the song goes on.
  const auto msgs = Messages(engine.capture());
  std::vector<std::string> ons;
  std::vector<int64_t> onTimes;
  for (const auto& [t, m] : msgs)
    if (IsNoteOn(m)) {
      ons.push_back(m);
      onTimes.push_back(t);
    }
  std::vector<std::string> want;
  char hex[8];
  for (int i = 0; i < kBeats; ++i) {
    std::snprintf(hex, sizeof hex, "90%02x64", 60 + i % 12);
    want.push_back(hex);
  }
  EXPECT_EQ(ons, want) << "no note lost or repeated";
  // The beat across the pause is longer by the pause; the others keep 500 ms.
  ASSERT_EQ(onTimes.size(), static_cast<size_t>(kBeats));
  int longBeats = 0;
  size_t pausedBeat = 0;
  for (size_t i = 1; i < onTimes.size(); ++i) {
    const int64_t gap = onTimes[i] - onTimes[i - 1];
    if (gap > 1200000) {
      ++longBeats;
      pausedBeat = i;
      EXPECT_GT(gap, 500000 + 1400000);
    } else {
      EXPECT_NEAR(static_cast<double>(gap), 500000.0, 30000.0) << "beat " << i;
    }
  }
  ASSERT_EQ(longBeats, 1);
  // Between the note before the pause and the next: its release, then 16 x
  // all sound off, and nothing else.
  std::vector<std::string> between;
  for (const auto& [t, m] : msgs)
    if (t > onTimes[pausedBeat - 1] && t < onTimes[pausedBeat]) between.push_back(m);
  ASSERT_GE(between.size(), 16u) << "the releases";
  const std::string sounding = want[pausedBeat - 1];
  const std::string off = "80" + sounding.substr(2, 2);
  EXPECT_TRUE(std::find(between.begin(), between.end(), off + "00") != between.end() ||
              std::find(between.begin(), between.end(), off + "40") != between.end())
      << "the sounding note is released";
  int soundOff = 0;
  for (const std::string& m : between) {
    EXPECT_FALSE(IsNoteOn(m)) << m;
    if (m.size() == 6 && m[0] == 'b' && m.substr(2) == "7800") ++soundOff;
  }
  EXPECT_EQ(soundOff, 16) << "all sound off on every channel";
}
