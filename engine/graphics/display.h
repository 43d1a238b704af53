// The display: the four 640x400 rasters of the emulated screen (the screen
// buffer shown through the presenter, graphic pages 0 and 1, and the text
// layer), the 256-entry display palette, and text drawing into a raster.
// The rasters are plain memory served through the surface identities of
// bitmap.h; the presenter it is given (platform/presenter.h) shows the
// screen buffer and the glyph system (platform/glyphs.h) draws the text.
// Each engine has one (named GraphicsDisplay: Xlib's headers, which Qt's
// bring in, take the name Display).
//
// Threads: create, free, createText and freeText run on the engine's window
// thread; drawing, presenting and palette changes on the thread that runs
// the script (never at the same time as create/free).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/graphics/bitmap.h"
#include "platform/glyphs.h"
#include "platform/presenter.h"
#include "support/result_code.h"

// The WRD text font as the settings and the option dialog hold it.
struct QDFont {
  std::string face = "ＭＳ 明朝";  // UTF-8
  int32_t height = -15;           // negative: character height in pixels
  int32_t size = 11;              // points, as the font dialog shows it
  bool bold = false;
};

class GraphicsDisplay {
 public:
  GraphicsDisplay(Presenter& presenter, GlyphSystem& glyphs, ResultCode& result);
  ~GraphicsDisplay();
  GraphicsDisplay(const GraphicsDisplay&) = delete;
  GraphicsDisplay& operator=(const GraphicsDisplay&) = delete;

  Presenter& presenter() { return presenter_; }
  GlyphSystem& glyphs() { return glyphs_; }

  // The four rasters (their records are valid while the display exists).
  TQGBitmap& screen() { return rasters_[0]; }  // QDScreenBuffer
  TQGBitmap& page0() { return rasters_[1]; }   // QDPage0
  TQGBitmap& textLayer() { return rasters_[2]; }
  TQGBitmap& page1() { return rasters_[3]; }

  // True between a successful create and free (QDDisplayExists). A create
  // that fails closes what it opened again.
  bool exists() const { return exists_; }
  // GraphicsDisplay size in force (640 x 400 normally; 640 x 480 when the presenter
  // only offers that).
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

  // QDCreate: presenter mode (width x height, then 640x480, 640x400,
  // 512x384), the four rasters, the text objects with font and the display
  // palette from 256 entries (the default table when null). exclusive asks
  // for full screen. False, with the result code set, when a step fails.
  bool create(int32_t width, int32_t height, const QDFont& font, const QGPaletteEntry* palette256,
              bool exclusive);
  // QDFree: tears the display down; true when one existed (the text objects
  // are released either way).
  bool free();

  // GraphicsDisplay palette: count entries from first; then shown at once.
  void setPaletteEntries(int first, int count, const QGPaletteEntry* entries);
  const QGPalette& palette() const { return palette_; }
  void waitForVerticalBlank();
  // Quiet: drawing goes on in the rasters and the palette, but nothing is
  // shown and no vertical blank is waited for (a screen rebuilt in one go).
  void setQuiet(bool quiet) { quiet_.store(quiet); }
  // Shows the whole palette and the whole screen buffer.
  void presentWhole();

  // Text objects (QRSetMojiCreate); false (result code 9047/9048) without a font.
  bool createText(const QDFont& font);
  void freeText();
  // QRSetMoji: draws strings[first .. end-1] side by side as one 16-row line
  // at (x, y) of dest: glyph pixels colour and the rest of each cell 242, or
  // for colour 256 and above the inverse (background 256 - colour % 256,
  // glyphs 242). widthOut receives the width drawn. False with a result
  // code on failure: 9052 without text objects, 9053 when a string would
  // pass 640 pixels (the strings before it are still drawn) or nothing fits
  // into dest, 9051 when dest cannot be locked. Cells partly outside dest
  // keep their inside part.
  bool drawText(TQGBitmap& dest, int32_t x, int32_t y, int32_t* widthOut,
                const std::vector<std::string>& strings, int first, int end, int32_t colour);

 private:
  class Surfaces;
  struct Surface {
    std::unique_ptr<uint8_t[]> pixels;
    uint32_t size = 0;
  };
  struct Text {
    bool created = false;
    QDFont font;
    std::unique_ptr<GlyphFace> face;
    std::vector<uint8_t> canvas;  // 1-bit rows the face draws into
    TQGBitmap render;             // the rendered line as indices 0 / 255
  };

  void releaseSurfaces();
  bool makeSurface(int i, int32_t width, int32_t height);
  void sendPalette(int first, int count);
  bool tearDown();
  bool createTextObjects(const QDFont& font);
  void freeTextObjects();
  void renderLine(const std::vector<std::string>& strings,
                  const std::vector<std::pair<int, int32_t>>& laid, int32_t lineWidth);

  Presenter& presenter_;
  GlyphSystem& glyphs_;
  ResultCode& result_;
  std::unique_ptr<Surfaces> ops_;
  bool exists_ = false;
  bool exclusive_ = false;
  std::atomic<bool> quiet_{false};
  int32_t width_ = 640;
  int32_t height_ = 480;
  Surface surfaces_[4];
  TQGBitmap rasters_[4];
  bool screenLocked_ = false;
  QGPalette palette_{};
  Text text_;
};
