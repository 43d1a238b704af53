// Image loaders against reference pictures written by others: MAG files
// from an independent encoder and the BMP suite's PNG renderings.
#include <gtest/gtest.h>

#include <string>

#include "engine/graphics/loaders.h"
#include "platform/png/png_file.h"
#include "tests/common/test_files.h"
#include "tests/graphics/loader_fixture.h"
#include "tests/graphics/picture_files.h"

using namespace gtest_pictures;

namespace {

Rgb RgbOf(const PngRgb& c) { return {c.red, c.green, c.blue}; }

// ---- MAG from an independent encoder ----

PngImage ReadReference(const std::string& path) {
  PngImage png;
  std::string error;
  EXPECT_TRUE(ReadPngRgb(path, png, &error)) << path << ": " << error;
  return png;
}

void ExpectDecodesTo(const TQGBitmap& b, const PngImage& png) {
  ASSERT_EQ(b.width(), png.width);
  ASSERT_EQ(b.height(), png.height);
  int wrong = 0;
  for (int y = 0; y < png.height; ++y)
    for (int x = 0; x < png.width; ++x)
      if (!(ColourOf(b, At(b, x, y)) == RgbOf(png.at(x, y))) && ++wrong < 5)
        ADD_FAILURE() << "pixel " << x << ',' << y;
  EXPECT_EQ(wrong, 0);
}

TEST_F(Loaders, MagFilesDecodeToTheirExpectedPictures) {
  for (std::string name : {"pymag_16c_640x400", "pymag_256c_640x400"}) {
    SCOPED_TRACE(name);
    auto bytes = qtest::ReadBytes(qtest::TestData("mag/" + name + ".mag"));
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(MagDecode(ByteView(bytes.data(), bytes.size()), b));
    EXPECT_EQ(b.originX, 0);
    EXPECT_EQ(b.originY, 0);
    ExpectDecodesTo(b, ReadReference(qtest::TestData("mag/" + name + ".expected.png")));
  }
}

struct Reference {
  const char* bmp;
  const char* png;
};

TEST_F(Loaders, GoodBmpsShowTheNearestColoursOfTheirReferences) {
  const Reference refs[] = {
      {"pal8.bmp", "pal8.png"},         {"pal8-0.bmp", "pal8.png"},
      {"pal8os2.bmp", "pal8.png"},      {"pal8rle.bmp", "pal8.png"},
      {"pal8topdown.bmp", "pal8.png"},  {"pal8v4.bmp", "pal8.png"},
      {"pal8v5.bmp", "pal8.png"},       {"pal8gs.bmp", "pal8gs.png"},
      {"pal8w124.bmp", "pal8w124.png"}, {"pal8w125.bmp", "pal8w125.png"},
      {"pal8w126.bmp", "pal8w126.png"},
  };
  for (const Reference& r : refs) {
    SCOPED_TRACE(r.bmp);
    ASSERT_TRUE(QGameBMPLoad(qtest::TestData(std::string("bmp/g/") + r.bmp), b));
    PngImage png = ReadReference(qtest::TestData(std::string("bmp/png/") + r.png));
    ASSERT_EQ(b.width(), png.width);
    ASSERT_EQ(b.height(), png.height);
    int wrong = 0;
    for (int y = 0; y < png.height; ++y)
      for (int x = 0; x < png.width; ++x) {
        QGRgbQuad c{png.at(x, y).blue, png.at(x, y).green, png.at(x, y).red, 0};
        uint8_t nearest = static_cast<uint8_t>(QGNearColor(c));
        if (!(ColourOf(b, At(b, x, y)) == ColourOf(b, nearest)) && ++wrong < 5)
          ADD_FAILURE() << "pixel " << x << ',' << y;
      }
    EXPECT_EQ(wrong, 0);
  }
  // No reference for the non-square one: it loads at its stored size.
  ASSERT_TRUE(QGameBMPLoad(qtest::TestData("bmp/g/pal8nonsquare.bmp"), b));
  EXPECT_EQ(b.width(), 127);
  EXPECT_EQ(b.height(), 32);
}

}  // namespace
