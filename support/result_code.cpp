#include "support/result_code.h"

std::atomic<int32_t>& QGEngineErrorCode() {
  static std::atomic<int32_t> code{0};
  return code;
}
