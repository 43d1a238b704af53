// Windows font names that WRD settings carry, mapped to the fonts a Debian
// machine has: the MS Mincho and MS Gothic families become the IPA fonts of
// the same design (fixed or proportional), whichever way the name is written
// ("ＭＳ 明朝", "MS Mincho", "ＭＳ Ｐゴシック", "MS UI Gothic" ...).
#pragma once

#include <string>
#include <string_view>

// The family to look for in place of `face` (UTF-8); the face itself (trimmed)
// when no mapping applies; "IPAMincho" for an empty name.
std::string QRSubstituteFontFamily(std::string_view face);

// Lower-case ASCII, full-width letters and digits made half-width, spaces
// (also the ideographic space) removed: the form in which names are compared.
std::string QRFontNameKey(std::string_view face);

// True when s is well-formed UTF-8.
bool QRIsUtf8(std::string_view s);
