// The FreeType glyph rasteriser: font names resolved the way old WRD
// settings expect, and glyphs on the fixed 8-pixels-per-byte, 16-row grid.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/freetype/font_names.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/glyphs.h"
#include "support/cp932.h"

namespace {

// Shift-JIS bytes of JIS X 0208 row `ku`, cell `ten`.
std::string Sjis(int ku, int ten) {
  const int lead = (ku + 1) / 2 + (ku <= 62 ? 0x80 : 0xC0);
  const int trail = ku % 2 ? ten + (ten < 64 ? 0x3F : 0x40) : ten + 0x9E;
  return {static_cast<char>(lead), static_cast<char>(trail)};
}

// A canvas of `columns` byte columns with its own storage.
struct Canvas {
  explicit Canvas(int columns) : bytes(static_cast<size_t>(columns) * kGlyphRows, 0) {
    canvas = GlyphCanvas{bytes.data(), columns};
  }
  std::vector<uint8_t> bytes;
  GlyphCanvas canvas;

  bool inkInColumn(int column) const {
    for (int r = 0; r < kGlyphRows; ++r)
      if (bytes[static_cast<size_t>(r * canvas.stride + column)] != 0) return true;
    return false;
  }
  bool inkInRow(int row) const {
    for (int c = 0; c < canvas.stride; ++c)
      if (bytes[static_cast<size_t>(row * canvas.stride + c)] != 0) return true;
    return false;
  }
  int inkCount() const {
    int n = 0;
    for (uint8_t b : bytes) n += __builtin_popcount(b);
    return n;
  }
};

class FreeTypeGlyphs : public ::testing::Test {
 protected:
  std::unique_ptr<GlyphFace> Open(GlyphFontRequest request = {}) {
    auto face = system_.open(request);
    EXPECT_NE(face, nullptr);
    return face;
  }
  FreeTypeGlyphSystem system_;
};

TEST(FontNames, WindowsJapaneseFacesMapToTheIpaFontsOfTheSameDesign) {
  EXPECT_EQ(QRSubstituteFontFamily("ＭＳ 明朝"), "IPAMincho");
  EXPECT_EQ(QRSubstituteFontFamily("ＭＳ　明朝"), "IPAMincho");  // ideographic space
  EXPECT_EQ(QRSubstituteFontFamily("MS Mincho"), "IPAMincho");
  EXPECT_EQ(QRSubstituteFontFamily("ms mincho"), "IPAMincho");
  EXPECT_EQ(QRSubstituteFontFamily("ＭＳ Ｐ明朝"), "IPAPMincho");
  EXPECT_EQ(QRSubstituteFontFamily("MS PMincho"), "IPAPMincho");
  EXPECT_EQ(QRSubstituteFontFamily("ＭＳ ゴシック"), "IPAGothic");
  EXPECT_EQ(QRSubstituteFontFamily("MS Gothic"), "IPAGothic");
  EXPECT_EQ(QRSubstituteFontFamily("ＭＳ Ｐゴシック"), "IPAPGothic");
  EXPECT_EQ(QRSubstituteFontFamily("MS UI Gothic"), "IPAPGothic");
  EXPECT_EQ(QRSubstituteFontFamily(""), "IPAMincho");
  EXPECT_EQ(QRSubstituteFontFamily("  DejaVu Sans "), "DejaVu Sans");
}

TEST(FontNames, ResolvesToInstalledFontsAndFallsBackToIpaMincho) {
  struct Case {
    const char* face;
    const char* family;
  } cases[] = {
      {"ＭＳ 明朝", "IPAMincho"},        {"MS Mincho", "IPAMincho"},
      {"ＭＳ ゴシック", "IPAGothic"},    {"MS Gothic", "IPAGothic"},
      {"ＭＳ Ｐ明朝", "IPAPMincho"},     {"", "IPAMincho"},
      {"NoSuchFontAtAll", "IPAMincho"}, {"DejaVu Sans", "DejaVu Sans"},
      {"IPAPGothic", "IPAPGothic"},
  };
  for (const auto& c : cases) {
    auto font = QRResolveFont(c.face);
    ASSERT_TRUE(font.has_value()) << c.face;
    EXPECT_EQ(font->family, c.family) << c.face;
    EXPECT_FALSE(font->file.empty());
  }
  // A name kept in Shift-JIS by old settings.
  auto sjis = QRResolveFont(Utf8ToCp932("ＭＳ ゴシック"));
  ASSERT_TRUE(sjis.has_value());
  EXPECT_EQ(sjis->family, "IPAGothic");
}

TEST_F(FreeTypeGlyphs, OpensTheDefaultFaceAsIpaMincho) {
  EXPECT_EQ(Open()->family(), "IPAMincho");
  GlyphFontRequest gothic;
  gothic.face = "ＭＳ ゴシック";
  EXPECT_EQ(Open(gothic)->family(), "IPAGothic");
}

// Row 1 (symbols) and the kana of JIS X 0208 are full-width: each keeps to
// its 16-pixel cell and, at the default size, to rows 0..14.
TEST_F(FreeTypeGlyphs, FullWidthSymbolsAndKanaStayInTheirCell) {
  auto face = Open();
  std::vector<std::string> chars;
  for (int ten = 1; ten <= 94; ++ten) chars.push_back(Sjis(1, ten));
  for (int ten = 1; ten <= 83; ++ten) chars.push_back(Sjis(4, ten));
  for (int ten = 1; ten <= 86; ++ten) chars.push_back(Sjis(5, ten));
  int top = kGlyphRows, bottom = -1;
  for (const auto& c : chars) {
    Canvas canvas(4);
    face->draw(c, canvas.canvas, 1);
    const std::string where = Cp932ToUtf8(c);
    EXPECT_FALSE(canvas.inkInColumn(0)) << where;
    EXPECT_FALSE(canvas.inkInColumn(3)) << where;
    if (c != Sjis(1, 1)) {  // all but the space have ink
      EXPECT_GT(canvas.inkCount(), 0) << where;
    }
    for (int r = 0; r < kGlyphRows; ++r)
      if (canvas.inkInRow(r)) top = std::min(top, r), bottom = std::max(bottom, r);
  }
  EXPECT_EQ(top, 0);
  EXPECT_EQ(bottom, 14);
}

TEST_F(FreeTypeGlyphs, AsciiAndHalfWidthKanaAreEightPixelsWide) {
  auto face = Open();
  std::vector<std::string> chars;
  for (int b = 0x21; b <= 0x7E; ++b) chars.emplace_back(1, static_cast<char>(b));
  for (int b = 0xA1; b <= 0xDF; ++b) chars.emplace_back(1, static_cast<char>(b));
  for (const auto& c : chars) {
    Canvas canvas(3);
    face->draw(c, canvas.canvas, 1);
    const int code = static_cast<uint8_t>(c[0]);
    EXPECT_FALSE(canvas.inkInColumn(0)) << code;
    EXPECT_FALSE(canvas.inkInColumn(2)) << code;
    EXPECT_FALSE(canvas.inkInRow(15)) << code;
    EXPECT_GT(canvas.inkCount(), 0) << code;
  }
  Canvas space(1);
  face->draw(" ", space.canvas, 0);
  EXPECT_EQ(space.inkCount(), 0);
}

TEST_F(FreeTypeGlyphs, Cp932ExtensionsRender) {
  auto face = Open();
  // ① ② ⅰ (NEC and IBM rows), ≒, 纊 (NEC-selected IBM extension), ～.
  const std::string codes[] = {"\x87\x40", "\x87\x41", "\xFA\x40", "\xEE\xEF",
                               "\x87\x90", "\xED\x40", "\x81\x60"};
  std::vector<std::vector<uint8_t>> seen;
  for (const auto& c : codes) {
    Canvas canvas(2);
    face->draw(c, canvas.canvas, 0);
    EXPECT_GT(canvas.inkCount(), 0) << Cp932ToUtf8(c);
    seen.push_back(canvas.bytes);
  }
  EXPECT_NE(seen[0], seen[1]);  // ① and ② are different glyphs
  EXPECT_EQ(seen[2], seen[3]);  // ⅰ has two codes, one glyph
}

TEST_F(FreeTypeGlyphs, BackslashCodeShowsANarrowedYenSign) {
  auto face = Open();
  Canvas yen(3), backslashless(3);
  face->draw("\\", yen.canvas, 1);
  EXPECT_GT(yen.inkCount(), 8);
  EXPECT_FALSE(yen.inkInColumn(0));
  EXPECT_FALSE(yen.inkInColumn(2));
  // The yen sign has a horizontal bar; a backslash has none.
  bool bar = false;
  for (int r = 0; r < kGlyphRows; ++r) {
    int run = 0;
    for (int x = 8; x < 16; ++x) run = yen.canvas.pixel(x, r) ? run + 1 : 0, bar |= run >= 4;
  }
  EXPECT_TRUE(bar);
}

// A line is the concatenation of its characters' cells: one-byte cells at
// byte offsets, two-byte cells over two, whatever else is around.
TEST_F(FreeTypeGlyphs, StringsLayOutOnTheByteGrid) {
  auto face = Open();
  const std::string line = "A\x8A\xBF" "B\x82\xA0";  // A漢Bあ
  Canvas whole(8), parts(8);
  face->draw(line, whole.canvas, 1);
  face->draw("A", parts.canvas, 1);
  face->draw("\x8A\xBF", parts.canvas, 2);
  face->draw("B", parts.canvas, 4);
  face->draw("\x82\xA0", parts.canvas, 5);
  EXPECT_EQ(whole.bytes, parts.bytes);
  EXPECT_FALSE(whole.inkInColumn(0));
  EXPECT_FALSE(whole.inkInColumn(7));
}

TEST_F(FreeTypeGlyphs, BrokenAndControlBytesKeepTheirPlaceAndDrawNothing) {
  auto face = Open();
  Canvas canvas(6);
  // Control byte, undefined bytes, then a lead byte without its trail byte.
  face->draw(std::string("\x0A\x80\xA0\xFF" "A\x88", 6), canvas.canvas, 0);
  for (int c : {0, 1, 2, 3, 5}) EXPECT_FALSE(canvas.inkInColumn(c)) << c;
  EXPECT_TRUE(canvas.inkInColumn(4));
}

TEST_F(FreeTypeGlyphs, DrawingOrsIntoTheCanvasAndCutsAtItsEdges) {
  auto face = Open();
  // Guard bytes around a 2-column canvas must stay untouched.
  std::vector<uint8_t> storage(kGlyphRows * 2 + 2, 0xA5);
  GlyphCanvas canvas{storage.data() + 1, 2};
  for (int r = 0; r < kGlyphRows; ++r) canvas.bits[r * 2] = canvas.bits[r * 2 + 1] = 0;
  canvas.bits[0] = 0x01;
  face->draw("\x8A\xBF\x8A\xBF", canvas, 1);  // the second half runs off the right
  face->draw("\x8A\xBF", canvas, -1);         // the first half is off the left
  EXPECT_EQ(storage.front(), 0xA5);
  EXPECT_EQ(storage.back(), 0xA5);
  EXPECT_EQ(canvas.bits[0] & 0x01, 0x01);  // kept
  Canvas full(2);
  face->draw("\x8A\xBF", full.canvas, 0);
  for (int r = 0; r < kGlyphRows; ++r) {
    EXPECT_EQ(canvas.bits[r * 2] & ~(r == 0 ? 0x01 : 0), full.bytes[size_t(r * 2 + 1)] & ~(r == 0 ? 0x01 : 0))
        << "row " << r;  // right half of the glyph drawn at -1
    EXPECT_EQ(canvas.bits[r * 2 + 1], full.bytes[size_t(r * 2)]) << "row " << r;
  }
}

TEST_F(FreeTypeGlyphs, BoldOverstrikesAndSizeScales) {
  GlyphFontRequest bold;
  bold.bold = true;
  GlyphFontRequest small;
  small.pixelHeight = 10;
  GlyphFontRequest unset;
  unset.pixelHeight = 0;
  auto regular = Open(), heavy = Open(bold), little = Open(small), fallback = Open(unset);
  const std::string text = "\x8A\xBF\x8E\x9A" "Ab";  // 漢字Ab
  Canvas r(8), b(8), s(8), f(8);
  regular->draw(text, r.canvas, 1);
  heavy->draw(text, b.canvas, 1);
  little->draw(text, s.canvas, 1);
  fallback->draw(text, f.canvas, 1);
  EXPECT_GT(b.inkCount(), r.inkCount());
  for (size_t i = 0; i < r.bytes.size(); ++i) EXPECT_EQ(r.bytes[i] & ~b.bytes[i], 0) << i;
  EXPECT_FALSE(b.inkInColumn(7));
  EXPECT_LT(s.inkCount(), r.inkCount());
  EXPECT_FALSE(s.inkInRow(12));
  EXPECT_EQ(f.bytes, r.bytes);  // a height below 1 means the default 15
  EXPECT_EQ(QRFontPixelsFromPoints(11), 15);
  EXPECT_EQ(QRFontPixelsFromPoints(12), 16);
}

TEST(GlyphSystemStandIn, HasNoFonts) { EXPECT_EQ(QRNoGlyphs().open({}), nullptr); }

}  // namespace
