// The engine's result code: one value that a failing routine sets to its
// number and the player's ERRORCODE property reports (the last one wins).
// Each engine has its own; every part that records a failure is given it.
#pragma once

#include <atomic>
#include <cstdint>

class ResultCode {
 public:
  void set(int32_t code) { code_.store(code); }
  int32_t get() const { return code_.load(); }
  void clear() { set(0); }

 private:
  std::atomic<int32_t> code_{0};
};
