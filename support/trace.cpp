#include "support/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>

#include "support/guard.h"
#include "support/tracked_memory.h"

namespace {

constexpr int32_t kMaxEntries = 300000;
constexpr const char* kTraceFileName = "QUORTRC.LOG";

struct TraceState {
  std::atomic<bool> enabled{false};
  std::atomic<bool> started{false};
  std::atomic<int32_t> count{0};
  std::mutex pathMutex;  // guards filePath and the start of a run
  std::string filePath;
};

TraceState& state() {
  static TraceState s;
  return s;
}

// The routines a thread is inside, innermost last. A fixed array with no
// destructor, so that guarded calls from static destructors at program end
// still find it intact; frames beyond its size are counted, not named.
constexpr int kRoutineDepth = 64;
struct RoutineStack {
  const char* names[kRoutineDepth];
  int depth;
};
thread_local RoutineStack t_routines{};

bool writableDirectory(const std::filesystem::path& dir) {
  return !dir.empty() && access(dir.c_str(), W_OK | X_OK) == 0;
}

// An installed program (<prefix>/bin beside the suite's data folder
// <prefix>/share/qmidi) never writes beside itself, even where it could:
// root running /usr/bin/qmidiexe must not leave a log in /usr/bin.
bool installedProgramDirectory(const std::filesystem::path& dir) {
  std::error_code ec;
  return std::filesystem::is_directory(dir / ".." / "share" / "qmidi", ec);
}

std::filesystem::path stateDirectory() {
  namespace fs = std::filesystem;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  fs::path base;
  if (xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = fs::path(home) / ".local" / "state";
  } else {
    base = fs::temp_directory_path();
  }
  std::error_code ec;
  fs::create_directories(base / "QUOR", ec);
  return base / "QUOR";
}

std::string currentPath() {
  std::lock_guard lock(state().pathMutex);
  return state().filePath;
}

void startOnce() {
  TraceState& s = state();
  if (s.started.load(std::memory_order_acquire)) return;
  std::lock_guard lock(s.pathMutex);
  if (s.started.load(std::memory_order_relaxed)) return;
  if (s.enabled.load()) {
    std::filesystem::path p(s.filePath);
    std::error_code ec;
    std::filesystem::remove(p, ec);
    int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      static const char head[] = "TRACE ON\n";
      [[maybe_unused]] ssize_t n = ::write(fd, head, sizeof head - 1);
      ::close(fd);
    }
  }
  s.started.store(true, std::memory_order_release);
}

// One entry is one write of the whole line at the end of the file, so lines
// from several threads never interleave.
void appendEntry(const std::string& line) {
  TraceState& s = state();
  startOnce();
  if (!s.enabled.load()) return;
  if (s.count.fetch_add(1) >= kMaxEntries) {
    s.count.store(kMaxEntries);
    return;
  }
  std::string path = currentPath();
  std::this_thread::yield();
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);  // never recreated
  if (fd < 0) return;
  [[maybe_unused]] ssize_t n = ::write(fd, line.data(), line.size());
  ::close(fd);
}

}  // namespace

namespace qmidi::detail {
RoutineFrame::RoutineFrame(const char* name) noexcept {
  if (t_routines.depth < kRoutineDepth) t_routines.names[t_routines.depth] = name;
  ++t_routines.depth;
}
RoutineFrame::~RoutineFrame() {
  if (t_routines.depth > 0) --t_routines.depth;
}
}  // namespace qmidi::detail

void QGTrOpen(const std::string& programPath) {
  TraceState& s = state();
  std::filesystem::path dir = std::filesystem::path(programPath).parent_path();
  if (!writableDirectory(dir) || installedProgramDirectory(dir)) dir = stateDirectory();
  {
    std::lock_guard lock(s.pathMutex);
    s.filePath = (dir / kTraceFileName).string();
    s.count.store(0);
    s.started.store(false);
    s.enabled.store(true);
  }
  QGTrClearTable();
}

void QGTrStart() {
  state().started.store(false);
  startOnce();
}

std::string QGTrFilePath() { return currentPath(); }
int32_t QGTrEntryCount() { return state().count.load(); }

std::string QGTrHex(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(value));
  return buf;
}

void QGTrText(std::string_view text) {
  std::string line(text);
  line += '\n';
  appendEntry(line);
}

void QGTrNum(int32_t n) { appendEntry(std::to_string(n) + '\n'); }

void QGTrNumText(int32_t n, std::string_view text) {
  std::string line = std::to_string(n);
  line += ' ';
  line += text;
  line += '\n';
  appendEntry(line);
}

void QGTrNumHex(int32_t n, uint64_t value) {
  appendEntry(std::to_string(n) + ' ' + QGTrHex(value) + " \n");
}

void QGTrUserException(std::string_view text) {
  std::string line = "UserException ";
  line += text;
  QGTrText(line);
  int depth = std::min(t_routines.depth, kRoutineDepth);
  const RoutineStack stack = t_routines;  // entries below may push frames of their own
  for (int i = 0; i < depth; ++i) QGTrText(stack.names[i]);
}

void QGInstallUserExceptionHandler() {
  std::set_terminate([] {
    std::string what = "unknown error";
    if (auto e = std::current_exception()) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        what = ex.what();
      } catch (...) {
      }
    }
    QGTrUserException(what);
    std::abort();
  });
}
