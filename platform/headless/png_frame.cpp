#include "platform/headless/png_frame.h"

#include <array>

#include "platform/png/png_file.h"

bool QDWriteIndexedPng(const std::string& path, const uint8_t* pixels, int width, int height,
                       const uint8_t* palette) {
  if (pixels == nullptr || palette == nullptr || width <= 0 || height <= 0) return false;
  std::array<PngRgb, 256> colours;
  for (int i = 0; i < 256; ++i) colours[i] = {palette[i * 4], palette[i * 4 + 1], palette[i * 4 + 2]};
  return WritePngIndexed(path, width, height, pixels, colours);
}
