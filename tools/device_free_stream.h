// The player's stream opened on no device, for commands that convert a song
// as a song start does without playing it (stream, wrd): the player takes
// MIDIDISABLE's silent handle, and the settling waits of opening and closing
// a stream (about 125 ms, for devices that are not there) are skipped.
#pragma once

#include <cstdint>

class TDeviceFreeStream {
 public:
  explicit TDeviceFreeStream(int32_t playMode = 0);
  ~TDeviceFreeStream();
  TDeviceFreeStream(const TDeviceFreeStream&) = delete;
  TDeviceFreeStream& operator=(const TDeviceFreeStream&) = delete;
};
