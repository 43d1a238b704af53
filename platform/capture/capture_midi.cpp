#include "platform/capture/capture_midi.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "platform/midi_bytes.h"
#include "platform/timer.h"

struct CaptureMidiSystem::Device {
  std::string path;
  int fd = -1;
  std::mutex mutex;              // one line at a time, in call order
  uint32_t volume = 0xFFFFFFFF;  // kept across opens, as a device keeps it

  // One write per line, so that a reader never sees half a line.
  void line(const std::string& text) {
    std::lock_guard lock(mutex);
    if (fd < 0) return;
    std::string l = text + '\n';
    const char* p = l.data();
    size_t left = l.size();
    while (left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n <= 0) return;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
};

namespace {

class CapturePort final : public MidiOutPort {
 public:
  CapturePort(CaptureMidiSystem::Device* device, const std::function<int64_t()>& clock)
      : device_(device), clock_(clock) {
    device_->line("open");
  }
  ~CapturePort() override {
    if (device_) close();
  }

  MidiResult shortMessage(uint32_t message) override {
    if (!device_) return kMidiInvalidHandle;
    int64_t t = clock_();
    if (!decoder_.decode(message)) return kMidiInvalidParam;
    device_->line(std::to_string(t) + ' ' + MidiHex(decoder_.data(), static_cast<size_t>(decoder_.size())));
    return kMidiOk;
  }

  MidiResult longMessage(const uint8_t* data, uint32_t length) override {
    if (!device_) return kMidiInvalidHandle;
    if (!data || length == 0) return kMidiInvalidParam;
    int64_t t = clock_();
    device_->line(std::to_string(t) + ' ' + MidiHex(data, length));
    return kMidiOk;
  }

  MidiResult reset() override {
    if (!device_) return kMidiInvalidHandle;
    device_->line("reset");
    return kMidiOk;
  }

  MidiResult getVolume(uint32_t* volume) override {
    if (!device_) return kMidiInvalidHandle;
    if (!volume) return kMidiInvalidParam;
    std::lock_guard lock(device_->mutex);
    *volume = device_->volume;
    return kMidiOk;
  }

  MidiResult setVolume(uint32_t volume) override {
    if (!device_) return kMidiInvalidHandle;
    {
      std::lock_guard lock(device_->mutex);
      device_->volume = volume;
    }
    char text[20];
    std::snprintf(text, sizeof text, "volume %08x", static_cast<unsigned>(volume));
    device_->line(text);
    return kMidiOk;
  }

  MidiResult close() override {
    if (!device_) return kMidiInvalidHandle;
    device_->line("close");
    device_ = nullptr;
    return kMidiOk;
  }

 private:
  CaptureMidiSystem::Device* device_;
  const std::function<int64_t()>& clock_;
  MidiShortMessage decoder_;
};

}  // namespace

CaptureMidiSystem::CaptureMidiSystem(std::string folder, int devices, std::function<int64_t()> clock)
    : folder_(std::move(folder)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return QDSystemClock().nowMicroseconds(); };
  for (int id = -1; id < devices; ++id) {
    auto d = std::make_unique<Device>();
    std::string name = id < 0 ? "mapper.log" : "dev" + std::to_string(id) + ".log";
    d->path = (std::filesystem::path(folder_) / name).string();
    devices_.push_back(std::move(d));
  }
}

bool CaptureMidiSystem::prepare() {
  std::lock_guard lock(prepareMutex_);
  if (prepared_ != 0) return prepared_ > 0;
  prepared_ = -1;
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  if (!std::filesystem::is_directory(folder_, ec)) return false;
  for (auto& d : devices_) {
    std::lock_guard deviceLock(d->mutex);
    d->fd = ::open(d->path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (d->fd < 0) return false;
  }
  prepared_ = 1;
  return true;
}

CaptureMidiSystem::~CaptureMidiSystem() {
  for (auto& d : devices_)
    if (d->fd >= 0) ::close(d->fd);
}

CaptureMidiSystem::Device* CaptureMidiSystem::device(int id) const {
  if (id < -1 || id + 1 >= static_cast<int>(devices_.size())) return nullptr;
  return devices_[static_cast<size_t>(id + 1)].get();
}

int CaptureMidiSystem::deviceCount() { return static_cast<int>(devices_.size()) - 1; }

std::string CaptureMidiSystem::productName(int id) {
  if (!device(id)) return {};
  return id < 0 ? "Capture mapper" : "Capture " + std::to_string(id);
}

bool CaptureMidiSystem::supportsVolume(int id) { return device(id) != nullptr; }

MidiResult CaptureMidiSystem::open(int id, std::unique_ptr<MidiOutPort>* port) {
  if (!port) return kMidiInvalidParam;
  Device* d = device(id);
  if (!d) return kMidiBadDevice;
  if (!prepare()) return kMidiError;
  *port = std::make_unique<CapturePort>(d, clock_);
  return kMidiOk;
}

std::string CaptureMidiSystem::describe(int id) {
  Device* d = device(id);
  return d ? "capture into " + d->path : std::string();
}

std::string CaptureMidiSystem::logPath(int id) const {
  Device* d = device(id);
  return d ? d->path : std::string();
}
