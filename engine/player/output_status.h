// What the player reports while a song plays: the four display values (each
// chosen by its selector), the song's totals, the level meter, and the
// device volume and balance. All of it runs on the window thread and reads
// the counters the timer callback keeps without a lock (a value may be one
// callback old). Here: the selectors and the units.
#pragma once

#include <cstdint>

#include "engine/player/stream_record.h"

// Display selectors.
enum : int32_t {
  kQDShowMilliseconds = 0,  // and every value not listed
  kQDShowPosition = 1,
  kQDShowAccumulator = 2,
  kQDShowTempo = 3,
  kQDShowTimeSignature = 4,
  kQDShowLevel = 5,
};

// Units.
// bar × 10000 + (ticks in the bar × 1000 / tick division): bar.beat.thousandths.
int32_t QDPositionValue(int32_t positionCode, int32_t tickDivision);
// Quarter notes per minute, rounded up; 120 for a tempo of 0.
int32_t QDTempoValue(int32_t tempo);
// numerator × 1000 + denominator (2, 8, 16, 32, 64 for powers 1, 3-6; else 4).
int32_t QDTimeSignatureValue(uint32_t hyosi);

// The display values, totals, level meter and device volume and balance
// are the player's (Player::displayValue and the rest, midi_player.h).

// The arithmetic, for tests: packed volume (left low, right high) from
// volume and balance, and back.
uint32_t QDPackVolume(int32_t volume, int32_t balance);
void QDUnpackVolume(uint32_t packed, int32_t* volume, int32_t* balance);
