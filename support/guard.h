// The failure policy, written once: a routine runs its body under a guard;
// anything the body throws is trapped, the routine's trace name is appended
// to the trace log, and the routine returns its failure value.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

#include "support/trace.h"

namespace qmidi::detail {
// Names of the guarded routines the current thread is inside, for the
// last-resort error report.
struct RoutineFrame {
  explicit RoutineFrame(const char* name) noexcept;
  ~RoutineFrame();
  RoutineFrame(const RoutineFrame&) = delete;
  RoutineFrame& operator=(const RoutineFrame&) = delete;
};
}  // namespace qmidi::detail

// Runs body(); on any exception logs traceName and returns failValue.
template <class R, class F>
R QGuard(const char* traceName, R failValue, F&& body) noexcept {
  try {
    qmidi::detail::RoutineFrame frame(traceName);
    return std::forward<F>(body)();
  } catch (...) {
    QGTrText(traceName);
    return failValue;
  }
}

// For routines without a result: true when the body finished.
template <class F>
bool QGuardVoid(const char* traceName, F&& body) noexcept {
  return QGuard(traceName, false, [&] {
    std::forward<F>(body)();
    return true;
  });
}
