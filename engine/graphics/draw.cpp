#include "engine/graphics/draw.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <thread>

#include "engine/graphics/clip.h"
#include "engine/graphics/raster.h"
#include "support/guard.h"

namespace {

using qg::RasterLock;

// ---- shapes: each calls plot(x, y) (circle: plot(x, y, border)) ----------

template <class Plot>
void lineShape(const RasterLock& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2, Plot plot) {
  QGBox box = QGCvtAngleXY(*r.bitmap, x1, y1, x2, y2);
  if (box.empty()) return;
  int64_t xa = y2 < y1 ? x2 : x1;
  int64_t xb = y2 < y1 ? x1 : x2;
  xa = std::clamp<int64_t>(xa, 0, r.width - 1);
  xb = std::max<int64_t>(xb, 0);
  int64_t s = std::min<int64_t>(r.width, xb) < xa ? -1 : 1;
  int64_t nx = int64_t{box.x2} - box.x1 + 1;
  int64_t ny = int64_t{box.y2} - box.y1 + 1;
  auto put = [&](int64_t x, int64_t y) {
    if (x >= 0 && x < r.width && y >= 0 && y < r.height)
      plot(static_cast<int32_t>(x), static_cast<int32_t>(y));
  };
  if (ny - 1 < nx - 1) {
    for (int64_t k = 0; k < nx; ++k) put(xa + s * k, box.y1 + (ny * k) / nx);
  } else {
    for (int64_t y = box.y1; y <= box.y2; ++y) put(xa + (s * nx * (y - box.y1)) / ny, y);
  }
}

template <class Plot>
void outlineShape(const RasterLock& r, int32_t x1, int32_t y1, int32_t x2, int32_t y2, Plot plot) {
  QGBox box = QGCvtAngleXY(*r.bitmap, x1, y1, x2, y2);
  if (box.empty()) return;
  for (int32_t x = box.x1; x <= box.x2; ++x) plot(x, box.y1);
  for (int32_t y = box.y1 + 1; y < box.y2; ++y) {
    plot(box.x1, y);
    if (box.x2 != box.x1) plot(box.x2, y);
  }
  if (box.y2 != box.y1)
    for (int32_t x = box.x1; x <= box.x2; ++x) plot(x, box.y2);
}

template <class Plot>
void circleShape(const RasterLock& r, int32_t cx, int32_t cy, int32_t px, int32_t py, Plot plot) {
  const uint16_t* profile = QGCircleProfile();
  double ddx = static_cast<double>(int64_t{cx} - px);
  double ddy = static_cast<double>(int64_t{cy} - py);
  // nearbyint rounds half to even in the default rounding mode.
  int64_t radius = static_cast<int64_t>(std::nearbyint(std::sqrt(ddx * ddx + ddy * ddy)));
  int64_t last = r.width - 1;
  int64_t left = std::max<int64_t>(int64_t{cx} - radius, 0);
  int64_t right = std::min<int64_t>(int64_t{cx} + radius, last);
  if (left > right) return;
  int64_t rr = radius == 0 ? 1 : radius;
  int64_t maxRow = r.height - 1;

  auto rows = [&](int64_t x, int64_t from, int64_t to, bool border) {
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, maxRow);
    for (int64_t y = from; y <= to; ++y)
      plot(static_cast<int32_t>(x), static_cast<int32_t>(y), border);
  };
  auto sweep = [&](int64_t start, int64_t end, int64_t step) {
    int64_t prevTop = 0, prevBottom = 0;
    bool first = true;
    for (int64_t x = start; step > 0 ? x <= end : x >= end; x += step) {
      int64_t t = std::min<int64_t>(std::abs(x - cx) * 1000 / rr, 1000);
      int64_t hh = profile[t] * rr / 1000;
      int64_t top = cy - hh, bottom = cy + hh;
      if (first) {
        prevTop = top;
        prevBottom = bottom;
        first = false;
      }
      rows(x, prevTop, top, true);
      rows(x, top + 1, cy, false);
      rows(x, cy, bottom - 1, false);
      rows(x, bottom, prevBottom, true);
      prevTop = top;
      prevBottom = bottom;
    }
  };
  sweep(cx < 0 ? 0 : cx, right, 1);
  sweep(cx > last ? last : cx, left, -1);
}

// ---- plane arithmetic -------------------------------------------------------

int clampMask(int32_t mask) { return (mask < 0 || mask > 15) ? 15 : mask; }

// Colour number of a pixel for the line, outline and circle: outside the
// screen colours it counts as 15.
int colourOrFifteen(uint8_t p) { return (p >= 226 && p <= 241) ? 241 - p : 15; }
// Colour number for fills and plane transfers: 241 - p as a signed byte,
// clamped into 0..15.
int colourClamped(uint8_t p) {
  int v = static_cast<int8_t>(static_cast<uint8_t>(241 - p));
  return std::clamp(v, 0, 15);
}
uint8_t planeMix(int mask, int colour, int old) {
  int n = (mask & colour) | ((15 - mask) & old);
  return static_cast<uint8_t>(241 - n);
}

template <class F>
bool drawing(const char* name, TQGBitmap& bitmap, F body) {
  return QGuard(name, false, [&] {
    std::this_thread::yield();
    RasterLock r(bitmap);
    if (!r.ok()) return false;
    body(r);
    return true;
  });
}

}  // namespace

const uint16_t* QGCircleProfile() {
  static const auto table = [] {
    std::array<uint16_t, 1001> t{};
    for (int i = 0; i <= 1000; ++i)
      t[i] = static_cast<uint16_t>(std::lround(std::sqrt(1000000.0 - double(i) * i)));
    return t;
  }();
  return table.data();
}

bool QGFillRect(TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h, int32_t index) {
  return drawing("QGFillRect", bitmap, [&](RasterLock& r) {
    QGBox box = QGCvtRectXY(bitmap, x, y, w, h);
    if (box.empty()) return;
    size_t n = static_cast<size_t>(box.x2 - box.x1 + 1);
    for (int32_t yy = box.y1; yy <= box.y2; ++yy)
      std::memset(r.row(yy) + box.x1, static_cast<uint8_t>(index), n);
  });
}

bool QGClearRect(TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h,
                 int32_t newIndex, int32_t oldIndex) {
  return drawing("QGClearRect", bitmap, [&](RasterLock& r) {
    QGBox box = QGCvtRectXY(bitmap, x, y, w, h);
    if (box.empty()) return;
    uint8_t from = static_cast<uint8_t>(oldIndex), to = static_cast<uint8_t>(newIndex);
    for (int32_t yy = box.y1; yy <= box.y2; ++yy) {
      uint8_t* row = r.row(yy);
      for (int32_t xx = box.x1; xx <= box.x2; ++xx)
        if (row[xx] == from) row[xx] = to;
    }
  });
}

bool QGRectAngle(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                 int32_t index) {
  return drawing("QGRectAngle", bitmap, [&](RasterLock& r) {
    uint8_t v = static_cast<uint8_t>(index);
    outlineShape(r, x1, y1, x2, y2, [&](int32_t x, int32_t y) { r.row(y)[x] = v; });
  });
}

bool QGLineTo(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t index) {
  return drawing("QGLineTo", bitmap, [&](RasterLock& r) {
    uint8_t v = static_cast<uint8_t>(index);
    lineShape(r, x1, y1, x2, y2, [&](int32_t x, int32_t y) { r.row(y)[x] = v; });
  });
}

bool QGFillCircle(TQGBitmap& bitmap, int32_t cx, int32_t cy, int32_t px, int32_t py,
                  int32_t borderIndex, int32_t fillIndex) {
  return drawing("QGFillCircle", bitmap, [&](RasterLock& r) {
    uint8_t border = static_cast<uint8_t>(borderIndex), fill = static_cast<uint8_t>(fillIndex);
    circleShape(r, cx, cy, px, py,
                [&](int32_t x, int32_t y, bool isBorder) { r.row(y)[x] = isBorder ? border : fill; });
  });
}

bool QGPlanLine(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t index, int32_t mask) {
  return drawing("QGPlanLine", bitmap, [&](RasterLock& r) {
    int m = clampMask(mask), c = 241 - index;
    lineShape(r, x1, y1, x2, y2, [&](int32_t x, int32_t y) {
      uint8_t& p = r.row(y)[x];
      p = planeMix(m, c, colourOrFifteen(p));
    });
  });
}

bool QGPlanRect(TQGBitmap& bitmap, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                int32_t index, int32_t mask) {
  return drawing("QGPlanRect", bitmap, [&](RasterLock& r) {
    int m = clampMask(mask), c = 241 - index;
    outlineShape(r, x1, y1, x2, y2, [&](int32_t x, int32_t y) {
      uint8_t& p = r.row(y)[x];
      p = planeMix(m, c, colourOrFifteen(p));
    });
  });
}

bool QGPlanFill(TQGBitmap& bitmap, int32_t x, int32_t y, int32_t w, int32_t h, int32_t index,
                int32_t mask) {
  return drawing("QGPlanFill", bitmap, [&](RasterLock& r) {
    QGBox box = QGCvtRectXY(bitmap, x, y, w, h);
    if (box.empty()) return;
    int m = clampMask(mask), c = 241 - index;
    for (int32_t yy = box.y1; yy <= box.y2; ++yy) {
      uint8_t* row = r.row(yy);
      for (int32_t xx = box.x1; xx <= box.x2; ++xx) row[xx] = planeMix(m, c, colourClamped(row[xx]));
    }
  });
}

bool QGPlanCircle(TQGBitmap& bitmap, int32_t cx, int32_t cy, int32_t px, int32_t py,
                  int32_t borderIndex, int32_t fillIndex, int32_t mask) {
  return drawing("QGPlanCircle", bitmap, [&](RasterLock& r) {
    int m = clampMask(mask), border = 241 - borderIndex, fill = 241 - fillIndex;
    circleShape(r, cx, cy, px, py, [&](int32_t x, int32_t y, bool isBorder) {
      uint8_t& p = r.row(y)[x];
      p = planeMix(m, isBorder ? border : fill, colourOrFifteen(p));
    });
  });
}

bool QGPlanBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy, int32_t mask) {
  return QGuard("QGPlanBlt", false, [&] {
    std::this_thread::yield();
    RasterLock d(dest);
    RasterLock s(src, &d);
    if (!d.ok() || !s.ok()) return false;
    QGMove mv = QGCvtMoveXY(dest, dx, dy, w, h, src, sx, sy);
    if (mv.empty()) return true;
    int m = clampMask(mask);
    for (int32_t row = 0; row < mv.h; ++row) {
      uint8_t* to = d.row(mv.dy + row) + mv.dx;
      const uint8_t* from = s.row(mv.sy + row) + mv.sx;
      for (int32_t i = 0; i < mv.w; ++i) to[i] = planeMix(m, colourClamped(from[i]), colourClamped(to[i]));
    }
    return true;
  });
}
