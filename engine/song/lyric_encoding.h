// The text encoding of a song's lyrics. Karaoke files come from Japanese
// Windows (Shift-JIS, code page 932), from Unix tools (EUC-JP) and from
// newer editors (UTF-8); a song says nothing about which, so the whole
// song's lyric and text events are looked at together and one encoding is
// chosen for all of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class LyricEncoding {
  kAscii,     // no byte above 0x7F: every reading agrees
  kShiftJis,  // code page 932
  kEucJp,
  kUtf8,
};

// "ascii", "shift-jis", "euc-jp", "utf-8".
const char* LyricEncodingName(LyricEncoding encoding);

// The encoding the texts are most likely written in. Text that is valid
// UTF-8 with at least one multi-byte character is UTF-8 (other encodings
// almost never form it by chance over a whole song); otherwise the reading
// that is valid, and gives more of the characters Japanese text is made of
// (kana, kanji, full-width punctuation) than half-width kana, wins; Shift-JIS
// on a tie.
LyricEncoding DetectLyricEncoding(const std::vector<std::string>& texts);

// The text as UTF-8; undecodable bytes become U+FFFD.
std::string DecodeLyricText(std::string_view bytes, LyricEncoding encoding);
