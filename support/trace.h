// Trace log: a plain-text file "QUORTRC.LOG" beside the program that records
// which routines failed during a run, and the table of tracked allocations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Starts tracing for a run. The trace file goes into the directory of
// programPath, or into $XDG_STATE_HOME/QUOR/ when that directory is not
// writable (an installed program).
void QGTrOpen(const std::string& programPath);

// Deletes an existing trace file and creates it anew holding "TRACE ON".
void QGTrStart();

void QGTrText(std::string_view text);
void QGTrNum(int32_t n);
void QGTrNumText(int32_t n, std::string_view text);
void QGTrNumHex(int32_t n, uint64_t value);

// Full path of the trace file of this run ("" before QGTrOpen).
std::string QGTrFilePath();

// Entries counted in this run (dropped ones included).
int32_t QGTrEntryCount();

// Eight upper-case hexadecimal digits (more when the value needs them).
std::string QGTrHex(uint64_t value);

// Last resort for errors nothing else trapped: writes "UserException " and the
// text, then the routines this thread was running (innermost last).
void QGTrUserException(std::string_view text);

// Installs a terminate handler that reports an escaping exception through
// QGTrUserException before the program ends.
void QGInstallUserExceptionHandler();
