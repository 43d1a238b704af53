// MAG ("MAKI02") pictures: flag A selects which flag bytes of a line change
// (XORed with flag B), each flag nibble either takes the next two bytes of
// pixel data or copies a unit from a fixed position in the last 16 lines.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/graphics/loader_file.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/raster.h"
#include "support/guard.h"
#include "support/trace.h"

namespace {

constexpr int kRingLines = 17;
// Readers may run this far past the data a header declares: those bytes read
// as zeros, as the declared areas are followed by zero spare room.
constexpr uint64_t kSpareBytes = 4048;

constexpr int kCopyDx[16] = {0, 1, 2, 4, 0, 1, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0};
constexpr int kCopyDy[16] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 8, 16};

struct DataRunsOut : std::runtime_error {
  DataRunsOut() : std::runtime_error("MAG data runs out") {}
};

// One declared area of the file: bytes inside the file read as stored, the
// rest of the area and its spare room as zeros; past that the data has run out.
class Area {
 public:
  Area(ByteView file, uint64_t offset, uint64_t declared) : file_(file), offset_(offset) {
    limit_ = declared + kSpareBytes;
    present_ = offset < file.size() ? std::min<uint64_t>(declared, file.size() - offset) : 0;
  }
  uint8_t next() {
    if (pos_ >= limit_) throw DataRunsOut();
    uint64_t p = pos_++;
    return p < present_ ? file_.u8(static_cast<size_t>(offset_ + p)) : 0;
  }

 private:
  ByteView file_;
  uint64_t offset_;
  uint64_t limit_ = 0;
  uint64_t present_ = 0;
  uint64_t pos_ = 0;
};

struct MagHeader {
  uint64_t start;  // H
  int colours;     // 16, 8 or 256
  int32_t x0, y0, width, height;
  uint64_t flagA, flagB, flagBSize, pixel, pixelSize;
};

// False (no trace: these are the ordinary "not a MAG picture" answers) when
// the signature is wrong or the header or palette are cut short.
bool readHeader(ByteView f, MagHeader& m) {
  static const char kSignature[8] = {'M', 'A', 'K', 'I', '0', '2', ' ', ' '};
  if (!f.has(0, 8) || std::memcmp(f.data(), kSignature, 8) != 0) return false;
  size_t h = 8;
  while (h < f.size() && f.u8(h) != 0) ++h;
  if (!f.has(h, 32)) return false;
  m.start = h;
  uint8_t mode = f.u8(h + 3);
  m.colours = (mode & 0x80) ? 256 : (mode & 0x02) ? 8 : 16;
  int32_t x0 = f.u16le(h + 4), y0 = f.u16le(h + 6);
  int32_t x1 = f.u16le(h + 8), y1 = f.u16le(h + 10);
  m.flagA = f.u32le(h + 12);
  m.flagB = f.u32le(h + 16);
  m.flagBSize = f.u32le(h + 20);
  m.pixel = f.u32le(h + 24);
  m.pixelSize = f.u32le(h + 28);
  m.x0 = x0;
  m.y0 = y0;
  m.width = x1 - x0 + 1;
  m.height = std::max(y1 - y0 + 1, 1);
  return f.has(h + 32, static_cast<size_t>(m.colours) * 3);
}

}  // namespace

bool MagDecode(ByteView f, TQGBitmap& bitmap) {
  bool ok = QGuard("MagLoad", false, [&] {
    QGFreeBitmap(bitmap);
    MagHeader m{};
    if (!readHeader(f, m)) return false;
    bool wide = m.colours == 256;
    int64_t flagBytes = wide ? ((m.x0 % 4) + int64_t{m.width} + 3) / 4
                             : ((m.x0 % 8) + int64_t{m.width} + 7) / 8;
    if (flagBytes <= 0 || m.flagB < m.flagA) throw std::runtime_error("MAG header out of range");
    const int32_t F = static_cast<int32_t>(flagBytes);
    const int32_t U = 2 * F;
    const int32_t pixelsPerUnit = wide ? 2 : 4;
    if (!QGClearBitmap(U * pixelsPerUnit, m.height, bitmap)) return false;
    bitmap.originX = static_cast<uint16_t>(m.x0);
    bitmap.originY = static_cast<uint16_t>(m.y0);

    // Palette: green, red, blue per entry.
    ByteView palette = f.sub(static_cast<size_t>(m.start + 32), static_cast<size_t>(m.colours) * 3);
    for (int i = 0; i < m.colours; ++i)
      bitmap.colours[i] = {palette.u8(i * 3 + 2), palette.u8(i * 3), palette.u8(i * 3 + 1), 0};

    uint64_t flagASize = m.flagB - m.flagA;
    Area flagA(f, m.start + m.flagA, flagASize);
    Area flagB(f, m.start + m.flagB, m.flagBSize + 1);
    Area data(f, m.start + m.pixel, m.pixelSize + 1);
    uint64_t guard = std::max<uint64_t>((flagASize + m.height - 1) / m.height + 1, 10);

    std::vector<uint8_t> line(static_cast<size_t>(F), 0);
    std::vector<uint16_t> ring(static_cast<size_t>(kRingLines) * U, 0);
    uint8_t bits = 0;
    int bitsLeft = 0;
    qg::RasterLock r(bitmap);
    if (!r.ok()) return false;
    for (int32_t y = 0; y < m.height; ++y) {
      // a. flag A bits choose the flag bytes that change on this line.
      uint64_t bytesThisLine = 0;
      for (int32_t i = 0; i < F; ++i) {
        if (bitsLeft == 0) {
          if (bytesThisLine >= guard) break;
          bits = flagA.next();
          bitsLeft = 8;
          ++bytesThisLine;
        }
        bool set = bits & 0x80;
        bits = static_cast<uint8_t>(bits << 1);
        --bitsLeft;
        if (set) line[i] ^= flagB.next();
      }
      // b, c. units: new pixel data or a copy from the ring.
      uint16_t* slot = &ring[static_cast<size_t>(y % kRingLines) * U];
      uint8_t* out = r.row(y);
      for (int32_t u = 0; u < U; ++u) {
        uint8_t flags = line[u / 2];
        int nibble = (u % 2 == 0) ? flags >> 4 : flags & 0x0F;
        uint16_t unit;
        if (nibble == 0) {
          uint8_t hi = data.next();
          uint8_t lo = data.next();
          unit = static_cast<uint16_t>(hi << 8 | lo);
        } else {
          int sy = ((y - kCopyDy[nibble]) % kRingLines + kRingLines) % kRingLines;
          int sx = ((u - kCopyDx[nibble]) % U + U) % U;
          unit = ring[static_cast<size_t>(sy) * U + sx];
        }
        slot[u] = unit;
        uint8_t b0 = static_cast<uint8_t>(unit >> 8), b1 = static_cast<uint8_t>(unit);
        if (wide) {
          out[u * 2] = b0;
          out[u * 2 + 1] = b1;
        } else {
          uint8_t* p = out + u * 4;
          p[0] = b0 >> 4;
          p[1] = b0 & 0x0F;
          p[2] = b1 >> 4;
          p[3] = b1 & 0x0F;
        }
      }
    }
    return true;
  });
  if (!ok) QGFreeBitmap(bitmap);
  return ok;
}

int QGMagPlace(int colour) {
  if (colour <= 214) return 241 - colour;
  if (colour <= 239) return 243;
  return 266 - colour;
}

void MagCVTPal(std::array<QGRgbQuad, 256>& colourTable, TQGBitmap& bitmap, const QGPalette& current) {
  QGuardVoid("MagCVTPal", [&] {
    uint8_t place[256];
    for (int i = 0; i < 256; ++i) place[i] = static_cast<uint8_t>(QGMagPlace(i));
    std::array<QGRgbQuad, 256> picture = colourTable;
    for (int i = 0; i < 256; ++i) colourTable[place[i]] = picture[i];
    auto fromCurrent = [&](int i) {
      colourTable[i] = {current[i].blue, current[i].green, current[i].red, 0};
    };
    for (int i = 0; i <= 10; ++i) fromCurrent(i);
    for (int i = 242; i <= 255; ++i) fromCurrent(i);
    qg::RasterLock r(bitmap);
    if (!r.ok()) return;
    size_t n = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
    for (size_t i = 0; i < n; ++i) r.pixels[i] = place[r.pixels[i]];
  });
}

bool MagLoadBytes(ByteView file, TQGBitmap& bitmap, int32_t paletteMode) {
  return QGuard("MagLoad", false, [&] {
    if (!MagDecode(file, bitmap)) return false;
    if (paletteMode == 1)
      MagCVTPal(bitmap.colours, bitmap);
    else
      QGCvtPal(bitmap.colours, bitmap);
    return true;
  });
}

bool MagLoad(const std::string& fileName, TQGBitmap& bitmap, int32_t paletteMode) {
  return QGuard("MagLoad", false, [&] {
    QGFreeBitmap(bitmap);
    return qg::WithFileBytes(fileName, 501,
                             [&](ByteView f) { return MagLoadBytes(f, bitmap, paletteMode); });
  });
}
