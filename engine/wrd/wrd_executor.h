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

#include "engine/wrd/wrd_state.h"

// Entries run this many ticks before their time at the latest.
constexpr int32_t kWRDLookAhead = 3;
// Result code of a display palette that could not be set.
constexpr int32_t kWRDPaletteFailed = 9002;

// One tick: runs, in table order, every entry whose time lies before
// position + 3 (so a position that jumped ahead catches up every overdue
// entry at once). Does nothing while `running` is clear or another tick is
// inside.
void subWRDTick(int32_t position);
// Runs command-table entry `index` (failures end that entry silently).
void subWRDExec(int32_t index);

// Puts the run-time drawing state back to a script's start: drawing and
// shown page 0, graphics on, no text batch.
void WRDResetRunState();
// Display entries 226..241 from palette 0; result code 9002 when the display
// palette could not be set. Then waits for the vertical blank.
void WRDApplyPalette0();
// Redraws a rectangle of the screen buffer from the shown page (or colour 0
// while graphics are off) with the text layer over it, and presents it.
void WRDCompose(int32_t x, int32_t y, int32_t width, int32_t height);
// The same widened to 4-pixel columns.
void WRDComposeWidened(int32_t x, int32_t y, int32_t width, int32_t height);
void WRDComposeAll();

// Installs the executor's steps into the compiler's post-pass (time-0
// entries and clearing the status line).
void WRDInstallExecutor();
// Clears rows 384..399 of the screen buffer (0) and of the text layer (242)
// and shows them.
void WRDClearStatusLine();
