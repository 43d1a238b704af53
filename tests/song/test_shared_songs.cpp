// Real songs written elsewhere: the time table against note start times an
// independent library computed, and every shared file converted or refused
// cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "support/result_code.h"
#include "support/trace.h"
#include "support/tracked_memory.h"
#include "tests/song/song_fixture.h"

using namespace songtest;

namespace {

// key -> note start times in milliseconds, sorted.
using Starts = std::map<int, std::vector<double>>;

Starts ReadExpected(const std::string& path) {
  Starts out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int key;
    double start, end;
    if (fields >> key >> start >> end) out[key].push_back(start * 1000.0);
  }
  for (auto& [key, v] : out) std::sort(v.begin(), v.end());
  return out;
}

// Each record plays at the time of the last marker at or before it.
Starts NoteStarts(const PackedSong& packed) {
  Starts out;
  uint32_t now = 0;
  for (const Record& r : Records(packed)) {
    if (r.marker >= 0) now = packed.timeTable()[r.marker].ms;
    if (r.kind() == kRecShort && (r.data & 0xF0) == 0x90 && (r.data >> 16) != 0)
      out[static_cast<int>((r.data >> 8) & 0x7F)].push_back(now);
  }
  for (auto& [key, v] : out) std::sort(v.begin(), v.end());
  return out;
}

}  // namespace

class SharedSongs : public SongTest {};

TEST_F(SharedSongs, TimeTableMatchesIndependentNoteTimes) {
  auto songs = qtest::TestDataFiles("smf/timing", ".mid");
  int checked = 0;
  for (const std::string& path : songs) {
    std::string expectedPath = path + ".txt";
    if (!std::filesystem::exists(expectedPath)) continue;
    ASSERT_TRUE(Convert(qtest::ReadBytes(path))) << path;
    Starts expected = ReadExpected(expectedPath), ours = NoteStarts(packed);
    // Some lists cover only part of a song: each listed note must have a
    // note of the same key in the time table that is not ahead of it and at
    // most 1 ms behind (the other library's own rounding allowed for).
    double worst = 0;
    for (auto& [key, times] : expected) {
      const std::vector<double>& mine = ours[key];
      ASSERT_GE(mine.size(), times.size()) << path << " key " << key;
      for (double t : times) {
        auto it = std::upper_bound(mine.begin(), mine.end(), t + 1e-3);
        ASSERT_NE(it, mine.begin()) << path << " key " << key << " at " << t << " ms: all ahead";
        double behind = t - *std::prev(it);
        worst = std::max(worst, behind);
        ASSERT_LT(behind, 1.0 + 1e-3) << path << " key " << key << " at " << t << " ms";
      }
    }
    ++checked;
    RecordProperty(std::filesystem::path(path).filename().string(), std::to_string(worst));
  }
  EXPECT_GE(checked, 14);
}

TEST_F(SharedSongs, EverySharedFileConvertsOrIsRefusedCleanly) {
  std::vector<std::string> files = qtest::TestDataFiles("smf");
  auto rcp = qtest::TestDataFiles("recomposer");
  files.insert(files.end(), rcp.begin(), rcp.end());
  ASSERT_GT(files.size(), 400u);
  int converted = 0, refused = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    std::string name = std::filesystem::path(path).filename().string();
    int before = QGTrEntryCount();
    bool ok = Convert(qtest::ReadBytes(path), 2, name);
    if (ok) {
      ++converted;
      auto rs = Records(packed);
      ASSERT_FALSE(rs.empty());
      const Record& last = rs.back();
      bool deltaWord = (last.flags & kRecDeltaMask) == kRecDeltaWord;
      EXPECT_EQ(last.offset + last.payload.size() + (deltaWord ? 8 : 4), packed.length);
      EXPECT_LE(packed.longMessageMax, kLongMessageBufferSize);
    } else {
      ++refused;
      EXPECT_GE(ErrorCode(), 9101);
      EXPECT_LE(ErrorCode(), 9142);
      EXPECT_GT(QGTrEntryCount(), before);
      EXPECT_TRUE(TraceHas("TQUORMSTR.QGmstPreHeader"));
    }
    // The header questions answer for any file.
    song.getinFileTitle();
    song.getinFileCm6();
    song.getdwHyosi();
    packed = PackedSong();
    EXPECT_EQ(QGTrLiveBlocks(), 0);
  }
  EXPECT_GT(converted, 200);
  EXPECT_GT(refused, 10);
}
