#include "tools/song_subtitles.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace {

// How long a syllable sounds when the next one is far away or there is none.
constexpr uint32_t kLongestSyllableMs = 3000;
constexpr uint32_t kLastSyllableMs = 1000;
constexpr uint32_t kShortestCueMs = 10;

// Screen text takes the WRD screen's own rows: 16 pixels each on a 640 x 400 script.
constexpr int kScreenRowPixels = 16;

std::string clock(uint32_t ms, const char* format, uint32_t fractionUnit) {
  const uint32_t fraction = fractionUnit == 10 ? (ms % 1000 + 5) / 10 : ms % 1000;
  uint32_t seconds = ms / 1000;
  // Centiseconds are rounded: 995 ms and more make the next second.
  if (fractionUnit == 10 && fraction == 100)
    return clock((seconds + 1) * 1000, format, fractionUnit);
  char text[48];
  std::snprintf(text, sizeof text, format, seconds / 3600, seconds / 60 % 60, seconds % 60,
                fraction);
  return text;
}

std::string srtTime(uint32_t ms) { return clock(ms, "%02u:%02u:%02u,%03u", 1); }
std::string assTime(uint32_t ms) { return clock(ms, "%u:%02u:%02u.%02u", 10); }

std::string lrcTime(uint32_t ms) {
  const uint32_t cs = (ms + 5) / 10;
  char text[32];
  std::snprintf(text, sizeof text, "[%02u:%02u.%02u]", cs / 6000, cs / 100 % 60, cs % 100);
  return text;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// Text inside an ASS event: braces and backslashes would start override
// tags, so their full-width forms stand in; line breaks become \N.
std::string assText(std::string s) {
  s = replaceAll(std::move(s), "\\", "\xEF\xBC\xBC");
  s = replaceAll(std::move(s), "{", "\xEF\xBD\x9B");
  s = replaceAll(std::move(s), "}", "\xEF\xBD\x9D");
  return replaceAll(std::move(s), "\n", "\\N");
}

std::string karaokeText(const SubtitleCue& cue) {
  std::string out;
  for (size_t i = 0; i < cue.pieces.size(); ++i) {
    const uint32_t from = (cue.pieces[i].startMs + 5) / 10;
    const uint32_t to =
        ((i + 1 < cue.pieces.size() ? cue.pieces[i + 1].startMs : cue.endMs) + 5) / 10;
    out += "{\\k" + std::to_string(to > from ? to - from : 0) + "}" + assText(cue.pieces[i].text);
  }
  return out;
}

bool shownBefore(const SubtitleCue& a, const SubtitleCue& b) {
  if (a.kind != b.kind) return a.kind == SubtitleCue::Kind::kScreenText;
  return a.kind == SubtitleCue::Kind::kScreenText && a.row != b.row ? a.row < b.row
                                                                    : a.startMs < b.startMs;
}

}  // namespace

std::vector<SubtitleCue> LyricCues(const TSongLyrics& lyrics) {
  std::vector<SubtitleCue> out;
  for (size_t l = 0; l < lyrics.lines.size(); ++l) {
    const LyricLine& line = lyrics.lines[l];
    SubtitleCue cue;
    cue.kind = SubtitleCue::Kind::kLyric;
    cue.startMs = line.startMs();
    cue.text = line.text();
    for (const LyricSyllable& s : line.syllables) cue.pieces.push_back({s.ms, s.text});
    const uint32_t last = line.syllables.back().ms;
    const bool more = l + 1 < lyrics.lines.size();
    const uint32_t next = more ? lyrics.lines[l + 1].startMs() : 0;
    cue.endMs =
        last + (more ? std::min(next - std::min(next, last), kLongestSyllableMs) : kLastSyllableMs);
    cue.endMs = std::max(cue.endMs, cue.startMs + kShortestCueMs);
    if (!cue.text.empty()) out.push_back(std::move(cue));
  }
  return out;
}

std::vector<SubtitleCue> ScreenTextCues(const std::vector<TScreenTextCue>& cues) {
  std::vector<SubtitleCue> out;
  for (const TScreenTextCue& c : cues) {
    SubtitleCue cue;
    cue.startMs = c.startMs;
    cue.endMs = c.endMs;
    cue.row = c.row;
    cue.text = c.text;
    out.push_back(std::move(cue));
  }
  return out;
}

std::vector<SubtitleCue> AllCues(std::vector<SubtitleCue> screen, std::vector<SubtitleCue> lyrics) {
  screen.insert(screen.end(), std::make_move_iterator(lyrics.begin()),
                std::make_move_iterator(lyrics.end()));
  std::stable_sort(screen.begin(), screen.end(), [](const SubtitleCue& a, const SubtitleCue& b) {
    return a.startMs != b.startMs ? a.startMs < b.startMs : shownBefore(a, b);
  });
  return screen;
}

std::vector<SubtitleCue> FlattenCues(const std::vector<SubtitleCue>& cues) {
  std::vector<uint32_t> times;
  for (const SubtitleCue& c : cues) {
    times.push_back(c.startMs);
    times.push_back(c.endMs);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  std::vector<SubtitleCue> out;
  std::vector<const SubtitleCue*> before;  // what the last flat cue shows
  for (size_t i = 0; i + 1 < times.size(); ++i) {
    std::vector<const SubtitleCue*> shown;
    for (const SubtitleCue& c : cues)
      if (c.startMs <= times[i] && times[i] < c.endMs) shown.push_back(&c);
    if (shown.empty()) continue;
    std::stable_sort(shown.begin(), shown.end(), [](const SubtitleCue* a, const SubtitleCue* b) {
      return shownBefore(*a, *b);
    });
    std::string text;
    for (const SubtitleCue* c : shown) text += (text.empty() ? "" : "\n") + c->text;
    // The same cues still shown go on as one (two cues alike follow apart).
    if (!out.empty() && out.back().endMs == times[i] && shown == before) {
      out.back().endMs = times[i + 1];
      continue;
    }
    before = shown;
    SubtitleCue merged;
    merged.kind = shown.back()->kind;
    merged.startMs = times[i];
    merged.endMs = times[i + 1];
    merged.text = std::move(text);
    out.push_back(std::move(merged));
  }
  return out;
}

bool SubtitleFormatFor(const std::string& path, SubtitleFormat* format) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".srt")
    *format = SubtitleFormat::kSrt;
  else if (ext == ".lrc")
    *format = SubtitleFormat::kLrc;
  else if (ext == ".ass")
    *format = SubtitleFormat::kAss;
  else
    return false;
  return true;
}

std::string FormatSrt(const std::vector<SubtitleCue>& cues) {
  std::string out;
  int number = 0;
  for (const SubtitleCue& c : cues)
    out += std::to_string(++number) + "\n" + srtTime(c.startMs) + " --> " + srtTime(c.endMs) +
           "\n" + c.text + "\n\n";
  return out;
}

// LRC shows one line at a time: the cues flattened, the texts of one moment
// on one line, and an empty line where nothing is shown.
std::string FormatLrc(const std::vector<SubtitleCue>& cues, const SubtitleTitle& title) {
  std::string out;
  if (!title.title.empty()) out += "[ti:" + title.title + "]\n";
  if (!title.artist.empty()) out += "[ar:" + title.artist + "]\n";
  const std::vector<SubtitleCue> flat = FlattenCues(cues);
  for (size_t i = 0; i < flat.size(); ++i) {
    out += lrcTime(flat[i].startMs) + replaceAll(flat[i].text, "\n", " / ") + "\n";
    if (i + 1 == flat.size() || flat[i + 1].startMs > flat[i].endMs)
      out += lrcTime(flat[i].endMs) + "\n";
  }
  return out;
}

std::string AssHeader(const SubtitleTitle& title) {
  std::string name = title.title;
  if (!title.artist.empty()) name += (name.empty() ? "" : " / ") + title.artist;
  return "[Script Info]\n"
         "Title: " +
         replaceAll(name, "\n", " ") +
         "\n"
         "ScriptType: v4.00+\n"
         "PlayResX: 640\n"
         "PlayResY: 400\n"
         "WrapStyle: 0\n"
         "ScaledBorderAndShadow: yes\n"
         "\n"
         "[V4+ Styles]\n"
         "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
         "BackColour, Bold, "
         "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
         "Shadow, Alignment, "
         "MarginL, MarginR, MarginV, Encoding\n"
         "Style: "
         "Screen,IPAMincho,16,&H00FFFFFF,&H00FFFFFF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,1,"
         "0,8,8,8,0,1\n"
         "Style: "
         "Lyrics,IPAMincho,28,&H00FFC850,&H00FFFFFF,&H00000000,&H80000000,0,0,0,0,100,100,0,0,1,2,"
         "0,2,16,"
         "16,24,1\n"
         "\n"
         "[Events]\n"
         "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
}

std::string AssEventFields(const SubtitleCue& cue) {
  if (cue.kind == SubtitleCue::Kind::kLyric)
    return "Lyrics,,0,0,0,," + (cue.pieces.empty() ? assText(cue.text) : karaokeText(cue));
  // Screen text stands on its own row of the script's screen.
  return "Screen,,0,0," + std::to_string(cue.row * kScreenRowPixels) + ",," + assText(cue.text);
}

std::string FormatAss(const std::vector<SubtitleCue>& cues, const SubtitleTitle& title) {
  std::string out = AssHeader(title);
  for (const SubtitleCue& c : cues)
    out += "Dialogue: 0," + assTime(c.startMs) + "," + assTime(c.endMs) + "," + AssEventFields(c) +
           "\n";
  return out;
}
