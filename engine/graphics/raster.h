// Locking a raster for drawing: the lock is released at the end of the
// scope, also when the drawing throws. A raster whose size does not fit its
// storage is treated as absent, so no routine can write outside the block.
#pragma once

#include <cstdint>

#include "engine/graphics/bitmap.h"

namespace qg {

class RasterLock {
 public:
  // A second lock of the same record reuses the first one's address.
  explicit RasterLock(TQGBitmap& bitmap, const RasterLock* sameAs = nullptr);
  ~RasterLock();
  RasterLock(const RasterLock&) = delete;
  RasterLock& operator=(const RasterLock&) = delete;

  bool ok() const { return pixels != nullptr; }
  uint8_t* row(int32_t y) const { return pixels + static_cast<int64_t>(y) * width; }

  TQGBitmap* bitmap;
  uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;

 private:
  bool owner_ = false;
};

// True when the record has storage and a sane size (no lock taken).
bool UsableRaster(const TQGBitmap& bitmap);

}  // namespace qg
