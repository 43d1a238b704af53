// Arbitrary bytes as a song image through the converter, in every kind of
// play mode; the packed result must decode record by record and have one
// time-table entry per marker.
#include <cstddef>
#include <cstdint>

#include "engine/player/stream_record.h"
#include "engine/song/song_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ResultCode result;
  static TQUORMSTR song(result);
  static const int32_t kModes[] = {0, 1, 2, 3, 5, 8};
  song.ResetConverterState(3, kModes[size % 6]);
  if (song.ConverterInitImage(data, size)) {
    song.ConvertToBuffer(1);
    PackedSong packed;
    song.TakeConverted(&packed);
    const uint8_t* buffer = packed.data();
    uint32_t length = packed.length;
    uint32_t markers = 0;
    StreamRecordView r;
    uint32_t at = 0;
    while (at < length) {
      if (!DecodeStreamRecord(buffer, length, at, &r)) __builtin_trap();
      markers += r.marker();
      at += r.size;
    }
    if (at != length || markers != packed.entries) __builtin_trap();
    if (packed.longMessageMax > kLongMessageBufferSize) __builtin_trap();
  }
  song.ConverterCleanUp();
  return 0;
}
