// The real timer: each periodic event runs on its own thread that sleeps
// with clock_nanosleep to absolute deadlines on CLOCK_MONOTONIC, so a late
// wake-up never delays the next one. The thread asks for SCHED_FIFO; where
// the process may not have it, it sets its timer slack to 1 ns instead so
// that the kernel does not round its wake-ups.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/timer.h"

class RealTimer final : public TimerSystem {
 public:
  RealTimer();
  ~RealTimer() override;  // kills the events still running
  RealTimer(const RealTimer&) = delete;
  RealTimer& operator=(const RealTimer&) = delete;

  TimerResult getDevCaps(TimerCaps* caps) override;
  TimerResult beginPeriod(uint32_t periodMs) override;
  TimerResult endPeriod(uint32_t periodMs) override;
  uint32_t setEvent(uint32_t periodMs, uint32_t resolutionMs, TimerProc proc) override;
  TimerResult killEvent(uint32_t id) override;
  uint32_t timeGetTime() override;
  int64_t nowMicroseconds() override;
  void sleep(uint32_t ms) override;
  std::unique_ptr<TimedThread> createThread(std::function<void()> body) override;

  // How the last event thread was scheduled: "SCHED_FIFO", "timer slack 1 ns",
  // or "" before the first event.
  std::string scheduling() const;

  struct Event;

 private:
  void reapFinished();

  std::mutex mutex_;
  std::map<uint32_t, std::shared_ptr<Event>> events_;
  std::vector<std::shared_ptr<Event>> ended_;  // killed from their own callback, joined later
  TimerPeriods periods_;
  uint32_t nextId_ = 1;
};

