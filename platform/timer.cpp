#include "platform/timer.h"

#include <algorithm>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// A std::thread that waits at a gate until resumed (or dropped).
class PlainThread final : public TimedThread {
 public:
  explicit PlainThread(std::function<void()> body) : body_(std::move(body)) {
    thread_ = std::thread([this] {
      {
        std::unique_lock lock(mutex_);
        gate_.wait(lock, [this] { return state_ != State::Suspended; });
        if (state_ == State::Dropped) return;
      }
      body_();
      std::lock_guard lock(mutex_);
      done_ = true;
    });
  }
  ~PlainThread() override {
    {
      std::lock_guard lock(mutex_);
      if (state_ == State::Suspended) state_ = State::Dropped;
    }
    gate_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  void resume() override {
    {
      std::lock_guard lock(mutex_);
      if (state_ != State::Suspended) return;
      state_ = State::Running;
    }
    gate_.notify_all();
  }
  bool finished() override {
    std::lock_guard lock(mutex_);
    return done_;
  }
  void join() override {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }

 private:
  enum class State { Suspended, Running, Dropped };
  std::function<void()> body_;
  std::mutex mutex_;
  std::condition_variable gate_;
  State state_ = State::Suspended;
  bool done_ = false;
  std::thread thread_;
};

int64_t steadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The clock of an engine given no timer: clock and sleeps work, periodic
// events do not.
class NoPeriodicTimer final : public TimerSystem {
 public:
  TimerResult getDevCaps(TimerCaps*) override { return kTimerNoCanDo; }
  TimerResult beginPeriod(uint32_t) override { return kTimerNoCanDo; }
  TimerResult endPeriod(uint32_t) override { return kTimerNoCanDo; }
  uint32_t setEvent(uint32_t, uint32_t, TimerProc) override { return 0; }
  TimerResult killEvent(uint32_t) override { return kTimerNoCanDo; }
  uint32_t timeGetTime() override { return static_cast<uint32_t>(steadyMicros() / 1000); }
  int64_t nowMicroseconds() override { return steadyMicros(); }
  void sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  std::unique_ptr<TimedThread> createThread(std::function<void()> body) override {
    return QDMakePlainThread(std::move(body));
  }
};

}  // namespace

std::unique_ptr<TimedThread> QDMakePlainThread(std::function<void()> body) {
  return std::make_unique<PlainThread>(std::move(body));
}

TimerSystem& QDSystemClock() {
  static NoPeriodicTimer clock;
  return clock;
}

TimerResult TimerPeriods::begin(uint32_t periodMs, const TimerCaps& caps) {
  if (periodMs < caps.periodMin || periodMs > caps.periodMax) return kTimerNoCanDo;
  std::lock_guard lock(mutex_);
  periods_.push_back(periodMs);
  return kTimerOk;
}

TimerResult TimerPeriods::end(uint32_t periodMs) {
  std::lock_guard lock(mutex_);
  auto it = std::find(periods_.begin(), periods_.end(), periodMs);
  if (it == periods_.end()) return kTimerNoCanDo;
  periods_.erase(it);
  return kTimerOk;
}

std::vector<uint32_t> TimerPeriods::inForce() const {
  std::lock_guard lock(mutex_);
  return periods_;
}
