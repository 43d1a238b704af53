#include "platform/freetype/freetype_glyphs.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "platform/freetype/font_names.h"
#include "support/cp932.h"
#include "support/guard.h"

namespace {

constexpr int kDefaultPixels = 15;
constexpr int kMaxPixels = 128;

std::once_flag g_fcInit;

FcConfig* fontConfig() {
  std::call_once(g_fcInit, [] { FcInit(); });
  return FcConfigGetCurrent();
}

std::string patternString(FcPattern* p, const char* object, int n) {
  FcChar8* v = nullptr;
  if (FcPatternGetString(p, object, n, &v) != FcResultMatch || v == nullptr) return {};
  return reinterpret_cast<const char*>(v);
}

// fontconfig's best match for a pattern built by `fill`; `accept` decides
// whether the match will do.
template <class Fill, class Accept>
std::optional<ResolvedFont> match(Fill fill, Accept accept) {
  FcConfig* config = fontConfig();
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return std::nullopt;
  fill(pattern);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* found = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);
  if (found == nullptr) return std::nullopt;
  std::optional<ResolvedFont> font;
  ResolvedFont r;
  r.family = patternString(found, FC_FAMILY, 0);
  r.file = patternString(found, FC_FILE, 0);
  int index = 0;
  if (FcPatternGetInteger(found, FC_INDEX, 0, &index) == FcResultMatch) r.index = index;
  if (!r.file.empty() && accept(found)) font = r;
  FcPatternDestroy(found);
  return font;
}

// The font of exactly this family (under any of its names), if installed.
std::optional<ResolvedFont> exactFamily(const std::string& family) {
  const std::string wanted = QRFontNameKey(family);
  return match(
      [&](FcPattern* p) {
        FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
      },
      [&](FcPattern* found) {
        for (int n = 0;; ++n) {
          std::string name = patternString(found, FC_FAMILY, n);
          if (name.empty()) return false;
          if (QRFontNameKey(name) == wanted) return true;
        }
      });
}

// Any font that has kana (what fontconfig prefers for Japanese serif text).
std::optional<ResolvedFont> anyJapanese() {
  return match(
      [](FcPattern* p) {
        FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>("serif"));
        FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
      },
      [](FcPattern* found) {
        FcCharSet* chars = nullptr;
        return FcPatternGetCharSet(found, FC_CHARSET, 0, &chars) == FcResultMatch &&
               FcCharSetHasChar(chars, 0x3042);
      });
}

// The code point a Shift-JIS character shows, or 0 for nothing.
uint32_t codePointOf(const uint8_t* c, int length) {
  if (length == 1) {
    const uint8_t b = c[0];
    if (b == 0x5C) return 0x00A5;  // Japanese fonts show the yen sign here
    if (b >= 0x21 && b <= 0x7E) return b;
    if (b >= 0xA1 && b <= 0xDF) return 0xFF61 + (b - 0xA1);  // half-width kana
    return 0;
  }
  const std::string utf8 = Cp932ToUtf8(std::string_view(reinterpret_cast<const char*>(c), 2));
  const auto* u = reinterpret_cast<const uint8_t*>(utf8.data());
  uint32_t cp = 0;
  if (utf8.size() == 2 && (u[0] >> 5) == 6) {
    cp = (uint32_t(u[0] & 0x1F) << 6) | (u[1] & 0x3F);
  } else if (utf8.size() == 3 && (u[0] >> 4) == 14) {
    cp = (uint32_t(u[0] & 0x0F) << 12) | (uint32_t(u[1] & 0x3F) << 6) | (u[2] & 0x3F);
  } else if (utf8.size() == 4 && (u[0] >> 3) == 30) {
    cp = (uint32_t(u[0] & 0x07) << 18) | (uint32_t(u[1] & 0x3F) << 12) |
         (uint32_t(u[2] & 0x3F) << 6) | (u[3] & 0x3F);
  }
  return cp == 0xFFFD ? 0 : cp;
}

class FreeTypeLibrary {
 public:
  FreeTypeLibrary() {
    if (FT_Init_FreeType(&lib_) != 0) throw std::runtime_error("FT_Init_FreeType");
  }
  ~FreeTypeLibrary() { FT_Done_FreeType(lib_); }
  FreeTypeLibrary(const FreeTypeLibrary&) = delete;
  FreeTypeLibrary& operator=(const FreeTypeLibrary&) = delete;
  FT_Library get() const { return lib_; }

 private:
  FT_Library lib_ = nullptr;
};

class Face {
 public:
  Face(FT_Library lib, const ResolvedFont& font, int pixels) {
    if (FT_New_Face(lib, font.file.c_str(), font.index, &face_) != 0) {
      face_ = nullptr;
      return;
    }
    if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(pixels)) != 0 &&
        face_->num_fixed_sizes > 0) {
      // A bitmap-only font: the strike nearest to the height asked for.
      int best = 0;
      for (int i = 1; i < face_->num_fixed_sizes; ++i)
        if (std::abs(face_->available_sizes[i].height - pixels) <
            std::abs(face_->available_sizes[best].height - pixels))
          best = i;
      FT_Select_Size(face_, best);
    }
  }
  ~Face() {
    if (face_ != nullptr) FT_Done_Face(face_);
  }
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  FT_Face get() const { return face_; }

 private:
  FT_Face face_ = nullptr;
};

// One character cell: 16 rows, bit 31 the cell's leftmost pixel.
using Cell = std::array<uint32_t, kGlyphRows>;

class FreeTypeFace final : public GlyphFace {
 public:
  FreeTypeFace(const ResolvedFont& font, const std::optional<ResolvedFont>& fallback,
               int pixels, bool bold)
      : family_(font.family), bold_(bold), index_(0x10000, 0) {
    primary_ = std::make_unique<Face>(lib_.get(), font, pixels);
    if (primary_->get() == nullptr) throw std::runtime_error("font file");
    if (fallback && fallback->file != font.file) {
      fallback_ = std::make_unique<Face>(lib_.get(), *fallback, pixels);
      if (fallback_->get() == nullptr) fallback_.reset();
    }
    // The cell's top is where the text's top goes: the baseline lies the
    // font's ascent below it (for IPAMincho at 15 pixels the ink then fills
    // rows 0..14).
    FT_Face f = primary_->get();
    if (FT_IS_SCALABLE(f) && f->units_per_EM > 0)
      baseline_ = (2 * f->ascender * pixels + f->units_per_EM) / (2 * f->units_per_EM);
    else
      baseline_ = static_cast<int>((f->size->metrics.ascender + 32) >> 6);
    cells_.reserve(256);
  }

  void draw(std::string_view sjis, const GlyphCanvas& canvas, int column) override {
    if (canvas.bits == nullptr || canvas.stride <= 0) return;
    const auto* s = reinterpret_cast<const uint8_t*>(sjis.data());
    const size_t n = sjis.size();
    for (size_t i = 0; i < n;) {
      const int length = IsSjisLeadByte(s[i]) && i + 1 < n ? 2 : 1;
      const int col = column + static_cast<int>(i);
      const Cell& cell = cellFor(s + i, length);
      for (int b = 0; b < length; ++b) {
        const int x = col + b;
        if (x < 0 || x >= canvas.stride) continue;
        const int shift = 24 - 8 * b;
        for (int r = 0; r < kGlyphRows; ++r)
          canvas.bits[r * canvas.stride + x] |= static_cast<uint8_t>(cell[r] >> shift);
      }
      i += static_cast<size_t>(length);
    }
  }

  std::string family() const override { return family_; }

 private:
  const Cell& cellFor(const uint8_t* c, int length) {
    const int key = length == 2 ? (c[0] << 8) | c[1] : c[0];
    uint16_t& slot = index_[static_cast<size_t>(key)];
    if (slot == 0) {
      cells_.push_back(render(codePointOf(c, length), length * kGlyphColumnPixels));
      slot = static_cast<uint16_t>(cells_.size());
    }
    return cells_[slot - 1u];
  }

  Cell render(uint32_t cp, int cellWidth) {
    Cell cell{};
    if (cp == 0) return cell;
    FT_Face face = primary_->get();
    FT_UInt glyph = FT_Get_Char_Index(face, cp);
    if (glyph == 0 && fallback_) {
      face = fallback_->get();
      glyph = FT_Get_Char_Index(face, cp);
    }
    if (glyph == 0) return cell;
    constexpr FT_Int32 kLoad = FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME;
    if (FT_Load_Glyph(face, glyph, kLoad) != 0) return cell;
    const FT_Pos wide = face->glyph->advance.x;
    if (wide > FT_Pos{cellWidth} * 96 && FT_IS_SCALABLE(face)) {
      // A full-width design in a one-byte cell (IPAMincho's yen sign):
      // narrowed to the cell, as a Japanese system font draws it. (Glyphs
      // of a large font that merely overhang are cut at the cell instead.)
      FT_Matrix narrow{static_cast<FT_Fixed>((FT_Pos{cellWidth} * 64 << 16) / wide), 0, 0,
                       0x10000};
      FT_Set_Transform(face, &narrow, nullptr);
      const FT_Error e = FT_Load_Glyph(face, glyph, kLoad);
      FT_Set_Transform(face, nullptr, nullptr);
      if (e != 0) return cell;
    }
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_MONO && bm.pixel_mode != FT_PIXEL_MODE_GRAY) return cell;
    // Narrower glyphs (proportional fonts) sit in the middle of their cell.
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    const int x0 = (advance > 0 && advance < cellWidth ? (cellWidth - advance) / 2 : 0) +
                   slot->bitmap_left;
    int y0 = baseline_ - slot->bitmap_top;
    // Ink one row over the cell's top or bottom edge (a macron at the very
    // top of the em square, rounding at other sizes) moves inside when
    // there is room, rather than being cut off.
    const int y1 = y0 + static_cast<int>(bm.rows);
    if (y0 == -1 && y1 < kGlyphRows) ++y0;
    else if (y1 == kGlyphRows + 1 && y0 > 0) --y0;
    std::array<uint64_t, kGlyphRows> rows{};  // bit 63 = cell column 0
    for (unsigned j = 0; j < bm.rows; ++j) {
      const int y = y0 + static_cast<int>(j);
      if (y < 0 || y >= kGlyphRows) continue;
      const unsigned char* line = bm.buffer + static_cast<ptrdiff_t>(j) * bm.pitch;
      for (unsigned i = 0; i < bm.width; ++i) {
        const bool ink = bm.pixel_mode == FT_PIXEL_MODE_MONO ? (line[i / 8] >> (7 - i % 8)) & 1
                                                             : line[i] >= 128;
        const int x = x0 + static_cast<int>(i);
        if (ink && x >= 0 && x < 64) rows[static_cast<size_t>(y)] |= uint64_t{1} << (63 - x);
      }
    }
    const uint64_t keep = ~uint64_t{0} << (64 - cellWidth);
    for (int r = 0; r < kGlyphRows; ++r) {
      uint64_t row = rows[static_cast<size_t>(r)];
      if (bold_) row |= row >> 1;  // over-strike one pixel to the right
      cell[static_cast<size_t>(r)] = static_cast<uint32_t>((row & keep) >> 32);
    }
    return cell;
  }

  FreeTypeLibrary lib_;
  std::unique_ptr<Face> primary_;
  std::unique_ptr<Face> fallback_;  // characters the chosen font lacks
  std::string family_;
  bool bold_;
  int baseline_ = 0;
  std::vector<uint16_t> index_;  // character code -> cell number + 1
  std::vector<Cell> cells_;
};

}  // namespace

std::optional<ResolvedFont> QRResolveFont(std::string_view face) {
  std::string name(face);
  // Names from old settings may still be Shift-JIS bytes.
  if (!QRIsUtf8(name)) name = Cp932ToUtf8(name);
  const std::string substitute = QRSubstituteFontFamily(name);
  const std::string key = QRFontNameKey(name);
  if (!key.empty()) {
    if (auto f = exactFamily(name)) return f;
  }
  if (QRFontNameKey(substitute) != key) {
    if (auto f = exactFamily(substitute)) return f;
  }
  if (auto f = exactFamily("IPAMincho")) return f;
  return anyJapanese();
}

std::unique_ptr<GlyphFace> FreeTypeGlyphSystem::open(const GlyphFontRequest& request) {
  return QGuard("FreeTypeGlyphSystem.open", std::unique_ptr<GlyphFace>(),
                [&]() -> std::unique_ptr<GlyphFace> {
                  const auto font = QRResolveFont(request.face);
                  if (!font) return nullptr;
                  std::optional<ResolvedFont> fallback = exactFamily("IPAMincho");
                  if (!fallback) fallback = anyJapanese();
                  int pixels = request.pixelHeight < 1 ? kDefaultPixels : request.pixelHeight;
                  pixels = std::min(pixels, kMaxPixels);
                  return std::make_unique<FreeTypeFace>(*font, fallback, pixels, request.bold);
                });
}
