// The engine as one object: it owns the song reader (the current song's name
// and metadata, and the converter), the player with its state, the display
// and the WRD runtime (compiled table, executor state, picture slots), and
// the result code they record their failures in. Whoever makes it hands it
// the platform services it uses and its starting settings; two engines in
// one process share nothing but the trace log and the memory accounting.
//
// Threads: the window thread (whoever owns the engine) calls everything
// here; the player's worker, player and status threads report through the
// listener, and the status thread runs the WRD step inside the engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/play_sequence.h"
#include "engine/graphics/display.h"
#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_runtime.h"
#include "platform/glyphs.h"
#include "platform/message_box.h"
#include "platform/midi_out.h"
#include "platform/presenter.h"
#include "platform/timer.h"
#include "support/result_code.h"

// The platform services an engine uses. A service left null is one that
// does nothing or fails visibly (no devices, no periodic timer, no picture,
// no fonts, messages on standard error); the services must outlive the engine.
struct EngineServices {
  MidiOutSystem* devices = nullptr;
  TimerSystem* timer = nullptr;
  Presenter* presenter = nullptr;
  GlyphSystem* glyphs = nullptr;
  MessageSink* messages = nullptr;
};

// The settings an engine starts with (the host's settings store, command
// line and dialogs hold them; settings() reads them back).
struct EngineSettings {
  // Port A first, port B first, port A second, port B second: -1 the
  // mapper, 256 none.
  int32_t devices[kQDOutputs] = {kMidiMapper, kMidiMapper, kMidiMapper, kMidiMapper};
  int32_t timerMidi = 8;   // TIMERMIDI
  int32_t resetMode = 0;   // RESETMODE
  int32_t wrdDelay = 3;    // WRDDELAY
  bool wrdVisible = true;  // WRDVISIBLE
  bool xyMode = false;     // EXTOPTION4 bit 0
  QDFont font;             // the WRD font
};

// What the engine tells its owner; each call from the thread named.
class EngineListener {
 public:
  virtual ~EngineListener() = default;
  // Player worker: the outputs were opened (ok: the last attempt opened).
  virtual void engineOpened(bool ok) { (void)ok; }
  // Player thread: the song's threads have finished.
  virtual void engineDone() {}
  // Player worker: the outputs are closed (the last close's result).
  virtual void engineClosed(MidiResult result) { (void)result; }
  // Status thread: progress, the milliseconds since tick 0.
  virtual void engineProgress(int32_t msSinceStart) { (void)msSinceStart; }
};

class Engine final : public PlaySteps, private PlayerListener {
 public:
  explicit Engine(EngineServices services, const EngineSettings& settings = EngineSettings());
  ~Engine() override;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  TQUORMSTR& song() { return song_; }
  Player& player() { return player_; }
  GraphicsDisplay& display() { return display_; }
  WrdRuntime& wrd() { return wrd_; }
  ResultCode& result() { return result_; }
  TMIDIEXE& properties() { return properties_; }
  TQUORONPU& score() { return score_; }
  const EngineServices& services() const { return services_; }

  // Null: nobody listens.
  void setListener(EngineListener* listener) { listener_.store(listener); }

  // The settings now in force, and new ones (devices, timer period, play
  // mode, WRD offset, display and XY mode, font).
  void apply(const EngineSettings& settings);
  EngineSettings settings() const;

  // --- PlaySteps (the play sequence's steps, on the window thread).
  bool openOutputs() override;
  bool startSong() override;
  void stopSong() override;
  void requestStop() override;
  bool pauseSong() override;
  bool resumeSong() override;
  bool closeOutputs() override;
  void songClosed() override;
  // A script, or the lyrics of a song without one, on the WRD display: it
  // goes at the song's end as STOPOPTION says.
  bool wrdLoaded() override { return wrd_.loaded() || wrd_.lyricsShown(); }
  bool wrdVisible() override { return wrdVisible_; }
  void wrdStop() override;
  void wrdStopMessage() override { wrd_.stopMessage(); }
  void setResult(int32_t code) override { result_.set(code); }

  // Jumps to ms of the song that plays (or is paused): the player sends the
  // chased state and goes on from there, and the WRD screen shows what
  // playing up to there shows. False when no song plays.
  bool seek(int32_t ms);
  int32_t positionMs() const { return player_.positionMs(); }
  int32_t lengthMs() const { return player_.lengthMs(); }

  // Whether the WRD display shows scripts (WRDVISIBLE).
  void setWrdVisible(bool visible);

 private:
  // PlayerListener.
  void playerOpened(bool ok) override;
  void playerDone() override;
  void playerClosed(MidiResult result) override;
  void playerProgress(int32_t msSinceStart) override;
  void playerWrdStep(uint32_t nowMs) override;

  EngineListener* listener() const { return listener_.load(); }
  void showLyrics();

  EngineServices services_;
  ResultCode result_;
  TQUORMSTR song_;
  Player player_;
  GraphicsDisplay display_;
  WrdRuntime wrd_;
  TMIDIEXE properties_;
  TQUORONPU score_;
  bool wrdVisible_ = true;
  std::atomic<EngineListener*> listener_{nullptr};
};
