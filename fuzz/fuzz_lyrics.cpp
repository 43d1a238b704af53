// Arbitrary bytes as a song image through the lyric reader, named as a
// karaoke file or not: every line holds syllables in time order, each at the
// time the tempo map gives its tick; the same bytes as text in every encoding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/song/song_lyrics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TSongLyrics lyrics = ReadLyricsImage(data, size, size % 2 == 1);
  uint32_t last = 0;
  for (const LyricLine& line : lyrics.lines) {
    if (line.syllables.empty()) __builtin_trap();
    for (const LyricSyllable& s : line.syllables) {
      if (s.text.empty() || s.ms < last || s.ms != lyrics.msAtTick(s.tick)) __builtin_trap();
      last = s.ms;
    }
  }
  const LyricPlace place = lyrics.placeAt(last);
  if (!lyrics.empty() && (place.line >= lyrics.lines.size() || place.sung == 0 ||
                          place.sung > lyrics.lines[place.line].syllables.size()))
    __builtin_trap();
  const std::string_view text(reinterpret_cast<const char*>(data), size < 4096 ? size : 4096);
  for (LyricEncoding e : {LyricEncoding::kShiftJis, LyricEncoding::kEucJp, LyricEncoding::kUtf8})
    DecodeLyricText(text, e);
  DetectLyricEncoding({std::string(text)});
  return 0;
}
