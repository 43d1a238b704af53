// Karaoke test songs made byte by byte: the same short song written with its
// syllables in Shift-JIS, EUC-JP or UTF-8, as text events (a ".kar" file)
// or as lyric events, with '@' headers, line ('/') and paragraph ('\')
// breaks, a tempo change, syllables whose Shift-JIS second byte is 0x5C
// ("ソ", "表"), one line too long for one karaoke row, and a note per
// syllable so that it sounds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/song/song_fixture.h"

namespace kartest {

enum class KarText { kShiftJis, kEucJp, kUtf8 };

// UTF-8 text in the encoding the song is written in.
std::string Encode(const std::string& utf8, KarText encoding);

struct KarSong {
  KarText encoding = KarText::kShiftJis;
  uint8_t syllableType = 1;  // 1 text events (".kar"), 5 lyric events
};
songtest::Bytes BuildKar(const KarSong& song);

// What the song holds, in UTF-8.
constexpr uint16_t kDivision = 480;
constexpr uint32_t kTempoChangeTick = 7680;  // 500000 us per quarter before, 375000 from here
inline constexpr const char* kTitle = "そらのうた";
inline constexpr const char* kArtist = "テスト合唱団";

struct KarLine {
  std::string text;  // the syllables joined, without blanks at the ends
  bool paragraph = false;
  std::vector<std::string> syllables;
  std::vector<uint32_t> ticks;
};
std::vector<KarLine> Lines();
// The song's milliseconds at a tick, from its tempo map (rounded down).
uint32_t MsAtTick(uint32_t tick);
// The last tick of the song's events.
uint32_t LastTick();

}  // namespace kartest
