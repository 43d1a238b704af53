// The play sequence of one engine as a state machine: a song is opened (the
// outputs, on the player's worker), started (converted, its WRD script
// loaded, its threads released), played (and paused), stopped, and closed
// (the outputs, on the worker), and every song started ends with exactly one
// end report, -1 (ended, stop) or -2 (ended, the next may follow), told to
// whoever made the sequence with the song's owner (the windows release the
// owner there when a status sink is registered; without one it stays until
// CLOSE). A song whose start failed is reported too (startFailed() says so).
//
//   idle --play--> opening --opened--> starting --(begin)--> playing <--> paused
//                     |                   |                     |          |
//                     +--stop-------------+--stop or failure--+ +--done----+
//                                                             v |  stop
//                  idle <--closed-- closing <--done-- stopping <+
//
// A stop that comes while the song is still opening or starting stops it:
// it is closed without playing. A play that comes while a song is being
// stopped or closed (or after a stop while it opens or starts) waits for
// the close and starts then; while a song is opening, starting or playing
// it is ignored (the song must end first).
//
// Threads: every call runs on the owner's thread. The reports of the
// player's threads (opened, done, closed) and the start of a song that has
// opened arrive through `post`, the owner's queued call onto that thread
// (a Qt queued call in the host, a queue the test drains in the tests), so
// they are handled in the order they came, among the owner's own calls.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

// What the sequence asks of the engine (the Engine implements it).
class PlaySteps {
 public:
  virtual ~PlaySteps() = default;
  // Starts opening the outputs for the current song (the opened report
  // follows); false when there is no song to open.
  virtual bool openOutputs() = 0;
  // Converts the song, loads its WRD script, hands it to the player and
  // releases the player's threads; false when the song cannot play (the
  // result code says why).
  virtual bool startSong() = 0;
  // Ends a playing song: its threads run to their end (the done report follows).
  virtual void stopSong() = 0;
  // The stop request of the windows: the timer stops playing at once and
  // the threads wind down (the done report follows).
  virtual void requestStop() = 0;
  // Pause and go on; false when the player refused.
  virtual bool pauseSong() = 0;
  virtual bool resumeSong() = 0;
  // Starts closing the outputs (the closed report follows).
  virtual bool closeOutputs() = 0;
  // The outputs are closed: the song is let go.
  virtual void songClosed() = 0;
  // The WRD side at a song's end.
  virtual bool wrdLoaded() = 0;
  virtual bool wrdVisible() = 0;
  virtual void wrdStop() = 0;
  virtual void wrdStopMessage() = 0;
  virtual void setResult(int32_t code) = 0;
};

// Result codes of the play sequence.
constexpr int32_t kErrNoPortA = 9000;
constexpr int32_t kErrRestart = 9100;
constexpr int32_t kErrWrdLoad = 9401;
constexpr int32_t kErrOpen = 9403;
constexpr int32_t kErrPreHeader = 9404;
constexpr int32_t kErrStreamOut = 9406;
constexpr int32_t kErrStreamStop = 9409;
constexpr int32_t kErrStreamClose = 9410;
constexpr int32_t kErrNothingToSeek = 9411;  // a seek while no song of the caller plays

// Status values of a song's end.
constexpr int32_t kStatusEndedStop = -1;
constexpr int32_t kStatusEndedContinue = -2;

// How a stop was asked for.
enum class StopKind {
  Stop,      // F7, Shift+End, the automation STOP and CLOSE: the end reports -1
  StopQuiet, // Shift+End: the same without the status-line message
  Next,      // F9/F10 with STOPOPTION 1: the end reports -2
  Close,     // F3 while a song is open: the stop flags only, the end flag kept
};

class PlaySequence {
 public:
  enum class State { Idle, Opening, Starting, Playing, Paused, Stopping, Closing };

  using Post = std::function<void(std::function<void()>)>;
  // Told once per song opened: the end status (-1 or -2) and the owner
  // that asked for it (null: the windows or the command line).
  using Ended = std::function<void(int32_t status, const void* owner)>;

  PlaySequence(PlaySteps& steps, Post post, Ended ended);
  // Told each time a song has started playing (its threads released).
  void setStarted(std::function<void()> started) { started_ = std::move(started); }

  // --- The owner's requests.
  // Starts the current song for owner (OnUserPar2): the WRD end flag
  // follows STOPOPTION (-1 for 0, else 0). False when nothing was started
  // or queued (no song to open: result code 9403).
  bool play(const void* owner = nullptr);
  void stop(StopKind kind);
  // PAUSE holds a playing song; RESTART lets a paused one go on.
  void pause();
  void resume();

  // --- The player's reports (call them through post from any thread, or
  // directly on the owner's thread).
  void opened(bool ok);
  void done();
  void closed(int32_t closeResult);

  State state() const { return state_; }
  // A song is open (opening to closing).
  bool songOpen() const { return state_ != State::Idle; }
  // The song's threads were released and have not yet ended.
  bool playing() const { return state_ == State::Playing || state_ == State::Paused || state_ == State::Stopping; }
  bool paused() const { return state_ == State::Paused; }
  // The owner of the song (the automation object whose PLAY started it).
  const void* owner() const { return owner_; }
  void setOwner(const void* owner) { owner_ = owner; }
  // A play waits for the close of the song before it.
  bool playPending() const { return pendingPlay_; }
  // A stop that comes after a play waiting for the close drops that play.
  bool cancelPendingPlay() { return std::exchange(pendingPlay_, false); }

  int32_t stopOption() const { return stopOption_; }
  void setStopOption(int32_t value) { stopOption_ = value; }
  // The WRD end flag: -1 the song's end reports -1, 0 it reports -2.
  int32_t endFlag() const { return endFlag_; }
  void setEndFlag(int32_t flag) { endFlag_ = flag; }
  // The last song could not be started (or its outputs not opened).
  bool startFailed() const { return startFailed_; }

 private:
  void begin();
  void close();
  void applyStopKind(StopKind kind);
  void report();

  PlaySteps& steps_;
  Post post_;
  Ended ended_;
  std::function<void()> started_;
  State state_ = State::Idle;
  const void* owner_ = nullptr;
  bool stopAsked_ = false;
  bool pendingPlay_ = false;
  const void* pendingOwner_ = nullptr;
  int32_t stopOption_ = 0;
  int32_t endFlag_ = -1;
  bool startFailed_ = false;
};

// The state's name, for messages and tests.
const char* PlayStateName(PlaySequence::State state);
