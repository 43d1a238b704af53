// Two engines in one process play two different songs at the same time on
// capture devices of their own; each log equals the log of its song played
// by an engine alone. On the manual clock the send times match too; on the
// real timer the messages, in order.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/manualtimer/manual_timer.h"
#include "platform/realtimer/real_timer.h"
#include "tests/engine/engine_session.h"
#include "tests/song/song_fixture.h"

namespace {

using songtest::Bytes;
using songtest::Smf;
using songtest::Track;

using enginetest::Session;

// A second of notes: eight eighth notes from key on channel, on port A or B.
Bytes Song(uint8_t key, uint8_t channel, bool portB, uint32_t tempo) {
  Track t;
  t.tempo(0, tempo);
  if (portB) t.meta(0, 0x21, {0x01});
  for (uint8_t i = 0; i < 8; ++i)
    t.at(0, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key + i), 0x50})
        .at(240, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key + i), 0x00});
  t.end();
  return Smf(480, {t});
}

// The message bytes of a log, without the send times.
std::vector<std::string> Messages(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const auto space = line.find(' ');
    out.push_back(space == std::string::npos ? line : line.substr(space + 1));
  }
  return out;
}

class TwoEngines : public ::testing::Test {
 protected:
  void SetUp() override {
    qtest::StartTrace(dir);
    songA = dir.write("a.mid", Song(60, 0, false, 500000));
    songB = dir.write("b.mid", Song(40, 3, true, 400000));
  }

  // Plays each song in an engine of its own, together or one after the
  // other, the time moved by `step` between drains of the queues.
  template <class Timer, class Step>
  void Run(bool together, const std::string& name, Step step) {
    Timer timerA, timerB;
    Session a(dir.file(name + "/a"), timerA), b(dir.file(name + "/b"), timerB);
    auto until = [&](std::function<bool()> done) {
      for (int i = 0; i < 200000 && !done(); ++i) {
        step(timerA);
        a.drain();
        if (together) {
          step(timerB);
          b.drain();
        }
      }
    };
    ASSERT_TRUE(a.play(songA));
    if (together) {
      ASSERT_TRUE(b.play(songB));
      until([&] { return a.idle() && b.idle() && a.ends.size() == 1 && b.ends.size() == 1; });
    } else {
      until([&] { return a.idle() && a.ends.size() == 1; });
      ASSERT_TRUE(b.play(songB));
      for (int i = 0; i < 200000 && !(b.idle() && b.ends.size() == 1); ++i) {
        step(timerB);
        b.drain();
      }
    }
    EXPECT_EQ(a.ends, std::vector<int32_t>{kStatusEndedStop});
    EXPECT_EQ(b.ends, std::vector<int32_t>{kStatusEndedStop});
    EXPECT_EQ(a.result(), 0);
    EXPECT_EQ(b.result(), 0);
    for (int device : {0, 1}) {
      logsA[together][device] = a.log(device);
      logsB[together][device] = b.log(device);
    }
  }

  qtest::TempDir dir;
  std::string songA, songB;
  std::string logsA[2][2], logsB[2][2];  // [together][device]
};

TEST_F(TwoEngines, PlayTwoSongsAtOnceOnTheManualClockAsEachPlaysAlone) {
  auto step = [](ManualTimer& t) { t.advance(10); };
  Run<ManualTimer>(false, "alone", step);
  Run<ManualTimer>(true, "together", step);
  for (int device : {0, 1}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(logsA[1][device], logsA[0][device]);
    EXPECT_EQ(logsB[1][device], logsB[0][device]);
  }
  // Each song reached its own port only: A's notes on device 0, B's on device 1.
  EXPECT_NE(logsA[1][0].find(" 903c50"), std::string::npos);
  EXPECT_EQ(logsA[1][1].find(" 90"), std::string::npos);
  EXPECT_NE(logsB[1][1].find(" 932850"), std::string::npos);
  EXPECT_EQ(logsB[1][0].find(" 93"), std::string::npos);
}

TEST_F(TwoEngines, PlayTwoSongsAtOnceOnTheRealTimerAsEachPlaysAlone) {
  auto step = [](RealTimer& t) { t.sleep(2); };
  Run<RealTimer>(false, "alone", step);
  Run<RealTimer>(true, "together", step);
  for (int device : {0, 1}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(Messages(logsA[1][device]), Messages(logsA[0][device]));
    EXPECT_EQ(Messages(logsB[1][device]), Messages(logsB[0][device]));
  }
}

}  // namespace
