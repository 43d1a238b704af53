// Rectangle transfers between rasters. Destination first; the source may be
// the same raster unless stated. t is a transparent index: 0..255 skips
// source pixels equal to it, any other value (256) copies every pixel.
// A transfer onto the screen buffer presents what it changed.
#pragma once

#include <cstdint>

#include "engine/graphics/bitmap.h"

// Whole-raster copy when the sizes match, else QGmemBlt of the common top-left
// area. A failed lock sets the engine's result code 9050.
bool QGmemCopy(TQGBitmap& dest, TQGBitmap& src, int32_t t);
bool QGmemBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
              int32_t sx, int32_t sy, int32_t t);
// Nearest-pixel scaling; negative dw/dh mirror (the rectangle then extends
// left/up from dx/dy).
bool QGmemScratchBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                     TQGBitmap& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t t);
// Opaque copy (does not present).
bool QGBackBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy);
// Exchanges the two rectangles.
bool QGChgeBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy);
// Opaque copy from the last pixel backwards: safe for moves down or right
// within one raster.
bool QGDownBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy);
// Software copy between pages, optionally skipping index t.
bool QGXCopy(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
             int32_t sx, int32_t sy, int32_t t);
