// The engine's result code: one value that a failing routine sets to its
// number and the player's ERRORCODE property reports (the last one wins).
// Each engine has its own; every part that records a failure is given it.
#pragma once

#include <atomic>
#include <cstdint>

class TResultCode {
 public:
  void set(int32_t code) { code_.store(code); }
  int32_t get() const { return code_.load(); }
  void clear() { set(0); }
  std::atomic<int32_t>& value() { return code_; }

 private:
  std::atomic<int32_t> code_{0};
};

// Until every part is given its engine's code, the parts that are not yet
// share this one.
TResultCode& QGProcessResultCode();
inline std::atomic<int32_t>& QGEngineErrorCode() { return QGProcessResultCode().value(); }
inline void QGSetErrorCode(int32_t code) { QGProcessResultCode().set(code); }
