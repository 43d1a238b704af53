#include "tools/render_common.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include "engine/player/reset_sequences.h"
#include "platform/encode/temp_output.h"

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

}  // namespace

bool RenderSong::convert(const std::string& path, int32_t mode, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    *error = "no such song file \"" + path + "\"";
    return false;
  }
  TQUORMSTR& reader = engine_.song();
  reader.setinFileName(path);
  engine_.result().clear();
  reader.QGmstTitle();
  if (!reader.Convert(3, mode, &packed_)) {
    *error = "\"" + path + "\" could not be converted as a song (result code " +
             std::to_string(engine_.result().get()) + ")";
    return false;
  }
  titleSjis = reader.getinFileTitle();
  tickDivision = packed_.tickDivision;
  song = QDOfflineSong::Of(packed_);
  song.speed = engine_.player().state().SPEED.load();
  song.resetKind = QDResetKindOfMode(mode);
  songMs = packed_.lengthMs();
  return true;
}

RenderOptions ReadRenderOptions(const ToolArgs& a) {
  RenderOptions o;
  o.mode = RangeOption(a, "--mode", 0, INT32_MIN, INT32_MAX);
  o.volume = RangeOption(a, "--volume", 100, 0, 100);
  o.balance = RangeOption(a, "--balance", 50, 0, 100);
  o.soundFont = a.get("--soundfont", kDefaultSoundFont);
  return o;
}

bool OpenOfflineSynth(const RenderOptions& o, int rate, std::unique_ptr<SoftSynthSystem>* synth,
                      std::unique_ptr<MidiOutPort>* port, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(o.soundFont, ec)) {
    *error = "no such sound font \"" + o.soundFont + "\"";
    return false;
  }
  SoftSynthConfig config;
  config.soundFont = o.soundFont;
  config.offline = true;
  config.sampleRate = rate;
  *synth = std::make_unique<SoftSynthSystem>(config);
  if ((*synth)->open(kMidiMapper, port) != kMidiOk || !*port) {
    *error = "the soft synth cannot load the sound font \"" + o.soundFont + "\"";
    return false;
  }
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
  if (a.has("--jobs") || a.has("--format") || a.positional.size() > 2) return true;
  std::error_code ec;
  return a.positional.size() == 2 && std::filesystem::is_directory(a.positional[1], ec);
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
