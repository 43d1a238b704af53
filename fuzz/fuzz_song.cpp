// Arbitrary bytes as a song image through the converter, in every kind of
// play mode; the packed result must decode record by record and have one
// time-table entry per marker.
#include <cstddef>
#include <cstdint>

#include "engine/player/midi_player.h"
#include "engine/song/song_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TQUORMSTR song;
  static const int32_t kModes[] = {0, 1, 2, 3, 5, 8};
  QDPlayer().RESETMODE = kModes[size % 6];
  song.ResetConverterState(3);
  if (song.ConverterInitImage(data, size)) {
    song.ConvertToBuffer(1);
    const uint8_t* buffer = song.StreamData();
    uint32_t length = song.StreamBytesWritten();
    uint32_t markers = 0;
    StreamRecordView r;
    uint32_t at = 0;
    while (at < length) {
      if (!DecodeStreamRecord(buffer, length, at, &r)) __builtin_trap();
      markers += r.marker();
      at += r.size;
    }
    if (at != length || markers != song.TimeTableEntries()) __builtin_trap();
    if (song.LongMessageMax() > kLongMessageBufferSize) __builtin_trap();
  }
  song.ConverterCleanUp();
  song.QGmstFreeBuf2();
  return 0;
}
