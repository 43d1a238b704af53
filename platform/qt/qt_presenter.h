// The WRD window: a borderless, black, always-on-top Qt window showing the
// screen buffer through the display palette, full screen (scaled with its
// aspect kept, by a whole factor when one fits) or as a window of the mode's
// size at a given position.
//
// The drawing thread's present and palette calls copy into a staging picture
// under a short lock and post one wake-up to the GUI thread; they never wait
// for painting. The GUI thread takes what changed, converts it through the
// palette and repaints just that part of the window (all of it after a
// palette change).
#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/presenter.h"

class QWidget;
class QtPresenterWindow;

// Where a mode of `mode` pixels lands in a window of `window` device pixels:
// centred; full screen by the largest whole factor when the picture fits at
// least once (else shrunk to fit), windowed filling the window.
QRect QDPresenterTarget(QSize window, QSize mode, bool fullScreen);

class QtPresenter final : public Presenter {
 public:
  // Create and destroy on the GUI thread.
  QtPresenter();
  ~QtPresenter() override;
  QtPresenter(const QtPresenter&) = delete;
  QtPresenter& operator=(const QtPresenter&) = delete;

  std::string name() const override { return "qt"; }
  // Needs a QApplication and a screen; call on the GUI thread.
  bool open() override;
  bool setMode(int width, int height) override;
  void close() override;
  void present(const uint8_t* screen, DisplayRect rect) override;
  void setPaletteEntries(int first, int count, const uint8_t* entries) override;
  void waitForVerticalBlank() override;
  void setVisible(bool visible) override;
  void setPlacement(bool fullScreen, int left, int top) override;
  void setSongPosition(int32_t position) override;
  bool isVisible() const override;

  // The window (null before the first open).
  QWidget* window() const;

 private:
  friend class QtPresenterWindow;
  // Shared between the drawing thread and the GUI thread.
  struct Staging {
    std::mutex mutex;
    bool open = false;
    int width = 0;
    int height = 0;
    uint64_t modeSerial = 0;  // changes with every mode (and close)
    std::vector<uint8_t> pixels;
    std::array<uint32_t, kDisplayPaletteSize> palette{};  // 0xFFRRGGBB
    QRect dirty;
    bool paletteDirty = false;
  };
  void wakeGui();
  template <class F>
  void onGui(F&& f);

  std::shared_ptr<Staging> staging_ = std::make_shared<Staging>();
  std::unique_ptr<QtPresenterWindow> window_;
  std::atomic<bool> wakePosted_{false};
  std::atomic<int64_t> refreshPeriodNs_{16666667};
  std::atomic<int32_t> songPosition_{kNoSongPosition};
  bool visible_ = false;
  bool fullScreen_ = true;
  int left_ = 0;
  int top_ = 0;
};
