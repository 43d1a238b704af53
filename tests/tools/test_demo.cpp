#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/graphics/bitmap.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/raster.h"
#include "tests/common/test_files.h"

namespace {
std::string Demo(const std::string& name) { return std::string(QMIDI_SOURCE_DIR) + "/demo/" + name; }
}  // namespace

TEST(Demo, CommittedFilesAreWhatMakeDemoWrites) {
  qtest::TempDir dir;
  std::string command = std::string(QMIDI_TOOL_PATH) + " make-demo " + dir.path().string() + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const char* name : {"DEMO.MID", "DEMO.WRD", "SCENE.MAG"}) {
    auto made = qtest::ReadBytes(dir.file(name));
    EXPECT_FALSE(made.empty()) << name;
    EXPECT_EQ(made, qtest::ReadBytes(Demo(name))) << name << " differs: run qmidi-tool make-demo demo";
  }
}

TEST(Demo, PictureDecodesToTheSceneItWasDrawnFrom) {
  TQGBitmap bitmap;
  ASSERT_TRUE(MagLoad(Demo("SCENE.MAG"), bitmap, 1));
  ASSERT_EQ(bitmap.width(), 640);
  ASSERT_EQ(bitmap.height(), 400);
  {
    qg::RasterLock lock(bitmap);
    ASSERT_TRUE(lock.ok());
    auto colourAt = [&](int x, int y) {
      const QGRgbQuad& c = bitmap.colours[lock.row(y)[x]];
      return std::vector<int>{c.red, c.green, c.blue};
    };
    // Screen colour c lands on index 241 - c with its own colour.
    EXPECT_EQ(lock.row(80)[480], 241 - 9);                           // the moon
    EXPECT_EQ(colourAt(480, 80), (std::vector<int>{255, 238, 153}));  // 15, 14, 9 in steps of 17
    EXPECT_EQ(lock.row(10)[0], 241 - 1);                              // top of the sky
    EXPECT_EQ(colourAt(0, 10), (std::vector<int>{0, 0, 51}));
    EXPECT_EQ(lock.row(399)[1], 241 - 12);                            // the lake
  }
  QGFreeBitmap(bitmap);
}
