// Song and script texts are Shift-JIS (Windows code page 932) bytes; Qt, the
// tool and the automation bus see UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Undecodable bytes become U+FFFD.
std::string Cp932ToUtf8(std::string_view sjis);
// EUC-JP (as some Unix-made songs are written); undecodable bytes become U+FFFD.
std::string EucJpToUtf8(std::string_view euc);
// Characters code page 932 lacks become '?'.
std::string Utf8ToCp932(std::string_view utf8);

// First byte of a two-byte Shift-JIS character.
constexpr bool IsSjisLeadByte(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
