// The engine's result code: one value that a failing routine sets to its
// number and the player's ERRORCODE property reports (the last one wins).
#pragma once

#include <atomic>
#include <cstdint>

std::atomic<int32_t>& QGEngineErrorCode();

inline void QGSetErrorCode(int32_t code) { QGEngineErrorCode().store(code); }

// What a result code means, in words for a person ("" for 0; a code
// without words of its own gets its group's, a number no routine sets a
// general phrase).
const char* QGResultCodeText(int32_t code);
// Codes that leave the work done (a song that plays all the same): said as a
// warning, with a successful exit.
bool QGResultIsWarning(int32_t code);
// Codes that only describe a song that is fine (9107: a Recomposer song
// with rests): clients read them in ERRORCODE; users are not told.
bool QGResultIsQuiet(int32_t code);
