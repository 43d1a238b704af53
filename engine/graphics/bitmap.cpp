#include "engine/graphics/bitmap.h"

#include <cstring>
#include <stdexcept>

#include "engine/graphics/raster.h"
#include "support/guard.h"
#include "support/tracked_memory.h"

namespace {

constexpr int32_t kTagBitmapPixels = 302;
constexpr int32_t kTagBitmapFree = 303;

}  // namespace

void QGFillBmpHeaders(TQGBitmap& b, int32_t width, int32_t height) {
  uint32_t pixels = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
  b.fileHeader = {};
  b.fileHeader.type[0] = 'B';
  b.fileHeader.type[1] = 'M';
  b.fileHeader.size = kQGBmpPixelOffset + pixels;
  b.fileHeader.offBits = kQGBmpPixelOffset;
  b.infoHeader = {};
  b.infoHeader.size = 40;
  b.infoHeader.width = width;
  b.infoHeader.height = height;
  b.infoHeader.planes = 1;
  b.infoHeader.bitCount = 8;
  b.infoHeader.sizeImage = pixels;
  b.pixelBytes = pixels;
}

bool QGClearBitmap(int32_t width, int32_t height, TQGBitmap& b) {
  return QGuard("QGClearBitmap", false, [&] {
    if (b.storage.isDisplay()) throw std::logic_error("a display surface is not remade here");
    QGFreeBitmap(b);
    b.base = nullptr;
    b.storage = {};
    if (width <= 0 || height <= 0 ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kQGMaxPixels) {
      QGTrText("QGClearBitmap");
      return false;
    }
    QGFillBmpHeaders(b, width, height);
    void* block = QGGlobalAlloc(kTagBitmapPixels, GHND, b.pixelBytes);
    if (!block) return false;
    b.storage.block = block;
    b.storage.size = b.pixelBytes;
    b.storage.surface = QGSurface::kMemory;
    QGSetPal(b);
    b.base = QDLock(b);
    QDUnLock(b);
    return b.base != nullptr;
  });
}

void QGFreeBitmap(TQGBitmap& b) {
  QGuardVoid("QGFreeBitmap", [&] {
    if (b.storage.isDisplay()) return;
    if (b.storage.block) QGGlobalFree(kTagBitmapFree, b.storage.block);
    b.platformBitmap = nullptr;
    b.base = nullptr;
    b.lock = nullptr;
    b.storage = {};
  });
}

uint8_t* QDLock(TQGBitmap& b) {
  return QGuard("QDLock", static_cast<uint8_t*>(nullptr), [&]() -> uint8_t* {
    if (b.storage.isDisplay()) {
      QGSurfaceOps* ops = b.storage.ops;
      b.lock = ops ? ops->lock(b) : nullptr;
      return b.lock;
    }
    b.lock = static_cast<uint8_t*>(b.storage.block);
    return b.lock;
  });
}

bool QDUnLock(TQGBitmap& b) {
  return QGuard("QDUnLock", false, [&] {
    if (b.storage.isDisplay()) {
      QGSurfaceOps* ops = b.storage.ops;
      bool ok = ops && ops->unlock(b);
      b.lock = nullptr;
      return ok;
    }
    return b.storage.block != nullptr;
  });
}

void QGPresent(const TQGBitmap& screen, const QGRect& rect) {
  if (QGSurfaceOps* ops = screen.storage.ops) ops->present(rect);
}

void QGReportFailure(const TQGBitmap& raster, int32_t resultCode) {
  if (QGSurfaceOps* ops = raster.storage.ops) ops->failed(resultCode);
}

bool QGSameStorage(const TQGBitmap& a, const TQGBitmap& b) {
  if (&a == &b) return true;
  if (a.storage.isDisplay() || b.storage.isDisplay())
    return a.storage.surface == b.storage.surface && a.storage.ops == b.storage.ops;
  return a.storage.block != nullptr && a.storage.block == b.storage.block;
}

namespace qg {

bool UsableRaster(const TQGBitmap& b) {
  if (!b.base) return false;
  int64_t w = b.infoHeader.width, h = b.infoHeader.height;
  return w > 0 && h > 0 && static_cast<uint64_t>(w * h) <= b.storage.size;
}

RasterLock::RasterLock(TQGBitmap& b, const RasterLock* sameAs) : bitmap(&b) {
  if (sameAs && sameAs->bitmap == &b) {
    pixels = sameAs->pixels;
    width = sameAs->width;
    height = sameAs->height;
    return;
  }
  if (!UsableRaster(b)) return;
  uint8_t* p = QDLock(b);
  if (!p) return;
  owner_ = true;
  pixels = p;
  width = b.infoHeader.width;
  height = b.infoHeader.height;
}

RasterLock::~RasterLock() {
  if (owner_) QDUnLock(*bitmap);
}

}  // namespace qg
