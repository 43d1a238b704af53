// Clipping of rectangles and transfers to rasters (no drawing). A rectangle
// comes out inclusive; it is empty when right < left or bottom < top.
#pragma once

#include <cstdint>

#include "engine/graphics/bitmap.h"

struct QGBox {
  int32_t x1, y1, x2, y2;
  bool empty() const { return x2 < x1 || y2 < y1; }
};

// (x, y, w, h) clipped: starts raised to 0, a start past the last column/row
// pulled onto it, ends lowered to the last column/row.
QGBox QGCvtRectXY(const TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h);
// Two corners in any order, clipped as QGCvtRectXY.
QGBox QGCvtAngleXY(const TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

namespace qg {
// QGCvtAngleXY's clamping for corners already ordered (x1 <= x2, y1 <= y2)
// given in 64 bits, for callers whose ends may not fit 32 bits.
QGBox ClipOrdered(const TQGBitmap& bitmap, int64_t x1, int64_t y1, int64_t x2, int64_t y2);
}  // namespace qg

// A transfer of w x h pixels from (sx, sy) in src to (dx, dy) in dest, clipped
// so that both rectangles lie inside their rasters with equal size.
struct QGMove {
  int32_t dx, dy, sx, sy, w, h;
  bool empty() const { return w <= 0 || h <= 0; }
};
QGMove QGCvtMoveXY(const TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h,
                   const TQGBitmap& src, int32_t sx, int32_t sy);
// The same, widened to 4-pixel alignment (left edges down, right edges up to
// a multiple of 4), then limited to the rasters.
QGMove QGCvtBltXY(const TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h,
                  const TQGBitmap& src, int32_t sx, int32_t sy);
