// Play-mode edits the converter applies while it packs a song: the mode
// (RESETMODE) drops or replaces some events so the song suits the reset the
// player sends, and in mode 2 the song's bank use picks a better reset.
#pragma once

#include <cstdint>

constexpr int kQGmstMaxTracks = 36;

// What becomes of an event.
enum class QGmstEdit {
  Keep,
  Replace,          // a no-operation record, marked when its delta is above 0
  ReplaceNoMarker,  // a no-operation record that never carries the marker
};

// Detected set-up bits (mode 2).
constexpr int32_t kSetupOutsideListB = 0x1;  // a program change outside list B (list A with LSB 1)
constexpr int32_t kSetupOutsideListA = 0x2;  // a program change outside list A
constexpr int32_t kSetupYamaha = 0x4;        // a Yamaha system exclusive message

// The reset messages a song may carry, compared on the data after 0xF0.
bool QGmstIsResetMessage(const uint8_t* data, uint32_t length);

// Pairs of program number and bank MSB known to the tone generators.
bool QGmstInBankListA(uint8_t program, uint8_t msb);
bool QGmstInBankListB(uint8_t program, uint8_t msb);

// The edit state of one conversion.
struct PlayModeEdits {
  int32_t mode = 0;
  int32_t detected = 0;
  int32_t chordCount = 0;     // consecutive note-ons at chordPosition (mode 1)
  int32_t chordPosition = 0;
  uint8_t msb[kQGmstMaxTracks] = {};
  uint8_t lsb[kQGmstMaxTracks] = {};

  // Start of a conversion in the given play mode.
  void start(int32_t playMode);
  void clearBanks();
  // A channel message of track at position (the position code it plays at).
  QGmstEdit channel(int track, uint8_t status, uint8_t data1, uint8_t data2, int32_t position);
  // A system exclusive message (data after the status byte).
  QGmstEdit sysEx(const uint8_t* data, uint32_t length);
};
