// A glyph system whose every non-space byte is a block: it inks rows 2..13
// of pixels 1..6 of its 8-pixel column, so tests can tell where text went
// without a font installed.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/glyphs.h"

namespace qtest {

class BlockFace final : public GlyphFace {
 public:
  void draw(std::string_view sjis, const GlyphCanvas& canvas, int column) override {
    for (size_t i = 0; i < sjis.size(); ++i) {
      const int col = column + static_cast<int>(i);
      if (sjis[i] == ' ' || col < 0 || col >= canvas.stride) continue;
      for (int r = 2; r <= 13; ++r) canvas.bits[r * canvas.stride + col] |= 0x7E;
    }
  }
  std::string family() const override { return "Block"; }
};

class BlockFonts final : public GlyphSystem {
 public:
  std::unique_ptr<GlyphFace> open(const GlyphFontRequest&) override { return std::make_unique<BlockFace>(); }
};

}  // namespace qtest
