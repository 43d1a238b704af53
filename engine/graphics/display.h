// The display: the four 640x400 rasters of the emulated screen (the screen
// buffer shown through the presenter, graphic pages 0 and 1, and the text
// layer), the 256-entry display palette, and text drawing into a raster.
// The rasters are plain memory served through the surface identities of
// bitmap.h; the installed presenter (platform/presenter.h) shows the screen
// buffer and the glyph system (platform/glyphs.h) draws the text.
//
// Threads: QDCreate, QDFree, QRSetMojiCreate and QRSetMojiFree run on the
// engine's window thread; drawing, presenting and palette changes on the
// thread that runs the script (never at the same time as create/free).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/graphics/bitmap.h"

// The WRD text font as the settings and the option dialog hold it.
struct QDFont {
  std::string face = "ＭＳ 明朝";  // UTF-8
  int32_t height = -15;           // negative: character height in pixels
  int32_t size = 11;              // points, as the font dialog shows it
  bool bold = false;
};

// The four rasters (their records are valid while a display exists).
TQGBitmap& QDScreenBuffer();
TQGBitmap& QDPage0();
TQGBitmap& QDTextLayer();
TQGBitmap& QDPage1();

// True between a successful QDCreate and QDFree (the "display exists" test).
// A QDCreate that fails closes what it opened again.
bool QDDisplayExists();
// Display size in force (640 x 400 normally; 640 x 480 when the presenter
// only offers that).
int32_t QDDisplayWidth();
int32_t QDDisplayHeight();

// Creates the display: presenter mode (width x height, then 640x480,
// 640x400, 512x384), the four rasters, the text objects with font and the
// display palette from 256 entries. exclusive asks for full screen. False,
// with the result code set, when a step fails.
bool QDCreate(int32_t width, int32_t height, const QDFont& font,
              const QGPaletteEntry* palette256, bool exclusive);
// Tears the display down; true when one existed (the text objects are
// released either way). The picture slots are freed with the display.
bool QDFree();

// Display palette: count entries from first; then shown at once.
void QDSetPaletteEntries(int first, int count, const QGPaletteEntry* entries);
// The display palette as it stands (for tests and the tools).
const QGPalette& QDDisplayPalette();
void QDWaitForVerticalBlank();

// Text objects for QRSetMoji; false (result code 9047/9048) without a font.
bool QRSetMojiCreate(const QDFont& font);
void QRSetMojiFree();
// Draws strings[first .. end-1] side by side as one 16-row line at (x, y)
// of dest: glyph pixels colour and the rest of each cell 242, or for colour
// 256 and above the inverse (background 256 - colour % 256, glyphs 242).
// widthOut receives the width drawn. False with a result code on failure:
// 9052 without text objects, 9053 when a string would pass 640 pixels (the
// strings before it are still drawn) or nothing fits into dest, 9051 when
// dest cannot be locked. Cells partly outside dest keep their inside part.
bool QRSetMoji(TQGBitmap& dest, int32_t x, int32_t y, int32_t* widthOut,
               const std::vector<std::string>& strings, int first, int end, int32_t colour);
