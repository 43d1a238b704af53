#include "support/result_code.h"

TResultCode& QGProcessResultCode() {
  static TResultCode code;
  return code;
}
