// The glyph rasteriser behind WRD text: a font chosen by face name, height
// and weight turns Shift-JIS strings into 1-bit glyph rows on a fixed grid.
// Every row of text is kGlyphRows pixels high; every byte of the string takes
// one column of 8 pixels, so a one-byte (half-width) character is 8 pixels
// wide and a two-byte (full-width) character 16. Ink never leaves its
// character's cell. Backends live in platform/<name>/; a program hands the
// one it wants to its engine. Std-only so that the core may use it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

constexpr int kGlyphRows = 16;
constexpr int kGlyphColumnPixels = 8;  // pixels per byte of text

// The font of the WRD text. Face names are UTF-8 ("ＭＳ 明朝" is the default
// face; Windows names are mapped to fonts this machine has).
struct GlyphFontRequest {
  std::string face = "ＭＳ 明朝";
  int pixelHeight = 15;  // em height in pixels; values below 1 mean 15
  bool bold = false;     // drawn by over-striking one pixel to the right
};

// Font sizes are kept in points; text is rendered at 96 pixels per inch.
constexpr int QRFontPixelsFromPoints(int points) { return (points * 96 + 36) / 72; }

// A 1-bit picture kGlyphRows rows high and `stride` bytes wide. Row r starts
// at bits + r * stride; bit 7 of a byte is its leftmost pixel.
struct GlyphCanvas {
  uint8_t* bits = nullptr;
  int stride = 0;

  bool pixel(int x, int y) const {
    if (x < 0 || y < 0 || y >= kGlyphRows || x >= stride * 8) return false;
    return (bits[y * stride + x / 8] >> (7 - x % 8)) & 1;
  }
};

// One opened font. Used by one thread at a time.
class GlyphFace {
 public:
  virtual ~GlyphFace() = default;
  // ORs the glyphs of `sjis` (code page 932 bytes) into the canvas, the first
  // byte at byte column `column`. A lead byte with a byte after it forms a
  // two-byte character; undecodable and control bytes draw nothing but keep
  // their place. Columns outside 0 .. stride-1 are cut.
  virtual void draw(std::string_view sjis, const GlyphCanvas& canvas, int column) = 0;
  // The family the face name resolved to (for example "IPAMincho").
  virtual std::string family() const = 0;
};

// The fonts of this machine (or of a test).
class GlyphSystem {
 public:
  virtual ~GlyphSystem() = default;
  // Null when no font can be had for the request.
  virtual std::unique_ptr<GlyphFace> open(const GlyphFontRequest& request) = 0;
};

// A rasteriser without fonts (every open gives null): what an engine given
// no glyphs uses. It keeps no state.
GlyphSystem& QRNoGlyphs();
