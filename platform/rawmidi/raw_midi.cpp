#include "platform/rawmidi/raw_midi.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/midi_bytes.h"

namespace {

// A reader that goes away (fifo, pty) must give a write error, not end the
// program with SIGPIPE.
void ignoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction old {};
    if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) {
      struct sigaction ign {};
      ign.sa_handler = SIG_IGN;
      sigemptyset(&ign.sa_mask);
      sigaction(SIGPIPE, &ign, nullptr);
    }
  });
}

class RawPort final : public MidiOutPort {
 public:
  explicit RawPort(int fd) : fd_(fd) {}
  ~RawPort() override {
    if (fd_ >= 0) ::close(fd_);
  }

  MidiResult shortMessage(uint32_t message) override {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return kMidiInvalidHandle;
    if (!decoder_.decode(message)) return kMidiInvalidParam;
    const uint8_t* b = decoder_.data();
    if (decoder_.status() < 0xF0) {
      int data = decoder_.size() - (b[0] >= 0x80 ? 1 : 0);
      const uint8_t* d = b + (b[0] >= 0x80 ? 1 : 0);
      held_.follow(decoder_.status(), data > 0 ? d[0] : 0, data > 1 ? d[1] : 0);
    }
    return writeAll(b, static_cast<size_t>(decoder_.size()));
  }

  MidiResult longMessage(const uint8_t* data, uint32_t length) override {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return kMidiInvalidHandle;
    if (!data || length == 0) return kMidiInvalidParam;
    return writeAll(data, length);
  }

  MidiResult reset() override {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return kMidiInvalidHandle;
    std::vector<uint8_t> bytes = held_.releaseAll();
    return writeAll(bytes.data(), bytes.size());
  }

  MidiResult getVolume(uint32_t*) override { return volumeAnswer(); }
  MidiResult setVolume(uint32_t) override { return volumeAnswer(); }

  MidiResult close() override {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) return kMidiInvalidHandle;
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0 ? kMidiOk : kMidiError;
  }

 private:
  MidiResult volumeAnswer() {
    std::lock_guard lock(mutex_);
    return fd_ < 0 ? kMidiInvalidHandle : kMidiNotSupported;
  }

  MidiResult writeAll(const uint8_t* p, size_t left) {
    while (left > 0) {
      ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return kMidiError;
      p += n;
      left -= static_cast<size_t>(n);
    }
    return kMidiOk;
  }

  std::mutex mutex_;
  int fd_;
  MidiShortMessage decoder_;
  MidiHeldNotes held_;
};

}  // namespace

RawMidiSystem::RawMidiSystem(std::vector<std::string> paths) : paths_(std::move(paths)) {}

int RawMidiSystem::deviceCount() { return static_cast<int>(paths_.size()); }

std::string RawMidiSystem::productName(int id) {
  if (id < 0 || id >= deviceCount()) return {};
  struct stat st {};
  if (::stat(paths_[static_cast<size_t>(id)].c_str(), &st) != 0) return {};
  return paths_[static_cast<size_t>(id)];
}

std::string RawMidiSystem::describe(int id) {
  if (id < 0 || id >= deviceCount()) return {};
  return "raw MIDI device file " + paths_[static_cast<size_t>(id)];
}

MidiResult RawMidiSystem::open(int id, std::unique_ptr<MidiOutPort>* port) {
  if (!port) return kMidiInvalidParam;
  if (id < 0 || id >= deviceCount()) return kMidiBadDevice;
  ignoreBrokenPipes();
  // Non-blocking only for the open itself: a fifo without a reader fails
  // at once instead of hanging the caller.
  int fd = ::open(paths_[static_cast<size_t>(id)].c_str(),
                  O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == EBUSY) return kMidiAllocated;
    if (errno == ENOENT || errno == ENXIO || errno == ENODEV) return kMidiBadDevice;
    return kMidiError;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    ::close(fd);
    return kMidiError;
  }
  if (isatty(fd)) {
    struct termios t {};
    if (tcgetattr(fd, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
  }
  *port = std::make_unique<RawPort>(fd);
  return kMidiOk;
}

std::vector<std::string> SplitMidiDevicePaths(const std::string& value) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    size_t a = cur.find_first_not_of(" \t\r\n");
    size_t b = cur.find_last_not_of(" \t\r\n");
    if (a != std::string::npos) out.push_back(cur.substr(a, b - a + 1));
    cur.clear();
  };
  for (char c : value) {
    if (c == ';' || c == ',') {
      flush();
    } else {
      cur.push_back(c);
    }
  }
  flush();
  return out;
}
