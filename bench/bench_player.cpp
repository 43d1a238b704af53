// How closely the player keeps time on the real timer: a dense song (about
// 60 notes a second, a tempo change on every beat) played on capture
// devices; each message's send time in the log against its ideal time
// (the player's start time plus the exact tick times of the tempo map).
// Reported: lateness p50/p99/max and the drift (slope of lateness over the
// song, ppm), for a timer period of 1 and 8 ms, idle and with the other
// core kept busy. Also the CPU a silent run (MIDIDISABLE 1) takes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "platform/capture/capture_midi.h"
#include "platform/realtimer/real_timer.h"

namespace {

using Bytes = std::vector<uint8_t>;

void vlq(Bytes& b, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = 0x80 | (v & 0x7F);
  while (n) b.push_back(tmp[--n]);
}

void be32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// `seconds` of sixteenth notes on six tracks (five on port A, one on port
// B) at 480 ticks a beat, the tempo moving between 100 and 200 bpm on every beat.
Bytes DenseSong(int beats) {
  std::vector<Bytes> tracks(7);
  Bytes& conductor = tracks[0];
  const uint32_t bpms[] = {100, 120, 140, 160, 180, 200, 170, 130};
  for (int beat = 0; beat < beats; ++beat) {
    uint32_t us = 60000000 / bpms[beat % 8];
    vlq(conductor, beat == 0 ? 0 : 480);
    conductor.insert(conductor.end(), {0xFF, 0x51, 0x03, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)});
  }
  for (int t = 1; t <= 6; ++t) {
    Bytes& tr = tracks[static_cast<size_t>(t)];
    if (t == 6) tr.insert(tr.end(), {0x00, 0xFF, 0x21, 0x01, 0x01});
    uint8_t ch = static_cast<uint8_t>(t - 1);
    uint32_t offset = static_cast<uint32_t>(t * 7);  // tracks out of step, so notes spread over the beat
    for (int n = 0; n < beats * 4; ++n) {
      uint8_t key = static_cast<uint8_t>(48 + (n * 5 + t * 3) % 36);
      vlq(tr, n == 0 ? offset : 120 - 60);
      tr.insert(tr.end(), {uint8_t(0x90 | ch), key, 0x60});
      vlq(tr, 60);
      tr.insert(tr.end(), {uint8_t(0x80 | ch), key, 0x00});
    }
  }
  Bytes out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<uint8_t>(tracks.size()), 0x01, 0xE0};
  for (Bytes& t : tracks) {
    t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    be32(out, static_cast<uint32_t>(t.size()));
    out.insert(out.end(), t.begin(), t.end());
  }
  return out;
}

struct Run {
  std::vector<double> idealUs[2];  // per port, in send order, from the start time
  int64_t startUs = 0;
  double seconds = 0;
};

struct DoneFlag : PlayerListener {
  void playerDone() override { done = 1; }
  std::atomic<int> done{0};
};

// Converts and plays the song on a player of its own; the ideal times of
// the messages per port.
bool PlaySong(MidiOutSystem& devices, TimerSystem& timer, const std::string& path, int period, bool silent,
              Run* run) {
  ResultCode result;
  Player player(devices, timer, result);
  DoneFlag listener;
  player.setListener(&listener);
  TMIDIEXE p(player);
  p.setDEVICEID1A(0);
  p.setDEVICEID2A(1);
  p.setRESETMODE(0);
  p.setTIMERMIDI(period);
  p.setMIDIDISABLE(silent ? 1 : 0);
  TQUORMSTR reader(result);
  reader.setinFileName(path);
  PackedSong song;
  if (!player.open() || !reader.Convert(3, 0, &song)) return false;
  int32_t division = song.division;
  // Ideal times from the packed stream: Σ delta × tempo / division.
  const uint8_t* data = song.data();
  uint32_t length = song.length;
  int64_t tempo = 500000, sum = 0;
  StreamRecordView r;
  for (uint32_t at = 0; at < length && DecodeStreamRecord(data, length, at, &r); at += r.size) {
    sum += int64_t{r.delta} * tempo;
    if (r.kind() == kRecTempo) tempo = r.data;
    if (r.kind() == kRecShort) run->idealUs[r.portB() ? 1 : 0].push_back(double(sum) / division);
  }
  run->seconds = double(sum) / division / 1e6;
  if (!player.take(std::move(song))) return false;
  player.setTimeDivision(division);
  if (!player.start() || !player.release()) return false;
  while (!listener.done.load()) timer.sleep(50);
  run->startUs = player.state().startUs.load();
  player.close();
  return true;
}

std::vector<int64_t> SendTimes(const std::string& log) {
  std::vector<int64_t> out;
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    int64_t t;
    std::string hex;
    if (l >> t >> hex) out.push_back(t);
  }
  return out;
}

struct Spinner {
  explicit Spinner(bool on) {
    if (on)
      thread = std::thread([this] {
        volatile uint64_t x = 0;
        while (!stop.load(std::memory_order_relaxed)) x = x + 1;
      });
  }
  ~Spinner() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
  std::atomic<bool> stop{false};
  std::thread thread;
};

std::string TempFolder(const char* name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

}  // namespace

// Args: timer period (ms), other core busy (0/1). One 20-second song.
static void BM_PlaybackLateness(benchmark::State& state) {
  const int period = static_cast<int>(state.range(0));
  const bool busy = state.range(1) != 0;
  RealTimer timer;
  std::string dir = TempFolder("qmidi-bench-player");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string path = dir + "/dense.mid";
  {
    Bytes song = DenseSong(48);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(song.data()), long(song.size()));
  }
  for (auto _ : state) {
    CaptureMidiSystem capture(dir + "/cap");
    Run run;
    {
      Spinner spin(busy);
      if (!PlaySong(capture, timer, path, period, false, &run)) {
        state.SkipWithError("the song did not play");
        break;
      }
    }
    std::vector<double> late, at;
    for (int port = 0; port < 2; ++port) {
      std::vector<int64_t> sent = SendTimes(capture.logPath(port));
      if (sent.size() < run.idealUs[port].size()) {
        state.SkipWithError("messages missing from the log");
        break;
      }
      for (size_t i = 0; i < run.idealUs[port].size(); ++i) {
        double ideal = double(run.startUs) + run.idealUs[port][i];
        late.push_back(double(sent[i]) - ideal);
        at.push_back(run.idealUs[port][i]);
      }
    }
    if (late.empty()) continue;
    // Drift: the least-squares slope of lateness over the song.
    double n = double(late.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < late.size(); ++i) {
      sx += at[i];
      sy += late[i];
      sxx += at[i] * at[i];
      sxy += at[i] * late[i];
    }
    double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    std::vector<double> sorted = late;
    std::sort(sorted.begin(), sorted.end());
    auto q = [&](double f) { return sorted[static_cast<size_t>(f * double(sorted.size() - 1))]; };
    state.counters["p50_us"] = q(0.5);
    state.counters["p99_us"] = q(0.99);
    state.counters["max_us"] = sorted.back();
    state.counters["min_us"] = sorted.front();
    state.counters["drift_ppm"] = slope * 1e6;
    state.counters["messages"] = n;
    state.counters["notes_per_s"] = n / 2 / run.seconds;
  }
  state.SetLabel(timer.scheduling());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PlaybackLateness)
    ->Args({1, 0})->Args({8, 0})->Args({1, 1})->Args({8, 1})
    ->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// CPU of a silent run (MIDIDISABLE 1) at a timer period of 8 ms, as a share
// of one core over the run's wall time (the reset phase and lead-in included).
static void BM_SilentRunCpu(benchmark::State& state) {
  RealTimer timer;
  CaptureMidiSystem capture(TempFolder("qmidi-bench-silent") + "/cap");
  std::string dir = TempFolder("qmidi-bench-silent");
  std::filesystem::create_directories(dir);
  std::string path = dir + "/dense.mid";
  {
    Bytes song = DenseSong(48);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(song.data()), long(song.size()));
  }
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    auto t0 = std::chrono::steady_clock::now();
    Run run;
    if (!PlaySong(capture, timer, path, 8, true, &run)) {
      state.SkipWithError("the song did not play");
      break;
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    getrusage(RUSAGE_SELF, &after);
    auto seconds = [](const timeval& tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
    double cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                 seconds(before.ru_stime);
    state.counters["cpu_percent"] = cpu / wall * 100;
    state.counters["wall_s"] = wall;
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SilentRunCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
