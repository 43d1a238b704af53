// Drawing primitives and the plane-masked operations that emulate writing
// selected bit planes of a 16-colour planar screen on 8-bit pixels.
// Each routine locks the raster, draws and unlocks; nothing happens when the
// raster does not exist. They return false when nothing could be drawn.
#pragma once

#include <cstdint>

#include "engine/graphics/bitmap.h"

bool QGFillRect(TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h, int32_t index);
// Inside the clipped rectangle, pixels equal to oldIndex become newIndex.
bool QGClearRect(TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t newIndex, int32_t oldIndex);
// Outline of the rectangle with corners (x1, y1) and (x2, y2), any order.
bool QGRectAngle(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t index);
bool QGLineTo(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t index);
// Filled disc around (cx, cy) through (px, py) with a border of borderIndex.
bool QGFillCircle(TQGBitmap& bitmap, int32_t cx, int32_t cy, int32_t px, int32_t py,
                  int32_t borderIndex, int32_t fillIndex);

// Plane masks: bits set in mask take the drawing colour's bits, clear bits
// keep the pixel's. Colours are screen colour numbers n, written as 241 - n.
bool QGPlanLine(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t index, int32_t mask);
bool QGPlanRect(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t index, int32_t mask);
bool QGPlanFill(TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h, int32_t index,
                int32_t mask);
bool QGPlanCircle(TQGBitmap& bitmap, int32_t cx, int32_t cy, int32_t px, int32_t py,
                  int32_t borderIndex, int32_t fillIndex, int32_t mask);
bool QGPlanBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy, int32_t mask);

// The circle profile: 1000 * sqrt(1 - (t/1000)^2) rounded, t = 0..1000.
const uint16_t* QGCircleProfile();
