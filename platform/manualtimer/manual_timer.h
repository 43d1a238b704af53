// A timer whose time moves only when a test moves it.
//
// Threads made with createThread are the timed threads. A timed thread that
// sleeps blocks until the time reaches its deadline. Any other thread (the
// test, or the engine code it calls) that sleeps advances the time by that
// much instead, exactly as advance() does.
//
// advance() moves the time forward one event at a time: at each instant it
// runs the due timer callbacks (on the advancing thread, in deadline order,
// then by event id), then wakes the due sleepers one by one (by deadline,
// then in the order they went to sleep), and after each step waits until
// every timed thread is blocked on the timer again or has ended. So a run is
// the same at every repetition: no two timed threads ever run at once, and
// callbacks never run alongside a timed thread.
//
// Timed threads must block only through this timer (sleep, join); a timed
// thread that waits on anything else for long makes advance() report
// "did not come back" after a while (std::runtime_error) instead of hanging.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/timer.h"

class ManualTimer final : public TimerSystem {
 public:
  explicit ManualTimer(int64_t startMicroseconds = 0, TimerCaps caps = {});
  ~ManualTimer() override;
  ManualTimer(const ManualTimer&) = delete;
  ManualTimer& operator=(const ManualTimer&) = delete;

  // TimerSystem
  TimerResult getDevCaps(TimerCaps* caps) override;
  TimerResult beginPeriod(uint32_t periodMs) override;
  TimerResult endPeriod(uint32_t periodMs) override;
  uint32_t setEvent(uint32_t periodMs, uint32_t resolutionMs, TimerProc proc) override;
  TimerResult killEvent(uint32_t id) override;
  uint32_t timeGetTime() override;
  int64_t nowMicroseconds() override;
  void sleep(uint32_t ms) override;
  std::unique_ptr<TimedThread> createThread(std::function<void()> body) override;

  // The test's side.
  void advance(uint32_t ms) { advanceMicroseconds(int64_t{ms} * 1000); }
  void advanceMicroseconds(int64_t us);
  void advanceTo(int64_t microseconds);
  // The machine stalls for ms: the time jumps, nothing runs in between;
  // then each event whose deadline passed fires once, late, and continues
  // on its own grid, and every sleeper whose deadline passed wakes.
  void stall(uint32_t ms);
  // Waits until every timed thread is blocked on the timer or has ended
  // (for example after resuming threads), without moving the time.
  void settle();
  // Releases every sleeper at once and makes later sleeps return at once,
  // so that threads can end; callbacks stop. The destructor does this too.
  void shutdown();

  // What the engine asked for, for assertions.
  struct EventInfo {
    uint32_t id;
    uint32_t periodMs;
    uint32_t resolutionMs;
    int64_t nextDeadline;  // microseconds
  };
  std::vector<EventInfo> events();
  std::vector<uint32_t> periodsInForce();  // begun and not yet ended
  int sleepingThreads();
  int runningThreads();

  // How long advance() waits for a timed thread to block again before it
  // reports a stuck thread (real time).
  void setStuckTimeoutMilliseconds(int ms) { stuckTimeoutMs_ = ms; }

 private:
  class Thread;
  struct Event {
    uint32_t periodMs;
    uint32_t resolutionMs;
    int64_t origin;
    int64_t next;
    std::shared_ptr<TimerProc> proc;
  };
  struct Sleeper {
    int64_t deadline;
    uint64_t seq;
    bool woken = false;
  };

  bool isTimedThread() const;
  void waitQuiet(std::unique_lock<std::mutex>& lock);
  // Runs the earliest due step at or before limit; false when none is due.
  bool stepLocked(std::unique_lock<std::mutex>& lock, int64_t limit);
  void driveTo(int64_t target);
  void threadEnded(Thread* t);

  std::mutex mutex_;
  std::condition_variable wake_;   // sleepers, joiners and killers wait here
  std::condition_variable quiet_;  // the driver waits here for the timed threads
  std::mutex driverMutex_;         // one thread advances at a time
  int64_t now_;
  TimerCaps caps_;
  int running_ = 0;  // timed threads resumed and not blocked on the timer
  uint64_t sleepSeq_ = 0;
  std::vector<Sleeper*> sleepers_;
  std::map<uint32_t, Event> events_;
  uint32_t nextEventId_ = 1;
  uint32_t callbackRunning_ = 0;
  TimerPeriods periods_;
  bool shutdown_ = false;
  int stuckTimeoutMs_ = 20000;
};
