// Real songs (Bach and Debussy, with hundreds of tempo changes) converted
// and played on the manual clock: every note starts when an independent
// library's reading of the same file says it should, to within the timer's
// period (the callback sends on the period's grid, never early).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "tests/player/player_fixture.h"

using namespace playertest;

namespace {

// "key start end" lines of the reference, by key: start times in µs.
std::map<int, std::vector<int64_t>> ReferenceStarts(const std::string& path) {
  std::map<int, std::vector<int64_t>> out;
  std::istringstream in(qtest::ReadText(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    int key;
    double start, end;
    if (l >> key >> start >> end) out[key].push_back(static_cast<int64_t>(start * 1e6 + 0.5));
  }
  for (auto& [k, v] : out) std::sort(v.begin(), v.end());
  return out;
}

class PlayerSongs : public PlayerTest {
 protected:
  // Plays the song on device 0 at the period; note-on start times by key,
  // in µs from the song's tick 0.
  std::map<int, std::vector<int64_t>> PlayedStarts(const std::string& song, int32_t period) {
    std::map<int, std::vector<int64_t>> out;
    TMIDIEXE& p = props;
    p.setDEVICEID1A(0);
    p.setTIMERMIDI(period);
    p.setTIMERWRD(1000);
    TQUORMSTR reader(result);
    reader.setinFileName(song);
    EXPECT_TRUE(player.open());
    PackedSong packed;
    EXPECT_TRUE(reader.Convert(3, p.getRESETMODE(), &packed)) << result.get();
    EXPECT_TRUE(player.take(std::move(packed)));
    EXPECT_TRUE(player.start());
    EXPECT_TRUE(player.release());
    for (int i = 0; i < 100000 && !done.load(); ++i) timer.advance(100);
    EXPECT_TRUE(done.load());
    int64_t start = P().startUs.load();
    player.close();
    for (const Received& r : devices.log(0)) {
      if (r.what.size() != 6 || r.what[0] != '9') continue;
      int key = std::stoi(r.what.substr(2, 2), nullptr, 16);
      if (std::stoi(r.what.substr(4, 2), nullptr, 16) == 0) continue;
      out[key].push_back(r.us - start);
    }
    return out;
  }

  void Compare(const std::string& song, int32_t period) {
    SCOPED_TRACE(song);
    auto want = ReferenceStarts(qtest::TestData(song + ".txt"));
    auto got = PlayedStarts(qtest::TestData(song), period);
    ASSERT_EQ(got.size(), want.size());
    int64_t worst = 0, notes = 0;
    for (auto& [key, starts] : want) {
      auto& played = got[key];
      ASSERT_EQ(played.size(), starts.size()) << "key " << key;
      for (size_t i = 0; i < starts.size(); ++i) {
        int64_t late = played[i] - starts[i];
        // The reference rounds to whole µs; the player is never early.
        EXPECT_GE(late, -2) << "key " << key << " note " << i;
        EXPECT_LE(late, int64_t{period} * 1000 + 2) << "key " << key << " note " << i;
        worst = std::max(worst, late);
        ++notes;
      }
    }
    EXPECT_GT(notes, 400);
    RecordProperty("worst_lateness_us", static_cast<int>(worst));
  }
};

}  // namespace

TEST_F(PlayerSongs, BachWithTempoChangesPlaysOnTime) { Compare("smf/timing/bach/bach_846.mid", 1); }

TEST_F(PlayerSongs, DebussyWithTempoChangesPlaysOnTimeAtAPeriodOf8) {
  Compare("smf/timing/debussy/childrens_corner_4.mid", 8);
}
