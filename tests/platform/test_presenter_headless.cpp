// The headless presenter: what it keeps, the modes it offers, and the PNG
// frames it writes.
#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/headless/headless_presenter.h"
#include "platform/headless/png_frame.h"
#include "tests/common/test_files.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 400;

// A palette whose entry i is (i, 255 - i, i / 2).
std::vector<uint8_t> RampPalette() {
  std::vector<uint8_t> p(1024);
  for (int i = 0; i < 256; ++i) {
    p[size_t(i * 4)] = uint8_t(i);
    p[size_t(i * 4 + 1)] = uint8_t(255 - i);
    p[size_t(i * 4 + 2)] = uint8_t(i / 2);
    p[size_t(i * 4 + 3)] = 0;
  }
  return p;
}

uint32_t RampColour(int index) {
  return uint32_t(index) << 16 | uint32_t(255 - index) << 8 | uint32_t(index / 2);
}

std::vector<uint8_t> Pattern(int seed) {
  std::vector<uint8_t> s(size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) s[size_t(y * kW + x)] = uint8_t((x * 7 + y * 3 + seed) & 0xFF);
  return s;
}

struct Png {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  uint32_t at(int x, int y) const {
    const uint8_t* p = &rgb[size_t((y * width + x) * 3)];
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
};

Png ReadPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  Png out;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << "cannot read " << path;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  out.width = int(image.width);
  out.height = int(image.height);
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr))
    ADD_FAILURE() << "cannot decode " << path;
  return out;
}

std::vector<std::string> PngFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Waits (at most a few seconds) for the writer thread to reach a count.
bool WaitForWritten(const HeadlessPresenter& p, int64_t count) {
  for (int i = 0; i < 500 && p.framesWritten() < count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return p.framesWritten() == count;
}

HeadlessOptions Quiet() {
  HeadlessOptions o;
  o.refreshHz = 0;
  o.framesFolder = "";
  return o;
}

TEST(HeadlessPresenter, KeepsOnlyThePresentedRectangleClippedToTheMode) {
  HeadlessPresenter p(Quiet());
  const auto screen = Pattern(1);
  p.present(screen.data(), {0, 0, kW, kH});  // before open: nothing
  EXPECT_EQ(p.presentCount(), 0);
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(kW, kH));
  p.present(screen.data(), {100, 50, 8, 4});
  auto f = p.frame();
  ASSERT_EQ(f.width, kW);
  ASSERT_EQ(f.height, kH);
  for (int y = 48; y < 56; ++y)
    for (int x = 98; x < 110; ++x) {
      const bool inside = x >= 100 && x < 108 && y >= 50 && y < 54;
      EXPECT_EQ(f.pixels[size_t(y * kW + x)], inside ? screen[size_t(y * kW + x)] : 0) << x << "," << y;
    }
  // Rectangles reaching past any edge are cut; empty ones change nothing.
  p.present(screen.data(), {-20, -20, 30, 30});
  p.present(screen.data(), {kW - 5, kH - 5, 100, 100});
  p.present(screen.data(), {10, 10, 0, 5});
  p.present(screen.data(), {kW, 0, 10, 10});
  p.present(screen.data(), {0x7FFFFFF0, 0x7FFFFFF0, 0x7FFFFFF0, 0x7FFFFFF0});
  f = p.frame();
  EXPECT_EQ(f.pixels[0], screen[0]);
  EXPECT_EQ(f.pixels[size_t(9 * kW + 9)], screen[size_t(9 * kW + 9)]);
  EXPECT_EQ(f.pixels[size_t(10 * kW + 10)], 0);
  EXPECT_EQ(f.pixels.back(), screen.back());
  EXPECT_EQ(p.presentCount(), 3);
  p.close();
  p.present(screen.data(), {0, 0, kW, kH});
  EXPECT_EQ(p.presentCount(), 3);
}

TEST(HeadlessPresenter, OffersOnlyItsModes) {
  HeadlessOptions o = Quiet();
  o.modes = {{640, 480}, {512, 384}};
  HeadlessPresenter vga(o);
  EXPECT_FALSE(vga.setMode(640, 480));  // not open
  ASSERT_TRUE(vga.open());
  EXPECT_FALSE(vga.setMode(640, 400));
  EXPECT_TRUE(vga.setMode(640, 480));
  EXPECT_EQ(vga.frame().pixels.size(), 640u * 480u);

  HeadlessPresenter any(Quiet());
  ASSERT_TRUE(any.open());
  EXPECT_FALSE(any.setMode(0, 400));
  EXPECT_FALSE(any.setMode(640, -1));
  EXPECT_FALSE(any.setMode(5000, 400));
  EXPECT_TRUE(any.setMode(640, 400));
}

TEST(HeadlessPresenter, PaletteEntriesFromAnIndexAndPlacement) {
  HeadlessPresenter p(Quiet());
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(4, 1));
  const auto ramp = RampPalette();
  p.setPaletteEntries(0, 256, ramp.data());
  const uint8_t white[] = {255, 255, 255, 0, 255, 255, 255, 0, 255, 255, 255, 0, 255, 255, 255, 0};
  p.setPaletteEntries(254, 4, white);  // 256 and 257 do not exist
  p.setPaletteEntries(-3, 4, white);   // only entry 0 exists of these
  p.setPaletteEntries(10, 1, nullptr);
  const uint8_t screen[] = {0, 1, 254, 255};
  p.present(screen, {0, 0, 4, 1});
  const auto f = p.frame();
  EXPECT_EQ(f.rgb(0, 0), 0xFFFFFFu);
  EXPECT_EQ(f.rgb(1, 0), RampColour(1));
  EXPECT_EQ(f.rgb(2, 0), 0xFFFFFFu);
  EXPECT_EQ(f.rgb(3, 0), 0xFFFFFFu);
  EXPECT_EQ(f.palette[253 * 4], 253);

  p.setVisible(true);
  p.setPlacement(false, 120, 34);
  EXPECT_TRUE(p.isVisible());
  EXPECT_FALSE(p.fullScreen());
  EXPECT_EQ(p.position(), (std::pair{120, 34}));
  p.waitForVerticalBlank();  // refreshHz 0: at once
}

TEST(HeadlessPresenter, WritesEveryFrameAsPngNamedByCounterAndSongPosition) {
  qtest::TempDir dir;
  HeadlessOptions o;
  o.refreshHz = 0;
  o.framesFolder = dir.file("frames");  // created on open
  o.frameIntervalMs = 0;
  HeadlessPresenter p(o);
  ASSERT_TRUE(p.open());
  EXPECT_EQ(p.framesFolder(), dir.file("frames"));
  ASSERT_TRUE(p.setMode(kW, kH));
  const auto ramp = RampPalette();
  p.setPaletteEntries(0, 256, ramp.data());  // frame 0
  const auto first = Pattern(0), second = Pattern(99);
  p.setSongPosition(120480);
  p.present(first.data(), {0, 0, kW, kH});  // frame 1
  p.setSongPosition(kNoSongPosition);
  p.present(second.data(), {0, 0, kW, kH});  // frame 2
  const uint8_t red[] = {255, 0, 0, 0};
  p.setPaletteEntries(7, 1, red);  // frame 3: the same picture, one colour changed
  p.close();                       // waits for the writer
  EXPECT_EQ(p.framesWritten(), 4);
  EXPECT_EQ(PngFiles(dir.file("frames")),
            (std::vector<std::string>{"frame-000000.png", "frame-000001-bar0012-tick0480.png",
                                      "frame-000002.png", "frame-000003.png"}));
  const Png a = ReadPng(dir.file("frames/frame-000001-bar0012-tick0480.png"));
  const Png b = ReadPng(dir.file("frames/frame-000003.png"));
  ASSERT_EQ(a.width, kW);
  ASSERT_EQ(a.height, kH);
  ASSERT_EQ(b.width, kW);
  int sevens = 0;
  for (int y = 0; y < kH; y += 3)
    for (int x = 0; x < kW; x += 5) {
      ASSERT_EQ(a.at(x, y), RampColour(first[size_t(y * kW + x)])) << x << "," << y;
      const int i = second[size_t(y * kW + x)];
      ASSERT_EQ(b.at(x, y), i == 7 ? 0xFF0000u : RampColour(i)) << x << "," << y;
      sevens += i == 7;
    }
  EXPECT_GT(sevens, 0);
}

// The interval keeps the newest picture and writes it once the interval has
// passed, or when the display ends.
TEST(HeadlessPresenter, RateLimitWritesTheLatestPictureOfEachInterval) {
  qtest::TempDir dir;
  std::atomic<int64_t> clock{1000};
  HeadlessOptions o;
  o.refreshHz = 0;
  o.framesFolder = dir.path().string();
  o.frameIntervalMs = 100;
  o.clockMs = [&] { return clock.load(); };
  HeadlessPresenter p(o);
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(kW, kH));
  const auto ramp = RampPalette();
  p.setPaletteEntries(0, 256, ramp.data());
  ASSERT_TRUE(WaitForWritten(p, 1));  // the first change goes out at once
  std::vector<std::vector<uint8_t>> shots = {Pattern(1), Pattern(2), Pattern(3), Pattern(4)};
  clock = 1010;
  p.present(shots[0].data(), {0, 0, kW, kH});
  clock = 1020;
  p.present(shots[1].data(), {0, 0, kW, kH});
  clock = 1100;  // the interval is over: the held picture (shots[1]) goes out
  ASSERT_TRUE(WaitForWritten(p, 2));
  clock = 1150;
  p.present(shots[2].data(), {0, 0, kW, kH});
  p.present(shots[3].data(), {0, 0, kW, kH});
  p.close();  // the display ends: the held picture is written
  EXPECT_EQ(p.framesWritten(), 3);
  const auto files = PngFiles(dir.path().string());
  ASSERT_EQ(files.size(), 3u);
  const Png second = ReadPng(dir.file(files[1]));
  const Png third = ReadPng(dir.file(files[2]));
  for (int x = 0; x < kW; x += 13) {
    EXPECT_EQ(second.at(x, 7), RampColour(shots[1][size_t(7 * kW + x)]));
    EXPECT_EQ(third.at(x, 7), RampColour(shots[3][size_t(7 * kW + x)]));
  }
}

TEST(HeadlessPresenter, FolderAndIntervalFromTheEnvironment) {
  qtest::TempDir dir;
  setenv("QMIDI_FRAMES", dir.file("env").c_str(), 1);
  setenv("QMIDI_FRAMES_INTERVAL", "0", 1);
  HeadlessOptions o;
  o.refreshHz = 0;
  HeadlessPresenter p(o);
  ASSERT_TRUE(p.open());
  EXPECT_EQ(p.framesFolder(), dir.file("env"));
  ASSERT_TRUE(p.setMode(8, 8));
  const std::vector<uint8_t> screen(64, 3);
  p.present(screen.data(), {0, 0, 8, 8});
  p.present(screen.data(), {0, 0, 8, 8});
  p.flushFrames();
  EXPECT_EQ(p.framesWritten(), 2);
  p.close();
  // A second display of the same presenter goes on counting.
  unsetenv("QMIDI_FRAMES_INTERVAL");
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(8, 8));
  p.present(screen.data(), {0, 0, 8, 8});
  p.close();
  EXPECT_EQ(PngFiles(dir.file("env")).back(), "frame-000002.png");
  unsetenv("QMIDI_FRAMES");
  HeadlessPresenter none(o);
  ASSERT_TRUE(none.open());
  EXPECT_EQ(none.framesFolder(), "");
}

TEST(HeadlessPresenter, AFolderThatCannotBeMadeLeavesTheDisplayWorking) {
  qtest::TempDir dir;
  qtest::StartTrace(dir);
  const std::string file = dir.write("plain", std::string("not a folder"));
  HeadlessOptions o = Quiet();
  o.framesFolder = file + "/frames";
  HeadlessPresenter p(o);
  EXPECT_TRUE(p.open());
  EXPECT_EQ(p.framesFolder(), "");
  EXPECT_TRUE(p.setMode(16, 16));
  const auto lines = qtest::TraceLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "HeadlessPresenter.open"), lines.end());
}

TEST(PngFrame, RefusesBadArgumentsAndUnwritablePaths) {
  qtest::TempDir dir;
  const auto ramp = RampPalette();
  const uint8_t pixels[4] = {0, 1, 2, 3};
  EXPECT_FALSE(QDWriteIndexedPng(dir.file("a.png"), nullptr, 2, 2, ramp.data()));
  EXPECT_FALSE(QDWriteIndexedPng(dir.file("a.png"), pixels, 0, 2, ramp.data()));
  EXPECT_FALSE(QDWriteIndexedPng(dir.file("no/such/folder/a.png"), pixels, 2, 2, ramp.data()));
  EXPECT_TRUE(QDWriteIndexedPng(dir.file("a.png"), pixels, 2, 2, ramp.data()));
  EXPECT_EQ(PngFiles(dir.path().string()), std::vector<std::string>{"a.png"});
  EXPECT_EQ(ReadPng(dir.file("a.png")).at(1, 1), RampColour(3));
}

}  // namespace
