#include "tests/song/kar_songs.h"

#include <iconv.h>

#include <stdexcept>

#include "support/cp932.h"

namespace kartest {

namespace {

using songtest::Bytes;
using songtest::Track;

struct Event {
  uint32_t tick;
  const char* marked;  // UTF-8 with the karaoke break marks
};

// Breaks: '\' opens a paragraph, '/' a line. One lyric line a row.
// clang-format off
const Event kSyllables[] = {
    {1920, "\\あ"}, {2160, "お"}, {2400, "い"}, {2640, "そ"}, {2880, "ら"},
    {3840, "/ソ"}, {4080, "ラ"}, {4320, "の"}, {4560, "う"}, {4800, "た"},
    {5760, "/表"}, {6000, "を "}, {6240, "見"}, {6480, "て"},
    {7680, "\\かぜ"}, {7920, "が"}, {8160, "ふ"}, {8400, "く"},
    {9600, "/ながいながい"}, {9840, "みちを"}, {10080, "あるいて"}, {10320, "ゆく"},
        {10560, " long long way"},
};
// clang-format on

std::string toEucJp(const std::string& utf8) {
  iconv_t cd = iconv_open("EUC-JP", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no EUC-JP converter");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), outLeft = out.size();
  char* o = out.data();
  const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) throw std::runtime_error("not EUC-JP text: " + utf8);
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

std::string Encode(const std::string& utf8, KarText encoding) {
  switch (encoding) {
    case KarText::kShiftJis: return Utf8ToCp932(utf8);
    case KarText::kEucJp: return toEucJp(utf8);
    case KarText::kUtf8: break;
  }
  return utf8;
}

Bytes BuildKar(const KarSong& song) {
  auto text = [&](const std::string& utf8) { return Encode(utf8, song.encoding); };
  Track conductor;
  conductor.timeSignature(0, 4, 2).tempo(0, 500000).text(0, 1, "@KMIDI KARAOKE FILE");
  conductor.tempo(kTempoChangeTick, 375000).end();

  Track words;
  words.text(0, 3, "Words").text(0, 1, "@V0100").text(0, 1, "@LJPN");
  words.text(0, 1, text(std::string("@T") + kTitle)).text(0, 1, text(std::string("@T") + kArtist));
  words.text(0, 1, text("@Iテスト用の曲"));
  // Beside lyric events a plain text event is a comment, never a syllable.
  if (song.syllableType == 5) words.text(0, 1, "sequenced for the tests");
  uint32_t at = 0;
  for (const Event& e : kSyllables) {
    words.text(e.tick - at, song.syllableType, text(e.marked));
    at = e.tick;
  }
  words.end();

  Track melody;
  melody.text(0, 3, "Melody").text(0, 1, "a comment, not a lyric").at(0, {0xC0, 0x00});
  at = 0;
  uint8_t key = 60;
  for (const Event& e : kSyllables) {
    melody.at(e.tick - at, {0x90, key, 100}).at(200, {0x80, key, 0});
    at = e.tick + 200;
    key = static_cast<uint8_t>(key == 72 ? 60 : key + 2);
  }
  melody.end(280);
  return songtest::Smf(kDivision, {conductor, words, melody});
}

std::vector<KarLine> Lines() {
  return {
      {"あおいそら", true, {"あ", "お", "い", "そ", "ら"}, {1920, 2160, 2400, 2640, 2880}},
      {"ソラのうた", false, {"ソ", "ラ", "の", "う", "た"}, {3840, 4080, 4320, 4560, 4800}},
      {"表を 見て", false, {"表", "を ", "見", "て"}, {5760, 6000, 6240, 6480}},
      {"かぜがふく", true, {"かぜ", "が", "ふ", "く"}, {7680, 7920, 8160, 8400}},
      {"ながいながいみちをあるいてゆく long long way",
       false,
       {"ながいながい", "みちを", "あるいて", "ゆく", " long long way"},
       {9600, 9840, 10080, 10320, 10560}},
  };
}

uint32_t MsAtTick(uint32_t tick) {
  // 500000 us per quarter of 480 ticks, then 375000.
  if (tick <= kTempoChangeTick) return static_cast<uint32_t>(uint64_t{tick} * 500000 / 480 / 1000);
  return 8000 + static_cast<uint32_t>(uint64_t{tick - kTempoChangeTick} * 375000 / 480 / 1000);
}

uint32_t LastTick() { return 10560 + 200 + 280; }

}  // namespace kartest
