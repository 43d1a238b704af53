#include "tools/mag_encoder.h"

#include <stdexcept>
#include <string>

namespace {

// Where each flag nibble copies its unit from: units to the left, lines up.
constexpr int kDx[16] = {0, 1, 2, 4, 0, 1, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0};
constexpr int kDy[16] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 8, 16};
// Nearer references first: they repeat most often in drawn pictures.
constexpr int kSearchOrder[15] = {1, 4, 5, 6, 7, 9, 10, 2, 8, 11, 12, 13, 14, 3, 15};

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

// Unit values (4 pixels packed into 16 bits) of the whole picture.
std::vector<uint16_t> packUnits(const MagPicture& p, int units) {
  std::vector<uint16_t> out(static_cast<size_t>(units) * p.height);
  for (int y = 0; y < p.height; ++y)
    for (int u = 0; u < units; ++u) {
      const uint8_t* px = &p.pixels[static_cast<size_t>(y) * p.width + u * 4];
      out[static_cast<size_t>(y) * units + u] =
          static_cast<uint16_t>((px[0] & 15) << 12 | (px[1] & 15) << 8 | (px[2] & 15) << 4 | (px[3] & 15));
    }
  return out;
}

int chooseNibble(const std::vector<uint16_t>& units, int perLine, int y, int u) {
  uint16_t here = units[static_cast<size_t>(y) * perLine + u];
  for (int n : kSearchOrder) {
    int sy = y - kDy[n], su = u - kDx[n];
    if (sy < 0 || su < 0) continue;
    if (units[static_cast<size_t>(sy) * perLine + su] == here) return n;
  }
  return 0;
}

}  // namespace

std::vector<uint8_t> EncodeMag16(const MagPicture& p, std::string_view user,
                                 std::string_view comment) {
  if (p.width <= 0 || p.width % 8 || p.height <= 0 ||
      p.pixels.size() != static_cast<size_t>(p.width) * p.height)
    throw std::invalid_argument("a MAG picture needs a width that is a multiple of 8");
  const int flagBytes = p.width / 8, perLine = flagBytes * 2;
  std::vector<uint16_t> units = packUnits(p, perLine);

  std::vector<uint8_t> flagA, flagB, data;
  std::vector<uint8_t> previous(flagBytes, 0), line(flagBytes);
  int bitCount = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int f = 0; f < flagBytes; ++f) {
      int hi = chooseNibble(units, perLine, y, 2 * f), lo = chooseNibble(units, perLine, y, 2 * f + 1);
      line[f] = static_cast<uint8_t>(hi << 4 | lo);
    }
    // Literal units follow in unit order.
    for (int u = 0; u < perLine; ++u) {
      int nib = u % 2 ? line[u / 2] & 15 : line[u / 2] >> 4;
      if (nib) continue;
      uint16_t v = units[static_cast<size_t>(y) * perLine + u];
      data.push_back(static_cast<uint8_t>(v >> 8));
      data.push_back(static_cast<uint8_t>(v));
    }
    // Flag bytes are stored as changes against the line above.
    for (int f = 0; f < flagBytes; ++f) {
      uint8_t delta = line[f] ^ previous[f];
      if (bitCount % 8 == 0) flagA.push_back(0);
      if (delta) {
        flagA.back() |= static_cast<uint8_t>(0x80 >> (bitCount % 8));
        flagB.push_back(delta);
      }
      ++bitCount;
    }
    previous = line;
  }

  // Signature, machine code, then an 18-byte user name.
  std::string head = "MAKI02  QMLX";
  std::string name(user.substr(0, 18));
  name.resize(18, ' ');
  head += name;
  std::vector<uint8_t> out(head.begin(), head.end());
  for (char c : comment)
    if (c != 0 && c != 0x1A) out.push_back(static_cast<uint8_t>(c));
  out.push_back(0x1A);

  const uint32_t flagAOffset = 32 + 48;
  const uint32_t flagBOffset = flagAOffset + static_cast<uint32_t>(flagA.size());
  const uint32_t dataOffset = flagBOffset + static_cast<uint32_t>(flagB.size());
  out.push_back(0x00);  // header start
  out.push_back(0x00);  // machine type
  out.push_back(0x00);  // machine flags
  out.push_back(0x00);  // screen mode: 16 colours
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<uint32_t>(p.width - 1));
  put16(out, static_cast<uint32_t>(p.height - 1));
  put32(out, flagAOffset);
  put32(out, flagBOffset);
  put32(out, static_cast<uint32_t>(flagB.size()));
  put32(out, dataOffset);
  put32(out, static_cast<uint32_t>(data.size()));
  for (const auto& c : p.rgb) {
    out.push_back(c[1]);  // green, red, blue
    out.push_back(c[0]);
    out.push_back(c[2]);
  }
  out.insert(out.end(), flagA.begin(), flagA.end());
  out.insert(out.end(), flagB.begin(), flagB.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}
