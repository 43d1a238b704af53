// Small encoders for the picture formats, written from the formats' layout,
// so that tests can build inputs no one else has made (PHO, COM) or that
// exercise one corner of a decoder (MAG), plus raster helpers.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/graphics/bitmap.h"

namespace gtest_pictures {

// A raster's pixels, row by row (copied out of the bitmap).
std::vector<uint8_t> Pixels(const TQGBitmap& b);
uint8_t At(const TQGBitmap& b, int x, int y);
// A memory raster of w x h filled with index.
void MakeRaster(TQGBitmap& b, int w, int h, uint8_t index);

// ---- MAG ----
struct MagInput {
  uint8_t mode = 0;  // header byte 3: 0x80 256 colours, 0x02 8 colours, 0 16 colours
  uint16_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  std::vector<uint8_t> paletteGrb;          // colours x 3 bytes, green, red, blue
  std::vector<std::vector<uint8_t>> flags;  // per line: the F flag bytes of that line
  std::vector<uint8_t> pixelData;           // the units of nibble 0, 2 bytes each
  int cutPixelData = 0;                     // bytes dropped from the end of the file
  bool understatePixelSize = false;         // header claims 1 byte of pixel data
};
std::vector<uint8_t> EncodeMag(const MagInput& in);
// A picture whose every unit is new pixel data: values (one per pixel) of a
// bitmap already 8F (or 4F) wide.
MagInput LiteralMag(uint8_t mode, uint16_t x0, uint16_t y0, int bitmapWidth, int pictureWidth,
                    int height, const std::vector<uint8_t>& values, int colours);

// ---- PHO ----
// colour numbers 0..7 of 640 x 400 pixels.
std::vector<uint8_t> EncodePho(const std::vector<uint8_t>& colours);

// ---- COM ----
struct ComInput {
  bool coded = false;
  bool noPicture = false;  // header 04 00
  uint8_t byte3 = 0;       // 1: planes start filled with 0xFF
  uint16_t start = 0;      // start address in an 80-byte plane row
  uint16_t rowLength = 0;  // bytes per plane row
  uint16_t rows = 0;
  std::array<uint8_t, 48> colours{};
  // colour numbers 0..15, rowLength*8 x rows
  std::vector<uint8_t> pixels;
  int cutData = 0;  // bytes dropped from the end of the file
};
std::vector<uint8_t> EncodeCom(const ComInput& in);

}  // namespace gtest_pictures
