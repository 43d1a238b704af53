#include "engine/graphics/transfer.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/graphics/clip.h"
#include "engine/graphics/raster.h"
#include "support/guard.h"

namespace {

using qg::RasterLock;

constexpr int32_t kLockFailedCode = 9050;

bool isScreen(const TQGBitmap& b) { return b.storage.surface == QGSurface::kScreenBuffer; }
bool isKeyed(int32_t t) { return t >= 0 && t <= 255; }
bool sameStorage(const TQGBitmap& a, const TQGBitmap& b) { return QGSameStorage(a, b); }

// Presents the rectangle widened to 4-pixel columns and limited to the raster.
void presentWidened(const TQGBitmap& dest, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  if (x2 < x1 || y2 < y1) return;
  int64_t left = x1 & ~int64_t{3};
  int64_t right = std::min<int64_t>(((x2 + 4) & ~int64_t{3}) - 1, dest.width() - 1);
  int64_t bottom = std::min<int64_t>(y2, dest.height() - 1);
  QGPresent(dest, {static_cast<int32_t>(std::max<int64_t>(left, 0)), static_cast<int32_t>(y1),
                   static_cast<int32_t>(right), static_cast<int32_t>(bottom)});
}

// One row keyed on k, when the two rows do not overlap: eight pixels a
// step, blended through a mask of the bytes that are not the key (a run of
// key pixels, a text layer's usual content, costs no store).
void keyedRow(uint8_t* to, const uint8_t* from, size_t w, uint8_t k) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  const uint64_t keys = 0x0101010101010101ULL * k;
  size_t i = 0;
  for (; i + 8 <= w; i += 8) {
    uint64_t f;
    std::memcpy(&f, from + i, 8);
    const uint64_t x = f ^ keys;
    // Bit 7 of each byte: set where the byte of x is not zero (not the key).
    const uint64_t notKey = (((x & kLow7) + kLow7) | x) & kHigh;
    if (notKey == 0) continue;
    if (notKey == kHigh) {
      std::memcpy(to + i, &f, 8);
      continue;
    }
    const uint64_t mask = (notKey >> 7) * 0xFF;
    uint64_t t;
    std::memcpy(&t, to + i, 8);
    t = (f & mask) | (t & ~mask);
    std::memcpy(to + i, &t, 8);
  }
  for (; i < w; ++i)
    if (from[i] != k) to[i] = from[i];
}

// Rows top to bottom; each row copied as a whole (memmove keeps a row that
// overlaps itself intact) or pixel by pixel skipping key.
void copyRows(const RasterLock& d, const RasterLock& s, const QGMove& m, int32_t key) {
  // The move is read once: the pixel stores could otherwise alias it.
  const QGMove mv = m;
  if (mv.empty()) return;
  const size_t w = static_cast<size_t>(mv.w);
  for (int32_t row = 0; row < mv.h; ++row) {
    uint8_t* to = d.row(mv.dy + row) + mv.dx;
    const uint8_t* from = s.row(mv.sy + row) + mv.sx;
    if (!isKeyed(key)) {
      std::memmove(to, from, w);
    } else {
      const uint8_t k = static_cast<uint8_t>(key);
      if (to + w <= from || from + w <= to) {
        keyedRow(to, from, w, k);
      } else {
        for (size_t i = 0; i < w; ++i)
          if (from[i] != k) to[i] = from[i];
      }
    }
  }
}

template <class F>
bool transfer(const char* name, TQGBitmap& dest, TQGBitmap& src, F body) {
  return QGuard(name, false, [&] {
    std::this_thread::yield();
    RasterLock d(dest);
    RasterLock s(src, &d);
    if (!d.ok() || !s.ok()) return false;
    return body(d, s);
  });
}

}  // namespace

bool QGmemCopy(TQGBitmap& dest, TQGBitmap& src, int32_t t) {
  return QGuard("QGmemCopy", false, [&] {
    std::this_thread::yield();
    if (!dest.exists() || !src.exists()) return false;
    bool sameSize = dest.width() == src.width() && dest.height() == src.height();
    {
      RasterLock d(dest);
      RasterLock s(src, &d);
      if (!d.ok() || !s.ok()) {
        QGReportFailure(dest.storage.ops ? dest : src, kLockFailedCode);
        return false;
      }
      if (sameSize && d.pixels != s.pixels) {
        size_t n = static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
        if (isScreen(dest) && src.storage.isDisplay()) {
          // The display's whole-surface blit onto the screen buffer is keyed.
          for (size_t i = 0; i < n; ++i)
            if (s.pixels[i] != kQGClearIndex) d.pixels[i] = s.pixels[i];
        } else {
          std::memmove(d.pixels, s.pixels, n);
        }
      }
    }
    if (!sameSize && !QGmemBlt(dest, 0, 0, std::min(dest.width(), src.width()),
                               std::min(dest.height(), src.height()), src, 0, 0, t))
      return false;
    if (isScreen(dest)) presentWidened(dest, 0, 0, dest.width() - 1, dest.height() - 1);
    return true;
  });
}

bool QGmemBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
              int32_t sx, int32_t sy, int32_t t) {
  return transfer("QGmemBlt", dest, src, [&](RasterLock& d, RasterLock& s) {
    QGMove m;
    if (isScreen(dest) && src.storage.isDisplay() && !isScreen(src)) {
      // A page or the text layer onto the screen buffer: the display's blit,
      // aligned to 4 pixels and keyed on the clear colour.
      m = QGCvtBltXY(dest, dx, dy, w, h, src, sx, sy);
      if (!m.empty()) copyRows(d, s, m, kQGClearIndex);
    } else {
      m = QGCvtMoveXY(dest, dx, dy, w, h, src, sx, sy);
      if (!m.empty()) copyRows(d, s, m, t);
    }
    if (!m.empty() && isScreen(dest))
      presentWidened(dest, m.dx, m.dy, int64_t{m.dx} + m.w - 1, int64_t{m.dy} + m.h - 1);
    return true;
  });
}

bool QGmemScratchBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                     TQGBitmap& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t t) {
  return transfer("QGmemScratchBlt", dest, src, [&](RasterLock& d, RasterLock& s) {
    if (dw == 0 || dh == 0 || sw <= 0 || sh <= 0) return true;
    int64_t x1 = dw > 0 ? int64_t{dx} : int64_t{dx} + dw + 1;
    int64_t x2 = dw > 0 ? int64_t{dx} + dw - 1 : int64_t{dx};
    int64_t y1 = dh > 0 ? int64_t{dy} : int64_t{dy} + dh + 1;
    int64_t y2 = dh > 0 ? int64_t{dy} + dh - 1 : int64_t{dy};
    QGBox db = qg::ClipOrdered(dest, x1, y1, x2, y2);
    QGBox sb = qg::ClipOrdered(src, sx, sy, int64_t{sx} + sw - 1, int64_t{sy} + sh - 1);
    if (db.empty() || sb.empty()) return true;
    int64_t dWidth = int64_t{db.x2} - db.x1 + 1, dHeight = int64_t{db.y2} - db.y1 + 1;
    int64_t sWidth = int64_t{sb.x2} - sb.x1 + 1, sHeight = int64_t{sb.y2} - sb.y1 + 1;
    bool keyed = isKeyed(t);
    uint8_t key = static_cast<uint8_t>(t);
    // Source columns per destination column, computed once.
    std::vector<int32_t> columns(static_cast<size_t>(dWidth));
    for (int64_t i = 0; i < dWidth; ++i) {
      int64_t j = i * sWidth / dWidth;
      columns[static_cast<size_t>(i)] = static_cast<int32_t>(dw < 0 ? sb.x2 - j : sb.x1 + j);
    }
    for (int64_t i = 0; i < dHeight; ++i) {
      int64_t k = i * sHeight / dHeight;
      const uint8_t* from = s.row(static_cast<int32_t>(dh < 0 ? sb.y2 - k : sb.y1 + k));
      uint8_t* to = d.row(static_cast<int32_t>(db.y1 + i)) + db.x1;
      for (int64_t x = 0; x < dWidth; ++x) {
        uint8_t p = from[columns[static_cast<size_t>(x)]];
        if (!keyed || p != key) to[x] = p;
      }
    }
    if (isScreen(dest)) presentWidened(dest, db.x1, db.y1, db.x2, db.y2);
    return true;
  });
}

bool QGBackBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy) {
  return transfer("QGBackBlt", dest, src, [&](RasterLock& d, RasterLock& s) {
    bool aligned = (dx & 3) == 0 && (w & 3) == 0 && (sx & 3) == 0 && !sameStorage(dest, src);
    if (aligned && dest.storage.isDisplay() && src.storage.isDisplay()) {
      QGSurface to = dest.storage.surface, from = src.storage.surface;
      bool hardwarePair =
          (to == QGSurface::kScreenBuffer &&
           (from == QGSurface::kPage0 || from == QGSurface::kPage1 || from == QGSurface::kTextLayer)) ||
          (to == QGSurface::kTextLayer && from == QGSurface::kScreenBuffer) ||
          (to == QGSurface::kPage0 && from == QGSurface::kPage1) ||
          (to == QGSurface::kPage1 && from == QGSurface::kPage0);
      if (hardwarePair) {
        QGMove m = QGCvtBltXY(dest, dx, dy, w, h, src, sx, sy);
        if (!m.empty()) copyRows(d, s, m, kQGOpaque);
        return true;
      }
    }
    QGMove m = QGCvtMoveXY(dest, dx, dy, w, h, src, sx, sy);
    if (!m.empty()) copyRows(d, s, m, kQGOpaque);
    return true;
  });
}

bool QGChgeBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy) {
  return transfer("QGChgeBlt", dest, src, [&](RasterLock& d, RasterLock& s) {
    QGMove m = QGCvtMoveXY(dest, dx, dy, w, h, src, sx, sy);
    for (int32_t row = 0; row < m.h; ++row) {
      uint8_t* a = d.row(m.dy + row) + m.dx;
      uint8_t* b = s.row(m.sy + row) + m.sx;
      for (int32_t i = 0; i < m.w; ++i) std::swap(a[i], b[i]);
    }
    return true;
  });
}

bool QGDownBlt(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
               int32_t sx, int32_t sy) {
  return transfer("QGDownBlt", dest, src, [&](RasterLock& d, RasterLock& s) {
    auto start = [](int32_t v, int32_t size) { return std::clamp(v, 0, size - 1); };
    int32_t ddx = start(dx, d.width), ddy = start(dy, d.height);
    int32_t ssx = start(sx, s.width), ssy = start(sy, s.height);
    int32_t n = std::min({w, d.width - ddx, s.width - ssx});
    int32_t rows = std::min({h, d.height - ddy, s.height - ssy});
    for (int32_t row = rows - 1; row >= 0; --row) {
      uint8_t* to = d.row(ddy + row) + ddx;
      const uint8_t* from = s.row(ssy + row) + ssx;
      for (int32_t i = n - 1; i >= 0; --i) to[i] = from[i];
    }
    return true;
  });
}

bool QGXCopy(TQGBitmap& dest, int32_t dx, int32_t dy, int32_t w, int32_t h, TQGBitmap& src,
             int32_t sx, int32_t sy, int32_t t) {
  return transfer("QGXCopy", dest, src, [&](RasterLock& d, RasterLock& s) {
    QGMove m = QGCvtMoveXY(dest, dx, dy, w, h, src, sx, sy);
    if (!m.empty()) copyRows(d, s, m, t);
    return true;
  });
}
