// The WRD runtime of one engine (the WRD control object TWRDCRE of old):
// the WRD settings the windows, the option dialog and the automation
// interface read and write; the compiled table and the executor's state
// (TWRDState); the 64 picture slots; and the routines that bring the WRD
// display up for a song, take it down, and write the status-line messages.
// The WRD window is the display's presenter.
//
// Threads: everything here runs on the engine's window thread, except
// tick, which the player's status thread calls.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/graphics/picture_slots.h"
#include "engine/song/packed_song.h"
#include "engine/song/song_lyrics.h"
#include "engine/wrd/wrd_executor.h"
#include "engine/wrd/wrd_state.h"
#include "support/result_code.h"

// Status-line texts (UTF-8 here; drawn as code page 932).
inline constexpr const char* kWRDMsgLoading = "ファイルをローディング中";
inline constexpr const char* kWRDMsgStart = "演奏を開始します。";
inline constexpr const char* kWRDMsgStop = "演奏を終了します。";
inline constexpr const char* kWRDMsgScript = "WRDファイルをローディング中";
inline constexpr const char* kWRDMsgPictures = "MAGファイルをローディング中";

class WrdRuntime {
 public:
  WrdRuntime(GraphicsDisplay& display, ResultCode& result);
  // Stops the ticks and lets the tables and the display go.
  ~WrdRuntime();
  WrdRuntime(const WrdRuntime&) = delete;
  WrdRuntime& operator=(const WrdRuntime&) = delete;

  TWRDState& state() { return s_; }
  const TWRDState& state() const { return s_; }
  PictureSlots& pictures() { return slots_; }
  WrdExecutor& executor() { return executor_; }
  GraphicsDisplay& display() { return display_; }

  // --- Settings (the properties of TWRDCRE).
  // WRD display offset in 1/48 quarter notes (WRDDELAY).
  int32_t getWRDDelay() const { return delay_; }
  void setWRDDelay(int32_t steps) { delay_ = steps; }
  // WRD end flag: -1 a song's end stops (status -1), 0 the next may follow (-2).
  int32_t getWRDEnd() const { return end_; }
  void setWRDEnd(int32_t flag) { end_ = flag; }
  int32_t getWRDLoaded() const { return s_.loaded.load(); }
  int32_t getClickGuard() const { return s_.clickGuard.load(); }
  void setClickGuard(int32_t flag) { s_.clickGuard = flag; }
  int32_t getBeatsPerBar() const { return beatsPerBar_; }
  void setBeatsPerBar(int32_t beats) { beatsPerBar_ = beats; }
  const std::array<TWRDPalEntry, 256>& getSystemPalette() const { return s_.systemPalette; }
  void setSystemPalette(const std::array<TWRDPalEntry, 256>& p) { s_.systemPalette = p; }
  int32_t getFullScreen() const { return fullScreen_; }
  void setFullScreen(int32_t flag) { fullScreen_ = flag; }
  int32_t getLeft() const { return left_; }
  void setLeft(int32_t left);
  int32_t getTop() const { return top_; }
  void setTop(int32_t top);
  int32_t getVisible() const { return visible_; }
  void setVisible(int32_t flag) { visible_ = flag; }
  // Reading asks the main window whether it is minimised; writing 1
  // minimises it, anything else restores it. The host installs both.
  int32_t getMinimised() const;
  void setMinimised(int32_t value);
  std::function<bool()> isMinimised;
  std::function<void(bool)> minimise;
  // The main window's WRD font; used when the display is next created.
  QDFont font;
  // The mouse cursor is hidden for the WRD window (the host shows the
  // cursor again when this clears).
  bool getCursorHidden() const { return cursorHidden_; }

  // --- A song.
  // subWRDLoad: brings the WRD display up for the song's script (an empty
  // name: the song has none) compiled against the converted song; false only
  // on an unexpected failure. A script that does not load leaves the
  // display down, as a song without one does, and says why (problem()).
  bool load(const std::string& script, const PackedSong& song);
  // Compiles the script against the converted song: its division, beats per
  // bar, end position and time-map size, with the WRD display offset (the
  // one compile of load, shared with the tools). False when it did not compile.
  bool compileScript(const std::string& script, const PackedSong& song);
  // subWRDTableCalc: the post-pass over the compiled table (time-0 entries
  // run on the display).
  bool tableCalc();
  // subWRDStop: ends the WRD display and frees every table.
  void stop();
  // Status-line messages: "<song> loading", "start", "end".
  void loadMessage(const std::string& songNameSjis);
  void startMessage();
  void stopMessage();
  // Draws a message on the status line (rows 384..399): code page 932
  // text, cut to 80 bytes. Nothing happens while no display exists.
  void statusMessage(const std::string& cp932Text);
  // Loads the named pictures into their slots (63 down to 0) as a song
  // start does; slot 0's colours go to palettes 17 and 18. Needs the display.
  void loadPictures();

  // --- The karaoke screen of a song with lyrics and no script.
  // Brings the display up for the lyrics as load does for a script (call
  // it after load found no script) and shows their first line; the
  // display then goes with stop, like a script's. titleUtf8: the top line
  // when the lyrics name no title. False when the display could not be
  // made (nothing is shown then).
  bool showLyrics(TSongLyrics lyrics, const std::string& titleUtf8);
  // The display shows lyrics (from showLyrics until stop; any thread).
  bool lyricsShown() const { return lyricsShown_.load(); }

  // The WRD step is installed for the song (a display is up with a script
  // or with lyrics).
  bool active() const { return active_.load(); }
  // The tick the player's status thread runs with the song position.
  void tick(int32_t position) {
    if (active_.load()) executor_.tick(position);
  }
  // The tick of the karaoke screen (status thread): draws the lyrics as
  // they stand after songTicks of the song's own ticks and presents them.
  void tickLyrics(uint64_t songTicks);
  // The same with the position read once the tick is held, so that a jump
  // made meanwhile is never undone by a position read before it.
  void tickAt(const std::function<int32_t()>& position);
  // Keeps the screen and the run state as they are now (a song's start,
  // after the post-pass), so that a jump backwards can start from there.
  void keepStart();
  // Brings the screen to what playing up to position shows: the entries due
  // there run without being shown (from the kept start when entries due
  // only later have run already), then the screen is shown once. False when
  // no script runs or no tick could be had.
  bool seek(int32_t position);
  // Clears `running` and waits until no tick is inside, so that the tables
  // and the display can go (at most timeoutMs milliseconds).
  void stopTicks(int timeoutMs = 2000);

  bool loaded() const { return s_.loaded.load() != 0; }
  bool displayExists() const { return s_.displayExists.load() != 0; }
  // Why the last script named did not load ("" when it did or none was
  // named): "empty", "too large (more than N bytes)", "missing or
  // unreadable", ... with the script's name in front.
  const std::string& problem() const { return problem_; }

 private:
  void dropDisplay();
  void placeWindow();
  void drawStatus(const std::string& text);
  void clearLayers();
  void noteProblem(const std::string& script);
  bool bringDisplayUp();
  void presentLyrics(uint32_t ms);
  struct Karaoke;
  void restoreStart();

  // The screen and run state at the song's start.
  struct Checkpoint {
    bool kept = false;
    std::vector<uint8_t> rasters[4];  // screen, page 0, text layer, page 1
    QGPalette palette{};
    std::array<TWRDPalette, kWRDPalettes> palettes{};
    int32_t nextEntry = 0, nextCell = 0, drawingPage = 0, shownPage = 0;
    bool graphicsOff = false;
    uint8_t graphicsMode = 15;
    std::array<bool, kQGSlotCount> slotFilled{};
  } start_;

  GraphicsDisplay& display_;
  ResultCode& result_;
  TWRDState s_;
  PictureSlots slots_;
  WrdExecutor executor_;
  std::atomic<bool> active_{false};
  // Made before the song's threads start; the status thread uses it only
  // inside a tick, and it goes after stopTicks.
  std::unique_ptr<Karaoke> karaoke_;
  std::atomic<bool> lyricsShown_{false};

  int32_t delay_ = 0;
  int32_t end_ = 0;
  int32_t beatsPerBar_ = 4;
  int32_t fullScreen_ = -1;
  int32_t left_ = 0;
  int32_t top_ = 0;
  int32_t visible_ = -1;
  int32_t minimisedValue_ = 0;
  bool cursorHidden_ = false;
  std::string problem_;
};

// Why a script did not compile, in words that follow "the script is"
// ("empty", "too large (more than N bytes)", ...).
std::string WRDProblemText(const TWRDState& s);
