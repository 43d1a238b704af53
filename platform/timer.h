// The player's time services: the timer's period range, timer resolutions,
// a periodic callback at absolute deadlines, a millisecond clock, sleeping,
// and threads whose timing follows the timer.
//
// A program gives its engines the real timer (platform/realtimer); tests
// give a ManualTimer (platform/manualtimer/manual_timer.h), under which every
// sleep, callback and clock reading follows time that the test advances, so
// that timing rules run in tests without sleeping. Std-only so that the core
// may use it.
#pragma once

#include <cstdint>
#include <vector>
#include <mutex>
#include <functional>
#include <memory>

// Results follow the old multimedia convention: 0 is success.
using TimerResult = int32_t;
constexpr TimerResult kTimerOk = 0;
constexpr TimerResult kTimerNoCanDo = 97;  // a period outside the range, an unknown event

// The periods the timer can run at, in milliseconds.
struct TimerCaps {
  uint32_t periodMin = 1;
  uint32_t periodMax = 1000000;
};

// The timer resolutions asked for and not yet ended (begin/end period pairs),
// shared by the timer backends.
class TimerPeriods {
 public:
  // kTimerNoCanDo for a period outside caps.
  TimerResult begin(uint32_t periodMs, const TimerCaps& caps);
  // kTimerNoCanDo when that period was not begun.
  TimerResult end(uint32_t periodMs);
  std::vector<uint32_t> inForce() const;

 private:
  mutable std::mutex mutex_;
  std::vector<uint32_t> periods_;
};

// Called at each deadline of a periodic event, on the timer's own thread
// (under the manual timer: on the thread that advances time).
using TimerProc = std::function<void()>;

// A thread created suspended. Threads that sleep or wait on the timer must
// be made with TimerSystem::createThread, so that a manual timer knows when
// they run and when they wait.
class TimedThread {
 public:
  virtual ~TimedThread() = default;
  // Lets the body run; later calls do nothing.
  virtual void resume() = 0;
  // The body has returned (false while it has not been resumed).
  virtual bool finished() = 0;
  // Waits for the body to end. Under the manual timer, a join from the
  // thread that drives the time keeps advancing it until the body ends.
  // Destroying a thread that was never resumed drops the body unrun;
  // destroying a resumed thread joins it.
  virtual void join() = 0;
};

class TimerSystem {
 public:
  virtual ~TimerSystem() = default;

  virtual TimerResult getDevCaps(TimerCaps* caps) = 0;
  // Ask for (and release) a timer resolution in milliseconds; calls pair up.
  virtual TimerResult beginPeriod(uint32_t periodMs) = 0;
  virtual TimerResult endPeriod(uint32_t periodMs) = 0;

  // A periodic event: proc runs at start + k * periodMs (k = 1, 2, ...) on
  // absolute deadlines, so lateness never accumulates; deadlines missed by
  // a stalled machine are skipped, not caught up. Returns the event's id,
  // or 0 when the period lies outside the caps.
  virtual uint32_t setEvent(uint32_t periodMs, uint32_t resolutionMs, TimerProc proc) = 0;
  // Stops the event; when it returns, proc is not running and will not run
  // again (unless killEvent is called from proc itself, which returns at once).
  virtual TimerResult killEvent(uint32_t id) = 0;

  // Milliseconds on the monotonic clock (wraps after 49.7 days).
  virtual uint32_t timeGetTime() = 0;
  // Microseconds on the monotonic clock (CLOCK_MONOTONIC for the real timer).
  virtual int64_t nowMicroseconds() = 0;
  virtual void sleep(uint32_t ms) = 0;

  virtual std::unique_ptr<TimedThread> createThread(std::function<void()> body) = 0;
};

// What an engine given no timer uses: a clock and sleeps on the system's
// monotonic clock, plain threads, and no periodic events (setEvent returns
// 0, getDevCaps and beginPeriod fail), so that a program that forgot the
// real timer fails visibly instead of quietly. It keeps no state.
TimerSystem& QDSystemClock();

// A thread on the system's own scheduling, created suspended (the helper
// behind the real timer's createThread).
std::unique_ptr<TimedThread> QDMakePlainThread(std::function<void()> body);
