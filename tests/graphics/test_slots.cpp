// Picture slots: the packed pixel stream, drawing a slot, loading by name.
#include <gtest/gtest.h>

#include <random>

#include "engine/graphics/draw.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/picture_slots.h"
#include "support/tracked_memory.h"
#include "tests/common/test_files.h"
#include "tests/graphics/picture_files.h"

using namespace gtest_pictures;

namespace {

class Slots : public ::testing::Test {
 protected:
  void SetUp() override { live = QGTrLiveBlocks(); }
  void TearDown() override {
    slots.freeAll();
    QGFreeBitmap(pic);
    QGFreeBitmap(dest);
    EXPECT_EQ(QGTrLiveBlocks(), live);  // every slot block was released
  }
  // A picture of screen colours, the clear colour and index 0 in runs.
  void makeSlotPicture(int w, int h, unsigned seed) {
    QGClearBitmap(w, h, pic);
    std::mt19937 random(seed);
    const uint8_t values[] = {0, 226, 233, 241, 242, 255};
    size_t i = 0, n = static_cast<size_t>(w) * h;
    while (i < n) {
      uint8_t v = values[random() % 6];
      size_t run = 1 + random() % 600;
      for (size_t k = 0; k < run && i < n; ++k) pic.base[i++] = v;
    }
  }
  int live = 0;
  TQGBitmap pic, dest;
  PictureSlots slots;
};

TEST_F(Slots, LongRunsPackInCountsOfAtMost225) {
  std::vector<uint8_t> run(300, 233);
  EXPECT_EQ(QGPackPixels(run.data(), run.size()), (std::vector<uint8_t>{233, 225, 74}));
  std::vector<uint8_t> exact(226, 0);
  EXPECT_EQ(QGPackPixels(exact.data(), exact.size()), (std::vector<uint8_t>{0, 225}));
  std::vector<uint8_t> mixed = {242, 242, 0, 241, 241, 241};
  EXPECT_EQ(QGPackPixels(mixed.data(), mixed.size()), (std::vector<uint8_t>{242, 1, 0, 241, 2}));
}

TEST_F(Slots, PackedPicturesDrawBackExactly) {
  makeSlotPicture(97, 61, 3);  // runs cross row ends
  ASSERT_TRUE(slots.create(5, pic));
  TQGBitmap* slot = slots.picture(5);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->base, nullptr);
  EXPECT_EQ(slot->width(), 97);
  EXPECT_EQ(slot->height(), 61);
  EXPECT_LT(slot->storage.size, 97u * 61u / 4);  // packed
  MakeRaster(dest, 97, 61, 7);
  ASSERT_TRUE(QDMagBlt(dest, 0, 0, kQGOpaque, slot, 1000, 1000));
  EXPECT_EQ(Pixels(dest), Pixels(pic));
}

TEST_F(Slots, TransparentIndexZeroLeavesTheDestination) {
  makeSlotPicture(40, 30, 9);
  ASSERT_TRUE(slots.create(0, pic));
  MakeRaster(dest, 40, 30, 7);
  ASSERT_TRUE(QDMagBlt(dest, 0, 0, 0, slots.picture(0), 30, 40));
  for (size_t i = 0; i < 40 * 30; ++i)
    ASSERT_EQ(dest.base[i], pic.base[i] == 0 ? 7 : pic.base[i]) << i;
}

TEST_F(Slots, DrawingIsCutToRowsColumnsAndTheDestination) {
  makeSlotPicture(50, 40, 5);
  pic.originX = 12;
  pic.originY = 34;
  ASSERT_TRUE(slots.create(63, pic));
  const TQGBitmap* slot = slots.picture(63);
  EXPECT_EQ(slot->originX, 12);
  EXPECT_EQ(slot->originY, 34);
  MakeRaster(dest, 64, 48, 1);
  ASSERT_TRUE(QDMagBlt(dest, 30, 20, kQGOpaque, slot, 10, 20));
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      bool inside = x >= 30 && x < 50 && y >= 20 && y < 30;
      ASSERT_EQ(At(dest, x, y), inside ? At(pic, x - 30, y - 20) : 1) << x << ',' << y;
    }
  // Past the right and bottom edges, and above and left of the raster.
  QGFillRect(dest, 0, 0, 64, 48, 1);
  ASSERT_TRUE(QDMagBlt(dest, 40, 30, kQGOpaque, slot, 1000, 1000));
  EXPECT_EQ(At(dest, 63, 47), At(pic, 23, 17));
  QGFillRect(dest, 0, 0, 64, 48, 1);
  ASSERT_TRUE(QDMagBlt(dest, -10, -5, kQGOpaque, slot, 1000, 1000));
  EXPECT_EQ(At(dest, 0, 0), At(pic, 10, 5));
  EXPECT_EQ(At(dest, 39, 34), At(pic, 49, 39));
  EXPECT_EQ(At(dest, 40, 0), 1);
  EXPECT_FALSE(QDMagBlt(dest, 0, 0, 0, nullptr, 10, 10));
  TQGBitmap none;
  EXPECT_FALSE(QDMagBlt(none, 0, 0, 0, slot, 10, 10));
}

TEST_F(Slots, PicturesWithOtherIndicesAreKeptUnpacked) {
  QGClearBitmap(30, 20, pic);
  for (size_t i = 0; i < 600; ++i) pic.base[i] = static_cast<uint8_t>(i % 256);
  ASSERT_TRUE(slots.create(1, pic));
  EXPECT_EQ(slots.picture(1)->storage.size, 600u);
  MakeRaster(dest, 30, 20, 9);
  ASSERT_TRUE(QDMagBlt(dest, 0, 0, 5, slots.picture(1), 20, 30));
  for (size_t i = 0; i < 600; ++i) ASSERT_EQ(dest.base[i], pic.base[i] == 5 ? 9 : pic.base[i]);
}

TEST_F(Slots, LoadByNameChoosesTheLoaderByExtensionInAnyCase) {
  qtest::TempDir dir;
  std::vector<uint8_t> colours(640 * 400, 3);
  dir.write("PIC/SCREEN.PHO", EncodePho(colours));
  std::filesystem::copy_file(qtest::TestData("mag/pymag_16c_640x400.mag"),
                             dir.path() / "PIC" / "title.mag");
  slots.names().folder = dir.path().string();
  slots.names().names[2] = "pic\\TITLE.MAG";  // as a script writes it
  slots.names().names[3] = "PIC\\screen.pho";
  ASSERT_TRUE(slots.load(2));
  ASSERT_TRUE(slots.load(3));
  ASSERT_TRUE(slots.load(4));  // no name: nothing to do
  EXPECT_EQ(slots.picture(4), nullptr);
  const TQGBitmap* mag = slots.picture(2);
  ASSERT_NE(mag, nullptr);
  EXPECT_EQ(mag->width(), 640);
  MakeRaster(dest, 640, 400, 0);
  ASSERT_TRUE(QDMagBlt(dest, 0, 0, kQGOpaque, mag, 400, 640));
  TQGBitmap direct;
  ASSERT_TRUE(MagLoad(qtest::TestData("mag/pymag_16c_640x400.mag"), direct, 1));
  EXPECT_EQ(Pixels(dest), Pixels(direct));
  EXPECT_EQ(mag->colours[241].red, direct.colours[241].red);
  QGFreeBitmap(direct);
  const TQGBitmap* pho = slots.picture(3);
  ASSERT_NE(pho, nullptr);
  ASSERT_TRUE(QDMagBlt(dest, 0, 0, kQGOpaque, pho, 400, 640));
  EXPECT_EQ(At(dest, 100, 100), 241 - 3);
  EXPECT_EQ(pho->originX, 0);
  // A name that finds nothing fails and leaves the slot as it was.
  slots.names().names[3] = "NOSUCH.BMP";
  EXPECT_FALSE(slots.load(3));
  EXPECT_EQ(slots.picture(3), pho);
  slots.free(3);
  EXPECT_EQ(slots.picture(3), nullptr);
}

}  // namespace
