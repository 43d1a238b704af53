// An 8-bit indexed picture and its palette written as a palette PNG.
#pragma once

#include <cstdint>
#include <string>

// pixels: width * height indices, rows width bytes apart; palette: 256
// entries of red, green, blue, flags. The file appears whole or not at all
// (written beside it, then renamed). False when it could not be written.
bool QDWriteIndexedPng(const std::string& path, const uint8_t* pixels, int width, int height,
                       const uint8_t* palette);
