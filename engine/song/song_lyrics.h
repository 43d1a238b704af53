// The lyrics of a Standard MIDI File: its lyric events (meta type 5) as
// syllables, or, in a karaoke file (".kar") without lyric events, its text
// events (type 1), each with its tick and its time from the song's tempo
// map. Karaoke conventions: a text event starting with '@' is a header
// ("@T" title, then artist; "@L" language, "@I" information, "@K" and "@V"
// the format), never a syllable; '/' in a syllable starts a new line, '\' a
// new paragraph (so do CR and LF, as other lyric files write them). The
// texts are decoded to UTF-8 in the encoding detected for the whole song.
//
// The song is read on its own here (not through the converter), so its
// lyrics can be read at any time, also while another song plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/song/lyric_encoding.h"

struct LyricSyllable {
  std::string text;   // UTF-8, break marks removed
  uint32_t tick = 0;  // the song's own ticks from its start
  uint32_t ms = 0;    // milliseconds from tick 0, rounded down
};

struct LyricLine {
  std::vector<LyricSyllable> syllables;  // never empty
  bool paragraph = false;                // the line opens a paragraph (the first line does)
  uint32_t startMs() const { return syllables.front().ms; }
  // The syllables together, without the spaces at both ends.
  std::string text() const;
};

// A karaoke header: "@Tsong" is {'T', "song"}.
struct LyricHeader {
  char tag = 0;
  std::string text;  // UTF-8
};

// Where a song time falls in the lyrics: the line being sung and how many
// of its syllables have begun.
struct LyricPlace {
  size_t line = 0;
  size_t sung = 0;
  bool operator==(const LyricPlace&) const = default;
};

class TSongLyrics {
 public:
  LyricEncoding encoding = LyricEncoding::kAscii;
  bool fromTextEvents = false;  // the syllables are text events (a karaoke file)
  std::string title;            // the first @T header
  std::string artist;           // the second @T header
  std::vector<LyricHeader> headers;
  std::vector<LyricLine> lines;

  bool empty() const { return lines.empty(); }
  size_t syllableCount() const { return order_.size(); }
  // The time of a tick through the tempo map, computed as the converter
  // computes its time table (so both agree to the millisecond).
  uint32_t msAtTick(uint64_t tick) const;
  // Before the first syllable: line 0 with nothing sung.
  LyricPlace placeAt(uint32_t ms) const;

  // Filled by the reader.
  struct TempoStep {
    uint64_t tick = 0;
    uint64_t tempo = 500000;  // microseconds per quarter note from this tick on
    uint64_t scaledUs = 0;    // microseconds × division up to this tick
  };
  void setTempoMap(uint32_t division, std::vector<TempoStep> steps);
  // Indexes the syllables for placeAt (the reader calls it last).
  void index();

 private:
  uint32_t division_ = 960;
  std::vector<TempoStep> steps_{TempoStep{}};
  struct Sung {
    uint32_t ms;
    size_t line;
    size_t inLine;
  };
  std::vector<Sung> order_;
};

// Reads the lyrics of a song image (a Standard MIDI File, also behind a
// RIFF wrapper). karaokeName: the file is named ".kar", so its text events
// are syllables even without '@' headers. A damaged song gives what could be
// read before the damage.
TSongLyrics ReadLyricsImage(const uint8_t* image, size_t size, bool karaokeName);
// The same for a file; empty for Recomposer songs and for files that cannot
// be read.
TSongLyrics ReadSongLyrics(const std::string& path);
