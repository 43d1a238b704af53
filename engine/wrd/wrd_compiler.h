// The WRD compiler: reads a script and turns it, before playback, into the
// time-ordered command table and its side tables (state block, wrd_state.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/wrd/wrd_state.h"

// Reads and compiles the script, shrinks the tables and marks the WRD loaded.
bool subWRDInit(TWRDState& s, const std::string& fileName);
// The same for a non-empty script, without shrinking the tables or marking
// it loaded: enough to list the picture slot names.
bool subWRDInit2(TWRDState& s, const std::string& fileName);

// Compiles the buffer held in the state block. keepTables false allocates
// the tables afresh. True when the script's end was reached.
bool subWRDTableCreate(TWRDState& s, bool keepTables, const std::string& scriptName);
// Reallocates every table to its final size; resets the run-time cursors.
bool subWRDTableCre2(TWRDState& s);
// Post-pass: times made non-decreasing, text and scroll entries batched,
// time-0 entries run when an executor is installed.
bool subWRDTableCalc(TWRDState& s);
// Moves the pending entries that are due at the clock into the table.
bool subWRDStack(TWRDState& s, int32_t& readIndex);
// Colour digits ("F80") into entry of the PAL record being built, and into
// entry of compile-time palette (outside 0..21 means 0).
bool subPalCvt(TWRDState& s, std::string_view colour, int32_t entry);
bool subPalCvtRGB(TWRDState& s, std::string_view colour, int32_t entry, int32_t palette);

// The script of a song: the song's folder, its file name up to the first
// '.', then ".wrd" (found in any letter case); "" when there is none.
std::string WRDScriptNameFor(const std::string& songPath);

// --- for the compiler's own parts
// An entry at the clock; its index.
int32_t WRDAddEntry(TWRDState& s, uint8_t op, int32_t arg);
int32_t WRDAddRect(TWRDState& s, const TWRDRect& rect);
// (bar, ticks) as a WRD time: ticks moved into the bar range, never below 0.
int32_t WRDNormalise(TWRDState& s, int64_t bar, int64_t ticks);
// time + ticks, normalised.
int32_t WRDAddTicks(TWRDState& s, int32_t time, int64_t ticks);
// All 22 compile-time palettes set to the default colours.
void WRDDefaultPalettes(TWRDState& s);
