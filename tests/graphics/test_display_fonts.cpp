// The display with the machine's font and the headless presenter: what a
// script's text looks like on the presented screen, and the palette the
// presenter shows it through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/graphics/draw.h"
#include "engine/graphics/transfer.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "support/cp932.h"
#include "support/result_code.h"

namespace {

class DisplayFontTest : public ::testing::Test {
 protected:
  DisplayFontTest() : presenter(options()) {}
  static HeadlessOptions options() {
    HeadlessOptions o;
    o.framesFolder = "";
    o.refreshHz = 0;
    return o;
  }
  void TearDown() override { display.free(); }
  // Ink pixels of a 16-row cell at (x, y) of the text layer.
  int ink(int x, int y, int width, int colour) {
    int n = 0;
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < width; ++c)
        n += display.textLayer().base[(y + r) * display.textLayer().width() + x + c] == colour;
    return n;
  }

  FreeTypeGlyphSystem glyphs;
  HeadlessPresenter presenter;
  ResultCode result;
  GraphicsDisplay display{presenter, glyphs, result};
};

TEST_F(DisplayFontTest, ScriptTextShowsOnThePresentedScreen) {
  ASSERT_TRUE(display.create(640, 400, QDFont{}, nullptr, false));
  std::vector<QGPaletteEntry> colours{{0, 0, 0, 0}, {255, 255, 0, 0}};  // colour 0, colour 1
  display.setPaletteEntries(240, 1, &colours[1]);
  display.setPaletteEntries(241, 1, &colours[0]);
  QGFillRect(display.page0(), 0, 0, 640, 400, 241);
  ASSERT_TRUE(QGBackBlt(display.screen(), 0, 0, 640, 400, display.page0(), 0, 0));

  const std::string line = Utf8ToCp932("演奏ＡBc");
  int32_t w = 0;
  ASSERT_TRUE(display.drawText(display.textLayer(), 16, 32, &w, {line}, 0, 1, 240));
  EXPECT_EQ(w, 16 * 3 + 8 * 2);
  // Every character leaves ink in its own cell, and nothing outside the line.
  for (int x : {16, 32, 48}) EXPECT_GT(ink(x, 32, 16, 240), 10) << x;
  for (int x : {64, 72}) EXPECT_GT(ink(x, 32, 8, 240), 5) << x;
  EXPECT_EQ(ink(80, 32, 16, 240), 0);
  EXPECT_EQ(ink(16, 32, 64, 240) + ink(16, 32, 64, kQGClearIndex), 16 * 64);

  ASSERT_TRUE(QGmemBlt(display.screen(), 0, 32, 640, 16, display.textLayer(), 0, 32, kQGOpaque));
  ShownFrame f = presenter.frame();
  ASSERT_EQ(f.width, 640);
  ASSERT_EQ(f.height, 400);
  int yellow = 0;
  for (int y = 32; y < 48; ++y)
    for (int x = 0; x < 640; ++x) {
      uint8_t expect = display.textLayer().base[y * 640 + x] == 240 ? 240 : 241;
      ASSERT_EQ(f.pixels[y * 640 + x], expect) << x << "," << y;
      yellow += f.rgb(x, y) == 0xFFFF00;
    }
  EXPECT_EQ(yellow, ink(0, 32, 640, 240));
  // A palette change shows at once on what was presented.
  QGPaletteEntry red{255, 0, 0, 0};
  display.setPaletteEntries(240, 1, &red);
  int redNow = 0;
  f = presenter.frame();
  for (int y = 32; y < 48; ++y)
    for (int x = 0; x < 640; ++x) redNow += f.rgb(x, y) == 0xFF0000;
  EXPECT_EQ(redNow, yellow);
}

TEST_F(DisplayFontTest, AFourEightyOnlyPresenterStillShowsTheScriptRows) {
  HeadlessOptions o = options();
  o.modes = {{640, 480}};
  HeadlessPresenter tall(o);
  GraphicsDisplay display(tall, glyphs, result);
  ASSERT_TRUE(display.create(640, 400, QDFont{}, nullptr, true));
  EXPECT_EQ(display.height(), 480);
  ASSERT_TRUE(display.drawText(display.textLayer(), 0, 384, nullptr, {"Z"}, 0, 1, 226));
  ASSERT_TRUE(QGmemCopy(display.screen(), display.textLayer(), kQGOpaque));
  ShownFrame f = tall.frame();
  EXPECT_EQ(f.height, 480);
  int ink = 0;
  for (int y = 384; y < 400; ++y)
    for (int x = 0; x < 8; ++x) ink += f.pixels[y * 640 + x] == 226;
  EXPECT_GT(ink, 5);
  display.free();
  EXPECT_FALSE(tall.isOpen());
}

}  // namespace
