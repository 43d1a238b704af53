// Reading and writing PNG files: 8-bit indexed pictures with a 256-entry
// palette, and plain RGB.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct PngRgb {
  uint8_t red, green, blue;
  bool operator==(const PngRgb&) const = default;
};

struct PngImage {
  int width = 0;
  int height = 0;
  std::vector<PngRgb> pixels;  // rows top-down
  const PngRgb& at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Writes width x height palette indices (rows top-down, no padding) with the
// palette. error receives libpng's message on failure.
bool WritePngIndexed(const std::string& path, int width, int height, const uint8_t* pixels,
                     const std::array<PngRgb, 256>& palette, std::string* error = nullptr);
bool WritePngRgb(const std::string& path, const PngImage& image, std::string* error = nullptr);
// Reads any PNG as 8-bit RGB (palette, grey and 16-bit samples expanded,
// alpha dropped).
bool ReadPngRgb(const std::string& path, PngImage& image, std::string* error = nullptr);
