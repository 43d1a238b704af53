// Rectangle transfers, in memory and on display surfaces (served here by a
// stand-in display that keeps its surfaces in memory and records what is
// presented).
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "engine/graphics/draw.h"
#include "engine/graphics/transfer.h"
#include "tests/graphics/picture_files.h"

using namespace gtest_pictures;

namespace {

// A raster whose pixel value encodes its position: (x + 7y) mod 200.
void MakePattern(TQGBitmap& b, int w, int h) {
  QGClearBitmap(w, h, b);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.base[y * w + x] = static_cast<uint8_t>((x + 7 * y) % 200);
}
uint8_t Pattern(int x, int y) { return static_cast<uint8_t>((x + 7 * y) % 200); }

TEST(Transfers, MemBltCopiesOpaqueOrSkipsTheTransparentIndex) {
  TQGBitmap src, dest;
  MakeRaster(src, 16, 4, 242);
  src.base[1] = 7;
  src.base[16 + 2] = 0;
  MakeRaster(dest, 16, 4, 9);
  ASSERT_TRUE(QGmemBlt(dest, 0, 0, 16, 4, src, 0, 0, 242));
  std::vector<uint8_t> expect(64, 9);
  expect[1] = 7;
  expect[16 + 2] = 0;
  EXPECT_EQ(Pixels(dest), expect);
  ASSERT_TRUE(QGmemBlt(dest, 0, 0, 16, 4, src, 0, 0, kQGOpaque));
  EXPECT_EQ(Pixels(dest), Pixels(src));
  QGFreeBitmap(src);
  QGFreeBitmap(dest);
}

// Keyed blits of every width and offset against a pixel-by-pixel model, in
// two rasters and within one (rows that overlap), so that the copy eight
// pixels a step keeps every pixel's rule: the key leaves the destination.
TEST(Transfers, KeyedBltsOfAnyWidthAndOffsetMatchPixelByPixel) {
  TQGBitmap src, dest;
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, static_cast<uint8_t>(seed >> 16); };
  for (int w = 1; w <= 37; ++w) {
    for (int dx : {0, 1, 3, 7}) {
      MakeRaster(src, 48, 2, 0);
      MakeRaster(dest, 48, 2, 0);
      for (int i = 0; i < 96; ++i) {
        src.base[i] = (next() & 3) == 0 ? 242 : next();  // a quarter of the pixels are the key
        dest.base[i] = next();
      }
      std::vector<uint8_t> want = Pixels(dest);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < w && dx + x < 48; ++x)
          if (src.base[y * 48 + 5 + x] != 242) want[static_cast<size_t>(y * 48 + dx + x)] = src.base[y * 48 + 5 + x];
      ASSERT_TRUE(QGmemBlt(dest, dx, 0, w, 2, src, 5, 0, 242));
      EXPECT_EQ(Pixels(dest), want) << "width " << w << " at " << dx;

      // Within one raster, the row shifted by fewer pixels than its width:
      // pixels are taken left to right as they stand at that moment.
      std::vector<uint8_t> model = Pixels(src);
      for (int x = 0; x < w && dx + x < 48; ++x)
        if (model[static_cast<size_t>(5 + x)] != 242) model[static_cast<size_t>(dx + x)] = model[static_cast<size_t>(5 + x)];
      ASSERT_TRUE(QGmemBlt(src, dx, 0, w, 1, src, 5, 0, 242));
      EXPECT_EQ(Pixels(src), model) << "overlapping, width " << w << " at " << dx;
      QGFreeBitmap(src);
      QGFreeBitmap(dest);
    }
  }
}

TEST(Transfers, MemBltClipsBothSidesTogether) {
  TQGBitmap src, dest;
  MakePattern(src, 20, 10);
  MakeRaster(dest, 10, 10, 255);
  ASSERT_TRUE(QGmemBlt(dest, -3, 8, 8, 8, src, 2, 1, kQGOpaque));
  // Destination columns 0..4, rows 8..9 from source columns 5..9, rows 1..2.
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      bool inside = x < 5 && y >= 8;
      EXPECT_EQ(At(dest, x, y), inside ? Pattern(x + 5, y - 7) : 255) << x << ',' << y;
    }
  QGFreeBitmap(src);
  QGFreeBitmap(dest);
}

TEST(Transfers, MemCopyOfDifferentSizesCopiesTheCommonArea) {
  TQGBitmap src, dest;
  MakePattern(src, 6, 3);
  MakeRaster(dest, 4, 5, 255);
  ASSERT_TRUE(QGmemCopy(dest, src, kQGOpaque));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(dest, x, y), y < 3 ? Pattern(x, y) : 255);
  // Same size: the whole raster, the transparent index does not apply.
  TQGBitmap same;
  MakeRaster(same, 6, 3, 1);
  ASSERT_TRUE(QGmemCopy(same, src, 0));
  EXPECT_EQ(Pixels(same), Pixels(src));
  QGFreeBitmap(src);
  QGFreeBitmap(dest);
  QGFreeBitmap(same);
}

TEST(Transfers, MemCopyReportsALockFailureToTheDisplay) {
  // A display whose surfaces cannot be locked (freed meanwhile).
  struct Gone final : QGSurfaceOps {
    uint8_t* lock(TQGBitmap&) override { return nullptr; }
    bool unlock(TQGBitmap&) override { return false; }
    void present(const QGRect&) override {}
    void failed(int32_t code) override { codes.push_back(code); }
    std::vector<int32_t> codes;
  } gone;
  TQGBitmap src, page;
  MakeRaster(src, 4, 4, 1);
  page.base = reinterpret_cast<uint8_t*>(&page);  // exists, but its display cannot serve it
  page.storage.surface = QGSurface::kPage0;
  page.storage.size = 16;
  page.storage.ops = &gone;
  page.infoHeader.width = 4;
  page.infoHeader.height = 4;
  EXPECT_FALSE(QGmemCopy(page, src, kQGOpaque));
  EXPECT_EQ(gone.codes, std::vector<int32_t>{9050});
  QGFreeBitmap(src);
}

TEST(Transfers, ScratchBltFlipsMirrorsAndScales) {
  TQGBitmap src, dest;
  MakePattern(src, 8, 6);
  MakeRaster(dest, 8, 6, 0);
  ASSERT_TRUE(QGmemScratchBlt(dest, 0, 5, 8, -6, src, 0, 0, 8, 6, kQGOpaque));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(At(dest, x, y), Pattern(x, 5 - y));
  ASSERT_TRUE(QGmemScratchBlt(dest, 7, 0, -8, 6, src, 0, 0, 8, 6, kQGOpaque));
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(At(dest, x, y), Pattern(7 - x, y));
  // Double size: each source pixel covers 2 x 2.
  TQGBitmap big;
  MakeRaster(big, 16, 12, 0);
  ASSERT_TRUE(QGmemScratchBlt(big, 0, 0, 16, 12, src, 0, 0, 8, 6, 3));
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) {
      uint8_t p = Pattern(x / 2, y / 2);
      EXPECT_EQ(At(big, x, y), p == 3 ? 0 : p);  // index 3 is skipped
    }
  // Half size: every other pixel.
  ASSERT_TRUE(QGmemScratchBlt(dest, 0, 0, 4, 3, big, 0, 0, 16, 12, kQGOpaque));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(At(dest, x, y), At(big, x * 4, y * 4));
  EXPECT_TRUE(QGmemScratchBlt(dest, 0, 0, 0, 3, src, 0, 0, 8, 6, kQGOpaque));
  QGFreeBitmap(src);
  QGFreeBitmap(dest);
  QGFreeBitmap(big);
}

TEST(Transfers, BackBltCopiesAlignedAndUnalignedMemoryRectangles) {
  TQGBitmap src, dest;
  MakePattern(src, 16, 4);
  MakeRaster(dest, 16, 4, 255);
  ASSERT_TRUE(QGBackBlt(dest, 4, 0, 8, 2, src, 0, 1));  // aligned
  for (int x = 4; x < 12; ++x) EXPECT_EQ(At(dest, x, 1), Pattern(x - 4, 2));
  EXPECT_EQ(At(dest, 3, 0), 255);
  ASSERT_TRUE(QGBackBlt(dest, 1, 3, 3, 1, src, 5, 0));  // unaligned
  EXPECT_EQ(At(dest, 1, 3), Pattern(5, 0));
  EXPECT_EQ(At(dest, 3, 3), Pattern(7, 0));
  QGFreeBitmap(src);
  QGFreeBitmap(dest);
}

TEST(Transfers, ChgeBltExchangesAndXCopySkipsColourZero) {
  TQGBitmap a, b;
  MakeRaster(a, 4, 4, 1);
  MakeRaster(b, 4, 4, 2);
  ASSERT_TRUE(QGChgeBlt(a, 0, 0, 2, 2, b, 2, 2));
  EXPECT_EQ(At(a, 1, 1), 2);
  EXPECT_EQ(At(a, 2, 2), 1);
  EXPECT_EQ(At(b, 3, 3), 1);
  EXPECT_EQ(At(b, 0, 0), 2);
  QGFillRect(b, 0, 0, 4, 4, 241);
  b.base[5] = 230;
  ASSERT_TRUE(QGXCopy(a, 0, 0, 4, 4, b, 0, 0, 241));
  EXPECT_EQ(At(a, 1, 1), 230);
  EXPECT_EQ(At(a, 0, 0), 2);
  QGFreeBitmap(a);
  QGFreeBitmap(b);
}

TEST(Transfers, DownBltMovesDownAndRightWithinOneRaster) {
  TQGBitmap r, expect;
  MakePattern(r, 10, 10);
  MakePattern(expect, 10, 10);
  ASSERT_TRUE(QGDownBlt(r, 2, 3, 6, 5, r, 1, 1));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(At(r, 2 + x, 3 + y), Pattern(1 + x, 1 + y));
  // Negative starts are raised to 0 without moving the other side.
  MakePattern(r, 10, 10);
  ASSERT_TRUE(QGDownBlt(r, -5, 4, 3, 1, r, 6, 0));
  EXPECT_EQ(At(r, 0, 4), Pattern(6, 0));
  EXPECT_EQ(At(r, 2, 4), Pattern(8, 0));
  QGFreeBitmap(r);
  QGFreeBitmap(expect);
}

TEST(Transfers, AbsentRastersTransferNothing) {
  TQGBitmap none, real;
  MakeRaster(real, 4, 4, 1);
  EXPECT_FALSE(QGmemBlt(none, 0, 0, 4, 4, real, 0, 0, kQGOpaque));
  EXPECT_FALSE(QGmemBlt(real, 0, 0, 4, 4, none, 0, 0, kQGOpaque));
  EXPECT_FALSE(QGmemCopy(real, none, kQGOpaque));
  EXPECT_FALSE(QGBackBlt(none, 0, 0, 4, 4, real, 0, 0));
  EXPECT_FALSE(QGPlanBlt(real, 0, 0, 4, 4, none, 0, 0, 15));
  EXPECT_EQ(Pixels(real), std::vector<uint8_t>(16, 1));
  QGFreeBitmap(real);
}

// ---- display surfaces ----

class StandInDisplay : public QGSurfaceOps {
 public:
  uint8_t* lock(TQGBitmap& raster) override {
    ++locks;
    return surfaces[raster.storage.surface].data();
  }
  bool unlock(TQGBitmap&) override { return true; }
  void present(const QGRect& r) override { presented.push_back(r); }
  void failed(int32_t code) override { failures.push_back(code); }

  void make(TQGBitmap& b, QGSurface which, uint8_t fill) {
    auto& pixels = surfaces[which];
    pixels.assign(640 * 400, fill);
    QGFillBmpHeaders(b, 640, 400);
    b.base = pixels.data();
    b.storage = {pixels.data(), 640 * 400, which, this};
  }
  std::map<QGSurface, std::vector<uint8_t>> surfaces;
  std::vector<QGRect> presented;
  std::vector<int32_t> failures;
  int locks = 0;
};

class DisplayTransfers : public ::testing::Test {
 protected:
  void SetUp() override {
    display.make(screen, QGSurface::kScreenBuffer, 0);
    display.make(page0, QGSurface::kPage0, 241);
    display.make(text, QGSurface::kTextLayer, 242);
    display.make(page1, QGSurface::kPage1, 230);
  }
  StandInDisplay display;
  TQGBitmap screen, page0, text, page1;
};

TEST_F(DisplayTransfers, TextLayerOverTheScreenIsKeyedOnTheClearColourAndPresented) {
  QGFillRect(text, 10, 10, 3, 1, 255);
  ASSERT_TRUE(QGmemBlt(screen, 9, 10, 6, 1, text, 9, 10, kQGOpaque));
  EXPECT_EQ(At(screen, 8, 10), 0);
  EXPECT_EQ(At(screen, 9, 10), 0);  // 242 in the text layer: skipped
  EXPECT_EQ(At(screen, 10, 10), 255);
  EXPECT_EQ(At(screen, 12, 10), 255);
  ASSERT_EQ(display.presented.size(), 1u);
  QGRect r = display.presented[0];
  EXPECT_EQ((std::array{r.left, r.top, r.right, r.bottom}), (std::array{8, 10, 15, 10}));
}

TEST_F(DisplayTransfers, TextLayerOntoAPageSkipsOnlyTheGivenIndex) {
  QGFillRect(text, 0, 0, 2, 1, 250);
  ASSERT_TRUE(QGmemBlt(page0, 0, 0, 4, 1, text, 0, 0, 242));
  EXPECT_EQ(At(page0, 0, 0), 250);
  EXPECT_EQ(At(page0, 2, 0), 241);
  EXPECT_TRUE(display.presented.empty());  // only the screen buffer presents
}

TEST_F(DisplayTransfers, BackBltComposesAPageOntoTheScreenAndCopiesBetweenPages) {
  ASSERT_TRUE(QGBackBlt(screen, 0, 0, 640, 400, page1, 0, 0));
  EXPECT_EQ(At(screen, 639, 399), 230);
  ASSERT_TRUE(QGBackBlt(page0, 8, 8, 4, 4, page1, 0, 0));
  EXPECT_EQ(At(page0, 8, 8), 230);
  EXPECT_EQ(At(page0, 12, 8), 241);
  // A pair the display does not blit still copies (text layer onto page 1).
  QGFillRect(text, 0, 0, 4, 1, 201);
  ASSERT_TRUE(QGBackBlt(page1, 0, 0, 4, 1, text, 0, 0));
  EXPECT_EQ(At(page1, 3, 0), 201);
  EXPECT_TRUE(display.presented.empty());
}

TEST_F(DisplayTransfers, MemCopyOntoTheScreenPresentsTheWholeScreen) {
  QGFillRect(text, 0, 0, 1, 1, 77);
  ASSERT_TRUE(QGmemCopy(screen, text, kQGOpaque));
  EXPECT_EQ(At(screen, 0, 0), 77);
  EXPECT_EQ(At(screen, 1, 0), 0);  // keyed on 242
  ASSERT_EQ(display.presented.size(), 1u);
  EXPECT_EQ(display.presented[0].right, 639);
  EXPECT_EQ(display.presented[0].bottom, 399);
}

TEST_F(DisplayTransfers, SurfacesOfTwoDisplaysAreNotTheSameStorage) {
  StandInDisplay other;
  TQGBitmap otherScreen;
  other.make(otherScreen, QGSurface::kScreenBuffer, 0);
  EXPECT_TRUE(QGSameStorage(screen, screen));
  EXPECT_FALSE(QGSameStorage(screen, otherScreen));
  // Text of one display onto the other's screen: copied there, presented there.
  QGFillRect(text, 0, 0, 2, 1, 99);
  ASSERT_TRUE(QGmemBlt(otherScreen, 0, 0, 2, 1, text, 0, 0, kQGOpaque));
  EXPECT_EQ(At(otherScreen, 1, 0), 99);
  EXPECT_EQ(At(screen, 1, 0), 0);
  EXPECT_EQ(other.presented.size(), 1u);
  EXPECT_TRUE(display.presented.empty());
}

TEST_F(DisplayTransfers, ScratchBltOntoTheScreenPresentsItsAlignedRectangle) {
  TQGBitmap pic;
  MakeRaster(pic, 3, 3, 9);
  ASSERT_TRUE(QGmemScratchBlt(screen, 5, 5, 6, 6, pic, 0, 0, 3, 3, kQGOpaque));
  ASSERT_EQ(display.presented.size(), 1u);
  QGRect r = display.presented[0];
  EXPECT_EQ((std::array{r.left, r.top, r.right, r.bottom}), (std::array{4, 5, 11, 10}));
  QGFreeBitmap(pic);
}

}  // namespace
