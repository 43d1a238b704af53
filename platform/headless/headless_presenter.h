// A presenter without a window. It keeps what would be on screen (the
// indexed picture and the display palette) for tests and tools, and when a
// frames folder is given (QMIDI_FRAMES) writes the shown picture as PNG
// files: at most one per frame interval (QMIDI_FRAMES_INTERVAL milliseconds,
// 100 by default; 0 writes every presented frame), always ending with the
// latest picture. Files are named frame-NNNNNN.png, or
// frame-NNNNNN-barBBBB-tickTTTT.png when the song position is known; the
// counter runs on across displays of one presenter. PNG writing happens on
// a thread of its own, so presenting never waits for the disk.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/presenter.h"

struct HeadlessOptions {
  // Sizes setMode accepts; empty: any size from 1 x 1 to 4096 x 4096.
  std::vector<std::pair<int, int>> modes;
  // Emulated refresh rate for waitForVerticalBlank; 0 returns at once.
  double refreshHz = 60.0;
  // Folder for PNG frames: unset takes $QMIDI_FRAMES at open; "" writes none.
  std::optional<std::string> framesFolder;
  // Least milliseconds between two written frames: unset takes
  // $QMIDI_FRAMES_INTERVAL, else 100.
  std::optional<int> frameIntervalMs;
  // Milliseconds of a monotonic clock (tests pass a manual one).
  std::function<int64_t()> clockMs;
};

// The picture a presenter shows.
struct ShownFrame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;                       // width * height indices
  std::array<uint8_t, kDisplayPaletteSize * 4> palette{};  // red, green, blue, flags
  // 0xRRGGBB of pixel (x, y) seen through the palette.
  uint32_t rgb(int x, int y) const;
};

class HeadlessPresenter final : public Presenter {
 public:
  explicit HeadlessPresenter(HeadlessOptions options = {});
  ~HeadlessPresenter() override;
  HeadlessPresenter(const HeadlessPresenter&) = delete;
  HeadlessPresenter& operator=(const HeadlessPresenter&) = delete;

  std::string name() const override { return "headless"; }
  bool open() override;
  bool setMode(int width, int height) override;
  void close() override;
  void present(const uint8_t* screen, DisplayRect rect) override;
  void setPaletteEntries(int first, int count, const uint8_t* entries) override;
  void waitForVerticalBlank() override;
  void setVisible(bool visible) override;
  void setPlacement(bool fullScreen, int left, int top) override;
  void setSongPosition(int32_t position) override;

  // What is shown now (a copy).
  ShownFrame frame() const;
  bool isOpen() const;
  bool isVisible() const override;
  bool fullScreen() const;
  std::pair<int, int> position() const;  // (left, top) of the windowed placement
  int64_t presentCount() const;
  // The folder frames go to in this display ("" when none are written).
  std::string framesFolder() const;
  int64_t framesWritten() const;
  // Writes the frame the interval still holds back, and waits until every
  // frame so far is on disk.
  void flushFrames();

 private:
  struct PendingFrame {
    std::vector<uint8_t> pixels;
    std::array<uint8_t, kDisplayPaletteSize * 4> palette;
    int width;
    int height;
    int32_t position;
  };
  int64_t now() const;
  void frameChangedLocked();
  PendingFrame snapshotLocked() const;
  void writerLoop();
  void write(const PendingFrame& frame);
  void stopWriter();

  HeadlessOptions options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;   // the writer's work
  std::condition_variable idle_;   // flushFrames waits on it
  bool open_ = false;
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> screen_;
  std::array<uint8_t, kDisplayPaletteSize * 4> palette_{};
  bool visible_ = false;
  bool fullScreen_ = true;
  int left_ = 0;
  int top_ = 0;
  int64_t presents_ = 0;
  int32_t songPosition_ = kNoSongPosition;

  // Frame writing.
  std::string folder_;
  int intervalMs_ = 100;
  std::deque<PendingFrame> queue_;  // every frame, when the interval is 0
  bool held_ = false;               // the shown picture differs from the last written
  bool force_ = false;              // write the held picture now
  bool writing_ = false;
  bool stop_ = false;
  bool everWritten_ = false;
  int64_t lastWriteMs_ = 0;
  int64_t written_ = 0;
  std::thread writer_;
};
