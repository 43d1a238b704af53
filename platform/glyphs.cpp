#include "platform/glyphs.h"


namespace {

class NoFonts final : public GlyphSystem {
 public:
  std::unique_ptr<GlyphFace> open(const GlyphFontRequest&) override { return nullptr; }
};


}  // namespace

GlyphSystem& QRNoGlyphs() {
  static NoFonts none;
  return none;
}
