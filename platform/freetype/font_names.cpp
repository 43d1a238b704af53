#include "platform/freetype/font_names.h"

#include <cstdint>

namespace {

// Appends the UTF-8 form of code point c.
void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Next code point of s at i (advancing i); a broken sequence gives its first
// byte as is.
uint32_t nextCodePoint(std::string_view s, size_t& i) {
  const auto b = static_cast<uint8_t>(s[i]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) {
    ++i;
    return b;
  }
  uint32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t k = 1; k < n; ++k) {
    const auto t = static_cast<uint8_t>(s[i + k]);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return b;
    }
    c = (c << 6) | (t & 0x3F);
  }
  i += n;
  return c;
}

bool contains(std::string_view s, std::string_view part) {
  return s.find(part) != std::string_view::npos;
}

}  // namespace

std::string QRFontNameKey(std::string_view face) {
  std::string key;
  for (size_t i = 0; i < face.size();) {
    uint32_t c = nextCodePoint(face, i);
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width ASCII
    if (c == ' ' || c == '\t' || c == 0x3000) continue;
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    appendUtf8(key, c);
  }
  return key;
}

std::string QRSubstituteFontFamily(std::string_view face) {
  const std::string key = QRFontNameKey(face);
  if (key.empty()) return "IPAMincho";
  // "MS P..." and "MS UI ..." are the proportional designs.
  const bool proportional = key.starts_with("msp") || key.starts_with("msui");
  if (contains(key, "明朝") || contains(key, "mincho"))
    return proportional ? "IPAPMincho" : "IPAMincho";
  if (contains(key, "ゴシック") || contains(key, "gothic") || key == "osaka")
    return proportional ? "IPAPGothic" : "IPAGothic";
  if (key == "meiryo" || key == "メイリオ") return "IPAPGothic";
  size_t b = face.find_first_not_of(" \t");
  size_t e = face.find_last_not_of(" \t");
  return std::string(face.substr(b, e - b + 1));
}

bool QRIsUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<uint8_t>(s[i]);
    const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}
