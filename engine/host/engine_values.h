// The values a user of the engine chooses: the output devices, the timer
// period, the play mode, the WRD delay and display switch, the WRD font and
// the XY mode bit. They live in the player and the WRD control while the
// engine runs; this record carries them between the settings file, the two
// option dialogs and the main window, which copies it to and from the player.
#pragma once

#include <QFont>
#include <QString>

#include <array>
#include <cstdint>

#include "platform/midi_out.h"

// Device order everywhere: port A first (DEVICEID1A, "MidiId1"), port B
// first (DEVICEID2A, "MidiId2"), port A second (DEVICEID1B, "MidiId3"),
// port B second (DEVICEID2B, "MidiId4").
constexpr int kHostPortAFirst = 0;
constexpr int kHostPortBFirst = 1;
constexpr int kHostPortASecond = 2;
constexpr int kHostPortBSecond = 3;

// The WRD text font before any setting: "ＭＳ 明朝", 15 pixels high (11 points).
QFont QHDefaultWrdFont();

struct TEngineValues {
  QFont wrdFont = QHDefaultWrdFont();
  bool wrdVisible = true;                // WRDVISIBLE, "WRDChecked"
  std::array<int32_t, 4> devices{kMidiMapper, kMidiMapper, kMidiMapper, kMidiMapper};
  int32_t timerMidi = 8;                 // TIMERMIDI, "swBunkainou"
  int32_t resetMode = 0;                 // RESETMODE, "swHatuon"
  int32_t wrdDelay = 3;                  // WRDDELAY, "swWRDDely"
  int32_t optionWord = 0;                // bit 0: XY mode (not saved)
};

// Decimal text as the settings file holds it; fallback for empty or
// unreadable text (surrounding blanks are allowed).
int32_t QHReadInteger(const QString& text, int32_t fallback);

// Writes "Handle": the decimal id of the program's window, at every start.
void QHWriteHandle(qint64 windowId);

// Start-up reads, as two steps the main window runs in its order: the font
// and display switch ("FontName", "FontSize", "FontStyle", "WRDChecked"),
// then the devices and play options ("MidiId1" .. "MidiId4", "swBunkainou",
// "swHatuon", "swWRDDely"). Missing values leave or set the defaults.
void QHReadFontSettings(TEngineValues& values);
void QHReadPlaySettings(TEngineValues& values);
void QHReadEngineSettings(TEngineValues& values);

// At exit, in this order: "FontName", "FontSize", "MidiId1" .. "MidiId4",
// "FontStyle", and only when the run was not started for a song named on
// the command line: "WRDChecked", "swBunkainou", "swHatuon", "swWRDDely".
void QHWriteEngineSettings(const TEngineValues& values, bool commandLineMode);
