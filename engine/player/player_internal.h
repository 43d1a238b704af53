// Shared between the player's source files only.
#pragma once

#include "engine/player/midi_player.h"

// Tick length from the tempo and the effective division: whole microseconds
// for the state (usPerTick, at least 1) and 1/65536 µs for the timer
// callback's arithmetic (tickLengthFx, at least 1 µs).
void QDRecomputeTickLength(TMIDIEXEState& s);

// Ends the player's threads (stopping them first when they still play) and
// forgets them; threads that never ran are dropped unrun.
void QDEndThreads(TMIDIEXEState& s);
