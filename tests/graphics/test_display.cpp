// The display: set-up against presenters that offer different modes, the
// four rasters and their lock codes, presentation of keyed transfers, the
// display palette and text lines. A block-glyph font stands in for the
// machine's fonts so that every pixel is predictable.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/graphics/draw.h"
#include "engine/graphics/picture_slots.h"
#include "engine/graphics/transfer.h"
#include "platform/glyphs.h"
#include "platform/presenter.h"
#include "support/result_code.h"
#include "tests/common/block_glyphs.h"

namespace {

// Each non-space byte inks rows 2..13 of pixels 1..6 of its column.
class BlockFonts final : public GlyphSystem {
 public:
  std::unique_ptr<GlyphFace> open(const GlyphFontRequest& r) override {
    requests.push_back(r);
    if (r.face == "NoSuchFont") return nullptr;
    return std::make_unique<qtest::BlockFace>();
  }
  std::vector<GlyphFontRequest> requests;
};

bool blockInk(int px, int row) { return row >= 2 && row <= 13 && px % 8 >= 1 && px % 8 <= 6; }

class RecordingPresenter final : public Presenter {
 public:
  std::string name() const override { return "recording"; }
  bool open() override { ++opens; open_ = openWorks; return openWorks; }
  bool setMode(int w, int h) override {
    tried.emplace_back(w, h);
    if (!modes.count({w, h})) return false;
    width = w;
    height = h;
    screen.assign(static_cast<size_t>(w) * h, 0);
    return true;
  }
  void close() override { ++closes; open_ = false; }
  void present(const uint8_t* s, DisplayRect r) override {
    rects.push_back(r);
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) screen[y * width + x] = s[y * width + x];
  }
  void setPaletteEntries(int first, int count, const uint8_t* e) override {
    for (int i = 0; i < count; ++i)
      palette[first + i] = {e[4 * i], e[4 * i + 1], e[4 * i + 2], e[4 * i + 3]};
    paletteCalls.emplace_back(first, count);
  }
  void waitForVerticalBlank() override { ++vblanks; }
  void setVisible(bool) override {}
  void setPlacement(bool, int, int) override {}
  void setSongPosition(int32_t) override {}

  bool openWorks = true;
  bool open_ = false;
  std::set<std::pair<int, int>> modes{{640, 400}, {640, 480}};
  std::vector<std::pair<int, int>> tried;
  int width = 0, height = 0, opens = 0, closes = 0, vblanks = 0;
  std::vector<uint8_t> screen;
  std::vector<DisplayRect> rects;
  std::array<QGPaletteEntry, 256> palette{};
  std::vector<std::pair<int, int>> paletteCalls;
};

class DisplayTest : public ::testing::Test {
 protected:
  void TearDown() override { display.free(); }
  bool create(bool exclusive = false) {
    return display.create(640, 400, QDFont{}, QGDefaultPalette().data(), exclusive);
  }
  // One line of text at (x, y) of the text layer.
  bool text(int x, int y, std::vector<std::string> strings, int colour, int32_t* width = nullptr) {
    int32_t w = -1;
    bool ok = display.drawText(display.textLayer(), x, y, &w, strings, 0, static_cast<int>(strings.size()),
                        colour);
    if (width) *width = w;
    return ok;
  }
  uint8_t at(TQGBitmap& b, int x, int y) { return b.base[y * b.width() + x]; }

  BlockFonts fonts;
  RecordingPresenter presenter;
  ResultCode result;
  GraphicsDisplay display{presenter, fonts, result};
};

TEST_F(DisplayTest, CreateMakesFourRastersWithTheTextLayerClear) {
  ASSERT_TRUE(create());
  EXPECT_TRUE(display.exists());
  EXPECT_EQ(display.width(), 640);
  EXPECT_EQ(display.height(), 400);
  EXPECT_EQ(presenter.tried.front(), std::make_pair(640, 400));
  TQGBitmap* rasters[] = {&display.screen(), &display.page0(), &display.textLayer(), &display.page1()};
  QGSurface ids[] = {QGSurface::kScreenBuffer, QGSurface::kPage0, QGSurface::kTextLayer,
                     QGSurface::kPage1};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(rasters[i]->exists());
    EXPECT_EQ(rasters[i]->width(), 640);
    EXPECT_EQ(rasters[i]->height(), 400);
    EXPECT_EQ(rasters[i]->storage.surface, ids[i]);
    for (int j = 0; j < i; ++j) EXPECT_NE(rasters[i]->base, rasters[j]->base);
  }
  for (int y : {0, 399})
    for (int x : {0, 639}) EXPECT_EQ(at(display.textLayer(), x, y), kQGClearIndex);
  // The 20 static colours and the screen colours of the table reach the presenter.
  EXPECT_EQ(presenter.paletteCalls.back(), std::make_pair(0, 256));
  EXPECT_EQ(presenter.palette[255].red, QGDefaultPalette()[255].red);
  EXPECT_EQ(fonts.requests.back().pixelHeight, 15);
  EXPECT_EQ(fonts.requests.back().face, "ＭＳ 明朝");
}

TEST_F(DisplayTest, AFourEightyOnlyPresenterGivesTallerRastersAndTextStaysOnTop) {
  presenter.modes = {{640, 480}};
  ASSERT_TRUE(create());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{640, 400}, {640, 480}}), presenter.tried);
  EXPECT_EQ(display.textLayer().height(), 480);
  EXPECT_EQ(display.screen().height(), 480);
  int32_t w = 0;
  EXPECT_TRUE(text(0, 384, {"AB"}, 234, &w));
  EXPECT_EQ(w, 16);
  EXPECT_EQ(at(display.textLayer(), 1, 384 + 2), 234);
  ASSERT_TRUE(QGmemBlt(display.screen(), 0, 0, 640, 400, display.textLayer(), 0, 0, kQGOpaque));
  const DisplayRect& r = presenter.rects.back();
  EXPECT_EQ(r.y + r.height, 400);  // the script's rows only
  EXPECT_EQ(presenter.screen[(384 + 2) * 640 + 1], 234);
}

TEST_F(DisplayTest, SetUpFailuresReportTheirCodesAndLeaveNoDisplay) {
  presenter.openWorks = false;
  EXPECT_FALSE(create());
  EXPECT_EQ(result.get(), 9001);
  EXPECT_FALSE(display.exists());

  presenter.openWorks = true;
  presenter.modes = {{800, 600}};
  EXPECT_FALSE(create(false));
  EXPECT_EQ(result.get(), 9014);
  EXPECT_FALSE(create(true));
  EXPECT_EQ(result.get(), 9002);
  EXPECT_EQ(presenter.tried.back(), std::make_pair(512, 384));
  EXPECT_FALSE(presenter.open_);

  presenter.modes = {{640, 400}};
  EXPECT_FALSE(display.create(640, 400, QDFont{"NoSuchFont"}, nullptr, false));
  EXPECT_EQ(result.get(), 9048);
  EXPECT_FALSE(display.create(640, 400, QDFont{"NoSuchFont"}, nullptr, true));
  EXPECT_EQ(result.get(), 9047);
  EXPECT_FALSE(display.exists());
  EXPECT_FALSE(presenter.open_);
  EXPECT_FALSE(display.textLayer().exists());
  EXPECT_FALSE(display.free());
}

TEST_F(DisplayTest, FreeWithoutDisplayReleasesOnlyTheTextObjects) {
  ASSERT_TRUE(display.createText(QDFont{}));
  TQGBitmap memory;
  ASSERT_TRUE(QGClearBitmap(640, 16, memory));
  EXPECT_TRUE(display.drawText(memory, 0, 0, nullptr, {"A"}, 0, 1, 234));
  int closes = presenter.closes;
  EXPECT_FALSE(display.free());
  EXPECT_EQ(presenter.closes, closes);
  result.clear();
  EXPECT_FALSE(display.drawText(memory, 0, 0, nullptr, {"A"}, 0, 1, 234));
  EXPECT_EQ(result.get(), 9052);
  QGFreeBitmap(memory);
}

TEST_F(DisplayTest, FreeReleasesTheRastersAndLocksThenFailWithTheirCodes) {
  ASSERT_TRUE(create());
  TQGBitmap stale = display.page1();
  EXPECT_TRUE(display.free());
  EXPECT_FALSE(display.exists());
  EXPECT_FALSE(display.screen().exists());
  EXPECT_FALSE(presenter.open_);
  // A copy of a freed record still names its surface: its lock fails.
  EXPECT_EQ(QDLock(stale), nullptr);
  EXPECT_EQ(result.get(), 9067);
  EXPECT_FALSE(QDUnLock(stale));
  EXPECT_EQ(result.get(), 9069);
  EXPECT_FALSE(display.free());
}

TEST_F(DisplayTest, LocksServeEachSurfaceAndRefuseRecordsLargerThanIt) {
  ASSERT_TRUE(create());
  EXPECT_EQ(QDLock(display.page0()), display.page0().base);
  EXPECT_TRUE(QDUnLock(display.page0()));
  EXPECT_EQ(display.page0().lock, nullptr);
  TQGBitmap forged = display.textLayer();
  forged.infoHeader.height = 401;
  result.clear();
  EXPECT_EQ(QDLock(forged), nullptr);
  EXPECT_EQ(result.get(), 9051);
  forged = display.screen();
  forged.infoHeader.width = 641;
  EXPECT_EQ(QDLock(forged), nullptr);
  EXPECT_EQ(result.get(), 9035);
}

TEST_F(DisplayTest, KeyedTransfersPresentWhatChanged) {
  ASSERT_TRUE(create());
  QGFillRect(display.page0(), 0, 0, 640, 400, 241 - 1);
  ASSERT_TRUE(QGBackBlt(display.screen(), 0, 0, 640, 400, display.page0(), 0, 0));
  EXPECT_TRUE(presenter.rects.empty());  // opaque page copies do not present
  ASSERT_TRUE(text(100, 32, {"Hi"}, 241 - 7));
  presenter.rects.clear();
  ASSERT_TRUE(QGmemBlt(display.screen(), 101, 32, 14, 16, display.textLayer(), 101, 32, kQGOpaque));
  ASSERT_EQ(presenter.rects.size(), 1u);
  const DisplayRect& r = presenter.rects[0];
  EXPECT_EQ(r.x, 100);  // widened to 4-pixel columns
  EXPECT_EQ(r.width, 16);
  EXPECT_EQ(r.y, 32);
  EXPECT_EQ(r.height, 16);
  for (int y = 32; y < 48; ++y)
    for (int x = 100; x < 116; ++x)
      EXPECT_EQ(presenter.screen[y * 640 + x], blockInk(x - 100, y - 32) ? 234 : 240)
          << x << "," << y;
  // Outside the presented rectangle the presenter still shows black.
  EXPECT_EQ(presenter.screen[32 * 640 + 120], 0);

  presenter.rects.clear();
  ASSERT_TRUE(QGmemCopy(display.screen(), display.textLayer(), kQGOpaque));
  ASSERT_EQ(presenter.rects.size(), 1u);
  EXPECT_EQ(presenter.rects[0].width, 640);
  EXPECT_EQ(presenter.rects[0].height, 400);
  EXPECT_EQ(presenter.screen[0], 240);
}

TEST_F(DisplayTest, PaletteEntriesReachThePresenterWithinRange) {
  ASSERT_TRUE(create());
  std::array<QGPaletteEntry, 4> e{{{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}, {10, 11, 12, 0}}};
  display.setPaletteEntries(226, 2, e.data());
  EXPECT_EQ(presenter.paletteCalls.back(), std::make_pair(226, 2));
  EXPECT_EQ(presenter.palette[227].blue, 6);
  EXPECT_EQ(display.palette()[226].red, 1);
  // A run past the end keeps to 0..255.
  display.setPaletteEntries(254, 4, e.data());
  EXPECT_EQ(presenter.paletteCalls.back(), std::make_pair(254, 2));
  EXPECT_EQ(presenter.palette[255].green, 5);
  display.setPaletteEntries(-2, 3, e.data());
  EXPECT_EQ(presenter.paletteCalls.back(), std::make_pair(0, 1));
  EXPECT_EQ(presenter.palette[0].red, 7);
  display.waitForVerticalBlank();
  EXPECT_EQ(presenter.vblanks, 1);
}

TEST_F(DisplayTest, EightyOneHalfWidthStringsStopAtSixHundredFortyPixels) {
  ASSERT_TRUE(create());
  std::vector<std::string> chars(81, "W");
  int32_t w = 0;
  EXPECT_FALSE(text(0, 0, chars, 234, &w));
  EXPECT_EQ(result.get(), 9053);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(at(display.textLayer(), 633, 5), 234);  // the 80th character is drawn

  // One string wider than the line draws nothing.
  result.clear();
  EXPECT_FALSE(text(0, 20, {std::string(81, 'W')}, 234, &w));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(result.get(), 9053);
  EXPECT_EQ(at(display.textLayer(), 1, 25), kQGClearIndex);

  // Empty strings take no room; a full-width pair takes 16 pixels.
  result.clear();
  EXPECT_TRUE(text(0, 40, {"", "\x82\xa0", "", "A"}, 234, &w));
  EXPECT_EQ(w, 24);
  EXPECT_EQ(result.get(), 0);
}

TEST_F(DisplayTest, TextRewritesTheWholeCellAndInverseSwapsColours) {
  ASSERT_TRUE(create());
  ASSERT_TRUE(text(8, 16, {"ABCD"}, 241 - 3));
  ASSERT_TRUE(text(8, 16, {" B "}, 241));
  for (int y = 16; y < 32; ++y)
    for (int x = 8; x < 32; ++x) {
      bool ink = x >= 16 && x < 24 && blockInk(x - 8, y - 16);
      EXPECT_EQ(at(display.textLayer(), x, y), ink ? 241 : kQGClearIndex) << x << "," << y;
    }
  // The fourth cell was not part of the second line and keeps its text.
  EXPECT_EQ(at(display.textLayer(), 33, 20), 241 - 3);

  ASSERT_TRUE(text(0, 40, {"A"}, 256 + 15));
  EXPECT_EQ(at(display.textLayer(), 1, 42), kQGClearIndex);
  EXPECT_EQ(at(display.textLayer(), 0, 42), 241);  // 256 - 15
  ASSERT_TRUE(text(0, 60, {"A"}, 256));
  EXPECT_EQ(at(display.textLayer(), 0, 60), 0);
}

TEST_F(DisplayTest, TextIsCutAtTheRasterEdges) {
  ASSERT_TRUE(create());
  int32_t w = 0;
  EXPECT_TRUE(text(632, 392, {"ABC"}, 234, &w));
  EXPECT_EQ(w, 8);
  EXPECT_EQ(at(display.textLayer(), 633, 394), 234);
  EXPECT_FALSE(text(640, 0, {"A"}, 234, &w));
  EXPECT_EQ(result.get(), 9053);
  EXPECT_TRUE(text(-8, -4, {"AB"}, 234, &w));
  EXPECT_EQ(at(display.textLayer(), 1, 0), 234);  // row 4 of "B"
  // Out-of-range string indices draw only what exists.
  std::vector<std::string> s{"A"};
  EXPECT_TRUE(display.drawText(display.textLayer(), 0, 100, &w, s, -3, 9, 234));
  EXPECT_EQ(w, 8);
}

TEST_F(DisplayTest, FontSettingsBecomeGlyphRequests) {
  ASSERT_TRUE(display.createText(QDFont{"IPAGothic", -24, 18, true}));
  EXPECT_EQ(fonts.requests.back().pixelHeight, 24);
  EXPECT_TRUE(fonts.requests.back().bold);
  ASSERT_TRUE(display.createText(QDFont{"IPAGothic", 0, 12, false}));
  EXPECT_EQ(fonts.requests.back().pixelHeight, 16);
  display.freeText();
}

}  // namespace
