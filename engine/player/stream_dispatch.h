// What the player sends, where and when: reading the packed records, the
// reset sequence a song gets, which outputs each record reaches, the pause
// after a reset long message, the wind-down controllers, and the song time
// of a tick. The real-time player (timer callback and player thread) and the
// offline driver both send through these, so the two send the same messages
// in the same order at the same song times.
#pragma once

#include <cstdint>

#include "engine/player/stream_record.h"

// The four outputs as the receiver of what a record sends. Outputs without a
// device ignore what is sent to them.
class QDOutputTarget {
 public:
  virtual ~QDOutputTarget() = default;
  // output: kQDPortAFirst .. kQDPortBSecond.
  virtual void shortTo(int output, uint32_t message) = 0;
  // A system exclusive message to an output, through one of the two
  // long-message buffers (0 for the port's first output, 1 for its second).
  virtual void longTo(int output, int buffer, const uint8_t* bytes, uint32_t count) = 0;
};

// Records whose padded payload (bits 0-9 bytes) is skipped unread.
constexpr uint8_t kRecLongSkip = 0x82;
constexpr uint8_t kRecLongSkip2 = 0x84;

// Pause after each long message of a reset sequence, in milliseconds.
constexpr uint32_t kQDResetLongPauseMs = 1;
// The player's settle time: between the reset sequence's end and the song,
// and between the wind-down's two controller sweeps.
constexpr uint32_t kQDSettleMs = 41;
// A song still playing this long after its tick 0 is ended.
constexpr int64_t kQDPlayLimitUs = 900000000;  // 15 minutes
// Wind-down controllers: all sound off, then reset all controllers.
constexpr uint32_t kQDAllSoundOff = 120;
constexpr uint32_t kQDResetAllControllers = 121;

// A record as the player reads it: the packed format plus the skipped kinds;
// false when it does not fit in length bytes (a cut record ends the song).
bool QDReadRecord(const uint8_t* data, uint32_t length, uint32_t offset, StreamRecordView* r);

// The sequence one song gets: the set-up the converter detected (1-7)
// chooses it in place of the mode's own.
int32_t QDSongResetKind(int32_t modeKind, int32_t detectedSetup);

// Sends one reset record (short messages to every output, long messages to
// port A's first only); false when the record ends the sequence.
bool QDSendResetRecord(const StreamRecordView& r, QDOutputTarget& out);
// How long the reset phase pauses after sending this record (ms).
uint32_t QDResetPauseAfter(const StreamRecordView& r);

// Sends one song record: a short message to its port's two outputs, a
// song's system exclusive message to its port's two outputs unless it is
// never sent (not F0, or a GS system parameter 40 01 00..2F). Tempo and the
// other kinds send nothing (the caller times the tempo).
void QDSendSongRecord(const StreamRecordView& r, QDOutputTarget& out);
// The port (0 A, 1 B) output kQDPortAFirst .. kQDPortBSecond serves.
int QDPortOfOutput(int output);
// A short message to both outputs of port A (port 0) or port B (port 1).
void QDSendToPort(QDOutputTarget& out, int port, uint32_t message);

// One controller with value 0 on channels 1-16 of every output, output by output.
void QDSendAllChannels(QDOutputTarget& out, uint32_t controller);

// Division after SPEED (256 and 0 as written, larger slower), at least 1.
int32_t QDEffectiveDivision(int32_t baseDivision, int32_t speed);
// One tick in 1/65536 microseconds: tempo / effective division, at least 1 µs.
int64_t QDTickLengthFx(int64_t tempo, int64_t effectiveDivision);

// The position code of the time-table entry the marker index points at
// (the last entry past the end; 0 without a table).
int32_t QDTablePosition(const TimeTableEntry* table, uint32_t entries, int32_t markerIndex);
