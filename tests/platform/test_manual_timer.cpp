// The manual timer: callbacks at exact deadlines, timed threads that sleep
// until the test moves the time, and runs that repeat exactly.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "platform/manualtimer/manual_timer.h"

namespace {

// A log written by callbacks and timed threads: "<what>@<ms>".
struct Log {
  std::mutex mutex;
  std::vector<std::string> lines;
  void add(ManualTimer& t, const std::string& what) {
    std::lock_guard lock(mutex);
    lines.push_back(what + "@" + std::to_string(t.nowMicroseconds() / 1000));
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mutex);
    return std::move(lines);
  }
};

}  // namespace

TEST(ManualTimer, PeriodicCallbacksRunAtEachDeadlineAndStopWhenKilled) {
  ManualTimer timer(1000);  // 1 ms
  Log log;
  uint32_t id = timer.setEvent(4, 1, [&] { log.add(timer, "tick"); });
  ASSERT_NE(id, 0u);
  timer.advance(3);
  EXPECT_TRUE(log.take().empty());
  timer.advance(14);  // up to 18 ms
  EXPECT_EQ(log.take(), (std::vector<std::string>{"tick@5", "tick@9", "tick@13", "tick@17"}));
  EXPECT_EQ(timer.nowMicroseconds(), 18000);
  ASSERT_EQ(timer.killEvent(id), kTimerOk);
  EXPECT_EQ(timer.killEvent(id), kTimerNoCanDo);
  timer.advance(100);
  EXPECT_TRUE(log.take().empty());
}

TEST(ManualTimer, PeriodRangeAndResolutionsFollowTheCaps) {
  ManualTimer timer(0, TimerCaps{2, 500});
  TimerCaps caps;
  ASSERT_EQ(timer.getDevCaps(&caps), kTimerOk);
  EXPECT_EQ(caps.periodMin, 2u);
  EXPECT_EQ(caps.periodMax, 500u);
  EXPECT_EQ(timer.getDevCaps(nullptr), kTimerNoCanDo);

  EXPECT_EQ(timer.setEvent(1, 1, [] {}), 0u);    // below the minimum
  EXPECT_EQ(timer.setEvent(501, 1, [] {}), 0u);  // above the maximum
  EXPECT_EQ(timer.setEvent(2, 2, {}), 0u);       // nothing to call
  uint32_t id = timer.setEvent(2, 2, [] {});
  ASSERT_NE(id, 0u);
  ASSERT_EQ(timer.events().size(), 1u);
  EXPECT_EQ(timer.events()[0].periodMs, 2u);
  EXPECT_EQ(timer.events()[0].nextDeadline, 2000);

  EXPECT_EQ(timer.beginPeriod(1), kTimerNoCanDo);
  EXPECT_EQ(timer.beginPeriod(4), kTimerOk);
  EXPECT_EQ(timer.beginPeriod(4), kTimerOk);
  EXPECT_EQ(timer.periodsInForce(), (std::vector<uint32_t>{4, 4}));
  EXPECT_EQ(timer.endPeriod(8), kTimerNoCanDo);
  EXPECT_EQ(timer.endPeriod(4), kTimerOk);
  EXPECT_EQ(timer.endPeriod(4), kTimerOk);
  EXPECT_EQ(timer.endPeriod(4), kTimerNoCanDo);
  EXPECT_TRUE(timer.periodsInForce().empty());
}

TEST(ManualTimer, TimedThreadSleepsUntilTheTestMovesTheTime) {
  ManualTimer timer;
  Log log;
  auto thread = timer.createThread([&] {
    log.add(timer, "start");
    timer.sleep(41);
    log.add(timer, "after41");
    for (int i = 0; i < 3; ++i) {
      timer.sleep(4);
      log.add(timer, "pass");
    }
  });
  timer.advance(10);  // not resumed yet: nothing runs
  EXPECT_TRUE(log.take().empty());
  EXPECT_FALSE(thread->finished());

  thread->resume();
  timer.settle();
  EXPECT_EQ(log.take(), std::vector<std::string>{"start@10"});
  EXPECT_EQ(timer.sleepingThreads(), 1);
  EXPECT_EQ(timer.runningThreads(), 0);

  timer.advance(40);  // 50 ms: one short of the deadline
  EXPECT_TRUE(log.take().empty());
  timer.advance(1);
  EXPECT_EQ(log.take(), std::vector<std::string>{"after41@51"});
  timer.advance(100);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"pass@55", "pass@59", "pass@63"}));
  EXPECT_TRUE(thread->finished());
  thread->join();
  EXPECT_EQ(timer.sleepingThreads(), 0);
}

TEST(ManualTimer, OneStepAtATimeInAFixedOrder) {
  // Two threads and a callback due at the same instants: callbacks first,
  // then the sleepers in the order they went to sleep; every run the same.
  for (int run = 0; run < 20; ++run) {
    ManualTimer timer;
    Log log;
    std::atomic<int> shared{0};
    auto a = timer.createThread([&] {
      for (int i = 0; i < 3; ++i) {
        timer.sleep(10);
        shared.store(shared.load() * 10 + 1);
        log.add(timer, "a");
      }
    });
    auto b = timer.createThread([&] {
      for (int i = 0; i < 3; ++i) {
        timer.sleep(10);
        shared.store(shared.load() * 10 + 2);
        log.add(timer, "b");
      }
    });
    timer.setEvent(10, 1, [&] { log.add(timer, "cb"); });
    a->resume();
    timer.settle();  // a sleeps first
    b->resume();
    timer.advance(30);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"cb@10", "a@10", "b@10", "cb@20", "a@20", "b@20",
                                                    "cb@30", "a@30", "b@30"}));
    EXPECT_EQ(shared.load(), 121212);
    a->join();
    b->join();
  }
}

TEST(ManualTimer, ASleepOutsideTheTimedThreadsMovesTheTime) {
  // Engine code on the test's own thread (QDStreamOpen's 41 ms pause, for
  // one) advances the time and everything due in it.
  ManualTimer timer;
  Log log;
  timer.setEvent(16, 1, [&] { log.add(timer, "cb"); });
  auto t = timer.createThread([&] {
    timer.sleep(20);
    log.add(timer, "thread");
  });
  t->resume();
  timer.sleep(41);
  EXPECT_EQ(timer.nowMicroseconds(), 41000);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"cb@16", "thread@20", "cb@32"}));
  t->join();
}

TEST(ManualTimer, StallFiresMissedCallbacksOnceAndKeepsTheGrid) {
  ManualTimer timer;
  Log log;
  timer.setEvent(1, 1, [&] { log.add(timer, "cb"); });
  timer.advance(2);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"cb@1", "cb@2"}));
  timer.stall(600);
  EXPECT_EQ(log.take(), std::vector<std::string>{"cb@602"});  // once, not 600 times
  timer.advance(2);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"cb@603", "cb@604"}));

  // A stall that is not a whole number of periods lands between grid points.
  ManualTimer t2;
  t2.setEvent(4, 1, [&] { log.add(t2, "cb"); });
  t2.stall(10);
  t2.advance(6);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"cb@10", "cb@12", "cb@16"}));
}

TEST(ManualTimer, StalledSleeperWakesLateOnce) {
  ManualTimer timer;
  Log log;
  auto t = timer.createThread([&] {
    timer.sleep(5);
    log.add(timer, "woke");
    timer.sleep(5);
    log.add(timer, "again");
  });
  t->resume();
  timer.stall(50);
  EXPECT_EQ(log.take(), std::vector<std::string>{"woke@50"});
  timer.advance(5);
  EXPECT_EQ(log.take(), std::vector<std::string>{"again@55"});
  t->join();
}

TEST(ManualTimer, JoinFromTheTestRunsTheTimeUntilTheThreadEnds) {
  // A player-like thread: starts a periodic event, polls a flag the
  // callback sets after 50 callbacks, kills the event and ends.
  ManualTimer timer;
  std::atomic<int> calls{0};
  std::atomic<bool> stop{false};
  int64_t endedAt = 0;
  uint32_t killResult = 99;
  auto player = timer.createThread([&] {
    timer.sleep(41);
    uint32_t id = timer.setEvent(4, 4, [&] {
      if (++calls == 50) stop.store(true);
    });
    while (!stop.load()) timer.sleep(256);
    killResult = static_cast<uint32_t>(timer.killEvent(id));
    endedAt = timer.nowMicroseconds();
  });
  player->resume();
  player->join();
  EXPECT_EQ(calls.load(), 64);  // the callbacks go on until the kill, the last one at 297 ms
  EXPECT_EQ(killResult, static_cast<uint32_t>(kTimerOk));
  // The 50th callback at 41 + 200 ms; the poll notices at 41 + 256.
  EXPECT_EQ(endedAt, 297000);
  EXPECT_TRUE(timer.events().empty());
}

TEST(ManualTimer, TimedThreadJoiningAnotherWaitsOnTheTimer) {
  ManualTimer timer;
  Log log;
  std::unique_ptr<TimedThread> status = timer.createThread([&] {
    timer.sleep(50);
    log.add(timer, "status ends");
  });
  auto player = timer.createThread([&] {
    status->resume();
    status->join();
    log.add(timer, "player sees it");
  });
  player->resume();
  timer.advance(49);
  EXPECT_TRUE(log.take().empty());
  timer.advance(1);
  EXPECT_EQ(log.take(), (std::vector<std::string>{"status ends@50", "player sees it@50"}));
  player->join();
}

TEST(ManualTimer, ThreadNeverResumedIsDroppedUnrun) {
  ManualTimer timer;
  std::atomic<bool> ran{false};
  {
    auto t = timer.createThread([&] { ran = true; });
  }
  auto t2 = timer.createThread([&] { ran = true; });
  t2->join();  // joining a suspended thread drops it as well
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(timer.runningThreads(), 0);
}

TEST(ManualTimer, CallbackMayKillItsOwnEvent) {
  ManualTimer timer;
  int calls = 0;
  uint32_t id = 0;
  id = timer.setEvent(5, 1, [&] {
    if (++calls == 3) timer.killEvent(id);
  });
  timer.advance(100);
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(timer.events().empty());
}

TEST(ManualTimer, MillisecondClockWrapsLikeTheSystemOne) {
  ManualTimer timer((int64_t{1} << 32) * 1000 - 5000);  // 5 ms before the wrap
  EXPECT_EQ(timer.timeGetTime(), 0xFFFFFFFBu);
  timer.advance(10);
  EXPECT_EQ(timer.timeGetTime(), 5u);
  EXPECT_EQ(static_cast<uint32_t>(timer.timeGetTime() - 0xFFFFFFFBu), 10u);
}

TEST(ManualTimer, ThreadWaitingElsewhereIsReportedNotHung) {
  ManualTimer timer;
  timer.setStuckTimeoutMilliseconds(200);
  std::promise<void> release;
  std::shared_future<void> f = release.get_future().share();
  auto t = timer.createThread([f] { f.wait(); });
  t->resume();
  EXPECT_THROW(timer.advance(1), std::runtime_error);
  release.set_value();
  t->join();
}

TEST(ManualTimer, ShutdownReleasesSleepersAndLetsLoopsEnd) {
  ManualTimer timer;
  std::atomic<bool> ended{false};
  auto t = timer.createThread([&] {
    // A loop bounded only by the clock, like the player's 15-minute limit.
    int64_t start = timer.nowMicroseconds();
    while (timer.nowMicroseconds() - start < 900000000) timer.sleep(256);
    ended = true;
  });
  t->resume();
  timer.advance(1000);
  EXPECT_FALSE(ended.load());
  timer.shutdown();
  t->join();
  EXPECT_TRUE(ended.load());
}

TEST(SystemClock, HasAClockAndSleepsButNoPeriodicEvents) {
  TimerSystem& clock = QDSystemClock();
  EXPECT_EQ(clock.setEvent(4, 1, [] {}), 0u);
  TimerCaps caps;
  EXPECT_NE(clock.getDevCaps(&caps), kTimerOk);
  int64_t t0 = clock.nowMicroseconds();
  clock.sleep(2);
  EXPECT_GE(clock.nowMicroseconds() - t0, 2000);
}
