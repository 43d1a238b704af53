#include "engine/song/lyric_encoding.h"

#include <cstdint>

#include "support/cp932.h"

namespace {

bool inRange(uint8_t b, uint8_t low, uint8_t high) { return b >= low && b <= high; }

// How one reading of the texts went: whether every byte fitted, and how
// Japanese the characters look (common ones count up, half-width kana and
// rarities down).
struct Reading {
  bool valid = true;
  long score = 0;
};

bool strictUtf8(std::string_view s, bool* multiByte) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t n;
    uint32_t cp;
    if (inRange(b, 0xC2, 0xDF)) {
      n = 2;
      cp = b & 0x1Fu;
    } else if (inRange(b, 0xE0, 0xEF)) {
      n = 3;
      cp = b & 0x0Fu;
    } else if (inRange(b, 0xF0, 0xF4)) {
      n = 4;
      cp = b & 0x07u;
    } else {
      return false;
    }
    if (s.size() - i < n) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || (cp >= 0xD800 && cp <= 0xDFFF) ||
        cp > 0x10FFFF)
      return false;
    *multiByte = true;
    i += n;
  }
  return true;
}

void readShiftJis(std::string_view s, Reading* r) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) continue;
    if (inRange(b, 0xA1, 0xDF)) {  // half-width katakana: rare in lyrics
      --r->score;
      continue;
    }
    if (!IsSjisLeadByte(b) || i + 1 >= s.size()) {
      r->valid = false;
      return;
    }
    const auto t = static_cast<uint8_t>(s[++i]);
    if (!inRange(t, 0x40, 0x7E) && !inRange(t, 0x80, 0xFC)) {
      r->valid = false;
      return;
    }
    const bool common = b == 0x81 || (b == 0x82 && inRange(t, 0x9F, 0xF1)) ||
                        (b == 0x83 && t <= 0x96) || inRange(b, 0x88, 0x9F) ||
                        inRange(b, 0xE0, 0xEA);
    r->score += common ? 2 : -1;
  }
}

void readEucJp(std::string_view s, Reading* r) {
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) continue;
    size_t trail = b == 0x8F ? 2 : 1;
    if ((b != 0x8E && b != 0x8F && !inRange(b, 0xA1, 0xFE)) || s.size() - i - 1 < trail) {
      r->valid = false;
      return;
    }
    for (size_t k = 1; k <= trail; ++k) {
      const auto t = static_cast<uint8_t>(s[i + k]);
      if (!inRange(t, 0xA1, 0xFE) || (b == 0x8E && t > 0xDF)) {
        r->valid = false;
        return;
      }
    }
    const bool common = b == 0xA1 || b == 0xA4 || b == 0xA5 || inRange(b, 0xB0, 0xF4);
    r->score += common ? 2 : -1;
    i += trail;
  }
}

}  // namespace

const char* LyricEncodingName(LyricEncoding encoding) {
  switch (encoding) {
    case LyricEncoding::kAscii: return "ascii";
    case LyricEncoding::kShiftJis: return "shift-jis";
    case LyricEncoding::kEucJp: return "euc-jp";
    case LyricEncoding::kUtf8: return "utf-8";
  }
  return "?";
}

LyricEncoding DetectLyricEncoding(const std::vector<std::string>& texts) {
  bool utf8 = true, multiByte = false;
  for (const std::string& t : texts) utf8 = utf8 && strictUtf8(t, &multiByte);
  if (utf8) return multiByte ? LyricEncoding::kUtf8 : LyricEncoding::kAscii;
  Reading sjis, euc;
  for (const std::string& t : texts) {
    if (sjis.valid) readShiftJis(t, &sjis);
    if (euc.valid) readEucJp(t, &euc);
  }
  if (sjis.valid != euc.valid) return sjis.valid ? LyricEncoding::kShiftJis : LyricEncoding::kEucJp;
  return euc.score > sjis.score ? LyricEncoding::kEucJp : LyricEncoding::kShiftJis;
}

std::string DecodeLyricText(std::string_view bytes, LyricEncoding encoding) {
  switch (encoding) {
    case LyricEncoding::kShiftJis: return Cp932ToUtf8(bytes);
    case LyricEncoding::kEucJp: return EucJpToUtf8(bytes);
    case LyricEncoding::kAscii:
    case LyricEncoding::kUtf8: break;
  }
  // Detection found the texts valid as they are; anything that is not (a
  // caller's own text) is still never passed on undecoded.
  bool multiByte = false;
  return strictUtf8(bytes, &multiByte) ? std::string(bytes) : Cp932ToUtf8(bytes);
}
