#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "engine/graphics/bitmap.h"
#include "engine/graphics/raster.h"
#include "support/guard.h"

namespace {

// The built-in table, RRGGBB.
constexpr uint32_t kDefaultRgb[256] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0xC0DCC0, 0xA6CAF0, 0x111111, 0x222222, 0x444444, 0x555555, 0x110000, 0x220000,
    0x440000, 0x550000, 0x001100, 0x002200, 0x004400, 0x005500, 0x000011, 0x000022,
    0x000044, 0x000055, 0x0000AA, 0x0000BB, 0x0000DD, 0x330000, 0x660000, 0x990000,
    0xCC0000, 0x003300, 0x333300, 0x663300, 0x993300, 0xCC3300, 0xFF3300, 0x006600,
    0x336600, 0x666600, 0x996600, 0xCC6600, 0xFF6600, 0x009900, 0x339900, 0x669900,
    0x999900, 0xCC9900, 0xFF9900, 0x00CC00, 0x33CC00, 0x66CC00, 0x99CC00, 0xCCCC00,
    0xFFCC00, 0x66FF00, 0x99FF00, 0xCCFF00, 0x000033, 0x330033, 0x660033, 0x990033,
    0xCC0033, 0xFF0033, 0x003333, 0x333333, 0x663333, 0x993333, 0xCC3333, 0xFF3333,
    0x006633, 0x336633, 0x666633, 0x996633, 0xCC6633, 0xFF6633, 0x009933, 0x339933,
    0x669933, 0x999933, 0xCC9933, 0xFF9933, 0x00CC33, 0x33CC33, 0x66CC33, 0x99CC33,
    0xCCCC33, 0xFFCC33, 0x33FF33, 0x66FF33, 0x99FF33, 0xCCFF33, 0xFFFF33, 0x000066,
    0x330066, 0x660066, 0x990066, 0xCC0066, 0xFF0066, 0x003366, 0x333366, 0x663366,
    0x993366, 0xCC3366, 0xFF3366, 0x006666, 0x336666, 0x666666, 0x996666, 0xCC6666,
    0x009966, 0x339966, 0x669966, 0x999966, 0xCC9966, 0xFF9966, 0x00CC66, 0x33CC66,
    0x99CC66, 0xCCCC66, 0xFFCC66, 0x00FF66, 0x33FF66, 0x99FF66, 0xCCFF66, 0xFF00CC,
    0xCC00FF, 0x009999, 0x993399, 0x990099, 0xCC0099, 0x000099, 0x333399, 0x660099,
    0xCC3399, 0xFF0099, 0x006699, 0x336699, 0x663399, 0x996699, 0xCC6699, 0xFF3399,
    0x339999, 0x669999, 0x999999, 0xCC9999, 0xFF9999, 0x00CC99, 0x33CC99, 0x66CC66,
    0x99CC99, 0xCCCC99, 0xFFCC99, 0x00FF99, 0x33FF99, 0x66CC99, 0x99FF99, 0xCCFF99,
    0xFFFF99, 0x0000CC, 0x330099, 0x6600CC, 0x9900CC, 0xCC00CC, 0x003399, 0x3333CC,
    0x6633CC, 0x9933CC, 0xCC33CC, 0xFF33CC, 0x0066CC, 0x3366CC, 0x666699, 0x9966CC,
    0xCC66CC, 0xFF6699, 0x0099CC, 0x3399CC, 0x6699CC, 0x9999CC, 0xCC99CC, 0xFF99CC,
    0x00CCCC, 0x33CCCC, 0x66CCCC, 0x99CCCC, 0xCCCCCC, 0xFFCCCC, 0x00FFCC, 0x33FFCC,
    0x66FF99, 0x99FFCC, 0xCCFFCC, 0xFFFFCC, 0x3300CC, 0x6600FF, 0x9900FF, 0x0033CC,
    0x3333FF, 0x6633FF, 0x9933FF, 0xCC33FF, 0xFF33FF, 0x0066FF, 0x3366FF, 0x6666CC,
    0x9966FF, 0xCC66FF, 0xFF66CC, 0x0099FF, 0x3399FF, 0x6699FF, 0x9999FF, 0xCC99FF,
    0xFF99FF, 0x00CCFF, 0x33CCFF, 0x66CCFF, 0x99CCFF, 0xCCCCFF, 0xFFCCFF, 0x33FFFF,
    0x66FFCC, 0x99FFFF, 0xCCFFFF, 0xFF6666, 0x66FF66, 0xFFFF66, 0x6666FF, 0xFF66FF,
    0x66FFFF, 0x0000EE, 0x00AA00, 0x00BB00, 0x00DD00, 0x00EE00, 0xAA0000, 0xBB0000,
    0xDD0000, 0xEE0000, 0xAAAAAA, 0xBBBBBB, 0xDDDDDD, 0xEEEEEE, 0xFFFBF0, 0xA0A0A4,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

QGPalette makeDefault() {
  QGPalette p{};
  for (int i = 0; i < 256; ++i) {
    p[i].red = static_cast<uint8_t>(kDefaultRgb[i] >> 16);
    p[i].green = static_cast<uint8_t>(kDefaultRgb[i] >> 8);
    p[i].blue = static_cast<uint8_t>(kDefaultRgb[i]);
    p[i].flags = 0;
  }
  return p;
}

QGRgbQuad toQuad(const QGPaletteEntry& e) { return {e.blue, e.green, e.red, 0}; }

}  // namespace

const QGPalette& QGDefaultPalette() {
  static const QGPalette table = makeDefault();
  return table;
}

void QGLoadPal(const uint8_t* table, QGPalette& palette) {
  QGuardVoid("QGLoadPal", [&] {
    if (!table) throw std::invalid_argument("no table");
    std::memcpy(palette.data(), table, sizeof(QGPalette));
  });
}

void QGSetPal(TQGBitmap& bitmap, const QGPalette& p) {
  QGuardVoid("QGSetPal", [&] {
    for (int i = 0; i < 256; ++i) bitmap.colours[i] = toQuad(p[i]);
  });
}

int QGNearColor(QGRgbQuad& colour, const QGPalette& p) {
  return QGuard("QGNearColor", 0, [&] {
    int best = 0;
    int bestDistance = 768;
    for (int i = 0; i < 256; ++i) {
      int d = std::abs(p[i].red - colour.red) + std::abs(p[i].green - colour.green) +
              std::abs(p[i].blue - colour.blue);
      if (d == 0) {
        best = i;
        break;
      }
      if (d < bestDistance) {
        bestDistance = d;
        best = i;
      }
    }
    colour = toQuad(p[best]);
    return best;
  });
}

void QGCvtPal(std::array<QGRgbQuad, 256>& colourTable, TQGBitmap& bitmap, const QGPalette& p) {
  QGuardVoid("QGCvtPal", [&] {
    uint8_t translation[256];
    for (int i = 0; i < 256; ++i) {
      translation[i] = static_cast<uint8_t>(QGNearColor(colourTable[i], p));
      colourTable[i] = toQuad(p[i]);
    }
    qg::RasterLock r(bitmap);
    if (!r.ok()) return;
    uint8_t* px = r.pixels;
    size_t n = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
    for (size_t i = 0; i < n; ++i) px[i] = translation[px[i]];
  });
}

uint32_t QGNoToColor(int index, const QGPalette& p) {
  return QGuard("QGNoToColor", 0u, [&] {
    if (index < 0 || index > 255) throw std::out_of_range("palette index");
    const QGPaletteEntry& e = p[index];
    return static_cast<uint32_t>(e.red) | static_cast<uint32_t>(e.green) << 8 |
           static_cast<uint32_t>(e.blue) << 16 | static_cast<uint32_t>(e.flags) << 24;
  });
}

uint32_t QGClearColor(const QGPalette& p) { return QGNoToColor(kQGClearIndex, p); }
