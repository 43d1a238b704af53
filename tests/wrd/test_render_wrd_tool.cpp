// qmidi-tool render-wrd end to end: the demo song with a script written
// here, frames read back and checked pixel by pixel through their palette.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "platform/png/png_file.h"
#include "tests/common/test_files.h"
#include "tests/graphics/picture_files.h"

namespace {

int RunTool(const std::string& args, std::string* out = nullptr) {
  std::string command = std::string(QMIDI_TOOL) + " " + args + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::array<char, 4096> buf;
  size_t n;
  std::string text;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Has(const PngImage& im, int x0, int y0, int x1, int y1, PngRgb c) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      if (im.at(x, y) == c) return true;
  return false;
}

TEST(RenderWrdTool, FramesShowTextPicturesFadesAndPageFlips) {
  qtest::TempDir dir;
  ASSERT_EQ(RunTool("make-demo " + dir.path().string() + " >/dev/null"), 0);
  std::remove(dir.file("SCENE.MAG").c_str());
  std::vector<uint8_t> values(16 * 8, 5);
  dir.write("PIC.MAG", gtest_pictures::EncodeMag(gtest_pictures::LiteralMag(0, 320, 200, 16, 16, 8, values, 16)));
  dir.write("DEMO.WRD", std::string("@COLOR(2)@LOCATE(3,2)\r\nAB\r\n@GLINE(0,100,99,199,3,2,3)\r\n@MAG(PIC)\r\n"
                                    "@PAL(#1,000)\r\n@PAL(#2,FFF,000,000,F00)\r\n@FADE(1,2,240)\r\n"
                                    "@GSCREEN(0,1)\r\n"));
  const std::string out = dir.file("frames");
  std::string text;
  ASSERT_EQ(RunTool("render-wrd " + dir.file("DEMO.MID") + " --out " + out +
                    " --at 10240,20240,30240,60240,70240",
                &text),
            0)
      << text;
  auto frame = [&](const char* name) {
    PngImage im;
    std::string error;
    EXPECT_TRUE(ReadPngRgb(out + "/" + name, im, &error)) << name << ": " << error;
    return im;
  };
  const PngImage text1 = frame("frame-0000-bar0001-tick0240.png");
  ASSERT_EQ(text1.width, 640);
  ASSERT_EQ(text1.height, 400);
  const PngRgb cyan{0, 255, 255};  // COLOR(2)
  EXPECT_TRUE(Has(text1, 16, 16, 23, 31, cyan)) << "A in column 2, row 1";
  EXPECT_TRUE(Has(text1, 24, 16, 31, 31, cyan)) << "B beside it";
  EXPECT_FALSE(Has(text1, 32, 16, 47, 31, cyan));
  EXPECT_FALSE(Has(text1, 16, 0, 31, 15, cyan));

  const PngImage box = frame("frame-0001-bar0002-tick0240.png");
  EXPECT_EQ(box.at(50, 150), (PngRgb{254, 255, 0})) << "colour 3, pure red kept off 255";

  const PngImage pic = frame("frame-0002-bar0003-tick0240.png");
  EXPECT_EQ(pic.at(320, 200), (PngRgb{26, 15, 250})) << "the picture at its origin, in its colours";
  EXPECT_EQ(pic.at(335, 207), (PngRgb{26, 15, 250}));
  EXPECT_NE(pic.at(336, 207), (PngRgb{26, 15, 250}));

  const PngImage fade = frame("frame-0003-bar0006-tick0240.png");
  EXPECT_EQ(fade.at(16, 16), (PngRgb{17, 17, 17})) << "first fade step of colour 0 (the paper of the text cell)";
  EXPECT_EQ(fade.at(50, 150), (PngRgb{17, 0, 0})) << "first fade step of colour 3";

  const PngImage flipped = frame("frame-0004-bar0007-tick0240.png");
  EXPECT_EQ(flipped.at(50, 150), (PngRgb{255, 255, 255})) << "page 1 shows, in the faded-in colour 0";
  EXPECT_TRUE(Has(flipped, 16, 16, 23, 31, cyan)) << "the text stays over the other page";
  PngImage last;
  EXPECT_TRUE(ReadPngRgb(out + "/final.png", last));
}

TEST(RenderWrdTool, RefusesBadArgumentsAndSongsWithoutScripts) {
  qtest::TempDir dir;
  ASSERT_EQ(RunTool("make-demo " + dir.path().string() + " >/dev/null"), 0);
  EXPECT_EQ(RunTool("render-wrd " + dir.file("DEMO.MID")), 2) << "no --out";
  EXPECT_EQ(RunTool("render-wrd " + dir.file("DEMO.MID") + " --out " + dir.file("f") + " --at x"), 2);
  EXPECT_EQ(RunTool("render-wrd " + dir.file("NONE.MID") + " --out " + dir.file("f")), 1);
  std::remove(dir.file("DEMO.WRD").c_str());
  EXPECT_EQ(RunTool("render-wrd " + dir.file("DEMO.MID") + " --out " + dir.file("f")), 1);
}

}  // namespace
