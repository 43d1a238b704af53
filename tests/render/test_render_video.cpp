// qmidi-tool render-video end to end: the demo, a song whose script turns
// the screen white on a loud note, and a song without a script; the videos
// decoded with FFmpeg's programs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/png/png_file.h"
#include "tests/render/render_tool_util.h"
#include "tests/song/song_fixture.h"

using namespace rendertest;
using songtest::Smf;
using songtest::Track;

namespace {

const std::string kDemo = std::string(QMIDI_SOURCE_DIR) + "/demo/DEMO.MID";

// How far a decoded picture is from a PNG scaled by k: the mean difference
// of all colour values, and the share of pixels off by more than 40 in any.
struct Difference {
  double mean = 0;
  double offShare = 0;
};

Difference Compare(const std::vector<uint8_t>& rgb, const PngImage& png, int k) {
  const int width = png.width * k;
  double sum = 0;
  int64_t off = 0;
  for (int y = 0; y < png.height * k; ++y) {
    for (int x = 0; x < width; ++x) {
      const PngRgb& want = png.at(x / k, y / k);
      const uint8_t* got = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      const int d[3] = {std::abs(got[0] - want.red), std::abs(got[1] - want.green), std::abs(got[2] - want.blue)};
      sum += d[0] + d[1] + d[2];
      if (d[0] > 40 || d[1] > 40 || d[2] > 40) ++off;
    }
  }
  const double pixels = static_cast<double>(width) * png.height * k;
  return {sum / (pixels * 3), static_cast<double>(off) / pixels};
}

double Brightness(const std::vector<uint8_t>& rgb) {
  double sum = 0;
  for (uint8_t v : rgb) sum += v;
  return sum / static_cast<double>(rgb.size());
}

}  // namespace

TEST(RenderVideo, TheDemoHasItsFramesAndShowsWhatRenderWrdShows) {
  qtest::TempDir dir;
  const std::string out = dir.file("demo.mp4");
  const std::string json = ToolJson("render-video " + kDemo + " " + out);
  ASSERT_EQ(JsonText(json, "codec"), "h264+aac") << json;
  const int64_t frames = JsonNumber(json, "frames");
  // 30 frames a second over the song and its tail.
  EXPECT_EQ(frames, (JsonNumber(json, "lengthMs") * 30 + 999) / 1000);
  EXPECT_GE(JsonNumber(json, "lengthMs"), JsonNumber(json, "songMs"));
  EXPECT_EQ(Probe(out, "v:0", "stream=nb_read_frames", true), std::to_string(frames));
  EXPECT_EQ(Probe(out, "v:0", "stream=width,height"), "1280\n800");
  EXPECT_EQ(Probe(out, "a:0", "stream=codec_name"), "aac");
  EXPECT_NEAR(std::stod(Probe(out, "v:0", "stream=duration")), frames / 30.0, 1.0 / 30);
  EXPECT_NEAR(std::stod(Probe(out, "a:0", "stream=duration")), frames / 30.0, 0.05);

  // Halfway through bars the script leaves alone (no command, no fade):
  // frame 60 b + 30 is at bar b, tick 1920 of 3840.
  const int bars[] = {1, 2, 3, 4, 12, 14};
  std::string at, select;
  for (int b : bars) {
    at += (at.empty() ? "" : ",") + std::to_string(b * 10000 + 1920);
    select += (select.empty() ? "eq(n\\," : "+eq(n\\,") + std::to_string(60 * b + 30) + ")";
  }
  std::string text;
  ASSERT_EQ(Tool("render-wrd " + kDemo + " --out " + dir.file("png") + " --at " + at, &text), 0) << text;
  const auto pictures = DecodeFrames(out, 1280, 800, "select=" + select);
  ASSERT_EQ(pictures.size(), std::size(bars));
  std::vector<PngImage> pngs(std::size(bars));
  for (size_t i = 0; i < std::size(bars); ++i) {
    SCOPED_TRACE("bar " + std::to_string(bars[i]));
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%04zu-bar%04d-tick1920.png", i, bars[i]);
    ASSERT_TRUE(ReadPngRgb(dir.file("png") + name, pngs[i]));
    const Difference d = Compare(pictures[i], pngs[i], 2);
    EXPECT_LT(d.mean, 3.0);
    EXPECT_LT(d.offShare, 0.01);
  }
  // The screens compared differ from each other (text, lines, a circle come
  // and go), so a video stuck on one picture would fail.
  for (size_t i = 1; i < pngs.size(); ++i) EXPECT_NE(pngs[i].pixels, pngs[i - 1].pixels) << i;
}

TEST(RenderVideo, TheScreenChangesWithinAFrameOfTheNoteItWaitsFor) {
  qtest::TempDir dir;
  // A loud note at bar 2 (4 s), and the script fills the screen with white there.
  Track t;
  t.tempo(0, 500000).at(0, {0xC0, 0x00}).at(3840, {0x90, 60, 127}).at(480, {0x80, 60, 0}).end();
  const std::string song = dir.write("sync.mid", Smf(480, {t}));
  dir.write("sync.wrd", std::string("@WAIT(3)@GLINE(0,0,639,399,7,2,7)\r\n"));
  const std::string out = dir.file("sync.mkv");
  const std::string json = ToolJson("render-video " + song + " " + out + " --scale 1");
  ASSERT_EQ(JsonText(json, "codec"), "h264+aac") << json;

  const auto pictures = DecodeFrames(out, 64, 40, "scale=64:40");
  ASSERT_EQ(static_cast<int64_t>(pictures.size()), JsonNumber(json, "frames"));
  int64_t white = -1;
  for (size_t i = 0; i < pictures.size() && white < 0; ++i)
    if (Brightness(pictures[i]) > 128) white = static_cast<int64_t>(i);
  ASSERT_GT(white, 0);
  EXPECT_LT(Brightness(pictures[static_cast<size_t>(white) - 1]), 30);

  const std::vector<int16_t> sound = DecodeSound(out, 48000);
  int peak = 0;
  for (int16_t v : sound) peak = std::max(peak, std::abs(static_cast<int>(v)));
  ASSERT_GT(peak, 1000);
  const int64_t onset = Onset(sound, peak / 10);
  const double frameTime = static_cast<double>(white) / 30;
  const double onsetTime = static_cast<double>(onset) / 48000;
  EXPECT_NEAR(frameTime, 4.0, 1.0 / 30);
  EXPECT_NEAR(onsetTime, 4.0, 1.0 / 30);
  EXPECT_LE(std::abs(frameTime - onsetTime), 1.0 / 30);
}

TEST(RenderVideo, ASongWithoutAScriptShowsItsTitleAndWebmHoldsVp9AndOpus) {
  qtest::TempDir dir;
  Track t;
  t.text(0, 0x03, "Title Line").tempo(0, 500000).at(0, {0x90, 64, 100}).at(960, {0x80, 64, 0}).end();
  const std::string song = dir.write("plain.mid", Smf(480, {t}));
  const std::string out = dir.file("plain.webm");
  const std::string json = ToolJson("render-video " + song + " " + out + " --scale 1 --fps 10");
  ASSERT_EQ(JsonText(json, "codec"), "vp9+opus") << json;
  EXPECT_EQ(Probe(out, "v:0", "stream=codec_name"), "vp9");
  EXPECT_EQ(Probe(out, "a:0", "stream=codec_name"), "opus");
  const auto pictures = DecodeFrames(out, 640, 400);
  ASSERT_EQ(static_cast<int64_t>(pictures.size()), JsonNumber(json, "frames"));
  ASSERT_FALSE(pictures.empty());
  // Text in the title's row, centred, and nothing at the top.
  const std::vector<uint8_t>& p = pictures.front();
  auto lit = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += p[(static_cast<size_t>(y) * 640 + x) * 3] > 160;
    return n;
  };
  EXPECT_GT(lit(240, 176, 400, 192), 40);
  EXPECT_EQ(lit(0, 0, 640, 150), 0);
  EXPECT_EQ(lit(0, 176, 200, 192), 0);
}

TEST(RenderVideo, BadInputFailsClearlyAndLeavesNoFile) {
  qtest::TempDir dir;
  const std::string text = dir.write("notes.mid", std::string("not a song"));
  std::string out;
  EXPECT_EQ(Tool("render-video " + kDemo + " " + dir.file("o.avi"), &out), 1);
  EXPECT_NE(out.find("cannot tell the format"), std::string::npos) << out;
  EXPECT_EQ(Tool("render-video " + text + " " + dir.file("o.mp4"), &out), 1);
  EXPECT_NE(out.find("could not be converted"), std::string::npos) << out;
  EXPECT_EQ(Tool("render-video " + kDemo + " " + dir.file("none/o.mp4"), &out), 1);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_EQ(Tool("render-video " + kDemo + " " + dir.file("o.mp4") + " --scale 0", &out), 2);
  EXPECT_EQ(Files(dir.path()), std::vector<std::string>{"notes.mid"});
}

TEST(RenderVideo, ABatchOnTwoWorkersWritesWhatEachSongAloneWrites) {
  qtest::TempDir dir;
  std::string songs;
  for (int i = 0; i < 3; ++i) {
    Track t;
    t.tempo(0, 500000).at(0, {0x90, static_cast<uint8_t>(60 + i), 100}).at(1440, {0x80, static_cast<uint8_t>(60 + i), 0}).end();
    const std::string name = "song" + std::to_string(i);
    songs += dir.write(name + ".mid", Smf(480, {t})) + " ";
    // Two of them with a script of their own, drawn by each worker's engine.
    if (i < 2)
      dir.write(name + ".wrd", "@COLOR(" + std::to_string(2 + i) + ")\r\nSONG " + std::to_string(i) +
                                   "\r\n@WAIT(1)\r\n@GLINE(0,0,639,399," + std::to_string(3 + i) + ")\r\n");
  }
  std::string out;
  ASSERT_EQ(Tool("render-video --jobs 2 " + songs + dir.file("batch"), &out), 0) << out;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "song" + std::to_string(i);
    const std::string alone = dir.file(name + ".mp4");
    ASSERT_EQ(Tool("render-video " + dir.file(name + ".mid") + " " + alone, &out), 0) << out;
    EXPECT_TRUE(qtest::ReadBytes(dir.file("batch/" + name + ".mp4")) == qtest::ReadBytes(alone))
        << name << " differs from its render alone";
  }
}
