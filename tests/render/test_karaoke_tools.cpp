// qmidi-tool with karaoke songs, run as a user runs it: render-wrd's frames
// of the karaoke screen against the lines drawn by `qmidi-tool text`, the
// subtitles command's files read back by FFmpeg, and render-video's karaoke
// screen and subtitle streams.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <regex>

#include "platform/png/png_file.h"
#include "support/cp932.h"
#include "tests/render/render_tool_util.h"
#include "tests/song/kar_songs.h"

using namespace rendertest;
using kartest::KarText;

namespace {

const PngRgb kBackground{16, 16, 48};
const PngRgb kSungColour{80, 200, 255};
const PngRgb kUnsungColour{255, 255, 255};
constexpr int kCurrentTop = 136;
constexpr int kNextTop = 200;

std::string WriteSong(const qtest::TempDir& dir, const std::string& name, KarText encoding,
                      uint8_t type) {
  return dir.write(name, kartest::BuildKar({encoding, type}));
}

// The position code of a tick: division 480 runs as 960 ticks a quarter.
int32_t PositionOf(uint32_t tick) {
  return static_cast<int32_t>(tick / 1920 * 10000 + tick % 1920 * 2);
}

struct Cue {
  int64_t startMs = 0, endMs = 0;
  std::string text;
};

int64_t SrtMs(const std::smatch& m, int at) {
  return ((std::stoll(m[at]) * 60 + std::stoll(m[at + 1])) * 60 + std::stoll(m[at + 2])) * 1000 +
         std::stoll(m[at + 3]);
}

// SubRip text; markup (FFmpeg writes the ASS styles as <font> tags) left out.
std::vector<Cue> ParseSrt(const std::string& srt) {
  static const std::regex times(R"((\d+):(\d+):(\d+),(\d+) --> (\d+):(\d+):(\d+),(\d+))");
  std::vector<Cue> cues;
  std::istringstream in(srt);
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, times)) continue;
    Cue c{SrtMs(m, 1), SrtMs(m, 5), {}};
    while (std::getline(in, line) && !line.empty() && line != "\r")
      c.text += (c.text.empty() ? "" : "\n") + std::regex_replace(line, std::regex("<[^>]*>"), "");
    cues.push_back(std::move(c));
  }
  return cues;
}

// The first subtitle stream of a file as FFmpeg reads it.
std::vector<Cue> FfmpegCues(const std::string& path) {
  std::string srt;
  Run("ffmpeg -v error -i '" + path + "' -map 0:s:0 -f srt -", &srt, false);
  return ParseSrt(srt);
}

// Lines that differ by less than 10 ms from the lyrics' line starts.
void ExpectLyricStarts(const std::vector<Cue>& cues, int64_t shiftMs = 0) {
  const auto lines = kartest::Lines();
  ASSERT_EQ(cues.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(cues[i].text, lines[i].text) << i;
    EXPECT_NEAR(cues[i].startMs - shiftMs, kartest::MsAtTick(lines[i].ticks[0]), 10) << i;
  }
}

// The ink of a line as `qmidi-tool text` draws it with the WRD font.
struct Glyphs {
  PngImage image;
  PngRgb paper{};
  bool ink(int x, int y) const { return !(image.at(x, y) == paper); }
};

Glyphs TextLine(const qtest::TempDir& dir, const std::string& utf8) {
  Glyphs g;
  const std::string path = dir.file("line.png");
  std::string out;
  EXPECT_EQ(Tool("text '" + utf8 + "' " + path, &out), 0) << out;
  EXPECT_TRUE(ReadPngRgb(path, g.image));
  g.paper = g.image.at(0, 0);
  return g;
}

// The frame's row at top shows the line at twice its size, centred, its
// first sungBytes bytes in the sung colour and the rest unsung.
void ExpectLine(const PngImage& frame, int top, const Glyphs& line, int sungBytes) {
  const int width = line.image.width * 2;
  const int left = ((640 - width) / 2) & ~1;
  int inked = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 640; ++x) {
      const PngRgb& got = frame.at(x, top + y);
      const bool inside = x >= left && x < left + width;
      const bool ink = inside && line.ink((x - left) / 2, y / 2);
      const PngRgb want = !ink                          ? kBackground
                          : (x - left) / 16 < sungBytes ? kSungColour
                                                        : kUnsungColour;
      ASSERT_EQ(got, want) << "at " << x << "," << top + y;
      inked += ink;
    }
  EXPECT_GT(inked, 100);
}

}  // namespace

TEST(KaraokeTools, RenderWrdShowsTheRightLinesAtTheRightTicks) {
  qtest::TempDir dir;
  for (auto [name, encoding, type] :
       {std::tuple{"song.kar", KarText::kShiftJis, 1}, {"song.mid", KarText::kUtf8, 5}}) {
    SCOPED_TRACE(name);
    const std::string song = WriteSong(dir, name, encoding, static_cast<uint8_t>(type));
    // Between い and そ; 60 ticks before ソ; at ソ; the last line sung through.
    const uint32_t ticks[] = {2520, 3780, 3840, 10680};
    std::string at;
    for (uint32_t t : ticks) at += (at.empty() ? "" : ",") + std::to_string(PositionOf(t));
    const std::string json =
        ToolJson("render-wrd " + song + " --out " + dir.file("frames") + " --at " + at);
    ASSERT_NE(json.find("\"karaoke\":true"), std::string::npos) << json;
    std::vector<PngImage> frames(std::size(ticks));
    for (size_t i = 0; i < frames.size(); ++i) {
      const int32_t p = PositionOf(ticks[i]);
      char file[80];
      std::snprintf(file, sizeof file, "frames/frame-%04zu-bar%04d-tick%04d.png", i, p / 10000,
                    p % 10000);
      ASSERT_TRUE(ReadPngRgb(dir.file(file), frames[i])) << file;
    }
    const Glyphs first = TextLine(dir, "あおいそら"), second = TextLine(dir, "ソラのうた"),
                 third = TextLine(dir, "表を 見て");
    ExpectLine(frames[0], kCurrentTop, first, 6);
    ExpectLine(frames[0], kNextTop, second, 0);
    ExpectLine(frames[1], kCurrentTop, first, 10);
    ExpectLine(frames[2], kCurrentTop, second, 2);
    ExpectLine(frames[2], kNextTop, third, 0);
    ExpectLine(frames[3], kCurrentTop, TextLine(dir, "ながいながいみちをあるいてゆく"), 30);
  }
}

TEST(KaraokeTools, SubtitleFilesReadBackByFfmpegKeepTheLyricTimes) {
  qtest::TempDir dir;
  for (auto [name, encoding, type] :
       {std::tuple{"song.kar", KarText::kShiftJis, 1}, {"song.mid", KarText::kUtf8, 5}}) {
    const std::string song = WriteSong(dir, name, encoding, static_cast<uint8_t>(type));
    for (const char* format : {"srt", "lrc", "ass"}) {
      SCOPED_TRACE(std::string(name) + " as " + format);
      const std::string out = dir.file(std::string("song.") + format);
      std::string text;
      ASSERT_EQ(Tool("subtitles " + song + " " + out, &text), 0) << text;
      std::vector<Cue> cues = FfmpegCues(out);
      // LRC marks where nothing is shown with an empty line.
      std::erase_if(cues, [](const Cue& c) { return c.text.empty(); });
      ExpectLyricStarts(cues);
    }
    // The karaoke timing: each syllable's \k durations add up to its time.
    const std::string ass = qtest::ReadText(dir.file("song.ass"));
    const auto lines = kartest::Lines();
    size_t l = 0;
    for (std::istringstream in(ass); l < lines.size();) {
      std::string event;
      ASSERT_TRUE(std::getline(in, event));
      if (event.rfind("Dialogue:", 0) != 0) continue;
      const std::regex k(R"(\{\\k(\d+)\})");
      int64_t at = kartest::MsAtTick(lines[l].ticks[0]);
      size_t s = 0;
      for (std::sregex_iterator m(event.begin(), event.end(), k), end; m != end; ++m, ++s) {
        ASSERT_LT(s, lines[l].ticks.size());
        EXPECT_NEAR(at, kartest::MsAtTick(lines[l].ticks[s]), 10)
            << "line " << l << " syllable " << s;
        at += std::stoll((*m)[1]) * 10;
      }
      EXPECT_EQ(s, lines[l].ticks.size());
      ++l;
    }
  }
}

TEST(KaraokeTools, SubtitlesHoldTheWrdScreenTextBesideTheLyrics) {
  qtest::TempDir dir;
  const std::string song = WriteSong(dir, "both.kar", KarText::kShiftJis, 1);
  dir.write("both.wrd",
            std::string("@WAIT(2)\r\nHello WRD\r\nSecond line\r\n@WAIT(5)\r\n@ESC(2J)\r\n"));
  std::string text;
  ASSERT_EQ(Tool("subtitles " + song + " " + dir.file("both.srt"), &text), 0) << text;
  std::vector<Cue> screen;
  for (const Cue& c : FfmpegCues(dir.file("both.srt")))
    if (c.text.find("WRD") != std::string::npos || c.text.find("line") != std::string::npos)
      screen.push_back(c);
  // The script's text at bars 2 and 3 (120 a minute), cleared at bar 5,
  // after the tempo change at bar 4 (160 a minute): 8 s + 1.5 s.
  ASSERT_EQ(screen.size(), 2u);
  EXPECT_EQ(screen[0].text, "Hello WRD");
  EXPECT_NEAR(screen[0].startMs, 4000, 10);
  EXPECT_NEAR(screen[0].endMs, 9500, 10);
  EXPECT_EQ(screen[1].text, "Second line");
  EXPECT_NEAR(screen[1].startMs, 6000, 10);
  EXPECT_NEAR(screen[1].endMs, 9500, 10);
}

TEST(KaraokeTools, SubtitlesReplaceOnlyARegularFile) {
  qtest::TempDir dir;
  const std::string song = WriteSong(dir, "song.kar", KarText::kShiftJis, 1);
  std::string text;
  std::filesystem::create_directory(dir.file("folder.srt"));
  EXPECT_EQ(Tool("subtitles " + song + " " + dir.file("folder.srt"), &text), 1) << text;
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder.srt")));
  ASSERT_EQ(mkfifo(dir.file("pipe.lrc").c_str(), 0600), 0);
  EXPECT_EQ(rendertest::Run("timeout 10 " + std::string(QMIDI_TOOL) + " subtitles " + song + " " +
                                dir.file("pipe.lrc"),
                            &text),
            1)
      << text;
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.lrc")));
  dir.write("old.srt", std::string("old"));
  EXPECT_EQ(Tool("subtitles " + song + " " + dir.file("old.srt"), &text), 0) << text;
  EXPECT_EQ(qtest::ReadText(dir.file("old.srt")).rfind("1\n00:00:02,000 --> ", 0), 0u);
  // Nothing to write: no lyrics and no script.
  const std::string plain =
      dir.write("plain.mid", songtest::Smf(480, {songtest::Track().at(0, {0x90, 60, 9}).end(480)}));
  EXPECT_EQ(Tool("subtitles " + plain + " " + dir.file("plain.ass"), &text), 1) << text;
  EXPECT_EQ(Tool("subtitles " + song + " " + dir.file("song.txt"), &text), 2) << text;
  std::vector<std::string> files = Files(dir.path());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"folder.srt", "old.srt", "pipe.lrc", "plain.mid",
                                             "song.kar"}));
}

TEST(KaraokeTools, RenderVideoShowsTheKaraokeScreenWithASubtitleStream) {
  qtest::TempDir dir;
  const std::string song = WriteSong(dir, "song.kar", KarText::kShiftJis, 1);
  for (auto [ext, codec] : {std::pair{"mkv", "ass"}, {"mp4", "mov_text"}, {"webm", "webvtt"}}) {
    SCOPED_TRACE(ext);
    const std::string out = dir.file(std::string("song.") + ext);
    // The MKV at twice the size, where H.264's half-resolution colour
    // falls on whole screen pixels (its picture is compared below).
    const std::string scale = std::string(ext) == "mkv" ? "2" : "1";
    const std::string json = ToolJson("render-video " + song + " " + out + " --subtitles --scale " +
                                      scale + " --fps 10");
    ASSERT_NE(json.find("\"karaoke\":true"), std::string::npos) << json;
    EXPECT_EQ(JsonNumber(json, "subtitles"), 5);
    EXPECT_EQ(Probe(out, "s:0", "stream=codec_name"), codec);
    // Containers may start every stream a little late (the sound's
    // encoder delay); the pictures and the subtitles move together.
    const int64_t shift = std::llround(std::stod(Probe(out, "v:0", "stream=start_time")) * 1000);
    std::vector<Cue> cues = FfmpegCues(out);
    // Each cue's own time in the file (MP4 also holds empty samples between cues).
    std::string packets;
    rendertest::Run(
        "ffprobe -v error -select_streams s:0 -show_entries packet=pts_time,size -of csv=p=0 '" +
            out + "'",
        &packets, false);
    std::istringstream in(packets);
    size_t next = 0;
    for (std::string packet; std::getline(in, packet) && next < cues.size();) {
      const size_t comma = packet.find(',');
      if (comma == std::string::npos || std::stoi(packet.substr(comma + 1)) <= 2) continue;
      cues[next++].startMs = std::llround(std::stod(packet.substr(0, comma)) * 1000);
    }
    ASSERT_EQ(next, cues.size());
    ExpectLyricStarts(cues, shift);
  }
  // The picture at 2.6 s (between い and そ) is render-wrd's frame there.
  std::string text;
  ASSERT_EQ(Tool("render-wrd " + song + " --out " + dir.file("png") + " --at " +
                     std::to_string(PositionOf(2520)),
                 &text),
            0)
      << text;
  PngImage png;
  const int32_t at = PositionOf(2520);
  char frame[80];
  std::snprintf(frame, sizeof frame, "png/frame-0000-bar%04d-tick%04d.png", at / 10000, at % 10000);
  ASSERT_TRUE(ReadPngRgb(dir.file(frame), png));
  const auto pictures = DecodeFrames(dir.file("song.mkv"), 1280, 800, "select=eq(n\\,26)");
  ASSERT_EQ(pictures.size(), 1u);
  size_t off = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) {
      const PngRgb& want = png.at(x, y);
      const uint8_t* got = &pictures[0][(static_cast<size_t>(2 * y) * 1280 + 2 * x) * 3];
      off += std::abs(got[0] - want.red) > 40 || std::abs(got[1] - want.green) > 40 ||
             std::abs(got[2] - want.blue) > 40;
    }
  // One syllable in the wrong colour would put hundreds of pixels off.
  EXPECT_LT(off, 50u) << off;
}
