#include "platform/headless/headless_presenter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/headless/png_frame.h"
#include "support/trace.h"

namespace {

constexpr int kMaxModeSide = 4096;
constexpr int kDefaultIntervalMs = 100;
constexpr size_t kMaxQueuedFrames = 32;

int intervalFromEnvironment() {
  const char* text = std::getenv("QMIDI_FRAMES_INTERVAL");
  if (text == nullptr || *text == '\0') return kDefaultIntervalMs;
  char* end = nullptr;
  const long ms = std::strtol(text, &end, 10);
  if (*end != '\0' || ms < 0 || ms > 3600000) return kDefaultIntervalMs;
  return static_cast<int>(ms);
}

std::string frameFileName(int64_t number, int32_t position) {
  char name[96];
  if (position >= 0)
    std::snprintf(name, sizeof name, "frame-%06lld-bar%04d-tick%04d.png",
                  static_cast<long long>(number), position / 10000, position % 10000);
  else
    std::snprintf(name, sizeof name, "frame-%06lld.png", static_cast<long long>(number));
  return name;
}

}  // namespace

uint32_t ShownFrame::rgb(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return 0;
  const size_t i = static_cast<size_t>(pixels[static_cast<size_t>(y) * width + x]) * 4;
  return uint32_t{palette[i]} << 16 | uint32_t{palette[i + 1]} << 8 | palette[i + 2];
}

HeadlessPresenter::HeadlessPresenter(HeadlessOptions options) : options_(std::move(options)) {}

HeadlessPresenter::~HeadlessPresenter() { stopWriter(); }

int64_t HeadlessPresenter::now() const {
  if (options_.clockMs) return options_.clockMs();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool HeadlessPresenter::open() {
  flushFrames();
  std::string folder = options_.framesFolder ? *options_.framesFolder : [] {
    const char* env = std::getenv("QMIDI_FRAMES");
    return std::string(env ? env : "");
  }();
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
      QGTrText("HeadlessPresenter.open");
      folder.clear();
    }
  }
  std::lock_guard lock(mutex_);
  open_ = true;
  width_ = height_ = 0;
  screen_.clear();
  palette_.fill(0);
  songPosition_ = kNoSongPosition;
  folder_ = folder;
  intervalMs_ = options_.frameIntervalMs ? std::max(0, *options_.frameIntervalMs)
                                         : intervalFromEnvironment();
  everWritten_ = false;
  if (!folder_.empty() && !writer_.joinable()) writer_ = std::thread([this] { writerLoop(); });
  return true;
}

bool HeadlessPresenter::setMode(int width, int height) {
  std::lock_guard lock(mutex_);
  if (!open_) return false;
  bool ok;
  if (options_.modes.empty()) {
    ok = width >= 1 && height >= 1 && width <= kMaxModeSide && height <= kMaxModeSide;
  } else {
    ok = std::find(options_.modes.begin(), options_.modes.end(), std::pair{width, height}) !=
         options_.modes.end();
  }
  if (!ok) return false;
  width_ = width;
  height_ = height;
  screen_.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  palette_.fill(0);
  return true;
}

void HeadlessPresenter::close() {
  flushFrames();
  std::lock_guard lock(mutex_);
  open_ = false;
  folder_.clear();
}

void HeadlessPresenter::present(const uint8_t* screen, DisplayRect rect) {
  std::unique_lock lock(mutex_);
  if (!open_ || screen == nullptr || width_ == 0) return;
  const int64_t x0 = std::max<int64_t>(0, rect.x);
  const int64_t y0 = std::max<int64_t>(0, rect.y);
  const int64_t x1 = std::min<int64_t>(width_, int64_t{rect.x} + rect.width);
  const int64_t y1 = std::min<int64_t>(height_, int64_t{rect.y} + rect.height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int64_t y = y0; y < y1; ++y) {
    const size_t at = static_cast<size_t>(y * width_ + x0);
    std::memcpy(screen_.data() + at, screen + at, static_cast<size_t>(x1 - x0));
  }
  ++presents_;
  frameChangedLocked();
  // With every frame wanted, a writer far behind holds the drawing back
  // rather than piling up pictures.
  idle_.wait(lock, [&] { return queue_.size() < kMaxQueuedFrames || stop_; });
}

void HeadlessPresenter::setPaletteEntries(int first, int count, const uint8_t* entries) {
  if (entries == nullptr || count <= 0) return;
  std::lock_guard lock(mutex_);
  if (!open_) return;
  bool changed = false;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t index = int64_t{first} + i;
    if (index < 0 || index >= kDisplayPaletteSize) continue;
    std::memcpy(palette_.data() + index * 4, entries + i * 4, 4);
    changed = true;
  }
  if (changed && width_ != 0) frameChangedLocked();
}

void HeadlessPresenter::waitForVerticalBlank() {
  if (options_.refreshHz > 0) QDWaitForRefreshBoundary(static_cast<int64_t>(1e9 / options_.refreshHz));
}

void HeadlessPresenter::setVisible(bool visible) {
  std::lock_guard lock(mutex_);
  visible_ = visible;
}

void HeadlessPresenter::setPlacement(bool fullScreen, int left, int top) {
  std::lock_guard lock(mutex_);
  fullScreen_ = fullScreen;
  left_ = left;
  top_ = top;
}

void HeadlessPresenter::setSongPosition(int32_t position) {
  std::lock_guard lock(mutex_);
  songPosition_ = position;
}

ShownFrame HeadlessPresenter::frame() const {
  std::lock_guard lock(mutex_);
  ShownFrame f;
  f.width = width_;
  f.height = height_;
  f.pixels = screen_;
  f.palette = palette_;
  return f;
}

bool HeadlessPresenter::isOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

bool HeadlessPresenter::isVisible() const {
  std::lock_guard lock(mutex_);
  return visible_;
}

bool HeadlessPresenter::fullScreen() const {
  std::lock_guard lock(mutex_);
  return fullScreen_;
}

std::pair<int, int> HeadlessPresenter::position() const {
  std::lock_guard lock(mutex_);
  return {left_, top_};
}

int64_t HeadlessPresenter::presentCount() const {
  std::lock_guard lock(mutex_);
  return presents_;
}

std::string HeadlessPresenter::framesFolder() const {
  std::lock_guard lock(mutex_);
  return folder_;
}

int64_t HeadlessPresenter::framesWritten() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void HeadlessPresenter::flushFrames() {
  std::unique_lock lock(mutex_);
  if (!writer_.joinable()) return;
  if (held_) force_ = true;
  wake_.notify_all();
  idle_.wait(lock, [&] { return queue_.empty() && !held_ && !writing_; });
}

void HeadlessPresenter::frameChangedLocked() {
  if (folder_.empty()) return;
  if (intervalMs_ == 0)
    queue_.push_back(snapshotLocked());
  else
    held_ = true;
  wake_.notify_all();
}

HeadlessPresenter::PendingFrame HeadlessPresenter::snapshotLocked() const {
  return PendingFrame{screen_, palette_, width_, height_, songPosition_};
}

void HeadlessPresenter::writerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::optional<PendingFrame> next;
    if (!queue_.empty()) {
      next = std::move(queue_.front());
      queue_.pop_front();
    } else if (held_) {
      const int64_t t = now();
      const int64_t due = everWritten_ ? lastWriteMs_ + intervalMs_ : t;
      if (force_ || t >= due) {
        next = snapshotLocked();
        held_ = force_ = false;
        lastWriteMs_ = t;
        everWritten_ = true;
      } else {
        // Short naps so that a manual test clock is seen to move as well.
        wake_.wait_for(lock, std::chrono::milliseconds(std::clamp<int64_t>(due - t, 1, 20)));
        continue;
      }
    } else if (stop_) {
      break;
    } else {
      idle_.notify_all();
      wake_.wait(lock);
      continue;
    }
    writing_ = true;
    const std::string folder = folder_;
    const int64_t number = written_;
    lock.unlock();
    const std::string path =
        (std::filesystem::path(folder) / frameFileName(number, next->position)).string();
    const bool ok = !folder.empty() && QDWriteIndexedPng(path, next->pixels.data(), next->width,
                                                         next->height, next->palette.data());
    lock.lock();
    writing_ = false;
    if (ok)
      ++written_;
    else
      QGTrText("HeadlessPresenter.writeFrame");
    idle_.notify_all();
  }
  idle_.notify_all();
}

void HeadlessPresenter::stopWriter() {
  {
    std::lock_guard lock(mutex_);
    if (!writer_.joinable()) return;
    if (held_) force_ = true;
    stop_ = true;
    wake_.notify_all();
    idle_.notify_all();
  }
  writer_.join();
}
