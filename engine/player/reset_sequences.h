// The reset sequences the player sends before a song, chosen by the play
// mode (RESETMODE) or, for one song, by the set-up the converter detected.
// A sequence is written in the packed stream record format with two
// differences: deltas are milliseconds, and a long message's byte count is
// the record's first byte.
#pragma once

#include <cstdint>
#include <vector>

enum QDResetKind : int32_t {
  kResetEmpty = 0,
  kResetGm,              // GM system on
  kResetToneGenerator,   // GM on, GS reset, system mode set, programs, note-offs
  kResetSc55Map,
  kResetSc88Map,
  kResetXgGm,
  kResetXgGs,
  kResetXgSc55Map,
  kResetXgSc88Map,
  kResetKinds
};

// The sequence's records (built once, shared, never changed).
const std::vector<uint8_t>& QDResetSequence(int32_t kind);
// The mode's own sequence: 0 empty; 1 and 3 GM; 5 SC-55 map; 8 SC-88 map;
// anything else the tone-generator reset.
QDResetKind QDResetKindOfMode(int32_t mode);
// The sequence a detected set-up (1-7) selects; kResetKinds for any other value.
QDResetKind QDResetKindOfSetup(int32_t detected);
// The mode's sequence for the following songs (the player calls it whenever
// RESETMODE is set; the shared tables are built then, before any song).
QDResetKind subResetMode(int32_t mode);

// A roland GS data set checksum: 0x80 minus the low 7 bits of the sum of
// the address and data bytes, modulo 0x80.
uint8_t QDRolandChecksum(const uint8_t* bytes, int count);
