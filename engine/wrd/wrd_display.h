// TWRDCRE, the engine's WRD control object: the WRD settings the main
// window, the option dialog and the automation interface read and write,
// and the routines that bring the WRD display up for a song, take it down,
// and write the status-line messages. The WRD window is the installed
// presenter (platform/presenter.h).
//
// Threads: everything here runs on the engine's window thread; the tick it
// installs runs on the player's status thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/graphics/display.h"
#include "engine/wrd/wrd_state.h"

class TQUORMSTR;

// The tick the player's status thread calls with the song position while a
// WRD display is up (null: none).
using TWRDTickHook = void (*)(int32_t position);
std::atomic<TWRDTickHook>& WRDPlayerHook();

// Status-line texts (UTF-8 here; drawn as code page 932).
inline constexpr const char* kWRDMsgLoading = "ファイルをローディング中";
inline constexpr const char* kWRDMsgStart = "演奏を開始します。";
inline constexpr const char* kWRDMsgStop = "演奏を終了します。";
inline constexpr const char* kWRDMsgScript = "WRDファイルをローディング中";
inline constexpr const char* kWRDMsgPictures = "MAGファイルをローディング中";

class TWRDCRE {
 public:
  // WRD display offset in 1/48 quarter notes (WRDDELAY).
  int32_t getWRDDelay() const { return delay_; }
  void setWRDDelay(int32_t steps) { delay_ = steps; }
  int32_t getWRDEnd() const { return end_; }
  void setWRDEnd(int32_t flag) { end_ = flag; }
  int32_t getWRDLoaded() const { return WRDState().loaded.load(); }
  int32_t getClickGuard() const { return WRDState().clickGuard.load(); }
  void setClickGuard(int32_t flag) { WRDState().clickGuard = flag; }
  int32_t getBeatsPerBar() const { return beatsPerBar_; }
  void setBeatsPerBar(int32_t beats) { beatsPerBar_ = beats; }
  const std::array<TWRDPalEntry, 256>& getSystemPalette() const { return WRDState().systemPalette; }
  void setSystemPalette(const std::array<TWRDPalEntry, 256>& p) { WRDState().systemPalette = p; }
  void setWRDFileName(const std::string& name) { fileName_ = name; }
  int32_t getFullScreen() const { return fullScreen_; }
  void setFullScreen(int32_t flag);
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

  bool subWRDLoad();
  // Compiles the script named by setWRDFileName against the converted song:
  // its division, beats per bar, end position and time-map size, with the
  // WRD display offset (the one compile of subWRDLoad, shared with the
  // tool). False when the script did not compile.
  bool compileSongScript(const TQUORMSTR& song);
  void subWRDStop();
  void subWRDLoadMsgOut();
  void subWRDKaisiMsgOut();
  void subWRDStopMsgOut();

  // Clears `running` and waits until no tick is inside, so that the tables
  // and the display can go (at most timeoutMs milliseconds).
  static void StopTicks(int timeoutMs = 2000);

 private:
  void dropDisplay();
  void placeWindow();

  int32_t delay_ = 0;
  int32_t end_ = 0;
  int32_t beatsPerBar_ = 4;
  std::string fileName_;
  int32_t fullScreen_ = -1;
  int32_t left_ = 0;
  int32_t top_ = 0;
  int32_t visible_ = -1;
  int32_t minimisedValue_ = 0;
  bool cursorHidden_ = false;
};

// The process's WRD control object.
TWRDCRE& WRDControl();

// Draws a message on the status line (rows 384..399): code page 932 text,
// cut to 80 bytes. Nothing happens while no display exists.
void WRDStatusMessage(const std::string& cp932Text);
// Loads the named pictures into their slots (63 down to 0) as a song start
// does; slot 0's colours go to palettes 17 and 18. Needs the display.
void WRDLoadPictures();
