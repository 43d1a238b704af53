// An engine on capture devices with the timer given, its play sequence fed
// from the engine's reports through a queue the test drains (as a window's
// event loop would), and the end reports and progress it heard.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "platform/capture/capture_midi.h"
#include "tests/common/test_files.h"

namespace enginetest {

class Session final : public EngineListener {
 public:
  // presenter and glyphs may be null (no picture, no fonts).
  Session(const std::string& folder, TimerSystem& timer, Presenter* presenter = nullptr,
          GlyphSystem* glyphs = nullptr)
      : capture_(folder, 4, [&timer] { return timer.nowMicroseconds(); }),
        engine_(EngineServices{&capture_, &timer, presenter, glyphs}, Settings()),
        seq_(engine_, [this](std::function<void()> f) { push(std::move(f)); },
             [this](int32_t status, const void*) { ends.push_back(status); }) {
    engine_.setListener(this);
  }
  ~Session() override { engine_.setListener(nullptr); }

  static EngineSettings Settings() {
    EngineSettings s;
    s.devices[kQDPortAFirst] = 0;
    s.devices[kQDPortBFirst] = 1;
    s.devices[kQDPortASecond] = kMidiNoDevice;
    s.devices[kQDPortBSecond] = kMidiNoDevice;
    s.timerMidi = 1;
    s.resetMode = 3;  // a GM reset before each song
    return s;
  }

  bool play(const std::string& song) {
    engine_.song().setinFileName(song);
    return seq_.play();
  }
  void drain() {
    for (;;) {
      std::function<void()> f;
      {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return;
        f = std::move(queue_.front());
        queue_.pop_front();
      }
      f();
    }
  }
  bool idle() const { return seq_.state() == PlaySequence::State::Idle; }
  int32_t result() { return engine_.result().get(); }
  std::string log(int device) const { return qtest::ReadText(capture_.logPath(device)); }
  Engine& engine() { return engine_; }
  PlaySequence& sequence() { return seq_; }

  std::vector<int32_t> ends;
  std::atomic<int> progressReports{0};

 private:
  void push(std::function<void()> f) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(f));
  }
  void engineOpened(bool ok) override { push([this, ok] { seq_.opened(ok); }); }
  void engineDone() override { push([this] { seq_.done(); }); }
  void engineClosed(MidiResult r) override { push([this, r] { seq_.closed(r); }); }
  void engineProgress(int32_t) override { ++progressReports; }

  CaptureMidiSystem capture_;
  Engine engine_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  PlaySequence seq_;
};

}  // namespace enginetest
