// A MAG ("MAKI02") encoder for 16-colour pictures: the format the WRD
// scripts of the era use for their pictures. Used to author the demo's
// picture and to give the decoder pictures it did not make itself.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

struct MagPicture {
  int width = 0;   // a multiple of 8
  int height = 0;
  std::vector<uint8_t> pixels;                    // colour numbers 0..15, row by row
  std::array<std::array<uint8_t, 3>, 16> rgb{};  // red, green, blue per colour
};

// The whole file: signature, machine code, user name and comment, header,
// palette, flag A, flag B and pixel data.
std::vector<uint8_t> EncodeMag16(const MagPicture& picture, std::string_view user,
                                 std::string_view comment);
