#include "tools/render_common.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/player/reset_sequences.h"
#include "platform/encode/temp_output.h"
#include "platform/mididevices/machine_midi.h"
#include "support/file_record.h"
#include "tools/loudness.h"
#include "tools/song_audio.h"

namespace {

std::string Clock(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60));
  return text;
}

int32_t RangeOption(const ToolArgs& a, const std::string& name, long fallback, long low, long high) {
  const long v = a.getInt(name, fallback);
  if (v < low || v > high)
    throw UsageError(name + " takes " + std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int32_t>(v);
}

// The engine's "SynthGain" setting (~/.config/QUOR/QMIDIEXE.conf), "" when none.
std::string SynthGainSetting() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string folder = config && *config ? config : std::string(home ? home : "") + "/.config";
  std::ifstream in(folder + "/QUOR/QMIDIEXE.conf");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SynthGain=", 0) != 0) continue;
    std::string value = line.substr(10);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

double GainOption(const ToolArgs& a) {
  const std::string text = a.has("--gain") ? a.get("--gain") : SynthGainSetting();
  MidiDeviceConfig config;
  const std::vector<std::string> problems = ApplyMidiDeviceSettings(config, "", text, "");
  if (problems.empty()) return config.synthGain;
  if (a.has("--gain")) throw UsageError("--gain takes a number from 0 to 10");
  return kDefaultSynthGain;  // a setting the engine would refuse too
}

double LufsOption(const ToolArgs& a) {
  const std::string text = a.get("--normalize");
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= -70 && v <= 0))
    throw UsageError("--normalize takes a loudness from -70 to 0 LUFS");
  return v;
}

}  // namespace

bool RenderSong::convert(const std::string& path, int32_t mode, bool setupFiles, std::string* error) {
  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    *error = path + ": " + problem;
    return false;
  }
  TQUORMSTR& reader = engine_.song();
  reader.setinFileName(path);
  reader.setSetupFiles(setupFiles);
  engine_.result().clear();
  reader.QGmstTitle();
  const bool converted = reader.Convert(3, mode, &packed_);
  setupProblems = reader.SetupProblems();
  if (!converted) {
    *error = SongFailure(path, engine_.result().get());
    return false;
  }
  warning = engine_.result().get();
  titleSjis = reader.getinFileTitle();
  tickDivision = packed_.tickDivision;
  song = QDOfflineSong::Of(packed_);
  song.speed = engine_.player().state().SPEED.load();
  song.resetKind = QDResetKindOfMode(mode);
  songMs = packed_.lengthMs();
  songEndUs = reader.SongEndMicroseconds();
  return true;
}

bool ConvertForRender(const char* command, const std::string& path, const RenderOptions& o, RenderSong* song,
                      std::string* error) {
  const bool ok = song->convert(path, o.mode, o.setupFiles, error);
  for (const std::string& problem : song->setupProblems) std::cerr << "qmidi-tool " << command << ": " << problem << '\n';
  return ok;
}

RenderOptions ReadRenderOptions(const ToolArgs& a) {
  RenderOptions o;
  o.mode = RangeOption(a, "--mode", 0, INT32_MIN, INT32_MAX);
  o.volume = RangeOption(a, "--volume", 100, 0, 100);
  o.balance = RangeOption(a, "--balance", 50, 0, 100);
  o.soundFont = a.get("--soundfont", kDefaultSoundFont);
  o.gain = GainOption(a);
  o.normalize = a.has("--normalize");
  if (o.normalize) o.targetLufs = LufsOption(a);
  o.setupFiles = !a.flag("--no-setup");
  return o;
}

bool NormalizingFactor(const RenderOptions& o, const QDOfflineSong& song, uint64_t songEndUs, int rate,
                       double* factor, std::string* error) {
  *factor = 1.0;
  if (!o.normalize) return true;
  OfflineSynth synth;
  if (!OpenOfflineSynth(o, rate, &synth, error)) return false;
  SongAudio audio(*synth.synth, {synth.portA.get(), synth.portB.get()}, song, rate, songEndUs);
  LoudnessMeter meter(rate);
  std::vector<float> block(2 * 4096);
  while (!audio.ended()) {
    if (InterruptGuard::interrupted()) return true;  // the caller says so
    const int n = audio.render(block.data(), 4096);
    meter.add(block.data(), n);
  }
  synth.portA->close();
  synth.portB->close();
  const double measured = meter.integrated();
  if (std::isfinite(measured)) *factor = std::pow(10.0, (o.targetLufs - measured) / 20.0);
  return true;
}

void ScaleSound(float* interleaved, int frames, double factor) {
  if (factor == 1.0) return;
  for (int i = 0; i < 2 * frames; ++i)
    interleaved[i] = static_cast<float>(std::clamp(interleaved[i] * factor, -1.0, 1.0));
}

bool OpenOfflineSynth(const RenderOptions& o, int rate, OfflineSynth* out, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(o.soundFont, ec)) {
    *error = "no such sound font \"" + o.soundFont + "\"";
    return false;
  }
  SoftSynthConfig config;
  config.soundFont = o.soundFont;
  config.offline = true;
  config.sampleRate = rate;
  config.gain = o.gain;
  out->synth = std::make_unique<SoftSynthSystem>(config);
  if (out->synth->open(kMidiMapper, &out->portA) != kMidiOk || !out->portA ||
      out->synth->open(kMidiMapper, &out->portB) != kMidiOk || !out->portB) {
    *error = "the soft synth cannot load the sound font \"" + o.soundFont + "\"";
    return false;
  }
  out->portB->servePort(1);
  return true;
}

ProgressBar::ProgressBar(int64_t totalMs, bool enabled)
    : totalMs_(totalMs), enabled_(enabled && isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (enabled_ && lastShown_ >= 0) std::fputs("\r\033[K", stderr);
}

void ProgressBar::update(int64_t doneMs) {
  if (!enabled_ || totalMs_ <= 0) return;
  const int percent = static_cast<int>(std::min<int64_t>(100, doneMs * 100 / totalMs_));
  if (percent == lastShown_) return;
  lastShown_ = percent;
  constexpr int kWidth = 30;
  std::string bar(kWidth, '.');
  for (int i = 0; i < percent * kWidth / 100; ++i) bar[static_cast<size_t>(i)] = '#';
  std::fprintf(stderr, "\r[%s] %3d%%  %s / %s", bar.c_str(), percent, Clock(doneMs).c_str(),
               Clock(totalMs_).c_str());
  std::fflush(stderr);
}

// --- The batch form ---------------------------------------------------------------

bool IsBatchForm(const ToolArgs& a) {
  // One song onto a folder stays the single form, which refuses to replace it.
  return a.has("--jobs") || a.has("--format") || a.positional.size() > 2;
}

std::vector<BatchItem> BatchItems(const ToolArgs& a, const std::string& extension) {
  if (a.positional.size() < 2) throw UsageError("give the songs and then the output folder");
  const std::filesystem::path folder = a.positional.back();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::vector<BatchItem> items;
  std::set<std::string> names;
  for (size_t i = 0; i + 1 < a.positional.size(); ++i) {
    const std::string& song = a.positional[i];
    const std::string name = std::filesystem::path(song).stem().string() + extension;
    if (!names.insert(name).second)
      throw UsageError("two songs would both be written as \"" + name + "\"");
    items.push_back({song, (folder / name).string()});
  }
  return items;
}

int BatchJobs(const ToolArgs& a) {
  const long cores = static_cast<long>(std::max(1u, std::thread::hardware_concurrency()));
  const long jobs = a.getInt("--jobs", cores);
  if (jobs < 1 || jobs > 256) throw UsageError("--jobs takes 1 to 256");
  return static_cast<int>(jobs);
}

int RunBatch(const std::string& command, const std::vector<BatchItem>& items, int jobs,
             const std::function<std::unique_ptr<RenderWorker>()>& makeWorker) {
  InterruptGuard interrupt;
  std::atomic<size_t> next{0};
  std::atomic<int> failures{0};
  std::mutex print;
  size_t finished = 0;
  auto work = [&] {
    std::unique_ptr<RenderWorker> worker = makeWorker();
    for (size_t i = next++; i < items.size() && !InterruptGuard::interrupted(); i = next++) {
      std::string done;
      const std::string error = worker->render(items[i], &done);
      std::lock_guard lock(print);
      const std::string count = "[" + std::to_string(++finished) + "/" + std::to_string(items.size()) + "] ";
      if (error.empty()) {
        std::cout << count << done << std::endl;
      } else {
        ++failures;
        std::cerr << "qmidi-tool " << command << ": " << count << items[i].song << ": " << error << std::endl;
      }
    }
  };
  std::vector<std::thread> threads;
  const size_t n = std::min(items.size(), static_cast<size_t>(jobs));
  for (size_t t = 1; t < n; ++t) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
  if (InterruptGuard::interrupted()) {
    std::cerr << "qmidi-tool " << command << ": interrupted; the songs finished are kept\n";
    return 130;
  }
  return failures.load() ? 1 : 0;
}
