#include "platform/manualtimer/manual_timer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <thread>

namespace {
thread_local ManualTimer* t_timedBy = nullptr;  // the timer whose timed thread this is
thread_local bool t_inCallback = false;

[[noreturn]] void stuck(const char* what) {
  std::fprintf(stderr, "ManualTimer: %s\n", what);
  throw std::runtime_error(std::string("ManualTimer: ") + what);
}
}  // namespace

class ManualTimer::Thread final : public TimedThread {
 public:
  Thread(ManualTimer* timer, std::function<void()> body) : timer_(timer), body_(std::move(body)) {
    thread_ = std::thread([this] { run(); });
  }

  ~Thread() override {
    try {
      join();
    } catch (...) {
      // A stuck thread: let the clock run free so that it can end.
      timer_->shutdown();
      if (thread_.joinable()) thread_.join();
    }
  }

  void resume() override {
    std::lock_guard lock(timer_->mutex_);
    if (state_ != State::Suspended) return;
    state_ = State::Running;
    ++timer_->running_;  // counted from now on, so that the driver waits for it
    timer_->wake_.notify_all();
  }

  bool finished() override {
    std::lock_guard lock(timer_->mutex_);
    return done_;
  }

  void join() override {
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
    if (timer_->isTimedThread()) {
      std::unique_lock lock(timer_->mutex_);
      if (state_ == State::Suspended) dropLocked(lock);
      if (!done_) {
        // Blocked on the timer while the other thread runs; it counts us
        // again when it ends.
        ++timedJoiners_;
        --timer_->running_;
        timer_->quiet_.notify_all();
        timer_->wake_.wait(lock, [this] { return done_; });
      }
    } else {
      if (t_inCallback) throw std::logic_error("ManualTimer: join from a timer callback");
      std::unique_lock driver(timer_->driverMutex_);
      std::unique_lock lock(timer_->mutex_);
      if (state_ == State::Suspended) dropLocked(lock);
      while (!done_) {
        timer_->waitQuiet(lock);
        if (done_) break;
        if (timer_->shutdown_) {
          timer_->wake_.wait(lock, [this] { return done_; });
          break;
        }
        if (!timer_->stepLocked(lock, std::numeric_limits<int64_t>::max()))
          stuck("a joined thread waits, and nothing is due that could wake it");
      }
    }
    thread_.join();
  }

 private:
  friend class ManualTimer;
  enum class State { Suspended, Running, Dropped };

  // Never resumed: the thread ends without running the body.
  void dropLocked(std::unique_lock<std::mutex>& lock) {
    state_ = State::Dropped;
    timer_->wake_.notify_all();
    timer_->wake_.wait(lock, [this] { return done_; });
  }

  void run() {
    {
      std::unique_lock lock(timer_->mutex_);
      timer_->wake_.wait(lock, [this] { return state_ != State::Suspended; });
      if (state_ == State::Dropped) {
        done_ = true;
        timer_->wake_.notify_all();
        return;
      }
    }
    t_timedBy = timer_;
    try {
      body_();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "ManualTimer: a timed thread ended with an exception: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "ManualTimer: a timed thread ended with an exception\n");
    }
    timer_->threadEnded(this);
  }

  ManualTimer* timer_;
  std::function<void()> body_;
  // Guarded by the timer's mutex.
  State state_ = State::Suspended;
  bool done_ = false;
  int timedJoiners_ = 0;
  std::thread thread_;
};

ManualTimer::ManualTimer(int64_t startMicroseconds, TimerCaps caps)
    : now_(startMicroseconds), caps_(caps) {}

ManualTimer::~ManualTimer() { shutdown(); }

bool ManualTimer::isTimedThread() const { return t_timedBy == this; }

void ManualTimer::threadEnded(Thread* t) {
  std::lock_guard lock(mutex_);
  t->done_ = true;
  running_ += t->timedJoiners_ - 1;  // the joiners run again, this one stops
  t->timedJoiners_ = 0;
  wake_.notify_all();
  quiet_.notify_all();
}

void ManualTimer::waitQuiet(std::unique_lock<std::mutex>& lock) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(stuckTimeoutMs_);
  while (running_ > 0 && !shutdown_) {
    if (quiet_.wait_until(lock, limit) == std::cv_status::timeout && running_ > 0 && !shutdown_)
      stuck("a timed thread did not come back to the timer (it waits on something else or never stops)");
  }
}

bool ManualTimer::stepLocked(std::unique_lock<std::mutex>& lock, int64_t limit) {
  uint32_t eventId = 0;
  const Event* event = nullptr;
  for (const auto& [id, e] : events_) {  // by id, so the lower id wins a tie
    if (!event || e.next < event->next) {
      event = &e;
      eventId = id;
    }
  }
  Sleeper* sleeper = nullptr;
  for (Sleeper* s : sleepers_) {
    if (!sleeper || s->deadline < sleeper->deadline ||
        (s->deadline == sleeper->deadline && s->seq < sleeper->seq))
      sleeper = s;
  }
  bool runEvent;
  int64_t t;
  if (event && (!sleeper || event->next <= sleeper->deadline)) {
    runEvent = true;
    t = event->next;
  } else if (sleeper) {
    runEvent = false;
    t = sleeper->deadline;
  } else {
    return false;
  }
  if (t > limit) return false;
  now_ = std::max(now_, t);

  if (runEvent) {
    std::shared_ptr<TimerProc> proc = event->proc;
    callbackRunning_ = eventId;
    lock.unlock();
    t_inCallback = true;
    try {
      (*proc)();
    } catch (...) {
      // A callback's failure is its own business; the timer goes on.
    }
    t_inCallback = false;
    lock.lock();
    callbackRunning_ = 0;
    wake_.notify_all();
    if (auto it = events_.find(eventId); it != events_.end()) {
      Event& e = it->second;
      int64_t p = int64_t{e.periodMs} * 1000;
      e.next = e.origin + ((now_ - e.origin) / p + 1) * p;  // the next grid point
    }
  } else {
    sleepers_.erase(std::find(sleepers_.begin(), sleepers_.end(), sleeper));
    sleeper->woken = true;
    ++running_;  // counted before it runs, so that the next wait sees it
    wake_.notify_all();
  }
  return true;
}

void ManualTimer::driveTo(int64_t target) {
  std::unique_lock lock(mutex_);
  for (;;) {
    waitQuiet(lock);
    if (shutdown_ || !stepLocked(lock, target)) break;
  }
  now_ = std::max(now_, target);
}

void ManualTimer::advanceMicroseconds(int64_t us) {
  if (isTimedThread()) throw std::logic_error("ManualTimer: a timed thread cannot advance the time");
  if (t_inCallback) return;
  std::lock_guard driver(driverMutex_);
  int64_t target;
  {
    std::lock_guard lock(mutex_);
    target = now_ + std::max<int64_t>(us, 0);
  }
  driveTo(target);
}

void ManualTimer::advanceTo(int64_t microseconds) {
  if (isTimedThread()) throw std::logic_error("ManualTimer: a timed thread cannot advance the time");
  if (t_inCallback) return;
  std::lock_guard driver(driverMutex_);
  driveTo(microseconds);
}

void ManualTimer::stall(uint32_t ms) {
  if (isTimedThread()) throw std::logic_error("ManualTimer: a timed thread cannot advance the time");
  if (t_inCallback) return;
  std::lock_guard driver(driverMutex_);
  int64_t target;
  {
    std::unique_lock lock(mutex_);
    waitQuiet(lock);
    now_ += int64_t{ms} * 1000;
    target = now_;
    for (auto& [id, e] : events_) e.next = std::min(e.next, now_);
  }
  driveTo(target);
}

void ManualTimer::settle() {
  if (isTimedThread() || t_inCallback) return;
  std::lock_guard driver(driverMutex_);
  std::unique_lock lock(mutex_);
  waitQuiet(lock);
}

void ManualTimer::shutdown() {
  std::lock_guard lock(mutex_);
  if (shutdown_) return;
  shutdown_ = true;
  for (Sleeper* s : sleepers_) {
    s->woken = true;
    ++running_;
  }
  sleepers_.clear();
  events_.clear();
  wake_.notify_all();
  quiet_.notify_all();
}

TimerResult ManualTimer::getDevCaps(TimerCaps* caps) {
  if (!caps) return kTimerNoCanDo;
  *caps = caps_;
  return kTimerOk;
}

TimerResult ManualTimer::beginPeriod(uint32_t periodMs) { return periods_.begin(periodMs, caps_); }

TimerResult ManualTimer::endPeriod(uint32_t periodMs) { return periods_.end(periodMs); }

uint32_t ManualTimer::setEvent(uint32_t periodMs, uint32_t resolutionMs, TimerProc proc) {
  if (!proc || periodMs < caps_.periodMin || periodMs > caps_.periodMax) return 0;
  std::lock_guard lock(mutex_);
  if (shutdown_) return 0;
  uint32_t id = nextEventId_++;
  if (nextEventId_ == 0) nextEventId_ = 1;
  events_[id] = Event{periodMs, resolutionMs, now_, now_ + int64_t{periodMs} * 1000,
                      std::make_shared<TimerProc>(std::move(proc))};
  return id;
}

TimerResult ManualTimer::killEvent(uint32_t id) {
  std::unique_lock lock(mutex_);
  auto it = events_.find(id);
  if (it == events_.end()) return kTimerNoCanDo;
  events_.erase(it);
  if (!t_inCallback) wake_.wait(lock, [&] { return callbackRunning_ != id; });
  return kTimerOk;
}

uint32_t ManualTimer::timeGetTime() {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(static_cast<uint64_t>(now_ / 1000));
}

int64_t ManualTimer::nowMicroseconds() {
  std::lock_guard lock(mutex_);
  return now_;
}

void ManualTimer::sleep(uint32_t ms) {
  if (!isTimedThread()) {
    if (!t_inCallback) advanceMicroseconds(int64_t{ms} * 1000);
    return;
  }
  if (ms == 0) return;
  std::unique_lock lock(mutex_);
  if (shutdown_) {
    now_ += int64_t{ms} * 1000;  // after shutdown the clock runs free, so wait loops still end
    return;
  }
  Sleeper self{now_ + int64_t{ms} * 1000, sleepSeq_++};
  sleepers_.push_back(&self);
  --running_;
  quiet_.notify_all();
  wake_.wait(lock, [&] { return self.woken; });
}

std::unique_ptr<TimedThread> ManualTimer::createThread(std::function<void()> body) {
  return std::make_unique<Thread>(this, std::move(body));
}

std::vector<ManualTimer::EventInfo> ManualTimer::events() {
  std::lock_guard lock(mutex_);
  std::vector<EventInfo> out;
  for (const auto& [id, e] : events_) out.push_back({id, e.periodMs, e.resolutionMs, e.next});
  return out;
}

std::vector<uint32_t> ManualTimer::periodsInForce() { return periods_.inForce(); }

int ManualTimer::sleepingThreads() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(sleepers_.size());
}

int ManualTimer::runningThreads() {
  std::lock_guard lock(mutex_);
  return running_;
}
