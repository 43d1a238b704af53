// qmidiexe as a user starts it: time from process start to the first MIDI
// message on a capture device (the delayed auto-start, device open and the
// player's lead before tick 0 included), and the engine's peak resident
// memory while it plays the demo with its WRD script (headless).
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

int64_t monotonicMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

// A one-second song: two quarter notes at 120 beats a minute.
void writeShortSong(const fs::path& path) {
  const unsigned char bytes[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,
                                 'M', 'T', 'r', 'k', 0, 0, 0, 22,
                                 0x00, 0x90, 60, 100, 0x83, 0x60, 0x80, 60, 0,
                                 0x00, 0x90, 64, 100, 0x83, 0x60, 0x80, 64, 0,
                                 0x00, 0xFF, 0x2F, 0x00};
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// The first send time (µs) of any capture log in folder, or -1.
int64_t firstMessage(const fs::path& folder) {
  int64_t first = -1;
  for (const auto& e : fs::directory_iterator(folder)) {
    std::ifstream in(e.path());
    std::string time, bytes;
    while (in >> time) {
      if (time == "open" || time == "close" || time == "reset" || time == "volume") {
        if (time == "volume") in >> bytes;
        continue;
      }
      in >> bytes;
      int64_t t = std::stoll(time);
      if (first < 0 || t < first) first = t;
      break;
    }
  }
  return first;
}

struct Run {
  int64_t startMicros = 0;
  long maxRssKb = 0;
  int status = 0;
};

// Runs qmidiexe with the song in a fresh environment; killAfter > 0 ends it
// after that many seconds.
Run runEngine(const std::string& song, const fs::path& work, const std::string& capture, int killAfter) {
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "HOME=" + work.string(),
                                  "XDG_CONFIG_HOME=" + (work / "config").string(),
                                  "XDG_RUNTIME_DIR=" + work.string(),
                                  "QMIDI_FRAMES_INTERVAL=100"};
  if (!capture.empty()) env.push_back("QMIDI_CAPTURE=" + capture);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = QMIDIEXE_PATH;
  std::vector<char*> argv = {exe.data(), const_cast<char*>(song.c_str()), nullptr};
  Run run;
  pid_t pid = 0;
  run.startMicros = monotonicMicros();
  if (posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return run;
  if (killAfter > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(killAfter));
    kill(pid, SIGKILL);
  }
  rusage usage{};
  wait4(pid, &run.status, 0, &usage);
  run.maxRssKb = usage.ru_maxrss;
  return run;
}

}  // namespace

int main() {
  fs::path work = fs::temp_directory_path() / ("qmidi-bench-exe-" + std::to_string(getpid()));
  fs::create_directories(work);
  fs::permissions(work, fs::perms::owner_all);  // also the runtime folder Qt checks
  writeShortSong(work / "short.mid");
  std::vector<double> latencies;
  for (int i = 0; i < 3; ++i) {
    fs::path capture = work / ("capture" + std::to_string(i));
    fs::create_directories(capture);
    Run run = runEngine((work / "short.mid").string(), work, capture.string(), 0);
    int64_t first = firstMessage(capture);
    if (first > 0) latencies.push_back((first - run.startMicros) / 1000.0);
  }
  std::sort(latencies.begin(), latencies.end());
  if (latencies.empty()) {
    std::printf("qmidiexe sent nothing to the capture devices\n");
    return 1;
  }
  std::printf("start-up to first MIDI message: median %.0f ms (min %.0f, max %.0f, %zu runs)\n",
              latencies[latencies.size() / 2], latencies.front(), latencies.back(), latencies.size());
  Run demo = runEngine(QMIDI_DEMO_SONG, work, (work / "capture0").string(), 12);
  std::printf("peak resident memory playing the demo with its WRD (12 s): %.1f MB\n",
              demo.maxRssKb / 1024.0);
  fs::remove_all(work);
  return 0;
}
