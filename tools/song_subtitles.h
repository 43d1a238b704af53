// A song's subtitles: the lines its WRD script shows on the text screen and
// its lyrics, as timed cues, and the subtitle files made of them: SubRip
// (.srt), LRC (.lrc) and Advanced SubStation Alpha (.ass, the lyrics with
// karaoke timing: each syllable's \k duration). render-video gives the same
// cues to its subtitle stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/song/song_lyrics.h"
#include "engine/wrd/wrd_text_cues.h"

struct SubtitleCue {
  enum class Kind { kScreenText, kLyric };
  struct Piece {
    uint32_t startMs = 0;
    std::string text;
  };
  Kind kind = Kind::kScreenText;
  uint32_t startMs = 0;
  uint32_t endMs = 0;
  int32_t row = 0;            // the text row of screen text (cues at one time are shown top down)
  std::string text;           // UTF-8, one line
  std::vector<Piece> pieces;  // lyrics: the syllables as they are sung
};

// One cue per lyric line, from its first syllable until its last one has
// sounded (the time to the next syllable, at most a few seconds) or the
// next line begins.
std::vector<SubtitleCue> LyricCues(const TSongLyrics& lyrics);
std::vector<SubtitleCue> ScreenTextCues(const std::vector<TScreenTextCue>& cues);
// Both, ordered by start time.
std::vector<SubtitleCue> AllCues(std::vector<SubtitleCue> screen, std::vector<SubtitleCue> lyrics);
// Cues that never overlap: at every moment the texts of every cue shown
// then, one per line (screen text top down, then lyrics), for formats a
// player shows one cue at a time from. Without karaoke timing.
std::vector<SubtitleCue> FlattenCues(const std::vector<SubtitleCue>& cues);

enum class SubtitleFormat { kSrt, kLrc, kAss };
// By the file name's extension; false for any other.
bool SubtitleFormatFor(const std::string& path, SubtitleFormat* format);

struct SubtitleTitle {
  std::string title;  // UTF-8
  std::string artist;
};
std::string FormatSrt(const std::vector<SubtitleCue>& cues);
std::string FormatLrc(const std::vector<SubtitleCue>& cues, const SubtitleTitle& title);
std::string FormatAss(const std::vector<SubtitleCue>& cues, const SubtitleTitle& title);

// The pieces of an ASS file that a subtitle encoder takes: the header
// (script info and styles) and an event's fields after its layer and times
// (Style, Name, MarginL, MarginR, MarginV, Effect, Text).
std::string AssHeader(const SubtitleTitle& title);
std::string AssEventFields(const SubtitleCue& cue);
