// What keys and mouse buttons do in the engine's windows: the menu
// shortcuts (F3, F6 .. F12, Delete), the Shift hot keys, Ctrl / Ctrl+Shift
// speed-up, and the key status values sent to the client. The actions reach
// the player and the play sequence through callbacks, so the logic runs
// and is tested without windows. Std-only.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/host/host_state.h"

// Key numbers as clients see them in key status values (Windows virtual-key codes).
namespace vk {
constexpr int kBack = 0x08, kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kControl = 0x11,
              kMenu = 0x12, kPause = 0x13, kCapital = 0x14, kEscape = 0x1B, kSpace = 0x20,
              kPrior = 0x21, kNext = 0x22, kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kUp = 0x26,
              kRight = 0x27, kDown = 0x28, kInsert = 0x2D, kDelete = 0x2E, kF1 = 0x70;
constexpr int F(int n) { return kF1 + n - 1; }  // F1 .. F24
}  // namespace vk

// Keyboard and mouse state held during an event.
enum : uint32_t {
  kShiftShift = 1,
  kShiftAlt = 2,
  kShiftCtrl = 4,
  kShiftLeft = 8,
  kShiftRight = 16,
  kShiftMiddle = 32,
  kShiftDouble = 64,
};

// The shift code of key status values: 1 exactly Shift, 2 Alt, 3 Ctrl,
// 4 left button, 5 right, 6 middle, 7 double click, 0 any other combination.
int32_t QHShiftCode(uint32_t shift);

enum class THostCommand { None, Pause, Stop, Start, Back, Next, Close, OffsetLater, OffsetEarlier, OffsetReset, SeekBack, SeekOn };

// The menu command of a key pressed without modifiers (None for other keys).
THostCommand QHMenuShortcut(int key, uint32_t shift);
// The hot-key id of Shift+Delete, Shift+End, Shift+Page Up, Shift+Page Down; 0 otherwise.
int QHHotKeyId(int key, uint32_t shift);

enum class TMouseButton { Left, Right, Middle };

struct THostKeyActions {
  std::function<int32_t()> timeDivisionBase;        // the player's current base
  std::function<void(int32_t)> setTimeDivision;
  std::function<int32_t()> wrdOffset;
  std::function<void(int32_t)> setWrdOffset;
  std::function<int32_t()> stopOption;              // STOPOPTION
  std::function<bool()> wrdLoaded;                  // a WRD script or lyrics are shown
  std::function<bool()> clickGuard;                 // the WRD control's click guard
  std::function<void()> clearClickGuard;
  // Key status to the client; the host sends nothing while no sink is registered.
  std::function<void(int32_t, int32_t, int32_t, int32_t)> raiseStatus;
  // The play sequence's commands.
  std::function<void()> fileStop;   // MN_FILESTOPClick
  std::function<void()> fileStart;  // MN_FILESTARTClick
  std::function<void()> fileNext;   // MN_FILENEXTClick after its STOPOPTION check
  std::function<void()> fileClose;  // MN_FILECLOSEClick
  std::function<void()> filePause;  // MN_FILEPAUSEClick: pause, or go on when paused
  std::function<void()> hotKeyStop; // hot key 898
  std::function<void(int32_t)> seekBy;  // moves the song by so many ms (← and →)
};

class THostKeys {
 public:
  // WRD offset limits of F12 and F11.
  static constexpr int32_t kOffsetStep = 3;
  static constexpr int32_t kOffsetMax = 768;
  // How far ← and → move the song.
  static constexpr int32_t kSeekStepMs = 5000;

  THostKeys(TForm1State& state, THostKeyActions actions);

  // A key pressed in an engine window (both windows forward here).
  void keyDown(int key, uint32_t shift);
  // A key released; releases the window system repeats are ignored for speed.
  void keyUp(int key, uint32_t shift, bool autoRepeat = false);
  // A menu item chosen (by shortcut or otherwise).
  void menuCommand(THostCommand command);
  // The system's hot-key message.
  void hotKey(int id);
  // A button pressed in the control window / in the WRD picture window.
  void mouseDownForm1(TMouseButton button);
  void mouseDownForm2(TMouseButton button);

 private:
  static void Call(const std::function<void()>& f) {
    if (f) f();
  }

  TForm1State& state_;
  THostKeyActions a_;
};
