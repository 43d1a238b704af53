// The raster record, the current palette and colour matching.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/graphics/bitmap.h"
#include "engine/graphics/raster.h"
#include "support/result_code.h"
#include "support/tracked_memory.h"
#include "tests/graphics/picture_files.h"

using namespace gtest_pictures;

namespace {

class PaletteTest : public ::testing::Test {
 protected:
  // A palette far from every test colour except the entries set.
  void farPalette() {
    uint8_t table[1024];
    for (int i = 0; i < 256; ++i) {
      table[i * 4] = 255;
      table[i * 4 + 1] = 255;
      table[i * 4 + 2] = 255;
      table[i * 4 + 3] = 0;
    }
    QGLoadPal(table, p);
  }
  QGPalette p = QGDefaultPalette();
};

TEST_F(PaletteTest, DefaultTableHoldsTheFixedLayout) {
  auto rgb = [&](int i) { return p[i].red << 16 | p[i].green << 8 | p[i].blue; };
  EXPECT_EQ(rgb(0), 0x000000);
  EXPECT_EQ(rgb(7), 0xC0C0C0);
  EXPECT_EQ(rgb(127), 0xFF00CC);
  EXPECT_EQ(rgb(226), 0xCCFFFF);  // screen colour 15
  EXPECT_EQ(rgb(241), 0xEE0000);  // screen colour 0
  EXPECT_EQ(rgb(242), 0xAAAAAA);  // clear colour
  EXPECT_EQ(rgb(246), 0xFFFBF0);
  EXPECT_EQ(rgb(255), 0xFFFFFF);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(p[i].flags, 0);
  EXPECT_EQ(QGClearColor(), 0x00AAAAAAu);
  EXPECT_EQ(QGNoToColor(249), 0x000000FFu);  // FF0000: red in the low byte
  EXPECT_EQ(QGNoToColor(252), 0x00FF0000u);  // 0000FF: blue in the third byte
}

TEST_F(PaletteTest, LoadPalKeepsFlagsAndNoToColorReportsThem) {
  uint8_t table[1024] = {};
  table[10 * 4] = 1;
  table[10 * 4 + 1] = 2;
  table[10 * 4 + 2] = 3;
  table[10 * 4 + 3] = 4;
  QGLoadPal(table, p);
  EXPECT_EQ(QGNoToColor(10, p), 0x04030201u);
  EXPECT_EQ(QGNoToColor(256, p), 0u);  // no such entry
  EXPECT_EQ(QGNoToColor(-1, p), 0u);
}

TEST_F(PaletteTest, NearColorTieGoesToTheLowerIndex) {
  farPalette();
  p[9] = {100, 100, 110, 0};  // distance 10
  p[5] = {100, 100, 90, 0};   // distance 10 as well
  QGRgbQuad c{100, 100, 100, 0xEE};  // blue, green, red
  EXPECT_EQ(QGNearColor(c, p), 5);
  // The colour is overwritten with the chosen entry (blue, green, red, 0).
  EXPECT_EQ(c.blue, 90);
  EXPECT_EQ(c.green, 100);
  EXPECT_EQ(c.red, 100);
  EXPECT_EQ(c.reserved, 0);
}

TEST_F(PaletteTest, NearColorPrefersAnExactMatchAndTheSmallestSum) {
  farPalette();
  p[3] = {10, 20, 31, 0};   // sum 1
  p[200] = {10, 20, 30, 0}; // exact
  QGRgbQuad c{30, 20, 10, 0};
  EXPECT_EQ(QGNearColor(c, p), 200);
  p[100] = {10, 20, 30, 0};  // an earlier exact match wins
  c = {30, 20, 10, 0};
  EXPECT_EQ(QGNearColor(c, p), 100);
  // A grey of the default table.
  c = {0x80, 0x80, 0x80, 0};
  EXPECT_EQ(QGNearColor(c), 248);  // 808080
}

TEST_F(PaletteTest, CvtPalTranslatesPixelsAndInstallsThePalette) {
  TQGBitmap b;
  ASSERT_TRUE(QGClearBitmap(4, 2, b));
  for (int i = 0; i < 8; ++i) b.base[i] = static_cast<uint8_t>(i % 3);
  b.colours[0] = {0, 0, 0xFF, 0};     // pure red -> 249
  b.colours[1] = {0xFF, 0, 0, 0};     // pure blue -> 252
  b.colours[2] = {0xEF, 0xEF, 0xEF, 0};  // near EEEEEE -> 245
  QGCvtPal(b.colours, b);
  EXPECT_EQ(Pixels(b), (std::vector<uint8_t>{249, 252, 245, 249, 252, 245, 249, 252}));
  for (int i = 0; i < 256; ++i) {
    const QGPaletteEntry& e = QGDefaultPalette()[i];
    EXPECT_EQ(b.colours[i].red, e.red);
    EXPECT_EQ(b.colours[i].green, e.green);
    EXPECT_EQ(b.colours[i].blue, e.blue);
  }
  QGFreeBitmap(b);
}

TEST(BitmapLife, ClearBitmapFillsHeadersPixelsAndPalette) {
  TQGBitmap b;
  int live = QGTrLiveBlocks();
  ASSERT_TRUE(QGClearBitmap(13, 7, b));
  EXPECT_EQ(QGTrLiveBlocks(), live + 1);
  EXPECT_TRUE(b.exists());
  EXPECT_EQ(b.fileHeader.type[0], 'B');
  EXPECT_EQ(b.fileHeader.type[1], 'M');
  EXPECT_EQ(b.fileHeader.size, 1078u + 91u);
  EXPECT_EQ(b.fileHeader.offBits, 1078u);
  EXPECT_EQ(b.infoHeader.size, 40u);
  EXPECT_EQ(b.infoHeader.width, 13);
  EXPECT_EQ(b.infoHeader.height, 7);
  EXPECT_EQ(b.infoHeader.planes, 1);
  EXPECT_EQ(b.infoHeader.bitCount, 8);
  EXPECT_EQ(b.infoHeader.compression, 0u);
  EXPECT_EQ(b.infoHeader.sizeImage, 91u);
  EXPECT_EQ(b.pixelBytes, 91u);
  EXPECT_EQ(Pixels(b), std::vector<uint8_t>(91, 0));
  EXPECT_EQ(b.colours[241].red, 0xEE);
  EXPECT_EQ(b.colours[241].blue, 0);
  // Remaking frees the old storage first.
  ASSERT_TRUE(QGClearBitmap(2, 2, b));
  EXPECT_EQ(QGTrLiveBlocks(), live + 1);
  QGFreeBitmap(b);
  EXPECT_FALSE(b.exists());
  EXPECT_EQ(b.storage.block, nullptr);
  EXPECT_EQ(QGTrLiveBlocks(), live);
  QGFreeBitmap(b);  // a second free does nothing
  EXPECT_EQ(QGTrLiveBlocks(), live);
}

TEST(BitmapLife, ImpossibleSizesLeaveTheBitmapAbsent) {
  TQGBitmap b;
  EXPECT_FALSE(QGClearBitmap(0, 10, b));
  EXPECT_FALSE(QGClearBitmap(10, -1, b));
  EXPECT_FALSE(QGClearBitmap(65536, 65536, b));
  EXPECT_FALSE(b.exists());
  EXPECT_EQ(b.storage.block, nullptr);
}

TEST(BitmapLife, MemoryLockDispatchAndSizeChecks) {
  TQGBitmap b;
  ASSERT_TRUE(QGClearBitmap(8, 8, b));
  EXPECT_EQ(QDLock(b), b.base);
  EXPECT_EQ(b.lock, b.base);
  EXPECT_TRUE(QDUnLock(b));
  // A record whose header claims more pixels than its storage holds is not
  // drawn on.
  b.infoHeader.height = 9;
  EXPECT_FALSE(qg::UsableRaster(b));
  b.infoHeader.height = 8;
  EXPECT_TRUE(qg::UsableRaster(b));
  QGFreeBitmap(b);
  // A display surface without a display cannot be locked.
  TQGBitmap page;
  page.storage.surface = QGSurface::kPage0;
  EXPECT_EQ(QDLock(page), nullptr);
  EXPECT_FALSE(QDUnLock(page));
}

}  // namespace
