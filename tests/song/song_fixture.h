// Test songs built byte by byte, a player with test output devices, and a
// decoded view of the converted stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/player/midi_player.h"
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

// A test output system: every device opens and counts what it receives.
class CountingSystem : public MidiOutSystem {
 public:
  int deviceCount() override { return 4; }
  std::string productName(int id) override { return "test device " + std::to_string(id); }
  bool supportsVolume(int) override { return false; }
  MidiResult open(int id, std::unique_ptr<MidiOutPort>* port) override;
  int opened = 0;
};

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

std::vector<Record> Records(const TQUORMSTR& song);
// Short-message records only.
std::vector<Record> ShortMessages(const TQUORMSTR& song);

// Fixture: a fresh trace in a temporary folder, a player with device 0 open
// on port A, sleeps that return at once; everything put back afterwards.
class SongTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes the song, names it and converts it like the engine (mode 3) in
  // the given play mode.
  bool Convert(const Bytes& file, int32_t playMode = 0, const std::string& name = "song.mid");
  int32_t ErrorCode() const;
  bool TraceHas(const std::string& entry) const;

  qtest::TempDir dir;
  CountingSystem devices;
  TQUORMSTR song;
};

}  // namespace songtest
