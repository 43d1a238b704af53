#include "platform/realtimer/real_timer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace {

constexpr int64_t kNsPerMs = 1000000;
// A killed event notices within this even when its period is long.
constexpr int64_t kKillSliceNs = 50 * kNsPerMs;
// Above ordinary threads, below the audio servers' real-time threads.
constexpr int kFifoPriority = 10;
constexpr TimerCaps kCaps{1, 1000000};

std::atomic<int> g_scheduling{0};  // 0 none yet, 1 SCHED_FIFO, 2 timer slack

int64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

timespec toTimespec(int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

void sleepUntil(int64_t deadlineNs) {
  timespec ts = toTimespec(deadlineNs);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void raiseThisThread() {
  sched_param p{};
  p.sched_priority = std::min(kFifoPriority, sched_get_priority_max(SCHED_FIFO));
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0) {
    g_scheduling.store(1);
  } else {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    g_scheduling.store(2);
  }
}

}  // namespace

struct RealTimer::Event {
  int64_t originNs = 0;
  int64_t periodNs = 0;
  TimerProc proc;
  std::atomic<bool> killed{false};
  std::thread thread;

  void run() {
    raiseThisThread();
    int64_t next = originNs + periodNs;
    while (!killed.load()) {
      int64_t now = monotonicNs();
      if (now < next) {
        sleepUntil(std::min(next, now + kKillSliceNs));
        continue;
      }
      try {
        proc();
      } catch (...) {
        // A callback's failure is its own; the timer goes on.
      }
      // The next grid point after now: a stall skips the missed deadlines.
      now = monotonicNs();
      next = originNs + ((now - originNs) / periodNs + 1) * periodNs;
    }
  }
};

RealTimer::RealTimer() = default;

RealTimer::~RealTimer() {
  std::map<uint32_t, std::shared_ptr<Event>> events;
  {
    std::lock_guard lock(mutex_);
    events.swap(events_);
  }
  for (auto& [id, e] : events) {
    e->killed.store(true);
    if (e->thread.joinable()) e->thread.join();
  }
  reapFinished();
}

void RealTimer::reapFinished() {
  std::vector<std::shared_ptr<Event>> ended;
  {
    std::lock_guard lock(mutex_);
    auto self = std::this_thread::get_id();
    auto keep = std::partition(ended_.begin(), ended_.end(),
                               [&](const auto& e) { return e->thread.get_id() == self; });
    ended.assign(std::make_move_iterator(keep), std::make_move_iterator(ended_.end()));
    ended_.erase(keep, ended_.end());
  }
  for (auto& e : ended)
    if (e->thread.joinable()) e->thread.join();
}

TimerResult RealTimer::getDevCaps(TimerCaps* caps) {
  if (!caps) return kTimerNoCanDo;
  *caps = kCaps;
  return kTimerOk;
}

TimerResult RealTimer::beginPeriod(uint32_t periodMs) { return periods_.begin(periodMs, kCaps); }

TimerResult RealTimer::endPeriod(uint32_t periodMs) { return periods_.end(periodMs); }

uint32_t RealTimer::setEvent(uint32_t periodMs, uint32_t, TimerProc proc) {
  if (!proc || periodMs < kCaps.periodMin || periodMs > kCaps.periodMax) return 0;
  reapFinished();
  auto e = std::make_shared<Event>();
  e->originNs = monotonicNs();
  e->periodNs = int64_t{periodMs} * kNsPerMs;
  e->proc = std::move(proc);
  std::lock_guard lock(mutex_);
  uint32_t id = nextId_++;
  if (nextId_ == 0) nextId_ = 1;
  try {
    e->thread = std::thread([raw = e.get()] { raw->run(); });
  } catch (...) {
    return 0;
  }
  events_[id] = std::move(e);
  return id;
}

TimerResult RealTimer::killEvent(uint32_t id) {
  std::shared_ptr<Event> e;
  {
    std::lock_guard lock(mutex_);
    auto it = events_.find(id);
    if (it == events_.end()) return kTimerNoCanDo;
    e = std::move(it->second);
    events_.erase(it);
    e->killed.store(true);
    if (e->thread.get_id() == std::this_thread::get_id()) {
      ended_.push_back(std::move(e));  // from its own callback: it ends when the callback returns
      return kTimerOk;
    }
  }
  if (e->thread.joinable()) e->thread.join();
  reapFinished();
  return kTimerOk;
}

uint32_t RealTimer::timeGetTime() { return static_cast<uint32_t>(monotonicNs() / kNsPerMs); }

int64_t RealTimer::nowMicroseconds() { return monotonicNs() / 1000; }

void RealTimer::sleep(uint32_t ms) { sleepUntil(monotonicNs() + int64_t{ms} * kNsPerMs); }

std::unique_ptr<TimedThread> RealTimer::createThread(std::function<void()> body) {
  return QDMakePlainThread(std::move(body));
}

std::string RealTimer::scheduling() const {
  switch (g_scheduling.load()) {
    case 1: return "SCHED_FIFO";
    case 2: return "timer slack 1 ns";
    default: return "";
  }
}

