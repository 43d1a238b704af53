// A converted song as one value: the packed stream the player walks, the
// time table (one entry per marker record), and what the player and the WRD
// compiler need to know about it. The song reader's converter returns it and
// the player takes it; whoever holds it owns the memory, which goes with it.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/player/stream_record.h"

// Call-site tags of the converted song's tracked blocks.
constexpr int32_t kTagStreamBuffer = 214;
constexpr int32_t kTagTimeTable = 215;

// A block of tracked memory, freed under its tag when its owner goes.
template <class T, int32_t Tag>
class TrackedArray {
 public:
  TrackedArray() = default;
  explicit TrackedArray(T* block) : block_(block) {}
  T* get() const { return block_.get(); }
  T* release() { return block_.release(); }
  void reset(T* block = nullptr) { block_.reset(block); }
  explicit operator bool() const { return block_ != nullptr; }

 private:
  struct Free {
    void operator()(T* p) const;
  };
  std::unique_ptr<T, Free> block_;
};

void QGFreeTracked(int32_t tag, void* block);

template <class T, int32_t Tag>
void TrackedArray<T, Tag>::Free::operator()(T* p) const {
  QGFreeTracked(Tag, p);
}

struct PackedSong {
  TrackedArray<uint8_t, kTagStreamBuffer> stream;
  uint32_t length = 0;        // bytes of records
  uint32_t bufferLength = 0;  // length + 1024, as the player's header reports it
  TrackedArray<TimeTableEntry, kTagTimeTable> table;
  uint32_t entries = 0;
  int32_t division = 0;          // the file's division (ticks per quarter note)
  int32_t tickDivision = 0;      // the normalised division WRD times use
  uint32_t longMessageMax = 32;  // the long-message buffers' length
  int32_t detectedSetup = 0;     // the set-up the converter detected (play mode 2)
  int32_t beatsPerBar = 0;       // of the time signature in force at the song's end (0: none known)

  const uint8_t* data() const { return stream.get(); }
  const TimeTableEntry* timeTable() const { return table.get(); }
  bool empty() const { return !stream || length == 0; }
  // The position code of the last time-table entry: the song's length in
  // bars and ticks (0 without a table).
  int32_t endPosition() const { return entries > 0 && table ? table.get()[entries - 1].position : 0; }
  // The last entry's milliseconds (0 without a table).
  uint32_t lengthMs() const { return entries > 0 && table ? table.get()[entries - 1].ms : 0; }
};

// A song made from packed records and a time table held elsewhere (copied
// into memory of its own): for tests, benchmarks and the tools.
PackedSong PackedSongOf(const uint8_t* data, uint32_t length, const TimeTableEntry* table,
                        uint32_t entries, int32_t division);
