// 8-bit BMP pictures. The reader takes what real files carry: rows padded to
// a multiple of 4 bytes, bottom-up and top-down row order, RLE8, OS/2 and
// Windows headers of every size, and palettes shorter than 256 entries.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/graphics/loader_file.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/raster.h"
#include "engine/graphics/transfer.h"
#include "platform/message_box.h"
#include "support/guard.h"

namespace {

constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;

struct DibInfo {
  int32_t width = 0;
  int32_t height = 0;  // rows, positive
  bool topDown = false;
  uint32_t compression = kRgb;
  uint32_t paletteOffset = 0;
  uint32_t paletteEntries = 0;
  uint32_t entrySize = 4;
  uint32_t pixelOffset = 0;
};

// False when the file is not an 8-bit BMP this reader can take.
bool readInfo(ByteView f, DibInfo& info) {
  if (!f.has(0, 18) || f.u8(0) != 'B' || f.u8(1) != 'M') return false;
  info.pixelOffset = f.u32le(10);
  uint32_t headerSize = f.u32le(14);
  if (headerSize < 12 || !f.has(14, headerSize)) return false;
  uint16_t bitCount;
  uint32_t colorsUsed = 0;
  int64_t height;
  if (headerSize == 12) {  // OS/2 1.x: 16-bit sizes, 3-byte palette entries
    info.width = f.u16le(18);
    height = f.u16le(20);
    bitCount = f.u16le(24);
    info.entrySize = 3;
  } else if (headerSize >= 16) {
    info.width = static_cast<int32_t>(f.u32le(18));
    height = static_cast<int32_t>(f.u32le(22));
    bitCount = f.u16le(28);
    if (headerSize >= 20) info.compression = f.u32le(30);
    if (headerSize >= 36) colorsUsed = f.u32le(46);
  } else {
    return false;
  }
  if (bitCount != 8 || (info.compression != kRgb && info.compression != kRle8)) return false;
  if (info.width <= 0 || height == 0) return false;
  info.topDown = height < 0;
  height = height < 0 ? -height : height;
  // Top-down pictures cannot be compressed.
  if (info.topDown && info.compression != kRgb) return false;
  if (static_cast<uint64_t>(info.width) * static_cast<uint64_t>(height) > kQGMaxPixels)
    return false;
  info.height = static_cast<int32_t>(height);

  info.paletteOffset = 14 + headerSize;
  if (info.pixelOffset < info.paletteOffset || info.pixelOffset > f.size()) return false;
  uint32_t room = (info.pixelOffset - info.paletteOffset) / info.entrySize;
  uint32_t wanted = colorsUsed == 0 ? 256u : std::min<uint32_t>(colorsUsed, 256u);
  info.paletteEntries = std::min(room, wanted);
  return true;
}

// Rows as stored, each padded to a multiple of 4 bytes; raster row 0 is the
// picture's bottom row. Rows missing from a short file stay 0.
void readRows(ByteView f, const DibInfo& info, const qg::RasterLock& r) {
  uint64_t stride = (static_cast<uint64_t>(info.width) + 3) & ~uint64_t{3};
  for (int32_t i = 0; i < info.height; ++i) {
    uint64_t at = info.pixelOffset + stride * static_cast<uint64_t>(i);
    if (at >= f.size()) break;
    size_t n = static_cast<size_t>(std::min<uint64_t>(info.width, f.size() - at));
    int32_t row = info.topDown ? info.height - 1 - i : i;
    std::memcpy(r.row(row), f.data() + at, n);
  }
}

// RLE8: (count, value) runs; 0 0 ends a line, 0 1 ends the picture, 0 2 dx dy
// moves, 0 n (n >= 3) gives n literal bytes padded to an even count. Pixels
// outside the picture are dropped; skipped pixels stay 0.
void readRle8(ByteView f, const DibInfo& info, const qg::RasterLock& r) {
  size_t pos = info.pixelOffset;
  int64_t x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < info.width && y < info.height) r.row(static_cast<int32_t>(y))[x] = v;
    ++x;
  };
  while (y < info.height && f.has(pos, 2)) {
    uint8_t count = f.u8(pos), value = f.u8(pos + 1);
    pos += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(value);
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      break;
    } else if (value == 2) {
      if (!f.has(pos, 2)) break;
      x += f.u8(pos);
      y += f.u8(pos + 1);
      pos += 2;
    } else {
      if (!f.has(pos, value)) break;
      for (int i = 0; i < value; ++i) put(f.u8(pos + i));
      pos += value + (value & 1);
    }
  }
}

void refuse(MessageSink* messages) {
  QDMessageBox(messages, kQGLoadFailCaption, kQGBmpNot256Text, MessageIcon::Information);
}

}  // namespace

bool QGameDIBLoadBytes(ByteView f, TQGBitmap& bitmap, MessageSink* messages) {
  bool ok = QGuard("QGameDIBLoad", false, [&] {
    QGFreeBitmap(bitmap);
    DibInfo info;
    if (!readInfo(f, info)) {
      refuse(messages);
      return false;
    }
    if (!QGClearBitmap(info.width, info.height, bitmap)) return false;
    for (uint32_t i = 0; i < 256; ++i) {
      if (i < info.paletteEntries) {
        size_t at = info.paletteOffset + i * info.entrySize;
        bitmap.colours[i] = {f.u8(at), f.u8(at + 1), f.u8(at + 2), 0};
      } else {
        bitmap.colours[i] = {0, 0, 0, 0};
      }
    }
    {
      qg::RasterLock r(bitmap);
      if (!r.ok()) return false;
      if (info.compression == kRle8)
        readRle8(f, info, r);
      else
        readRows(f, info, r);
    }
    QGCvtPal(bitmap.colours, bitmap);
    return true;
  });
  if (!ok) QGFreeBitmap(bitmap);
  return ok;
}

bool QGameDIBLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages) {
  return QGuard("QGameDIBLoad", false, [&] {
    QGFreeBitmap(bitmap);
    return qg::WithFileBytes(fileName, 504,
                             [&](ByteView f) { return QGameDIBLoadBytes(f, bitmap, messages); });
  });
}

bool QGameBMPLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages) {
  return QGuard("QGameBMPLoad", false, [&] {
    if (!QGameDIBLoad(fileName, bitmap, messages)) return false;
    TQGBitmap flipped;
    struct Freer {
      TQGBitmap& b;
      ~Freer() { QGFreeBitmap(b); }
    } freer{flipped};
    int32_t w = bitmap.width(), h = bitmap.height();
    if (!QGClearBitmap(w, h, flipped)) return false;
    if (!QGmemScratchBlt(flipped, 0, h - 1, w, -h, bitmap, 0, 0, w, h, kQGOpaque)) return false;
    return QGmemCopy(bitmap, flipped, kQGOpaque);
  });
}
