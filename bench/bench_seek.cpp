// Jumps inside a song: from the call to the first message at the target for
// a ten-minute song on the real timer (the walk and the chase, then the
// next timer deadline), the walk alone, and the WRD screen rebuilt at the
// end of a five-minute script (run from the song's start on a quiet
// display, then shown once).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/player/midi_player.h"
#include "engine/player/song_chase.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_runtime.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "platform/realtimer/real_timer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Ten minutes at 120 beats a minute (division 480): on 16 channels an
// eighth note each beat with a controller and a bend before it, a program
// change every bar and a GS message every eight bars.
std::vector<uint8_t> TenMinuteStream() {
  std::vector<uint8_t> out;
  auto put = [&](uint32_t delta, uint32_t word0, const std::vector<uint8_t>& payload = {}) {
    uint8_t le[4];
    StoreLe32(le, word0 | uint32_t{kRecDeltaWord} << 24);
    out.insert(out.end(), le, le + 4);
    StoreLe32(le, delta);
    out.insert(out.end(), le, le + 4);
    out.insert(out.end(), payload.begin(), payload.end());
    while (out.size() % 4) out.push_back(0);
  };
  put(0, 500000 | uint32_t{kRecTempo} << 24);
  const std::vector<uint8_t> gs = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x02, 0x18, 0xF7};
  for (uint32_t beat = 0; beat < 1200; ++beat) {
    uint32_t delta = beat == 0 ? 0 : 240;
    if (beat % 32 == 0) {
      put(delta, static_cast<uint32_t>(gs.size()) | uint32_t{kRecLong} << 24, gs);
      delta = 0;
    }
    for (uint32_t ch = 0; ch < 16; ++ch) {
      if (beat % 4 == 0) put(ch == 0 ? delta : 0, 0xC0 | ch | (beat / 4 % 128) << 8), delta = 0;
      put(ch == 0 ? delta : 0, 0xB0 | ch | 7 << 8 | (beat % 128) << 16);
      delta = 0;
      put(0, 0xE0 | ch | (beat % 128) << 16);
      put(0, 0x90 | ch | (40 + ch) << 8 | 100 << 16);
    }
    for (uint32_t ch = 0; ch < 16; ++ch) put(ch == 0 ? 240 : 0, 0x80 | ch | (40 + ch) << 8);
  }
  put(240, uint32_t{kRecNop} << 24);
  return out;
}

// A device that notes when the first message after `armed` arrives.
class FirstMessage final : public MidiOutSystem, public MidiOutPort {
 public:
  int deviceCount() override { return 1; }
  std::string productName(int) override { return "bench"; }
  bool supportsVolume(int) override { return false; }
  MidiResult open(int, std::unique_ptr<MidiOutPort>* port) override {
    *port = std::make_unique<Forward>(*this);
    return kMidiOk;
  }
  MidiResult shortMessage(uint32_t) override { return note(); }
  MidiResult longMessage(const uint8_t*, uint32_t) override { return note(); }
  MidiResult reset() override { return kMidiOk; }
  MidiResult getVolume(uint32_t*) override { return kMidiNotSupported; }
  MidiResult setVolume(uint32_t) override { return kMidiNotSupported; }
  MidiResult close() override { return kMidiOk; }
  std::atomic<bool> armed{false};
  std::atomic<int64_t> firstNs{0};

 private:
  struct Forward final : MidiOutPort {
    explicit Forward(FirstMessage& to) : to_(to) {}
    MidiResult shortMessage(uint32_t m) override { return to_.shortMessage(m); }
    MidiResult longMessage(const uint8_t* d, uint32_t n) override { return to_.longMessage(d, n); }
    MidiResult reset() override { return kMidiOk; }
    MidiResult getVolume(uint32_t*) override { return kMidiNotSupported; }
    MidiResult setVolume(uint32_t) override { return kMidiNotSupported; }
    MidiResult close() override { return kMidiOk; }
    FirstMessage& to_;
  };
  MidiResult note() {
    if (armed.load()) {  // the time first, then the word that it is there
      firstNs = Clock::now().time_since_epoch().count();
      armed = false;
    }
    return kMidiOk;
  }
};

void BM_SeekWalkAndChaseTenMinutes(benchmark::State& state) {
  const std::vector<uint8_t> song = TenMinuteStream();
  const auto length = static_cast<uint32_t>(song.size());
  QDChase chase;
  for (auto _ : state) {
    const QDSongPoint p = QDFindSongPoint(song.data(), length, 590000000, 480, &chase);
    benchmark::DoNotOptimize(p);
  }
  state.counters["records kB"] = length / 1024.0;
  state.counters["chase items"] = static_cast<double>(chase.size());
}
BENCHMARK(BM_SeekWalkAndChaseTenMinutes)->Unit(benchmark::kMillisecond);

// The player on the real timer at the engine's default period (8 ms): the
// call, then the first message (the silencing) the timer callback sends.
void BM_SeekToFirstSoundTenMinutes(benchmark::State& state) {
  const std::vector<uint8_t> song = TenMinuteStream();
  FirstMessage device;
  RealTimer timer;
  ResultCode result;
  Player player(device, timer, result);
  player.state().DEVICEID1A = 0;
  player.state().TIMERMIDI = static_cast<int32_t>(state.range(0));
  if (!player.open() ||
      !player.take(PackedSongOf(song.data(), static_cast<uint32_t>(song.size()), nullptr, 0, 480)) ||
      !player.start() || !player.release()) {
    state.SkipWithError("the player did not start");
    return;
  }
  for (int i = 0; i < 1000 && (player.state().periodInForce.load() == 0 || player.positionMs() < 100); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  int64_t k = 0;
  for (auto _ : state) {
    const int64_t target = 1000 + (++k * 29000) % 589000;  // forwards and backwards over the song
    device.armed = true;
    const auto t0 = Clock::now();
    if (!player.seek(target)) {
      state.SkipWithError("the song no longer plays");
      break;
    }
    while (device.armed.load()) std::this_thread::yield();
    state.SetIterationTime(static_cast<double>(device.firstNs.load() - t0.time_since_epoch().count()) / 1e9);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  player.stop();
  player.close();
}
BENCHMARK(BM_SeekToFirstSoundTenMinutes)->Arg(8)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// Five minutes of script (150 bars at 120 beats a minute): each bar text,
// lines, a circle and a palette; a picture every ten bars, a fade every
// four, the screen cleared every sixteen.
std::string FiveMinuteScript() {
  std::string s = "@REM bench\r\n";
  for (int bar = 1; bar <= 150; ++bar) {
    s += "@WAIT(" + std::to_string(bar) + ")";
    if (bar % 10 == 1) s += "@MAG(SCENE,0,0);\r\n";
    s += "@COLOR(" + std::to_string(bar % 7 + 1) + ")@LOCATE(" + std::to_string(bar % 40 + 1) + "," +
         std::to_string(bar % 20 + 1) + ");\r\nBAR " + std::to_string(bar) + " \x82\xA0\x82\xA2\x82\xA4 text of the bar\r\n";
    s += "@GLINE(" + std::to_string(bar % 600) + ",10,600," + std::to_string(bar % 380) + "," +
         std::to_string(bar % 15) + ");\r\n";
    s += "@GCIRCLE(320,200," + std::to_string(bar % 150 + 10) + "," + std::to_string(bar % 15) + ");\r\n";
    if (bar % 4 == 0) s += "@PAL(#1,000,003,015,127,239,35B,152,273,394,FE9,FFF,69D,036,95C,F94,888);\r\n@FADE(1,0,8);\r\n";
    if (bar % 16 == 0) s += "\x1b[2J@GCLS;\r\n";
  }
  s += "@END\r\n";
  return s;
}

void BM_WrdRebuildToTheEndFiveMinutes(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / "qmidi-bench-seek";
  fs::create_directories(dir);
  std::ofstream(dir / "SONG.MID", std::ios::binary) << "MThd";
  std::ofstream(dir / "SONG.WRD", std::ios::binary) << FiveMinuteScript();
  fs::copy_file(QMIDI_DEMO_DIR "/SCENE.MAG", dir / "SCENE.MAG", fs::copy_options::overwrite_existing);
  FreeTypeGlyphSystem glyphs;
  HeadlessPresenter presenter{[] {
    HeadlessOptions o;
    o.framesFolder = "";
    o.refreshHz = 0;
    return o;
  }()};
  ResultCode result;
  GraphicsDisplay display{presenter, glyphs, result};
  WrdRuntime wrd{display, result};
  TQUORMSTR reader(result);
  reader.setinFileName((dir / "SONG.MID").string());
  if (!wrd.load(reader.getWRDFileName(), PackedSong()) || !wrd.active()) {
    state.SkipWithError("the script did not load");
    return;
  }
  wrd.state().inputs.timeMapEntries = 1000000;
  wrd.tableCalc();
  wrd.keepStart();
  wrd.state().running = -1;
  const auto entries = static_cast<int32_t>(wrd.state().commands.size());
  const int32_t end = wrd.state().commands.time(static_cast<size_t>(entries - 1)) + 1;
  for (auto _ : state) {
    state.PauseTiming();
    wrd.seek(0);  // back at the start: the next jump runs every entry
    state.ResumeTiming();
    wrd.seek(end);
  }
  state.counters["entries"] = entries;
  wrd.stop();
}
BENCHMARK(BM_WrdRebuildToTheEndFiveMinutes)->Unit(benchmark::kMillisecond);

}  // namespace
