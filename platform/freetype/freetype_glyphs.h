// Glyph rasteriser on FreeType: fonts found by name through fontconfig,
// glyphs loaded hinted for monochrome output and kept per character once
// drawn. Hand it to an engine (EngineServices::glyphs).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/glyphs.h"

// A font file found for a face name.
struct ResolvedFont {
  std::string family;  // as fontconfig names it
  std::string file;
  int index = 0;       // face inside a collection
};

// Finds the font for a face name: the family itself when this machine has
// it, else its substitute (QRSubstituteFontFamily), else IPAMincho, else any
// font with Japanese coverage. Nothing when the machine has no usable font.
std::optional<ResolvedFont> QRResolveFont(std::string_view face);

class FreeTypeGlyphSystem final : public GlyphSystem {
 public:
  std::unique_ptr<GlyphFace> open(const GlyphFontRequest& request) override;
};
