// Image loaders: MAG pictures from our own encoder, PHO and COM pictures
// built here from their layout, and the BMP suite's good, questionable and
// bad files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "engine/graphics/loaders.h"
#include "platform/message_box.h"
#include "tests/graphics/loader_fixture.h"
#include "tests/common/test_files.h"
#include "tests/graphics/picture_files.h"

using namespace gtest_pictures;

namespace {

TEST_F(Loaders, MagPlacementPutsSixteenColoursOnTheScreenColours) {
  std::string file = qtest::TestData("mag/pymag_16c_640x400.mag");
  auto bytes = qtest::ReadBytes(file);
  TQGBitmap decoded;
  ASSERT_TRUE(MagDecode(ByteView(bytes.data(), bytes.size()), decoded));
  ASSERT_TRUE(MagLoad(file, b, 1));
  for (size_t i = 0; i < b.pixelBytes; ++i) ASSERT_EQ(b.base[i], 241 - decoded.base[i]) << i;
  for (int c = 0; c < 16; ++c) EXPECT_EQ(ColourOf(b, 241 - c), ColourOf(decoded, c)) << c;
  for (int i : {0, 10, 242, 255}) {
    const QGPaletteEntry& e = QGDefaultPalette()[i];
    EXPECT_EQ(ColourOf(b, i), (Rgb{e.red, e.green, e.blue}));
  }
  QGFreeBitmap(decoded);
}

TEST_F(Loaders, MagPlacementOfTwoHundredFiftySixColours) {
  std::string file = qtest::TestData("mag/pymag_256c_640x400.mag");
  auto bytes = qtest::ReadBytes(file);
  TQGBitmap decoded;
  ASSERT_TRUE(MagDecode(ByteView(bytes.data(), bytes.size()), decoded));
  ASSERT_TRUE(MagLoad(file, b, 1));
  std::vector<bool> used(256, false);
  for (size_t i = 0; i < b.pixelBytes; ++i) {
    uint8_t p = decoded.base[i];
    used[p] = true;
    ASSERT_EQ(b.base[i], QGMagPlace(p)) << i;
  }
  for (int p = 0; p < 256; ++p) {
    if (p >= 215 && p <= 239) continue;  // these all land on 243
    EXPECT_EQ(ColourOf(b, QGMagPlace(p)), ColourOf(decoded, p)) << p;
  }
  EXPECT_TRUE(std::any_of(used.begin() + 215, used.begin() + 240, [](bool u) { return u; }));
  const QGPaletteEntry& e243 = QGDefaultPalette()[243];
  EXPECT_EQ(ColourOf(b, 243), (Rgb{e243.red, e243.green, e243.blue}));
  EXPECT_EQ(QGMagPlace(0), 241);
  EXPECT_EQ(QGMagPlace(214), 27);
  EXPECT_EQ(QGMagPlace(240), 26);
  EXPECT_EQ(QGMagPlace(255), 11);
  QGFreeBitmap(decoded);
}

TEST_F(Loaders, MagOtherPaletteModesTakeTheNearestCurrentColours) {
  std::string file = qtest::TestData("mag/pymag_16c_640x400.mag");
  auto bytes = qtest::ReadBytes(file);
  TQGBitmap decoded;
  ASSERT_TRUE(MagDecode(ByteView(bytes.data(), bytes.size()), decoded));
  ASSERT_TRUE(MagLoad(file, b, 0));
  for (size_t i = 0; i < b.pixelBytes; i += 97) {
    QGRgbQuad c = decoded.colours[decoded.base[i]];
    ASSERT_EQ(b.base[i], QGNearColor(c)) << i;
  }
  QGFreeBitmap(decoded);
}

// ---- MAG corners, from our encoder ----

TEST_F(Loaders, MagStartingMidByteKeepsTheExtraColumnsAndTheOrigin) {
  // x0 = 3, 10 wide: F = (3 + 10 + 7) div 8 = 2 flag bytes, 16 columns.
  std::vector<uint8_t> values(16 * 2);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint8_t>(i % 16);
  auto file = EncodeMag(LiteralMag(0, 3, 5, 16, 10, 2, values, 16));
  ASSERT_TRUE(MagDecode(ByteView(file.data(), file.size()), b));
  EXPECT_EQ(b.width(), 16);
  EXPECT_EQ(b.height(), 2);
  EXPECT_EQ(b.originX, 3);
  EXPECT_EQ(b.originY, 5);
  EXPECT_EQ(Pixels(b), values);
  EXPECT_EQ(b.colours[2].red, 11);  // palette entries are green, red, blue
  EXPECT_EQ(b.colours[2].green, 6);
  EXPECT_EQ(b.colours[2].blue, 253);
}

TEST_F(Loaders, MagCopyNibblesReadTheRingOfSeventeenLines) {
  // 8 pixels wide: one flag byte, two units per line.
  MagInput in;
  in.x1 = 7;
  in.y1 = 17;
  in.paletteGrb.assign(48, 0);
  in.flags.assign(18, std::vector<uint8_t>{0x00});
  in.pixelData = {0x12, 0x34, 0x56, 0x78};  // line 0: units 1234, 5678
  // Lines 1..16: both units new data, 0xA0 + line.
  for (int y = 1; y <= 16; ++y)
    for (int u = 0; u < 2; ++u) {
      in.pixelData.push_back(static_cast<uint8_t>(0xA0 + y));
      in.pixelData.push_back(static_cast<uint8_t>(u));
    }
  in.flags[2] = {0x60};  // line 2, unit 0: nibble 6 = two lines up (line 0)
  in.pixelData.erase(in.pixelData.begin() + 8, in.pixelData.begin() + 10);
  // Line 17, unit 0: nibble 1 = one unit left, which wraps to the last unit
  // of the same ring line (slot 0, still holding line 0).
  in.flags[17] = {0x10};
  in.pixelData.push_back(0x9A);
  in.pixelData.push_back(0xBC);
  auto file = EncodeMag(in);
  ASSERT_TRUE(MagDecode(ByteView(file.data(), file.size()), b));
  ASSERT_EQ(b.width(), 8);
  auto row = [&](int y) { return std::vector<uint8_t>(b.base + y * 8, b.base + y * 8 + 8); };
  EXPECT_EQ(row(0), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(row(2), (std::vector<uint8_t>{1, 2, 3, 4, 0xA, 2, 0, 1}));
  EXPECT_EQ(row(17), (std::vector<uint8_t>{5, 6, 7, 8, 9, 0xA, 0xB, 0xC}));
}

TEST_F(Loaders, MagWhosePixelDataRunsOutFailsCleanly) {
  std::vector<uint8_t> values(64 * 40, 3);
  MagInput in = LiteralMag(0, 0, 0, 64, 64, 40, values, 16);
  in.understatePixelSize = true;  // 1280 bytes needed, 2 + 4048 spare allowed: enough
  auto file = EncodeMag(in);
  EXPECT_TRUE(MagDecode(ByteView(file.data(), file.size()), b));
  EXPECT_EQ(At(b, 63, 39), 0);  // past the declared data: zeros
  std::vector<uint8_t> big(640 * 400, 5);
  in = LiteralMag(0, 0, 0, 640, 640, 400, big, 16);
  in.understatePixelSize = true;
  in.cutPixelData = 100000;
  file = EncodeMag(in);
  EXPECT_FALSE(MagDecode(ByteView(file.data(), file.size()), b));
  EXPECT_FALSE(b.exists());
  EXPECT_FALSE(MagLoadBytes(ByteView(file.data(), file.size()), b, 1));
}

TEST_F(Loaders, MagRefusesWhatIsNotAMagPicture) {
  std::vector<uint8_t> values(16 * 2, 1);
  auto good = EncodeMag(LiteralMag(0, 0, 0, 16, 16, 2, values, 16));
  auto bad = good;
  bad[5] = '3';
  EXPECT_FALSE(MagDecode(ByteView(bad.data(), bad.size()), b));
  std::vector<uint8_t> noStart(good.begin(), good.begin() + 20);  // no 0x00 after the comment
  EXPECT_FALSE(MagDecode(ByteView(noStart.data(), noStart.size()), b));
  for (size_t cut : {36u, 50u, 80u}) {  // header, palette cut short
    std::vector<uint8_t> shortFile(good.begin(), good.begin() + cut);
    EXPECT_FALSE(MagDecode(ByteView(shortFile.data(), shortFile.size()), b)) << cut;
  }
  EXPECT_FALSE(MagLoad(dir.file("missing.mag"), b, 1));
  EXPECT_FALSE(b.exists());
}

TEST_F(Loaders, MagEightColoursReadEightPaletteEntries) {
  std::vector<uint8_t> values(8, 7);
  auto file = EncodeMag(LiteralMag(0x02, 0, 0, 8, 8, 1, values, 8));
  ASSERT_TRUE(MagDecode(ByteView(file.data(), file.size()), b));
  EXPECT_EQ(b.colours[7].blue, 248);
  EXPECT_EQ(b.colours[8].red, QGDefaultPalette()[8].red);  // not read
}

// ---- PHO ----

TEST_F(Loaders, PhoPlanesBecomeScreenColours) {
  std::mt19937 random(7);
  std::vector<uint8_t> colours(640 * 400);
  for (auto& c : colours) c = static_cast<uint8_t>(random() % 8);
  auto file = EncodePho(colours);
  ASSERT_TRUE(QGamePHOLoad(write("pic.pho", file), b));
  ASSERT_EQ(b.width(), 640);
  ASSERT_EQ(b.height(), 400);
  for (size_t i = 0; i < colours.size(); ++i) ASSERT_EQ(b.base[i], 241 - colours[i]) << i;
  EXPECT_EQ(b.colours[241].red, QGDefaultPalette()[241].red);
  file.push_back(0x55);  // 96001 bytes: the first 96000 are used
  ASSERT_TRUE(QGamePHOLoad(write("long.pho", file), b));
  EXPECT_EQ(b.base[0], 241 - colours[0]);
}

TEST_F(Loaders, ShortPhoShowsTheMessage) {
  CapturedMessages messages;
  std::vector<uint8_t> file(95999, 0);
  EXPECT_FALSE(QGamePHOLoad(write("short.pho", file), b, &messages));
  EXPECT_FALSE(b.exists());
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(std::get<0>(messages.shown[0]), "ﾋﾞｯﾄﾏｯﾌﾟのﾛｰﾄﾞ失敗");
  EXPECT_EQ(std::get<1>(messages.shown[0]), "PHOﾌｧｲﾙのｻｲｽﾞが96000でない為、ﾛｰﾄﾞ出来ません。");
  EXPECT_FALSE(QGamePHOLoad(dir.file("missing.pho"), b, &messages));
  EXPECT_EQ(messages.shown.size(), 1u);  // a missing file is no message
}

// ---- COM ----

ComInput SampleCom(bool coded) {
  ComInput in;
  in.coded = coded;
  in.start = 80 * 10 + 5;  // origin (40, 10)
  in.rowLength = 6;
  in.rows = 40;
  for (int i = 0; i < 48; ++i) in.colours[i] = static_cast<uint8_t>(i * 5);
  std::mt19937 random(11);
  in.pixels.resize(48 * 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x) {
      // Bands that repeat, so references to earlier rows are used.
      in.pixels[y * 48 + x] = static_cast<uint8_t>((y / 5 % 3 == 0) ? (x / 6) % 16 : random() % 16);
    }
  return in;
}

void ExpectCom(const TQGBitmap& b, const ComInput& in) {
  ASSERT_EQ(b.width(), in.rowLength * 8);
  ASSERT_EQ(b.height(), in.rows);
  EXPECT_EQ(b.originX, (in.start % 80) * 8);
  EXPECT_EQ(b.originY, in.start / 80);
  for (size_t i = 0; i < in.pixels.size(); ++i) ASSERT_EQ(b.base[i], 241 - in.pixels[i]) << i;
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(b.colours[241 - c].blue, in.colours[c * 3]);
    EXPECT_EQ(b.colours[241 - c].green, in.colours[c * 3 + 1]);
    EXPECT_EQ(b.colours[241 - c].red, in.colours[c * 3 + 2]);
  }
}

TEST_F(Loaders, ComPlainAndCodedVariantsDecode) {
  for (bool coded : {false, true}) {
    SCOPED_TRACE(coded ? "coded" : "plain");
    ComInput in = SampleCom(coded);
    auto file = EncodeCom(in);
    ASSERT_GT(file.size(), 900u);  // offset 858 lies inside the file either way
    ASSERT_TRUE(QGameComLoad(write(coded ? "c.com" : "p.com", file), b));
    ExpectCom(b, in);
  }
}

TEST_F(Loaders, ComVariantIsChosenByTheBytesAtOffset858) {
  auto file = EncodeCom(SampleCom(true));
  file[861] = 0x20;  // no longer 00 4C CD 21: read as plain, whose header at 671 is filler
  EXPECT_FALSE(QGameComLoadBytes(ByteView(file.data(), file.size()), b));
  EXPECT_FALSE(b.exists());
}

TEST_F(Loaders, ComWithoutPictureDataIsAFilledScreen) {
  ComInput in;
  in.noPicture = true;
  in.byte3 = 1;
  auto file = EncodeCom(in);
  ASSERT_TRUE(QGameComLoadBytes(ByteView(file.data(), file.size()), b));
  EXPECT_EQ(b.width(), 640);
  EXPECT_EQ(b.height(), 400);
  EXPECT_EQ(Pixels(b), std::vector<uint8_t>(640 * 400, 226));
  in.byte3 = 0;
  file = EncodeCom(in);
  ASSERT_TRUE(QGameComLoadBytes(ByteView(file.data(), file.size()), b));
  EXPECT_EQ(Pixels(b), std::vector<uint8_t>(640 * 400, 241));
}

TEST_F(Loaders, ComThatDoesNotFitThePlanesIsRefused) {
  ComInput in = SampleCom(false);
  auto file = EncodeCom(in);
  file[671 + 6] = 81;  // row length 81 bytes
  EXPECT_FALSE(QGameComLoadBytes(ByteView(file.data(), file.size()), b));
  file = EncodeCom(in);
  file[671 + 8] = 0x91;  // 401 rows
  file[671 + 9] = 0x01;
  EXPECT_FALSE(QGameComLoadBytes(ByteView(file.data(), file.size()), b));
  std::vector<uint8_t> tiny(700, 0);  // header cut short
  EXPECT_FALSE(QGameComLoadBytes(ByteView(tiny.data(), tiny.size()), b));
  EXPECT_FALSE(b.exists());
}

TEST_F(Loaders, ComWhoseDataRunsOutStopsEarly) {
  for (bool coded : {false, true}) {
    ComInput in = SampleCom(coded);
    in.cutData = 60;
    auto file = EncodeCom(in);
    ASSERT_TRUE(QGameComLoadBytes(ByteView(file.data(), file.size()), b));
    EXPECT_EQ(b.height(), 40);
    for (int x = 0; x < 48; ++x) EXPECT_EQ(At(b, x, 0), 241 - in.pixels[x]);  // the top decoded
    EXPECT_EQ(At(b, 47, 39), 241);  // the bottom never arrived
  }
}

TEST_F(Loaders, CodeTreeReading) {
  // 1 (inner) 0 'A' (leaf) 1 (inner) 0 'B' 0 'C'
  std::vector<int> bits = {1, 0};
  auto byte = [&](int v) {
    for (int i = 7; i >= 0; --i) bits.push_back(v >> i & 1);
  };
  byte('A');
  bits.push_back(1);
  bits.push_back(0);
  byte('B');
  bits.push_back(0);
  byte('C');
  for (int b : {0, 1, 1, 1, 0}) bits.push_back(b);  // A C B
  std::vector<uint8_t> data((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) data[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  ByteView view(data.data(), data.size());
  uint64_t pos = 0;
  QGComCodeTree tree;
  ASSERT_TRUE(sub0165(view, pos, tree));
  EXPECT_EQ(tree.innerCount, 2);
  EXPECT_EQ(tree.root, 256);
  EXPECT_EQ(sub01B2(view, pos, tree), 'A');
  EXPECT_EQ(sub01B2(view, pos, tree), 'C');
  EXPECT_EQ(sub01B2(view, pos, tree), 'B');
  // A tree of one leaf yields its byte without reading.
  uint8_t single[2] = {0x20, 0x80};  // 0, then 01000001 = 'A'
  pos = 0;
  ASSERT_TRUE(sub0165(ByteView(single, 2), pos, tree));
  uint64_t before = pos;
  EXPECT_EQ(sub01B2(ByteView(single, 2), pos, tree), 'A');
  EXPECT_EQ(pos, before);
  // Only inner nodes: the data runs out before the tree is complete.
  uint8_t ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  pos = 0;
  EXPECT_FALSE(sub0165(ByteView(ones, 4), pos, tree));
}

// ---- BMP ----


TEST_F(Loaders, BadAndQuestionableBmpsAreRefusedOrLoaded) {
  CapturedMessages messages;
  int loaded = 0, refused = 0;
  for (const char* folder : {"bmp/b", "bmp/q"}) {
    for (const std::string& path : qtest::TestDataFiles(folder, ".bmp")) {
      SCOPED_TRACE(path);
      if (QGameBMPLoad(path, b, &messages)) {
        ++loaded;
        ASSERT_TRUE(b.exists());
        EXPECT_GT(b.width(), 0);
        EXPECT_GT(b.height(), 0);
        EXPECT_EQ(b.pixelBytes, static_cast<uint32_t>(b.width() * b.height()));
      } else {
        ++refused;
        EXPECT_FALSE(b.exists());
      }
    }
  }
  EXPECT_GT(loaded, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(messages.shown.size(), static_cast<size_t>(refused));
}

TEST_F(Loaders, OtherBitDepthsShowTheMessage) {
  CapturedMessages messages;
  EXPECT_FALSE(QGameBMPLoad(qtest::TestData("bmp/b/rgb16-880.bmp"), b, &messages));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(std::get<0>(messages.shown[0]), "ﾋﾞｯﾄﾏｯﾌﾟのﾛｰﾄﾞ失敗");
  EXPECT_EQ(std::get<1>(messages.shown[0]), "256色ﾋﾞｯﾄﾏｯﾌﾟとして、認識出来ない為、ﾛｰﾄﾞ出来ません。");
  EXPECT_EQ(std::get<2>(messages.shown[0]), MessageIcon::Information);
}

// A 3 x 2 picture, two palette entries, rows padded to 4 bytes.
std::vector<uint8_t> TinyBmp(int32_t height) {
  std::vector<uint8_t> f(14 + 40 + 8 + 8, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put32(2, static_cast<uint32_t>(f.size()));
  put32(10, 14 + 40 + 8);
  put32(14, 40);
  put32(18, 3);
  put32(22, static_cast<uint32_t>(height));
  f[26] = 1;
  f[28] = 8;
  put32(46, 2);  // two colours used
  // palette: 0 = pure blue, 1 = pure red (blue, green, red, 0)
  f[54] = 0xFF;
  f[58 + 2] = 0xFF;
  // first stored row: 1 0 1 + pad, second: 0 0 1 + pad
  uint8_t rows[8] = {1, 0, 1, 0xEE, 0, 0, 1, 0xEE};
  std::copy(rows, rows + 8, f.begin() + 62);
  return f;
}

TEST_F(Loaders, BmpRowsArePaddedAndOrderedEitherWay) {
  const uint8_t red = 249, blue = 252;
  auto f = TinyBmp(2);  // bottom-up: the first stored row is the bottom one
  ASSERT_TRUE(QGameDIBLoadBytes(ByteView(f.data(), f.size()), b));
  EXPECT_EQ(Pixels(b), (std::vector<uint8_t>{red, blue, red, blue, blue, red}));  // as stored
  ASSERT_TRUE(QGameBMPLoad(write("up.bmp", f), b));
  EXPECT_EQ(Pixels(b), (std::vector<uint8_t>{blue, blue, red, red, blue, red}));
  f = TinyBmp(-2);  // top-down
  ASSERT_TRUE(QGameBMPLoad(write("down.bmp", f), b));
  EXPECT_EQ(Pixels(b), (std::vector<uint8_t>{red, blue, red, blue, blue, red}));
  // A pixel offset past the end of the file.
  f = TinyBmp(2);
  f[10] = 0xFF;
  EXPECT_FALSE(QGameDIBLoadBytes(ByteView(f.data(), f.size()), b));
}

}  // namespace
