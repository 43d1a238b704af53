#include "engine/song/packed_song.h"

#include <cstring>

#include "support/tracked_memory.h"

void QGFreeTracked(int32_t tag, void* block) {
  if (block) QGGlobalFreePtr(tag, block);
}

PackedSong PackedSongOf(const uint8_t* data, uint32_t length, const TimeTableEntry* table,
                        uint32_t entries, int32_t division) {
  PackedSong song;
  song.division = division;
  if (length > 0 && data) {
    song.stream.reset(static_cast<uint8_t*>(QGGlobalAllocPtr(kTagStreamBuffer, GPTR, length + 1024)));
    if (song.stream) {
      std::memcpy(song.stream.get(), data, length);
      song.length = length;
      song.bufferLength = length + 1024;
    }
  }
  if (entries > 0 && table) {
    const uint32_t bytes = entries * static_cast<uint32_t>(sizeof(TimeTableEntry));
    song.table.reset(static_cast<TimeTableEntry*>(QGGlobalAllocPtr(kTagTimeTable, GPTR, bytes)));
    if (song.table) {
      std::memcpy(song.table.get(), table, bytes);
      song.entries = entries;
    }
  }
  return song;
}
