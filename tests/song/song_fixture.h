// Test songs built byte by byte and a decoded view of the converted stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/song/packed_song.h"
#include "engine/song/song_reader.h"
#include "tests/common/test_files.h"

namespace songtest {

using Bytes = std::vector<uint8_t>;

// One track: events appended with their delta times.
class Track {
 public:
  Track& at(uint32_t delta, std::initializer_list<uint8_t> event);
  Track& at(uint32_t delta, const Bytes& event);
  Track& meta(uint32_t delta, uint8_t type, const Bytes& data);
  Track& text(uint32_t delta, uint8_t type, const std::string& s);
  Track& tempo(uint32_t delta, uint32_t microseconds);
  Track& timeSignature(uint32_t delta, uint8_t numerator, uint8_t power);
  Track& sysex(uint32_t delta, const Bytes& dataAfterF0);
  Track& end(uint32_t delta = 0);
  Bytes bytes;
};

Bytes Vlq(uint32_t value);
Bytes Smf(uint16_t division, const std::vector<Track>& tracks, uint16_t format = 1);
// "RIFF" size "RMID" "data" size, then the file: the header lands at offset 20.
Bytes RiffWrapped(const Bytes& smf);

// A decoded record with the song position it plays at.
struct Record {
  uint32_t offset = 0;
  uint8_t flags = 0;
  uint32_t data = 0;
  uint32_t delta = 0;
  uint32_t tick = 0;  // sum of deltas up to and including this record
  Bytes payload;
  int marker = -1;    // time-table index when the record carries the marker
  uint8_t kind() const { return flags & kRecKindMask; }
  bool isShort(uint8_t status) const { return kind() == kRecShort && (data & 0xFF) == status; }
};

std::vector<Record> Records(const PackedSong& song);
// Short-message records only.
std::vector<Record> ShortMessages(const PackedSong& song);

// Fixture: a fresh trace in a temporary folder and a song reader with a
// result code of its own.
class SongTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Writes the song, names it and converts it like the engine (mode 3) in
  // the given play mode, into `packed`.
  bool Convert(const Bytes& file, int32_t playMode = 0, const std::string& name = "song.mid");
  int32_t ErrorCode() const { return result.get(); }
  bool TraceHas(const std::string& entry) const;

  qtest::TempDir dir;
  ResultCode result;
  TQUORMSTR song{result};
  PackedSong packed;
};

}  // namespace songtest
