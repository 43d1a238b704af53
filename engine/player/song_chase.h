// Finding a time in a packed song, and the state a module needs to sound
// as if it had played the song up to there. A jump inside a song cannot
// replay what lies before the target, so the chase collapses it: every
// controller, program (with the bank in force when it was chosen), pitch
// bend and pressure keeps only its last value, each sent at the place in
// song order of its last change; registered and non-registered parameters
// are re-selected before their data; system exclusive messages are all kept,
// in order, because they cannot be collapsed without knowing the module.
// The real-time player and the offline driver both jump through this.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/player/stream_dispatch.h"

// Where the song stands at a target time: the first record not yet played
// and the counters and tempo a player continues from.
struct QDSongPoint {
  uint32_t offset = 0;      // the first record whose time is at or after the target
  int64_t totalTicks = 0;   // ticks of the records before it
  int32_t markerIndex = 0;  // marker records before it
  int32_t tempo = 500000;   // the tempo in force there (µs per quarter note)
  int64_t playedFx = 0;     // song time of the last record before it, 1/65536 µs
  int64_t targetUs = 0;     // the target, clamped to the song's length
};

// One entry of a chase: up to four short messages to one port, or the
// system exclusive record at an offset of the song.
struct QDChaseItem {
  uint32_t order = 0;  // offset of the song record that set it last
  uint8_t port = 0;
  uint8_t count = 0;
  uint32_t messages[4] = {};
  uint32_t longOffset = UINT32_MAX;
};

struct QDChase {
  // Values the song changes only after the target: sent first on a jump
  // backwards, so that they return to what they are before the song sets them.
  std::vector<QDChaseItem> defaults;
  // The collapsed state before the target, in song order.
  std::vector<QDChaseItem> items;

  // Sends the chase (the defaults first when asked) to the outputs.
  void send(const uint8_t* data, uint32_t length, QDOutputTarget& out, bool withDefaults) const;
  // Short and long messages in all (for tests and the benchmark).
  size_t size() const { return defaults.size() + items.size(); }
};

// Walks the song from its start to targetUs (song time from tick 0 at the
// given effective division, tempo 500000 until the song sets one). With a
// chase, also collects what it must send.
QDSongPoint QDFindSongPoint(const uint8_t* data, uint32_t length, int64_t targetUs, int32_t effectiveDivision,
                            QDChase* chase);
// The song time of its last record in microseconds.
int64_t QDSongLengthUs(const uint8_t* data, uint32_t length, int32_t effectiveDivision);
