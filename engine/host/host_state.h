// The control window's state, its hot keys and the status values it sends.
// (The play sequence's states, result codes and end reports are the engine's:
// engine/core/play_sequence.h.)
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/play_sequence.h"

// Hot keys (all with Shift).
constexpr int kHotKeyShiftDelete = 897;
constexpr int kHotKeyShiftEnd = 898;  // stop
constexpr int kHotKeyShiftPageUp = 899;
constexpr int kHotKeyShiftPageDown = 900;

// Status values sent to the client's sink as Value1 besides the end reports
// (kStatusEndedStop -1, kStatusEndedContinue -2).
constexpr int32_t kStatusKeyDown = -3;
constexpr int32_t kStatusKeyUp = -4;

// A dialog was asked for where no display can show it (offscreen, none).
constexpr int32_t kErrNoDialogDisplay = 8098;

// The window's own flags: 0 (false) or -1 (true); any non-zero value counts
// as true.
struct TForm1State {
  int32_t CommandLineMode = 0;
  int32_t AutoStartPending = 0;
  int32_t FirstPaint = -1;
  int32_t FastForwardHeld = 0;
  int32_t SavedTimeDivision = 0;  // a count, not a flag
  int32_t AutomationMode = 0;
  std::string SavedTitle;

  // Start-up values (everything cleared, the first paint pending).
  void reset() {
    std::string title = SavedTitle;
    *this = TForm1State{};
    SavedTitle = title;
  }
};

inline constexpr const char* kForm1Caption = "QMIDIEXE v1.00";
inline constexpr const char* kProgramTitle = "QMIDIEXE.v1.01";
