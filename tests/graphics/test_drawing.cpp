// Clipping helpers, drawing primitives and plane-masked operations.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "engine/graphics/clip.h"
#include "engine/graphics/draw.h"
#include "tests/graphics/picture_files.h"

using namespace gtest_pictures;

namespace {

class Drawing : public ::testing::Test {
 protected:
  void SetUp() override { MakeRaster(b, 640, 400, 0); }
  void TearDown() override { QGFreeBitmap(b); }
  // (x, y) of every pixel equal to index.
  std::set<std::pair<int, int>> where(uint8_t index) const {
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < b.height(); ++y)
      for (int x = 0; x < b.width(); ++x)
        if (At(b, x, y) == index) out.insert({x, y});
    return out;
  }
  TQGBitmap b;
};

TEST_F(Drawing, RectXYClampsStartsEndsAndEmptyExtents) {
  QGBox r = QGCvtRectXY(b, -5, -3, 10, 10);
  EXPECT_EQ((std::array{r.x1, r.y1, r.x2, r.y2}), (std::array{0, 0, 4, 6}));
  r = QGCvtRectXY(b, 700, 10, 20, 5);  // right of the last column
  EXPECT_EQ((std::array{r.x1, r.x2}), (std::array{639, 639}));
  r = QGCvtRectXY(b, 10, 450, 5, 20);  // below the last row
  EXPECT_EQ((std::array{r.y1, r.y2}), (std::array{399, 399}));
  r = QGCvtRectXY(b, 630, 390, 50, 50);
  EXPECT_EQ((std::array{r.x2, r.y2}), (std::array{639, 399}));
  EXPECT_TRUE(QGCvtRectXY(b, 10, 10, 0, 5).empty());
  EXPECT_TRUE(QGCvtRectXY(b, 10, 10, 5, -3).empty());
  EXPECT_TRUE(QGCvtRectXY(b, 700, 10, 0, 5).empty());
  EXPECT_TRUE(QGCvtRectXY(b, -20, 10, 5, 5).empty());  // wholly left: end stays negative
  r = QGCvtRectXY(b, 2147483600, 0, 2147483600, 1);    // no overflow
  EXPECT_EQ((std::array{r.x1, r.x2}), (std::array{639, 639}));
}

TEST_F(Drawing, AngleXYOrdersCornersThenClamps) {
  QGBox r = QGCvtAngleXY(b, 50, 40, 10, 20);
  EXPECT_EQ((std::array{r.x1, r.y1, r.x2, r.y2}), (std::array{10, 20, 50, 40}));
  r = QGCvtAngleXY(b, 700, -5, 800, 10);
  EXPECT_EQ((std::array{r.x1, r.y1, r.x2, r.y2}), (std::array{639, 0, 639, 10}));
}

TEST_F(Drawing, MoveXYShiftsTheOtherSideAndLimitsBothRasters) {
  TQGBitmap small;
  MakeRaster(small, 100, 50, 0);
  QGMove m = QGCvtMoveXY(b, -10, -4, 30, 20, small, 5, 5);
  EXPECT_EQ((std::array{m.dx, m.dy, m.sx, m.sy, m.w, m.h}), (std::array{0, 0, 15, 9, 20, 16}));
  m = QGCvtMoveXY(b, 10, 10, 30, 20, small, -7, 0);
  EXPECT_EQ((std::array{m.dx, m.sx, m.w}), (std::array{17, 0, 23}));
  m = QGCvtMoveXY(b, 0, 0, 500, 500, small, 90, 45);  // limited by the source
  EXPECT_EQ((std::array{m.w, m.h}), (std::array{10, 5}));
  m = QGCvtMoveXY(b, 700, 0, 30, 10, small, 0, 0);  // start past the last column
  EXPECT_EQ((std::array{m.dx, m.w}), (std::array{639, 1}));
  EXPECT_TRUE(QGCvtMoveXY(b, -40, 0, 30, 10, small, 0, 0).empty());
  // The aligned form widens to multiples of 4 on both sides.
  m = QGCvtBltXY(b, 6, 0, 7, 1, b, 6, 0);
  EXPECT_EQ((std::array{m.dx, m.sx, m.w}), (std::array{4, 4, 12}));
  QGFreeBitmap(small);
}

TEST_F(Drawing, FillRectClipsToTheLastColumnAndRow) {
  ASSERT_TRUE(QGFillRect(b, 700, 10, 20, 3, 7));
  EXPECT_EQ(where(7), (std::set<std::pair<int, int>>{{639, 10}, {639, 11}, {639, 12}}));
  ASSERT_TRUE(QGFillRect(b, 5, 1000, 2, 8, 9));
  EXPECT_EQ(where(9), (std::set<std::pair<int, int>>{{5, 399}, {6, 399}}));
  QGFillRect(b, 0, 0, 0, 10, 11);
  QGFillRect(b, 0, 0, 10, -1, 11);
  QGFillRect(b, 700, 0, 0, 5, 11);
  EXPECT_TRUE(where(11).empty());
  // Whole raster.
  ASSERT_TRUE(QGFillRect(b, -100, -100, 2000, 2000, 241));
  EXPECT_EQ(where(241).size(), 640u * 400u);
}

TEST_F(Drawing, ClearRectReplacesOnlyTheOldIndex) {
  QGFillRect(b, 0, 0, 4, 1, 230);
  b.base[1] = 231;
  ASSERT_TRUE(QGClearRect(b, 0, 0, 3, 1, 242, 230));
  EXPECT_EQ(At(b, 0, 0), 242);
  EXPECT_EQ(At(b, 1, 0), 231);
  EXPECT_EQ(At(b, 2, 0), 242);
  EXPECT_EQ(At(b, 3, 0), 230);  // outside the rectangle
}

TEST_F(Drawing, RectAngleIsTheSameWithSwappedCorners) {
  ASSERT_TRUE(QGRectAngle(b, 10, 20, 14, 23, 5));
  auto outline = where(5);
  EXPECT_EQ(outline.size(), 5u + 5u + 2u * 2u);
  EXPECT_TRUE(outline.count({10, 21}) && outline.count({14, 22}) && !outline.count({12, 21}));
  QGFillRect(b, 0, 0, 640, 400, 0);
  QGRectAngle(b, 14, 23, 10, 20, 5);
  EXPECT_EQ(where(5), outline);
  // A side beyond the raster is drawn on its border.
  QGFillRect(b, 0, 0, 640, 400, 0);
  QGRectAngle(b, 630, 395, 700, 500, 6);
  auto clipped = where(6);
  EXPECT_TRUE(clipped.count({639, 397}) && clipped.count({635, 399}) && clipped.count({630, 395}));
}

TEST_F(Drawing, SteepLineHasOnePixelPerRow) {
  ASSERT_TRUE(QGLineTo(b, 10, 50, 13, 10, 4));
  auto line = where(4);
  ASSERT_EQ(line.size(), 41u);
  std::set<int> rows;
  for (auto [x, y] : line) {
    rows.insert(y);
    EXPECT_GE(x, 10);
    EXPECT_LE(x, 13);
  }
  EXPECT_EQ(rows.size(), 41u);
  EXPECT_TRUE(line.count({13, 10}));  // the end with the smaller y starts the line
  EXPECT_TRUE(line.count({10, 50}));
  // x = 13 + (-4 * (y - 10)) / 41, truncated towards zero.
  for (int y = 10; y <= 50; ++y) EXPECT_TRUE(line.count({13 + (-4 * (y - 10)) / 41, y})) << y;
}

TEST_F(Drawing, FlatLineHasOnePixelPerColumn) {
  ASSERT_TRUE(QGLineTo(b, 0, 0, 9, 3, 4));
  auto line = where(4);
  ASSERT_EQ(line.size(), 10u);
  for (int k = 0; k < 10; ++k) EXPECT_TRUE(line.count({k, (4 * k) / 10})) << k;
  // A line leaving the raster is drawn inside the clipped box.
  QGLineTo(b, 600, 390, 700, 500, 8);
  for (auto [x, y] : where(8)) {
    EXPECT_GE(x, 600);
    EXPECT_GE(y, 390);
  }
  EXPECT_FALSE(where(8).empty());
}

TEST_F(Drawing, CircleProfileTable) {
  const uint16_t* t = QGCircleProfile();
  EXPECT_EQ(t[0], 1000);
  EXPECT_EQ(t[1000], 0);
  for (int i = 0; i <= 1000; ++i)
    EXPECT_NEAR(t[i], 1000.0 * std::sqrt(1.0 - (i / 1000.0) * (i / 1000.0)), 1.0) << i;
}

TEST_F(Drawing, FilledCircleHasAContinuousBorderAroundItsFill) {
  ASSERT_TRUE(QGFillCircle(b, 100, 100, 100, 80, 3, 9));  // radius 20
  auto border = where(3), fill = where(9);
  EXPECT_TRUE(border.count({100, 80}) && border.count({100, 120}));
  EXPECT_TRUE(border.count({80, 100}) && border.count({120, 100}));
  EXPECT_TRUE(fill.count({100, 100}) && fill.count({100, 81}) && fill.count({119, 100}));
  for (auto [x, y] : fill) EXPECT_LT(std::hypot(x - 100, y - 100), 20.0) << x << ',' << y;
  for (auto [x, y] : border) EXPECT_NEAR(std::hypot(x - 100, y - 100), 20.0, 1.5) << x << ',' << y;
  // Every border pixel touches another (8-neighbourhood): the rim is closed.
  for (auto [x, y] : border) {
    int neighbours = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) neighbours += (dx || dy) && border.count({x + dx, y + dy});
    EXPECT_GE(neighbours, 2) << x << ',' << y;
  }
  // Symmetric about the centre.
  for (auto [x, y] : border) EXPECT_TRUE(border.count({200 - x, 200 - y}));
  // Nothing outside the disc.
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x)
      if (std::hypot(x - 100, y - 100) > 21) {
        ASSERT_EQ(At(b, x, y), 0) << x << ',' << y;
      }
}

TEST_F(Drawing, CircleOfRadiusZeroAndCirclesOffTheRaster) {
  ASSERT_TRUE(QGFillCircle(b, 50, 50, 50, 50, 3, 9));
  EXPECT_EQ(where(3), (std::set<std::pair<int, int>>{{50, 49}, {50, 51}}));
  EXPECT_EQ(where(9), (std::set<std::pair<int, int>>{{50, 50}}));
  // The radius is rounded: sqrt(5) gives 2.
  QGFillRect(b, 0, 0, 640, 400, 0);
  QGFillCircle(b, 50, 50, 52, 51, 3, 9);
  EXPECT_EQ(At(b, 50, 48), 3);
  EXPECT_EQ(At(b, 50, 47), 0);
  // Centres outside the raster draw only what lies inside.
  QGFillRect(b, 0, 0, 640, 400, 0);
  EXPECT_TRUE(QGFillCircle(b, -10, 200, -10, 170, 3, 9));
  for (auto [x, y] : where(9)) EXPECT_LT(x, 21);
  EXPECT_FALSE(where(9).empty());
  EXPECT_TRUE(QGFillCircle(b, 700, 500, 0, 0, 3, 9));
  EXPECT_TRUE(QGFillCircle(b, 2000000000, -2000000000, -2000000000, 2000000000, 3, 9));
}

TEST_F(Drawing, PlaneFillMaskZeroKeepsColoursMaskFifteenIsAFill) {
  b.base[0] = 230;  // colour 11
  b.base[1] = 5;    // not a screen colour: counts as 0 for fills
  b.base[2] = 200;  // 241 - 200 = 41: counts as 15
  b.base[3] = 242;  // clear colour: 241 - 242 = -1, counts as 0
  ASSERT_TRUE(QGPlanFill(b, 0, 0, 4, 1, 241 - 6, 0));
  EXPECT_EQ(At(b, 0, 0), 230);
  EXPECT_EQ(At(b, 1, 0), 241);
  EXPECT_EQ(At(b, 2, 0), 226);
  EXPECT_EQ(At(b, 3, 0), 241);
  ASSERT_TRUE(QGPlanFill(b, 0, 0, 4, 1, 241 - 6, 15));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(At(b, x, 0), 241 - 6);
  // Mask 0b0101 with colour 0b1010 over colour 0b0110: new 0b0010.
  QGFillRect(b, 0, 0, 4, 1, 241 - 6);
  QGPlanFill(b, 0, 0, 1, 1, 241 - 10, 5);
  EXPECT_EQ(At(b, 0, 0), 241 - 2);
  // Masks above 15 are 15.
  QGPlanFill(b, 1, 0, 1, 1, 241 - 9, 99);
  EXPECT_EQ(At(b, 1, 0), 241 - 9);
}

TEST_F(Drawing, PlaneLineRectCircleTakeForeignPixelsAsFifteen) {
  QGFillRect(b, 0, 0, 640, 400, 5);  // not screen colours
  ASSERT_TRUE(QGPlanLine(b, 0, 0, 3, 0, 241 - 0, 0b0011));
  // (3 AND 0) OR (12 AND 15) = 12
  EXPECT_EQ(At(b, 0, 0), 241 - 12);
  EXPECT_EQ(At(b, 3, 0), 241 - 12);
  ASSERT_TRUE(QGPlanRect(b, 10, 10, 12, 12, 241 - 1, 0b0001));
  EXPECT_EQ(At(b, 10, 10), 241 - 15);  // 1 OR 14
  EXPECT_EQ(At(b, 11, 11), 5);          // inside the outline: untouched
  ASSERT_TRUE(QGPlanCircle(b, 100, 100, 100, 90, 241 - 2, 241 - 4, 0));
  EXPECT_EQ(At(b, 100, 100), 241 - 15);  // mask 0: the old colour 15 stays
  QGFillRect(b, 0, 0, 640, 400, 241);
  QGPlanCircle(b, 100, 100, 100, 90, 241 - 2, 241 - 4, 15);
  EXPECT_EQ(At(b, 100, 90), 241 - 2);
  EXPECT_EQ(At(b, 100, 100), 241 - 4);
}

TEST_F(Drawing, PlaneBltMixesSourceAndDestinationColours) {
  TQGBitmap src;
  MakeRaster(src, 4, 1, 241 - 0b1100);
  src.base[1] = 100;  // 241 - 100 = 141 -> signed -115 -> 0
  src.base[2] = 150;  // 91 -> 15
  QGFillRect(b, 0, 0, 4, 1, 241 - 0b0011);
  ASSERT_TRUE(QGPlanBlt(b, 0, 0, 4, 1, src, 0, 0, 0b0110));
  EXPECT_EQ(At(b, 0, 0), 241 - 0b0101);  // (1001 & 0011) | (0110 & 1100)
  EXPECT_EQ(At(b, 1, 0), 241 - 0b0001);
  EXPECT_EQ(At(b, 2, 0), 241 - 0b0111);
  QGFreeBitmap(src);
}

TEST(DrawingAbsent, NothingHappensWithoutARaster) {
  TQGBitmap none;
  EXPECT_FALSE(QGFillRect(none, 0, 0, 10, 10, 1));
  EXPECT_FALSE(QGLineTo(none, 0, 0, 10, 10, 1));
  EXPECT_FALSE(QGFillCircle(none, 0, 0, 10, 10, 1, 2));
  EXPECT_FALSE(QGPlanFill(none, 0, 0, 10, 10, 1, 15));
}

}  // namespace
