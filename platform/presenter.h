// The presenter puts the engine's screen buffer on view: an 8-bit indexed
// picture (one byte per pixel, rows `width` bytes apart) shown through a
// 256-entry display palette. It stands where a palettised full-screen or
// windowed display stood: a mode of some size, blits of changed rectangles,
// palette entries that take effect at once, a vertical-blank wait.
//
// Backends live in platform/<name>/ (a Qt window, a headless one that can
// write PNG frames); a program hands the one it chose to its engine.
// Std-only so that the core may use it.
//
// Threads: open, setMode, close, setVisible and setPlacement come from the
// engine's window thread; present, setPaletteEntries, waitForVerticalBlank and
// setSongPosition from the thread that draws (never while open or close run).
// No call waits for a window system to paint.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

// A rectangle of the screen in pixels; empty when width or height is not positive.
struct DisplayRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

constexpr int kDisplayPaletteSize = 256;
constexpr int kDisplayPaletteEntryBytes = 4;  // red, green, blue, flags
// "No song position known" for setSongPosition.
constexpr int32_t kNoSongPosition = std::numeric_limits<int32_t>::min();

class Presenter {
 public:
  virtual ~Presenter() = default;

  // A short name for messages and tests ("qt", "headless", "none").
  virtual std::string name() const = 0;

  // Takes the output (a window, or the headless store); false when this
  // presenter cannot show anything (no window system). open after open
  // starts afresh.
  virtual bool open() = 0;
  // Asks for a mode of width x height pixels; true when it is now in force.
  // A presenter may refuse sizes it cannot show; the caller then tries the
  // next size it can use. The screen starts black (all index 0 with a
  // black palette) in a new mode.
  virtual bool setMode(int width, int height) = 0;
  // Gives the output back; afterwards present and palette calls do nothing
  // until the next open and setMode.
  virtual void close() = 0;

  // Shows `rect` (clipped to the mode) of `screen`, which holds the whole
  // mode: width * height bytes, row y at screen + y * width. The pixels are
  // copied before the call returns.
  virtual void present(const uint8_t* screen, DisplayRect rect) = 0;
  // Sets `count` display palette entries starting at `first` from `entries`
  // (4 bytes each: red, green, blue, flags; flags are ignored). Entries
  // outside 0..255 are left out. The whole shown picture changes at once.
  virtual void setPaletteEntries(int first, int count, const uint8_t* entries) = 0;
  // Returns at the start of the next vertical blank (or its emulation).
  virtual void waitForVerticalBlank() = 0;

  // Window placement: shown or hidden; full screen (scaled, aspect kept), or
  // a window of the mode's size with its top-left corner at (left, top).
  virtual void setVisible(bool visible) = 0;
  virtual void setPlacement(bool fullScreen, int left, int top) = 0;
  // Whether the picture is on view now (window thread).
  virtual bool isVisible() const { return false; }

  // The song position (bar * 10000 + tick) the picture belongs to, or
  // kNoSongPosition. Presenters that record frames name them with it.
  virtual void setSongPosition(int32_t position) = 0;
};

// A presenter without any output (open fails): what an engine given no
// presenter uses. It keeps no state.
Presenter& QDNoPresenter();

// Which presenter suits this session: a window when a window system can be
// reached, headless when there is none or when Qt is told to draw offscreen.
enum class PresenterKind { Window, Headless };
// Decides from QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY (null or empty
// means unset). Usable before any window-system library is started.
PresenterKind QDChoosePresenterKind(const char* qpaPlatform, const char* display,
                                    const char* waylandDisplay);
// The same from this process's environment.
PresenterKind QDChoosePresenterKind();

// Emulated vertical blank: sleeps until the next multiple of periodNs on the
// monotonic clock (returns at once for a period of 0 or less).
void QDWaitForRefreshBoundary(int64_t periodNs);
