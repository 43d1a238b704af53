// The real timer, checked loosely (the machine may be busy): callbacks come
// at about the period, stop when killed, skip what a stall missed, and
// threads start suspended. Exact timing is measured in bench/, not here.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/realtimer/real_timer.h"

TEST(RealTimer, PeriodicCallbacksComeRoughlyAtThePeriodAndStopWhenKilled) {
  RealTimer timer;
  TimerCaps caps;
  ASSERT_EQ(timer.getDevCaps(&caps), kTimerOk);
  EXPECT_EQ(caps.periodMin, 1u);
  ASSERT_EQ(timer.beginPeriod(2), kTimerOk);
  EXPECT_EQ(timer.beginPeriod(0), kTimerNoCanDo);
  EXPECT_EQ(timer.setEvent(0, 1, [] {}), 0u);

  std::atomic<int> calls{0};
  int64_t start = timer.nowMicroseconds();
  uint32_t id = timer.setEvent(2, 2, [&] { ++calls; });
  ASSERT_NE(id, 0u);
  timer.sleep(200);
  ASSERT_EQ(timer.killEvent(id), kTimerOk);
  int64_t elapsed = timer.nowMicroseconds() - start;
  int atKill = calls.load();
  EXPECT_GE(atKill, 20);                   // 100 expected
  EXPECT_LE(atKill, elapsed / 2000 + 1);  // absolute deadlines never run ahead of the clock
  timer.sleep(20);
  EXPECT_EQ(calls.load(), atKill);
  EXPECT_EQ(timer.killEvent(id), kTimerNoCanDo);
  EXPECT_EQ(timer.endPeriod(2), kTimerOk);
  EXPECT_EQ(timer.endPeriod(2), kTimerNoCanDo);
  EXPECT_FALSE(timer.scheduling().empty());
}

TEST(RealTimer, AStallIsSkippedNotCaughtUp) {
  RealTimer timer;
  std::mutex mutex;
  std::vector<int64_t> times;
  uint32_t id = timer.setEvent(5, 1, [&] {
    int64_t now = timer.nowMicroseconds();
    bool first;
    {
      std::lock_guard lock(mutex);
      first = times.empty();
      times.push_back(now);
    }
    if (first) std::this_thread::sleep_for(std::chrono::milliseconds(60));  // the machine stalls
  });
  timer.sleep(150);
  timer.killEvent(id);
  std::lock_guard lock(mutex);
  ASSERT_GE(times.size(), 3u);
  // Catching up would fire about 12 callbacks right after the stall.
  int64_t stallEnd = times[0] + 60000;
  int soon = 0;
  for (int64_t t : times)
    if (t >= stallEnd && t < stallEnd + 20000) ++soon;
  EXPECT_LE(soon, 6);
}

TEST(RealTimer, CallbackMayKillItsOwnEvent) {
  RealTimer timer;
  std::atomic<int> calls{0};
  std::atomic<uint32_t> id{0};
  std::atomic<int> killedAt{0};
  std::atomic<int> result{-1};
  id = timer.setEvent(1, 1, [&] {
    int n = ++calls;
    uint32_t self = id.load();  // known once setEvent has returned
    if (n >= 3 && self != 0 && killedAt.load() == 0) {
      killedAt = n;
      result = timer.killEvent(self);
    }
  });
  ASSERT_NE(id.load(), 0u);
  for (int i = 0; i < 200 && killedAt.load() == 0; ++i) timer.sleep(5);
  timer.sleep(30);
  ASSERT_NE(killedAt.load(), 0);
  EXPECT_EQ(calls.load(), killedAt.load());  // none after the kill
  EXPECT_EQ(result.load(), kTimerOk);
  EXPECT_EQ(timer.killEvent(id.load()), kTimerNoCanDo);
}

TEST(RealTimer, ClockAndSleepAgree) {
  RealTimer timer;
  uint32_t ms0 = timer.timeGetTime();
  int64_t us0 = timer.nowMicroseconds();
  timer.sleep(30);
  int64_t us = timer.nowMicroseconds() - us0;
  EXPECT_GE(us, 30000);
  EXPECT_LT(us, 2000000);
  uint32_t ms = timer.timeGetTime() - ms0;
  EXPECT_GE(ms, 29u);
  EXPECT_LE(ms, 2000u);
}

TEST(RealTimer, ThreadsStartSuspendedAndDropWhenNeverResumed) {
  RealTimer timer;
  std::atomic<int> ran{0};
  auto a = timer.createThread([&] { ++ran; });
  timer.sleep(20);
  EXPECT_EQ(ran.load(), 0);
  EXPECT_FALSE(a->finished());
  a->resume();
  a->join();
  EXPECT_TRUE(a->finished());
  EXPECT_EQ(ran.load(), 1);
  { auto b = timer.createThread([&] { ++ran; }); }
  EXPECT_EQ(ran.load(), 1);
}

TEST(RealTimer, OffersPeriodicEvents) {
  RealTimer t;
  TimerCaps caps;
  EXPECT_EQ(t.getDevCaps(&caps), kTimerOk);
}
