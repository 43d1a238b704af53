// The player TMIDIEXE: one process-wide state record, the routines that open
// the output devices and prepare them for a converted song, and the stream
// player itself: a player thread (reset sequence, then a periodic timer whose
// callback sends every message when its time has come) and a status thread
// (progress reports and the WRD step). The song reader hands the song's
// division and packed stream over through these.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/player/stream_record.h"
#include "platform/midi_out.h"
#include "platform/timer.h"

// The four outputs, in the order every device loop uses.
constexpr int kQDOutputs = 4;
constexpr int kQDPortAFirst = 0;   // DEVICEID1A
constexpr int kQDPortBFirst = 1;   // DEVICEID2A
constexpr int kQDPortASecond = 2;  // DEVICEID1B
constexpr int kQDPortBSecond = 3;  // DEVICEID2B

// Notification codes the player sends to the window.
constexpr int32_t kQDNotifyOpen = 967;
constexpr int32_t kQDNotifyClosed = 968;
constexpr int32_t kQDNotifyDone = 969;
constexpr int32_t kQDNotifyData = 970;  // never sent by this player; the window ignores it

constexpr uint32_t kQDHeaderPrepared = 0x2;

// Level meter: 16 channels of port A, then 16 of port B.
constexpr int kQDLevelChannels = 32;
// Volume 100 in bits 16-23: what every channel's last volume starts as.
constexpr int32_t kQDDefaultVolume = 0x640000;

// Header of one system exclusive send buffer (one per port A device).
struct QDLongHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;   // the song's long-message maximum
  uint32_t bytesRecorded = 0;  // length of the message being sent
  uint32_t flags = 0;          // kQDHeaderPrepared
};

// The converted song as the player sees it. The song reader owns the memory.
struct QDStreamHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;   // bytes used + 1024
  uint32_t bytesRecorded = 0;  // bytes used (the data length)
  uint32_t position = 0;
  const TimeTableEntry* timeTable = nullptr;
  uint32_t timeTableEntries = 0;
};

// Called with kQDNotify* codes from the window thread (967, 968) and from the
// player thread (969); the window's procedure only posts a message.
using QDNotifyProc = void (*)(int32_t code);
// Called by the status thread every status period while a status sink is
// registered (and TITLEVISIBLE is not 1), with the milliseconds since the
// song's tick 0; the window's procedure only posts its progress message.
using QDStatusProc = void (*)(int32_t msSinceStart);
// The WRD step: called by the status thread every status period, with the
// timer's millisecond clock, while it is set and the WRD display is on.
using QDWrdHook = void (*)(uint32_t nowMs);

// Everything the player keeps. Flags and counters that the player's threads
// share are atomics, each with one writer. The device handles, headers,
// threads and stream header change only on the window thread while no song
// plays.
struct TMIDIEXEState {
  // --- Outputs. Device numbers: -1 the mapper, 256 not used.
  std::atomic<int32_t> DEVICEID1A{kMidiNoDevice};
  std::atomic<int32_t> DEVICEID2A{kMidiNoDevice};
  std::atomic<int32_t> DEVICEID1B{kMidiNoDevice};
  std::atomic<int32_t> DEVICEID2B{kMidiNoDevice};
  // Open devices, in output order; currentHandle is the first that opened.
  std::unique_ptr<MidiOutPort> handles[kQDOutputs];
  std::atomic<MidiOutPort*> currentHandle{nullptr};

  // --- Settings.
  std::atomic<int32_t> RESETMODE{0};
  std::atomic<int32_t> resetKind{0};      // the mode's own reset sequence (QDResetKind)
  std::atomic<int32_t> detectedSetup{0};  // written by the converter in mode 2
  std::atomic<int32_t> MIDIDISABLE{0};
  std::atomic<int32_t> TIMERMIDI{4};      // timer period, ms; after a start the period in force
  std::atomic<int32_t> TIMERWRD{16};      // status period, ms; 16 or less means 16
  std::atomic<int32_t> TITLEVISIBLE{0};   // 1: no progress reports
  std::atomic<int32_t> DEVVOLUME{100};
  std::atomic<int32_t> DEVBALANCE{50};
  std::atomic<int32_t> OUTSTATUSCH{0};
  std::atomic<int32_t> selectors[4] = {};  // display selectors 1-4
  // Stored and returned unchanged.
  std::atomic<int32_t> TIMEROUTSTATUS{32};
  std::atomic<int32_t> TIMERSCORE{32};
  std::atomic<int32_t> STEPTIME{1};
  std::atomic<int32_t> OUTSTATUSENABLE{-1};
  std::atomic<int32_t> EXTOPTION1{0};
  std::atomic<int32_t> EXTOPTION2{0};
  std::atomic<int32_t> EXTOPTION3{0};
  std::atomic<int32_t> EXTOPTION4{0};  // bit 0: the WRD compiler's XY mode

  // --- The song.
  std::atomic<int32_t> streamOpen{0};
  std::atomic<int32_t> baseDivision{0};
  std::atomic<int32_t> SPEED{0};  // 256 = as written, 0 = as written; larger is slower
  std::atomic<int32_t> effectiveDivision{0};
  std::atomic<int32_t> tempo{500000};  // microseconds per quarter note
  std::atomic<int32_t> usPerTick{1};
  // The tick length in 1/65536 microseconds (tempo × 65536 / effective
  // division), so that whole-microsecond rounding does not make songs run fast.
  std::atomic<int64_t> tickLengthFx{int64_t{1} << 16};
  std::atomic<int32_t> longMessageMax{32};  // from the converter, for the headers
  std::atomic<int32_t> tickDivision{0};     // the song's normalised division (display values)
  std::atomic<uint32_t> hyosi{0x04020000};  // the song's time-signature word (display values)

  uint8_t longBuffers[2][kLongMessageBufferSize] = {};
  QDLongHeader longHeaders[2];
  QDStreamHeader stream;

  // --- Playback: flags (stop flag 1 stops the timer's playing, stop flag 2
  // ends the status thread and the reset phase).
  std::atomic<int32_t> stopFlag1{0};
  std::atomic<int32_t> stopFlag2{0};
  std::atomic<int32_t> endReached{0};
  std::atomic<int32_t> resetPhaseEnd{0};
  // Pause (PAUSE, F6): kQDPauseNone, kQDPauseAsked (the window asked; the
  // timer callback releases the sounding notes and holds), kQDPauseHeld
  // (time stands still since pauseStartUs).
  std::atomic<int32_t> pause{0};
  std::atomic<int64_t> pauseStartUs{0};
  std::atomic<int32_t> statusEnded{0};  // the status thread's end mark
  std::atomic<int32_t> playerExitCode{0};
  std::atomic<int32_t> statusExitCode{0};

  // The stream as handed over by QDStreamOut (the threads read only these).
  std::atomic<const uint8_t*> playData{nullptr};
  std::atomic<uint32_t> playLength{0};
  std::atomic<const TimeTableEntry*> playTable{nullptr};
  std::atomic<uint32_t> playTableEntries{0};

  // Times on the installed timer's clock, in microseconds.
  std::atomic<int64_t> startUs{0};          // when tick 0 plays
  std::atomic<int64_t> stallUs{0};          // stalls added to the start time
  std::atomic<int64_t> lastCallbackUs{0};
  // Elapsed time already turned into ticks, in 1/65536 microseconds.
  std::atomic<int64_t> convertedFx{0};
  std::atomic<int64_t> tickAccumulator{0};  // ticks due and not yet spent
  std::atomic<uint32_t> pendingDelta{0};    // delta of the next record, 0 = not yet read
  std::atomic<int64_t> totalTicks{0};
  std::atomic<int32_t> markerIndex{0};      // marker records played: the time-table index
  std::atomic<uint32_t> readOffset{0};
  std::atomic<int32_t> periodInForce{0};    // the timer's period while it runs
  std::atomic<uint32_t> timerId{0};

  // Reset sequence progress (player thread only), in milliseconds.
  std::atomic<uint32_t> resetReadOffset{0};
  std::atomic<int64_t> resetElapsed{0};
  std::atomic<uint32_t> resetPendingDelta{0};

  // Notes sounding per port and channel, one bit per key (the timer
  // callback's own: the pause releases them).
  uint64_t sounding[2][16][2] = {};

  // Level meter: highest note-on velocity since the last read in bits 16-23;
  // the last volume-like control change (data 2 in bits 16-23).
  std::atomic<int32_t> levels[kQDLevelChannels] = {};
  std::atomic<int32_t> lastVolume[kQDLevelChannels] = {};

  // --- Threads (window thread only).
  std::unique_ptr<TimedThread> playerThread;
  std::unique_ptr<TimedThread> statusThread;
  bool threadsResumed = false;

  // --- Hooks.
  std::atomic<QDNotifyProc> notifyProc{nullptr};
  std::atomic<QDStatusProc> statusProc{nullptr};
  std::atomic<int32_t> statusSink{0};  // a status sink is registered
  std::atomic<uint32_t> lastStatusMs{0};
  std::atomic<QDWrdHook> wrdHook{nullptr};
  std::atomic<int32_t> wrdDisplayOn{-1};

  int32_t deviceId(int output) const;
};

// The one player state of the process. ERRORCODE is QGEngineErrorCode().
TMIDIEXEState& QDPlayer();
// Puts the state back as it is at program start (ends running threads,
// closes open devices).
void QDResetPlayer();

// The current output handle: null while no device is open.
MidiOutPort* QDCurrentHandle();

void QDSetNotifyProc(QDNotifyProc proc);
// The progress procedure and whether a status sink is registered.
void QDSetStatusProc(QDStatusProc proc);
void QDSetStatusSink(bool registered);
// The WRD step (null clears it) and the WRD display switch.
void QDSetWrdHook(QDWrdHook hook);
void QDSetWrdDisplay(bool on);
// The song's normalised division and time-signature word, for the display
// values (the window hands them over when a song starts).
void QDSetSongInfo(int32_t tickDivision, uint32_t hyosi);

// Sleeps of the player go through one function: by default the installed
// timer's (so that a manual timer drives them); tests may replace it.
void QDSleep(uint32_t ms);
void QDSetSleepFunction(void (*sleeper)(uint32_t ms));

// Device calls. With MIDIDISABLE 1 each reports success and touches nothing;
// opening then yields a handle that does nothing.
MidiResult QDMidiOutOpen(int32_t deviceId, std::unique_ptr<MidiOutPort>* port);
MidiResult QDMidiOutClose(MidiOutPort* port);
MidiResult QDmidiOutPrepareHeader(MidiOutPort* port, QDLongHeader* header);
MidiResult QDmidiOutUnprepareHeader(MidiOutPort* port, QDLongHeader* header);
// Sending and resetting: -1 when the device call throws (no trace entry).
MidiResult QDmidiOutShortMsg(MidiOutPort* port, uint32_t message);
// Sends exactly header->bytesRecorded bytes of the header's buffer.
MidiResult QDmidiOutLongMsg(MidiOutPort* port, QDLongHeader* header);
MidiResult QDmidiOutReset(MidiOutPort* port);

// Opens the configured outputs; success when the last attempt succeeded or
// none was attempted. Notifies kQDNotifyOpen.
bool QDStreamOpen();
// Ends the player's threads, resets and closes every open output; the last
// close result. Notifies kQDNotifyClosed.
MidiResult QDStreamClose();

// Base division of the song; recomputes the effective division and tick length.
void QDSetTimeDiv(int32_t division);
// SPEED: recomputes the effective division only (the tick length follows at
// the next tempo record).
void QDSetSpeed(int32_t speed);
// Prepares the long-message headers of the open port A devices (0 on
// success, 1 when none is open) and sets the starting tempo and tick length.
int32_t QDOutStreamHeader();
// Releases the long-message headers; the last result.
int32_t QDOutUnPreperHeader();

// Creates the player and status threads, suspended (-1). When they exist
// already, stops them instead and returns 0.
int32_t QDStreamOut();
// Sets the start time and lets both threads run (0; -1 without threads).
int32_t QDStreamReStart();
// Forces the end of playback and lets both threads run to their end (-1).
int32_t QDStreamStop();
// Pause: the timer callback, at its next deadline, sends a note-off for
// every note still sounding and "all sound off" (controller 120) on every
// channel of every open device, then plays nothing and lets no time pass;
// the status thread neither reports progress nor runs the WRD step.
// QDStreamPause: 0 when the pause was asked for; -1 when no song plays or it
// is paused already. QDStreamResume: 0 when the song goes on from where it
// stood (the time held is added to its start); -1 when it was not paused.
// Both on the window thread; a stop ends a paused song as any other.
constexpr int32_t kQDPauseNone = 0;
constexpr int32_t kQDPauseAsked = 1;
constexpr int32_t kQDPauseHeld = 2;
int32_t QDStreamPause();
int32_t QDStreamResume();
bool QDStreamPaused();
// The window's stop request: both stop flags := -1. The timer stops playing
// at once, the status thread ends and the player thread winds down.
void QDRequestStop();
// The position code (bar × 10000 + tick) of the current time-table entry;
// returns 0.
int32_t QDStreamPosition(int32_t* code);

// The timer callback and the two thread bodies (exposed for tests and the
// benchmark; the player runs them itself).
void QDTimerCallback(TMIDIEXEState& s);
void QDPlayerThread(TMIDIEXEState& s);
void QDStatusThread(TMIDIEXEState& s);
