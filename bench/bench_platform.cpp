// What the platform layer costs the player: how late the real timer's
// callbacks come (idle and with the other core busy), what the soft synth
// needs per second of sound, and what one captured message costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/capture/capture_midi.h"
#include "platform/realtimer/real_timer.h"
#include "platform/softsynth/soft_synth.h"

// Args: period in ms, other core busy (0/1). Runs the timer for 2 s and
// reports the callbacks' lateness against their ideal deadlines.
static void BM_TimerLateness(benchmark::State& state) {
  const int64_t period = state.range(0) * 1000;
  const bool busy = state.range(1) != 0;
  RealTimer timer;
  for (auto _ : state) {
    std::atomic<bool> stop{false};
    std::thread burner;
    if (busy)
      burner = std::thread([&] {
        volatile uint64_t x = 0;
        while (!stop.load(std::memory_order_relaxed)) x = x + 1;
      });
    std::vector<int64_t> late;
    late.reserve(static_cast<size_t>(2000000 / period + 16));
    int64_t start = timer.nowMicroseconds();
    int64_t index = 1;  // the grid point the timer aims at next
    uint32_t id = timer.setEvent(static_cast<uint32_t>(state.range(0)), 1, [&] {
      int64_t now = timer.nowMicroseconds();
      late.push_back(now - (start + index * period));
      index = (timer.nowMicroseconds() - start) / period + 1;  // as the timer skips
    });
    timer.sleep(2000);
    timer.killEvent(id);
    stop = true;
    if (burner.joinable()) burner.join();
    std::sort(late.begin(), late.end());
    if (late.empty()) continue;
    auto at = [&](double q) { return double(late[static_cast<size_t>(q * double(late.size() - 1))]); };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = double(late.back());
    state.counters["callbacks"] = double(late.size());
  }
  state.SetLabel(timer.scheduling());
}
BENCHMARK(BM_TimerLateness)
    ->Args({1, 0})->Args({8, 0})->Args({1, 1})->Args({8, 1})
    ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Offline rendering of one second of a 16-note chord on 16 channels.
static void BM_SoftSynthSecondOfSound(benchmark::State& state) {
  if (!std::filesystem::exists(kDefaultSoundFont)) {
    state.SkipWithError("no GM sound font");
    return;
  }
  SoftSynthConfig c;
  c.offline = true;
  SoftSynthSystem synth(c);
  std::unique_ptr<MidiOutPort> port;
  if (synth.open(kMidiMapper, &port) != kMidiOk) {
    state.SkipWithError("no synth");
    return;
  }
  std::vector<float> buf(44100 * 2);
  for (auto _ : state) {
    state.PauseTiming();
    for (uint32_t ch = 0; ch < 16; ++ch)
      port->shortMessage(0x90 | ch | ((48 + 2 * ch) << 8) | (100u << 16));
    state.ResumeTiming();
    synth.render(buf.data(), 44100);
    state.PauseTiming();
    port->reset();
    state.ResumeTiming();
  }
  port->close();
}
BENCHMARK(BM_SoftSynthSecondOfSound)->Unit(benchmark::kMillisecond);

// One short message through a capture device (a line written to its log).
static void BM_CaptureShortMessage(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "qmidi-bench-capture").string();
  CaptureMidiSystem set(dir, 1, [] { return int64_t{123456789}; });
  std::unique_ptr<MidiOutPort> port;
  set.open(0, &port);
  for (auto _ : state) port->shortMessage(0x643C90);
  port->close();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CaptureShortMessage);

// A song on 32 channels, rendered offline: every beat (half a second) each
// channel of both ports changes its note, with its own program. With two
// ports port B plays channels 17-32 of the synth; with one, port B's
// messages go to port A's channels (where they would land without the
// second port). The ratio of the two times is what two ports cost.
static void BM_SoftSynthPorts(benchmark::State& state) {
  if (!std::filesystem::exists(kDefaultSoundFont)) {
    state.SkipWithError("no GM sound font");
    return;
  }
  const bool twoPorts = state.range(0) == 2;
  SoftSynthConfig c;
  c.offline = true;
  SoftSynthSystem synth(c);
  std::unique_ptr<MidiOutPort> a, b;
  if (synth.open(kMidiMapper, &a) != kMidiOk || synth.open(kMidiMapper, &b) != kMidiOk) {
    state.SkipWithError("no synth");
    return;
  }
  b->servePort(1);
  MidiOutPort* ports[2] = {a.get(), twoPorts ? b.get() : a.get()};
  constexpr int kBeats = 16, kBeatFrames = 22050;
  std::vector<float> buf(kBeatFrames * 2);
  for (auto _ : state) {
    for (int p = 0; p < 2; ++p)
      for (uint32_t ch = 0; ch < 16; ++ch) ports[p]->shortMessage(0xC0 | ch | ((ch * 7 + p * 3) % 128) << 8);
    for (int beat = 0; beat < kBeats; ++beat) {
      for (int p = 0; p < 2; ++p) {
        for (uint32_t ch = 0; ch < 16; ++ch) {
          const uint32_t key = 36 + (ch * 3 + p * 5 + static_cast<uint32_t>(beat) * 7) % 48;
          ports[p]->shortMessage(0x90 | ch | key << 8 | 90u << 16);
        }
      }
      synth.render(buf.data(), kBeatFrames);
      for (int p = 0; p < 2; ++p) ports[p]->reset();
    }
  }
  state.counters["seconds_of_sound"] = kBeats * 0.5;
  a->close();
  b->close();
}
BENCHMARK(BM_SoftSynthPorts)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
