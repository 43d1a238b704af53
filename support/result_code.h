// The engine's result code: one value that a failing routine sets to its
// number and the player's ERRORCODE property reports (the last one wins).
#pragma once

#include <atomic>
#include <cstdint>

std::atomic<int32_t>& QGEngineErrorCode();

inline void QGSetErrorCode(int32_t code) { QGEngineErrorCode().store(code); }

// What a result code means, in words for a person ("" for 0, a general
// phrase for a number no routine sets).
const char* QGResultCodeText(int32_t code);
