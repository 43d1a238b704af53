// The control window's state and the numbers of the messages posted to it.
#pragma once

#include <cstdint>
#include <string>

// Messages posted to the control window (as Qt events of these types).
constexpr int kUserPar1 = 1884;  // the player's notification; wParam = 967 open, 968 close, 969 done, 970
constexpr int kUserPar2 = 1885;  // play through automation: set the WRD end flag, start the song
constexpr int kUserPar3 = 1886;  // delayed auto-start step
constexpr int kUserPar4 = 1887;  // delayed auto-start step
constexpr int kUserPar5 = 1888;  // flips the alternate-display toggle
constexpr int kUserPar6 = 1889;  // the status thread's tick: send the display values
constexpr int kUserPar7 = 1890;  // the automation PLAY method
constexpr int kUserPar8 = 786;   // a hot key; wParam = hot-key id

// The notification codes the player hands to NotifyProc are the player's own
// (kQDNotifyOpen .. kQDNotifyData in engine/player/midi_player.h).

// Hot keys (all with Shift).
constexpr int kHotKeyShiftDelete = 897;
constexpr int kHotKeyShiftEnd = 898;  // stop
constexpr int kHotKeyShiftPageUp = 899;
constexpr int kHotKeyShiftPageDown = 900;

// Status values sent to the client's sink as Value1.
constexpr int32_t kStatusEndedStop = -1;
constexpr int32_t kStatusEndedContinue = -2;
constexpr int32_t kStatusKeyDown = -3;
constexpr int32_t kStatusKeyUp = -4;

// Result codes of the play sequence.
constexpr int32_t kErrNoPortA = 9000;
constexpr int32_t kErrRestart = 9100;
constexpr int32_t kErrWrdLoad = 9401;
constexpr int32_t kErrOpen = 9403;
constexpr int32_t kErrPreHeader = 9404;
constexpr int32_t kErrStreamOut = 9406;
constexpr int32_t kErrStreamStop = 9409;
constexpr int32_t kErrStreamClose = 9410;
// A dialog was asked for where no display can show it (offscreen, none).
constexpr int32_t kErrNoDialogDisplay = 8098;

// Flags are 0 (false) or -1 (true); any non-zero value counts as true.
struct TForm1State {
  int32_t SongOpen = 0;
  int32_t Playing = 0;
  int32_t Running = 0;
  int32_t CommandLineMode = 0;
  int32_t AutoStartPending = 0;
  int32_t FirstPaint = -1;
  int32_t StopPending = 0;
  int32_t StartedByOpen = 0;
  int32_t FastForwardHeld = 0;
  int32_t SavedTimeDivision = 0;  // a count, not a flag
  int32_t AutomationMode = 0;
  int32_t StartRetryCount = 0;    // a count
  int32_t AlternateDisplay = 0;   // 0 or 1, flipped by message 1888
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
