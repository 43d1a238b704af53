#include "engine/graphics/clip.h"

#include <algorithm>

namespace {

// One axis of QGCvtRectXY: a start and an inclusive end within 0 .. size-1.
void clampAxis(int64_t start, int64_t end, int64_t size, int32_t& outStart, int32_t& outEnd) {
  int64_t last = size - 1;
  if (start < 0) start = 0;
  if (start > last) start = end = last;
  if (end > last) end = last;
  outStart = static_cast<int32_t>(start);
  outEnd = static_cast<int32_t>(std::max<int64_t>(end, -1));
}

QGBox emptyBox() { return {0, 0, -1, -1}; }

// One axis of a transfer: destination start d, source start s, extent n.
void moveAxis(int64_t& d, int64_t& s, int64_t& n, int64_t dSize, int64_t sSize) {
  if (d < 0) {
    s -= d;
    n += d;
    d = 0;
  }
  if (s < 0) {
    d -= s;
    n += s;
    s = 0;
  }
  if (n <= 0) return;
  if (d > dSize - 1) {
    d = dSize - 1;
    n = 1;
  }
  if (s > sSize - 1) {
    s = sSize - 1;
    n = 1;
  }
  n = std::min({n, dSize - d, sSize - s});
}

QGMove emptyMove() { return {0, 0, 0, 0, 0, 0}; }

}  // namespace

QGBox QGCvtRectXY(const TQGBitmap& b, int32_t x, int32_t y, int32_t w, int32_t h) {
  // A rectangle without width or height is empty wherever it starts.
  if (w <= 0 || h <= 0 || b.width() <= 0 || b.height() <= 0) return emptyBox();
  QGBox r;
  clampAxis(x, static_cast<int64_t>(x) + w - 1, b.width(), r.x1, r.x2);
  clampAxis(y, static_cast<int64_t>(y) + h - 1, b.height(), r.y1, r.y2);
  return r;
}

QGBox QGCvtAngleXY(const TQGBitmap& b, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  return qg::ClipOrdered(b, std::min(x1, x2), std::min(y1, y2), std::max(x1, x2),
                         std::max(y1, y2));
}

QGBox qg::ClipOrdered(const TQGBitmap& b, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  if (b.width() <= 0 || b.height() <= 0) return emptyBox();
  QGBox r;
  clampAxis(x1, x2, b.width(), r.x1, r.x2);
  clampAxis(y1, y2, b.height(), r.y1, r.y2);
  return r;
}

QGMove QGCvtMoveXY(const TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h,
                   const TQGBitmap& src, int32_t sx, int32_t sy) {
  if (w <= 0 || h <= 0 || dest.width() <= 0 || dest.height() <= 0 || src.width() <= 0 ||
      src.height() <= 0)
    return emptyMove();
  int64_t ddx = dx, ssx = sx, nw = w, ddy = dy, ssy = sy, nh = h;
  moveAxis(ddx, ssx, nw, dest.width(), src.width());
  moveAxis(ddy, ssy, nh, dest.height(), src.height());
  if (nw <= 0 || nh <= 0) return emptyMove();
  return {static_cast<int32_t>(ddx), static_cast<int32_t>(ddy), static_cast<int32_t>(ssx),
          static_cast<int32_t>(ssy), static_cast<int32_t>(nw), static_cast<int32_t>(nh)};
}

QGMove QGCvtBltXY(const TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h,
                  const TQGBitmap& src, int32_t sx, int32_t sy) {
  QGMove m = QGCvtMoveXY(dest, dx, dy, w, h, src, sx, sy);
  if (m.empty()) return m;
  // Both left edges move by the same amount so that the rectangles stay
  // equal; with equal positions (the usual case) both land on a multiple of 4.
  int32_t shift = std::min(m.dx & 3, m.sx);
  shift = std::min(shift, m.dx);
  m.dx -= shift;
  m.sx -= shift;
  int64_t right = static_cast<int64_t>(m.dx) + m.w + shift;  // exclusive
  right = (right + 3) & ~int64_t{3};
  int64_t n = right - m.dx;
  n = std::min<int64_t>({n, dest.width() - static_cast<int64_t>(m.dx),
                         src.width() - static_cast<int64_t>(m.sx)});
  m.w = static_cast<int32_t>(n);
  return m;
}
