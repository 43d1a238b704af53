#include "platform/headless/png_frame.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

bool QDWriteIndexedPng(const std::string& path, const uint8_t* pixels, int width, int height,
                       const uint8_t* palette) {
  if (pixels == nullptr || palette == nullptr || width <= 0 || height <= 0) return false;
  uint8_t colormap[256 * 3];
  for (int i = 0; i < 256; ++i) std::memcpy(colormap + i * 3, palette + i * 4, 3);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = 256;
  const std::string part = path + ".part";
  if (png_image_write_to_file(&image, part.c_str(), 0, pixels, width, colormap) == 0) {
    png_image_free(&image);
    std::remove(part.c_str());
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(part, path, ec);
  if (ec) std::remove(part.c_str());
  return !ec;
}
