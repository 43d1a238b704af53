// The offline driver: plays a converted song's packed stream without a
// timer and without threads, for rendering to a file. It sends what the
// real-time player sends (the song's reset sequence, every record to the
// outputs of its port, the wind-down controllers, the device volume and
// balance), each message at its exact time, and the caller decides how
// long that time takes: a renderer synthesises sound up to the next
// message's time, then lets the driver send it.
//
// Times are in 1/65536 microseconds from the start of the reset sequence.
// Tick 0 of the song comes 41 ms after the sequence's closing record, as in
// the player (without the player's lead-in second, which only lets the
// timer settle).
#pragma once

#include <cstdint>
#include <limits>

#include "engine/player/midi_player.h"
#include "engine/player/song_chase.h"
#include "engine/player/stream_record.h"
#include "engine/song/packed_song.h"

// A converted song and the player settings it plays with.
struct QDOfflineSong {
  // The song's records, table, division and detected set-up (the song must
  // outlive the driver); the settings stay at their defaults.
  static QDOfflineSong Of(const PackedSong& song);

  const uint8_t* data = nullptr;
  uint32_t length = 0;
  const TimeTableEntry* table = nullptr;
  uint32_t entries = 0;
  int32_t division = 48;         // the song's division (QDSetTimeDiv)
  int32_t speed = 0;             // SPEED: 256 and 0 as written
  int32_t resetKind = 0;         // the play mode's own sequence (QDResetKindOfMode)
  int32_t detectedSetup = 0;     // what the converter detected in mode 2
  int32_t volume = 100;          // DEVVOLUME
  int32_t balance = 50;          // DEVBALANCE
  // An excerpt: the song from startUs (its chased state sent right before
  // the music there) up to endUs (-1: its end), in song microseconds.
  int64_t startUs = 0;
  int64_t endUs = -1;
};

constexpr int64_t kQDFxPerUs = int64_t{1} << 16;
constexpr int64_t kQDFxPerMs = kQDFxPerUs * 1000;

class QDOfflinePlayer {
 public:
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

  // outputs: port A first, port B first, port A second, port B second;
  // null for an output out of use. The ports must outlive the driver.
  QDOfflinePlayer(const QDOfflineSong& song, MidiOutPort* const outputs[kQDOutputs]);

  // When the next message is due; kNever when nothing is scheduled (the
  // song is over and no wind-down was asked for yet, or all is sent).
  int64_t nextTimeFx();
  // Sends every message due at or before timeFx, in order; the clock then
  // stands at timeFx (or at the last message sent, when that is later).
  void runUntil(int64_t timeFx);

  // Every record of the song has been sent (or the 15-minute limit came).
  bool songEnded() const { return phase_ >= Phase::kTail; }
  // Sends all sound off at timeFx (at the earliest now) and reset all
  // controllers 41 ms later, as the player winds down.
  void windDownAt(int64_t timeFx);
  bool finished() const { return phase_ == Phase::kDone; }

  int64_t nowFx() const { return nowFx_; }
  // Tick 0 of the song; kNever until the reset sequence has ended.
  int64_t songStartFx() const { return songStartFx_; }
  // Song time of the last record sent, from tick 0 (of the excerpt's start).
  int64_t songTimeFx() const { return songTimeFx_; }
  int32_t markerIndex() const { return markers_; }
  int64_t totalTicks() const { return ticks_; }
  // The position code of the current time-table entry, as QDStreamPosition.
  int32_t position() const;

 private:
  enum class Phase { kReset, kSong, kTail, kWindDown, kResetControllers, kDone };
  class Outputs;

  // Reads the next record of the current phase and its time; false at the
  // phase's end.
  bool peek();
  void sendPeeked();
  // Tick 0 comes the settle time after the reset sequence's end.
  void startSong();
  void endSong();
  // The excerpt's start: the records before it are skipped and their state
  // is chased at tick 0.
  void jumpToStart();
  bool pastExcerpt(int64_t fx) const;

  QDOfflineSong song_;
  MidiOutPort* outputs_[kQDOutputs];
  const uint8_t* resetData_;
  uint32_t resetLength_;

  Phase phase_ = Phase::kReset;
  bool peeked_ = false;
  StreamRecordView next_;
  int64_t nextFx_ = 0;
  uint32_t offset_ = 0;

  int64_t nowFx_ = 0;
  int64_t resetDeltaFx_ = 0;      // the reset sequence's deltas so far
  int64_t resetHoldFx_ = 0;       // nothing before this (the pause after a long message)
  int64_t songStartFx_ = kNever;
  int64_t songTimeFx_ = 0;
  int64_t tickFx_ = kQDFxPerUs;
  int32_t effectiveDivision_ = 1;
  int32_t markers_ = 0;
  int64_t ticks_ = 0;
  int64_t windDownFx_ = kNever;
  QDChase chase_;
  bool chasePending_ = false;
};

// Samples at `rate` per second up to time fx, rounded up (a message is
// never early).
int64_t QDFxToSamples(int64_t fx, int rate);
