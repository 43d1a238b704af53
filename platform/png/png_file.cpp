#include "platform/png/png_file.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

bool fail(png_image& image, std::string* error) {
  if (error) *error = image.message;
  png_image_free(&image);
  return false;
}

// Writes beside the target and renames, so that a reader (or a crash) never
// sees half a picture.
bool writeWhole(png_image& image, const std::string& path, const void* pixels, int rowBytes,
                const void* colormap, std::string* error) {
  const std::string part = path + ".part";
  if (!png_image_write_to_file(&image, part.c_str(), 0, pixels, rowBytes, colormap)) {
    std::remove(part.c_str());
    return fail(image, error);
  }
  std::error_code ec;
  std::filesystem::rename(part, path, ec);
  if (!ec) return true;
  std::remove(part.c_str());
  if (error) *error = ec.message();
  return false;
}

}  // namespace

bool WritePngIndexed(const std::string& path, int width, int height, const uint8_t* pixels,
                     const std::array<PngRgb, 256>& palette, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = 256;
  uint8_t colormap[256 * 3];
  for (int i = 0; i < 256; ++i) {
    colormap[i * 3] = palette[i].red;
    colormap[i * 3 + 1] = palette[i].green;
    colormap[i * 3 + 2] = palette[i].blue;
  }
  return writeWhole(image, path, pixels, width, colormap, error);
}

bool WritePngRgb(const std::string& path, const PngImage& source, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(source.width);
  image.height = static_cast<png_uint_32>(source.height);
  image.format = PNG_FORMAT_RGB;
  return writeWhole(image, path, source.pixels.data(), source.width * 3, nullptr, error);
}

bool ReadPngRgb(const std::string& path, PngImage& out, std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return fail(image, error);
  image.format = PNG_FORMAT_RGB;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.pixels.assign(static_cast<size_t>(out.width) * out.height, PngRgb{});
  if (!png_image_finish_read(&image, nullptr, out.pixels.data(), out.width * 3, nullptr))
    return fail(image, error);
  return true;
}
