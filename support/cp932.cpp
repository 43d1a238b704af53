#include "support/cp932.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>

namespace {

// iconv descriptors are reused per thread: opening one costs more than a
// short conversion.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts input; an undecodable sequence of skipLength(...) bytes is
  // replaced by `replacement`.
  template <class SkipLength>
  std::string run(std::string_view input, std::string_view replacement, SkipLength skipLength) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(input.size() * 3 / 2 + 8);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char buf[1024];
    while (inLeft > 0) {
      char* o = buf;
      size_t oLeft = sizeof buf;
      size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
      out.append(buf, static_cast<size_t>(o - buf));
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      size_t skip = std::min(inLeft, skipLength(reinterpret_cast<const uint8_t*>(in), inLeft));
      in += skip;
      inLeft -= skip;
      out += replacement;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
};

size_t sjisCharLength(const uint8_t* p, size_t left) {
  return IsSjisLeadByte(p[0]) && left >= 2 ? 2 : 1;
}

// EUC-JP: 0x8F starts a three-byte character, 0x8E and 0xA1..0xFE two-byte ones.
size_t eucJpCharLength(const uint8_t* p, size_t left) {
  const size_t n = p[0] == 0x8F ? 3 : p[0] >= 0x8E ? 2 : 1;
  return std::min(n, left);
}

size_t utf8CharLength(const uint8_t* p, size_t left) {
  size_t n = p[0] < 0x80 ? 1 : (p[0] >> 5) == 6 ? 2 : (p[0] >> 4) == 14 ? 3 : (p[0] >> 3) == 30 ? 4 : 1;
  for (size_t i = 1; i < n; ++i)
    if (i >= left || (p[i] & 0xC0) != 0x80) return i;
  return n;
}

}  // namespace

std::string Cp932ToUtf8(std::string_view sjis) {
  thread_local Converter c("UTF-8", "CP932");
  return c.run(sjis, "\xEF\xBF\xBD", sjisCharLength);
}

std::string EucJpToUtf8(std::string_view euc) {
  // The Microsoft variant also knows the NEC and IBM extensions (circled
  // numbers, Roman numerals) that Windows-made texts use.
  thread_local Converter c("UTF-8", "EUC-JP-MS");
  return c.run(euc, "\xEF\xBF\xBD", eucJpCharLength);
}

std::string Utf8ToCp932(std::string_view utf8) {
  thread_local Converter c("CP932", "UTF-8");
  return c.run(utf8, "?", utf8CharLength);
}
