// The WRD executor: runs the compiled command table against the display
// while the song plays. Each entry is a few raster operations on the graphic
// pages and the text layer, a palette change, and the composition of the
// changed rectangle of the screen buffer.
//
// Threads: subWRDTick and subWRDExec run on the player's status thread; the
// window thread clears `running` (and waits for `tickIdle`) before it frees
// the tables or the display.
#pragma once

#include <cstdint>

#include "engine/graphics/bitmap.h"
#include "engine/wrd/wrd_state.h"
#include "support/result_code.h"

// Entries run this many ticks before their time at the latest.
constexpr int32_t kWRDLookAhead = 3;
// Result code of a display palette that could not be set.
constexpr int32_t kWRDPaletteFailed = 9002;

class GraphicsDisplay;
class PictureSlots;

// Runs a WRD state block's command table on a display with its picture slots.
class WrdExecutor {
 public:
  WrdExecutor(TWRDState& s, GraphicsDisplay& display, PictureSlots& slots, ResultCode& result);

  // subWRDTick: runs, in table order, every entry whose time lies before
  // position + 3 (so a position that jumped ahead catches up every overdue
  // entry at once). Does nothing while `running` is clear or another tick
  // is inside.
  void tick(int32_t position);
  // Runs every entry due at position in table order (the body of a tick,
  // for whoever holds it), yielding between entries when asked.
  void runDue(int32_t position, bool yield);
  // Entries due only after position have already run (a jump backwards).
  bool ranPast(int32_t position) const;
  // subWRDExec: runs command-table entry `index` (failures end that entry silently).
  void exec(int32_t index);

  // Puts the run-time drawing state back to a script's start: drawing and
  // shown page 0, graphics on, no text batch.
  void resetRunState();
  // GraphicsDisplay entries 226..241 from palette 0; result code 9002 when the
  // display palette could not be set. Then waits for the vertical blank.
  void applyPalette0();
  // Redraws a rectangle of the screen buffer from the shown page (or colour
  // 0 while graphics are off) with the text layer over it, and presents it.
  void compose(int32_t x, int32_t y, int32_t width, int32_t height);
  // The same widened to 4-pixel columns.
  void composeWidened(int32_t x, int32_t y, int32_t width, int32_t height);
  void composeAll();
  // Clears rows 384..399 of the screen buffer (0) and of the text layer
  // (242) and shows them.
  void clearStatusLine();
  // Installs the executor's steps into the compiler's post-pass (time-0
  // entries and clearing the status line).
  void install();

  struct Box {
    int32_t x, y, w, h;
  };

 private:
  TQGBitmap& page(int32_t n);
  void composeIfShown(int32_t drawnPage, const Box& b);
  Box drawText(int32_t end);
  void growDirty(const Box& b, bool first);
  void composeDirty();
  void erase(int32_t record, bool compose);
  void scroll(int32_t record, bool compose);
  void gline(int32_t record, bool planes);
  void gcircle(int32_t record, bool planes);
  void gmove(int32_t record, bool planes);
  void picture(int32_t record, bool compose);
  void pal(int32_t record);
  void palrev(int32_t n);
  void fade(int32_t record);
  void execute(int32_t index);

  TWRDState& s_;
  GraphicsDisplay& display_;
  PictureSlots& slots_;
  ResultCode& result_;
};
