// The player (TMIDIEXE): opens the output devices, takes a converted song,
// and plays it with two threads of its own: a player thread (reset sequence,
// then a periodic timer whose callback sends every message when its time has
// come) and a status thread (progress reports and the WRD step). Each engine
// has one; it is given the devices, the timer and the result code it uses,
// and reports to its owner through one listener.
//
// The device settle waits (41 ms at open and close) never run on the
// caller's thread: openAsync and closeAsync do the work on a worker thread
// of the player's own and report when it is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/player/song_chase.h"
#include "engine/player/stream_record.h"
#include "engine/song/packed_song.h"
#include "platform/midi_out.h"
#include "platform/timer.h"
#include "support/result_code.h"

// The four outputs, in the order every device loop uses.
constexpr int kQDOutputs = 4;
constexpr int kQDPortAFirst = 0;   // DEVICEID1A
constexpr int kQDPortBFirst = 1;   // DEVICEID2A
constexpr int kQDPortASecond = 2;  // DEVICEID1B
constexpr int kQDPortBSecond = 3;  // DEVICEID2B

// The codes of the player's reports as the engine window once received them
// (kept for the boundaries that still name them).
constexpr int32_t kQDNotifyOpen = 967;
constexpr int32_t kQDNotifyClosed = 968;
constexpr int32_t kQDNotifyDone = 969;
constexpr int32_t kQDNotifyData = 970;  // never sent

// Result codes of the hand-over (the song reader's family).
constexpr int32_t kQDErrHeaders = 9101;   // the long-message headers could not be prepared
constexpr int32_t kQDErrNoOutput = 9106;  // no output device is open

constexpr uint32_t kQDHeaderPrepared = 0x2;

// Level meter: 16 channels of port A, then 16 of port B.
constexpr int kQDLevelChannels = 32;
// Volume 100 in bits 16-23: what every channel's last volume starts as.
constexpr int32_t kQDDefaultVolume = 0x640000;

// Pause states: kQDPauseAsked (the window asked; the timer callback
// releases the sounding notes and holds), kQDPauseHeld (time stands still
// since pauseStartUs).
constexpr int32_t kQDPauseNone = 0;
constexpr int32_t kQDPauseAsked = 1;
constexpr int32_t kQDPauseHeld = 2;

// Header of one system exclusive send buffer (one per port A device).
struct QDLongHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;   // the song's long-message maximum
  uint32_t bytesRecorded = 0;  // length of the message being sent
  uint32_t flags = 0;          // kQDHeaderPrepared
};

// A jump the owner's thread prepared for the timer callback: where the song
// goes on, and what the module must be sent first.
struct QDSeekPlan {
  QDSongPoint point;
  QDChase chase;
};

// What the player tells its owner. Each call comes from the thread named.
class PlayerListener {
 public:
  virtual ~PlayerListener() = default;
  // Worker thread: the configured outputs were opened; ok when the last
  // attempt succeeded (or none was made).
  virtual void playerOpened(bool ok) { (void)ok; }
  // Player thread: the song's threads have finished (its end, or a stop).
  virtual void playerDone() {}
  // Worker thread: every output is closed; the last close's result.
  virtual void playerClosed(MidiResult result) { (void)result; }
  // Status thread, every status period while progress reports are wanted
  // (a status sink is registered and TITLEVISIBLE is not 1): the
  // milliseconds since the song's tick 0.
  virtual void playerProgress(int32_t msSinceStart) { (void)msSinceStart; }
  // Status thread, every status period while the WRD step is on and the WRD
  // display is shown (before any progress report): the timer's millisecond
  // clock.
  virtual void playerWrdStep(uint32_t nowMs) { (void)nowMs; }
};

// Everything the player keeps. Flags and counters that the player's threads
// share are atomics, each with one writer. The device handles and headers
// change only while no song plays.
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
  std::atomic<int32_t> detectedSetup{0};  // what the converter detected in mode 2
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

  // --- Playback: flags (stop flag 1 stops the timer's playing, stop flag 2
  // ends the status thread and the reset phase).
  std::atomic<int32_t> stopFlag1{0};
  std::atomic<int32_t> stopFlag2{0};
  std::atomic<int32_t> endReached{0};
  std::atomic<int32_t> resetPhaseEnd{0};
  std::atomic<int32_t> pause{0};
  std::atomic<int64_t> pauseStartUs{0};
  std::atomic<int32_t> statusEnded{0};  // the status thread's end mark
  std::atomic<int32_t> playerExitCode{0};
  std::atomic<int32_t> statusExitCode{0};

  // The song as the threads read it (set by start, from the song taken).
  std::atomic<const uint8_t*> playData{nullptr};
  std::atomic<uint32_t> playLength{0};
  std::atomic<const TimeTableEntry*> playTable{nullptr};
  std::atomic<uint32_t> playTableEntries{0};

  // Times on the player's timer clock, in microseconds.
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
  // Channels that have been sent a short message, per port (bit per channel).
  uint16_t channelsUsed[2] = {};

  // --- A jump asked for and not yet made by the timer callback: its target
  // (song microseconds, -1 none) and the marker records before it.
  std::atomic<int64_t> seekPendingUs{-1};
  std::atomic<int32_t> seekPendingMarkers{0};
  std::atomic<int64_t> lengthUs{0};  // the song's length at the speed it started with

  // Level meter: highest note-on velocity since the last read in bits 16-23;
  // the last volume-like control change (data 2 in bits 16-23).
  std::atomic<int32_t> levels[kQDLevelChannels] = {};
  std::atomic<int32_t> lastVolume[kQDLevelChannels] = {};

  // --- What the status thread does each period.
  std::atomic<int32_t> statusSink{0};  // progress reports are wanted
  std::atomic<uint32_t> lastStatusMs{0};
  std::atomic<int32_t> wrdStep{0};     // the WRD step is on
  std::atomic<int32_t> wrdStepProgress{0};  // progress is reported beside it
  std::atomic<int32_t> wrdDisplayOn{-1};

  int32_t deviceId(int output) const;
  // The time-table index in force: a jump asked for reads at once.
  int32_t markersNow() const {
    return seekPendingUs.load() >= 0 ? seekPendingMarkers.load() : markerIndex.load();
  }
};

class Player {
 public:
  Player(MidiOutSystem& devices, TimerSystem& timer, ResultCode& result);
  // Ends the song's threads and the worker, closes every output.
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  TMIDIEXEState& state() { return s_; }
  const TMIDIEXEState& state() const { return s_; }
  MidiOutSystem& devices() { return devices_; }
  TimerSystem& timer() { return timer_; }
  ResultCode& result() { return result_; }
  // Null: nobody listens.
  void setListener(PlayerListener* listener) { listener_.store(listener); }

  // --- Outputs.
  // Opens the configured outputs (after the devices' settle time) and
  // reports playerOpened, on the worker; false when an open or close is
  // still under way there.
  bool openAsync();
  // The same on the caller's thread (the listener hears it there): true
  // when the last attempt opened.
  bool open();
  // Ends the song's threads, releases the long-message headers, resets and
  // closes every open output (after the settle time), and reports
  // playerClosed on the worker (false while it is busy); the song is kept
  // for the display values until the owner lets it go (forgetSong) on its
  // own thread.
  bool closeAsync();
  // The same on the caller's thread (the listener hears it there), the song
  // let go; the last close's result.
  MidiResult close();
  void forgetSong() { song_ = PackedSong(); }
  // An open or close is running on the worker.
  bool busy() const { return busy_.load(); }
  // The current output handle: null while no device is open.
  MidiOutPort* currentHandle() const { return s_.currentHandle.load(); }

  // --- The song.
  // Takes a converted song: its division, the long-message headers of the
  // open port A devices, the starting tempo and tick length. False, with
  // the result code 9106 when no output is open or 9101 when the headers
  // cannot be prepared (the song is kept either way, until close).
  bool take(PackedSong song);
  const PackedSong& song() const { return song_; }
  // Creates the player and status threads, suspended, over the song taken.
  // When they exist already it stops them instead and returns false.
  bool start();
  // Sets the start time and lets both threads run; false without threads.
  bool release();
  // Forces the end of playback: both threads run to their end (the player
  // thread then reports playerDone). Waits for nothing.
  void stop();
  // The window's stop request: both stop flags := -1. The timer stops
  // playing at once, the status thread ends and the player thread winds down.
  void requestStop();
  // A stop was asked for and the threads have not yet come back to idle.
  bool stopping() const { return s_.stopFlag1.load() != 0; }
  // Threads exist for the song (started, not yet closed).
  bool hasThreads() const { return playerThread_ != nullptr || statusThread_ != nullptr; }
  // Pause: the timer callback, at its next deadline, sends a note-off for
  // every note still sounding and "all sound off" (controller 120) on every
  // channel of every open device, then plays nothing and lets no time pass;
  // the status thread neither reports progress nor runs the WRD step.
  // pause: true when the pause was asked for; false when no song plays or
  // it is paused already. resume: true when the song goes on from where it
  // stood (the time held is added to its start); false when it was not
  // paused. A stop ends a paused song as any other.
  bool pause();
  bool resume();
  bool paused() const { return s_.pause.load() != kQDPauseNone; }
  // The position code (bar × 10000 + tick) of the current time-table entry
  // (of the target while a jump is pending).
  int32_t position() const;
  // Jumps to ms of the song (playing or paused; clamped to its length): the
  // timer callback, at its next deadline after the lead-in, silences what
  // sounds, sends the chased state and goes on from there; paused, it stays
  // paused at the target. False when no song plays.
  bool seek(int64_t ms);
  // Song milliseconds played (the target at once after a seek), and the
  // song's length; 0 while no song was started.
  int32_t positionMs() const;
  int32_t lengthMs() const { return static_cast<int32_t>(s_.lengthUs.load() / 1000); }

  // --- Settings.
  // Base division of the song; recomputes the effective division and tick length.
  void setTimeDivision(int32_t division);
  // SPEED: recomputes the effective division only (the tick length follows
  // at the next tempo record).
  void setSpeed(int32_t speed);
  // RESETMODE, and the mode's reset sequence for the following songs.
  void setResetMode(int32_t mode);
  void setStatusSink(bool registered) { s_.statusSink.store(registered ? -1 : 0); }
  // The WRD step each status period; it takes the place of the progress
  // reports unless withProgress (the karaoke screen, which a listener
  // that shows the song's progress does not know of).
  void setWrdStep(bool on, bool withProgress = false) {
    s_.wrdStepProgress.store(withProgress ? -1 : 0);
    s_.wrdStep.store(on ? -1 : 0);
  }
  void setWrdDisplay(bool on) { s_.wrdDisplayOn.store(on ? -1 : 0); }
  // The song's normalised division and time-signature word, for the
  // display values (handed over when a song starts).
  void setSongInfo(int32_t tickDivision, uint32_t hyosi);

  // --- Output status (output_status.cpp): display values and totals by
  // their selectors, the level meter, device volume and balance.
  int32_t displayValue(int k);
  void setDisplaySelector(int k, int32_t selector);
  int32_t displaySelector(int k) const;
  int32_t totalValue(int k);
  int32_t levelValue();
  int32_t deviceVolume();
  int32_t deviceBalance();
  void setDeviceVolume(int32_t volume);
  void setDeviceBalance(int32_t balance);

  // --- Device calls. With MIDIDISABLE 1 each reports success and touches
  // nothing; opening then yields a handle that does nothing.
  MidiResult openDevice(int32_t deviceId, std::unique_ptr<MidiOutPort>* port);
  MidiResult closeDevice(MidiOutPort* port);
  MidiResult prepareHeader(MidiOutPort* port, QDLongHeader* header);
  MidiResult unprepareHeader(MidiOutPort* port, QDLongHeader* header);
  // Sending and resetting: -1 when the device call throws (no trace entry).
  MidiResult sendShort(MidiOutPort* port, uint32_t message);
  // Sends exactly header->bytesRecorded bytes of the header's buffer.
  MidiResult sendLong(MidiOutPort* port, QDLongHeader* header);
  MidiResult resetDevice(MidiOutPort* port);

  // The timer callback and the two thread bodies (tests and the benchmark
  // run them; the player runs them itself).
  void timerCallback();
  void playerThread();
  void statusThread();

 private:
  class Outputs;
  friend class Outputs;

  bool disabled() const { return s_.MIDIDISABLE.load() == 1; }
  PlayerListener* listener() const { return listener_.load(); }
  bool openOutputs();
  MidiResult closeOutputs();
  void releaseHeaders();
  // Ends the song's threads (stopping them first when they still play) and
  // forgets them; threads that never ran are dropped unrun.
  void endThreads();
  // Runs job on a new worker thread; false while the last one is still busy.
  bool onWorker(void (Player::*job)());
  void openJob();
  void closeJob();
  void recomputeTickLength();
  void recomputeEffectiveDivision();
  void sendDueReset(const std::vector<uint8_t>& seq);
  void hold();
  void releaseSounding();
  void applySeek(const QDSeekPlan& plan, int64_t now);
  void dropSeek();

  MidiOutSystem& devices_;
  TimerSystem& timer_;
  ResultCode& result_;
  std::atomic<PlayerListener*> listener_{nullptr};
  TMIDIEXEState s_;
  PackedSong song_;
  bool headersPrepared_ = false;  // the song's headers wait to be released
  // Written by seek, taken (and freed) by the timer callback.
  std::atomic<QDSeekPlan*> seekPlan_{nullptr};

  std::unique_ptr<TimedThread> playerThread_;
  std::unique_ptr<TimedThread> statusThread_;
  bool threadsResumed_ = false;

  std::atomic<bool> busy_{false};
  std::unique_ptr<TimedThread> worker_;
  std::vector<std::unique_ptr<TimedThread>> retired_;
};

// Tick length helpers shared by the player's source files.
int32_t QDTickMicroseconds(int64_t tempo, int64_t effectiveDivision);
