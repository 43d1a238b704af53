#include "tools/device_free_stream.h"

#include "engine/player/midi_player.h"
#include "support/result_code.h"

TDeviceFreeStream::TDeviceFreeStream(int32_t playMode) {
  TMIDIEXEState& player = QDPlayer();
  player.MIDIDISABLE = 1;
  player.DEVICEID1A = 0;
  player.RESETMODE = playMode;
  QGSetErrorCode(0);
  QDSetSleepFunction([](uint32_t) {});
  QDStreamOpen();
}

TDeviceFreeStream::~TDeviceFreeStream() {
  QDStreamClose();
  QDSetSleepFunction(nullptr);
}
