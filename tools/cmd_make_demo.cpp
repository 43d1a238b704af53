// qmidi-tool make-demo: writes the project's demo set (an original song, its
// WRD script and a MAG picture) into a folder. demo/ holds its output.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "support/cp932.h"
#include "support/file_record.h"
#include "tools/mag_encoder.h"
#include "tools/tool_command.h"

namespace {

constexpr int kDivision = 480;
constexpr int kBar = kDivision * 4;

// A format-1 Standard MIDI File built from absolute-time events.
class SmfWriter {
 public:
  void event(int track, int tick, std::vector<uint8_t> bytes) {
    tracks_[track].emplace(tick, std::move(bytes));
  }
  void meta(int track, int tick, uint8_t type, const std::string& data) {
    std::vector<uint8_t> e = {0xFF, type, static_cast<uint8_t>(data.size())};
    e.insert(e.end(), data.begin(), data.end());
    event(track, tick, e);
  }
  void note(int track, int channel, int tick, int length, int key, int velocity) {
    event(track, tick, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(key),
                        static_cast<uint8_t>(velocity)});
    event(track, tick + length - 10, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(key), 0});
  }
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0,
                                static_cast<uint8_t>(tracks_.size()), kDivision >> 8, kDivision & 0xFF};
    for (const auto& [number, events] : tracks_) {
      std::vector<uint8_t> body;
      int last = 0;
      for (const auto& [tick, e] : events) {
        putVarLen(body, static_cast<uint32_t>(tick - last));
        body.insert(body.end(), e.begin(), e.end());
        last = tick;
      }
      body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
      out.insert(out.end(), {'M', 'T', 'r', 'k'});
      for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(body.size() >> s));
      out.insert(out.end(), body.begin(), body.end());
    }
    return out;
  }

 private:
  static void putVarLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t tmp[5];
    int n = 0;
    do {
      tmp[n++] = static_cast<uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v);
    while (n--) out.push_back(static_cast<uint8_t>(tmp[n] | (n ? 0x80 : 0)));
  }
  // Events at one tick keep their insertion order (multimap).
  std::map<int, std::multimap<int, std::vector<uint8_t>>> tracks_;
};

struct Chord {
  int bass;
  std::vector<int> tones;
};

// 16 bars in C major; melody notes are (key, beats), key 0 a rest.
std::vector<uint8_t> DemoSong() {
  const std::vector<Chord> chords = {
      {36, {60, 64, 67}}, {45, {57, 60, 64}}, {41, {53, 57, 60}}, {43, {55, 59, 62}},
      {36, {60, 64, 67}}, {45, {57, 60, 64}}, {38, {50, 53, 57}}, {43, {55, 59, 62}},
      {41, {53, 57, 60}}, {43, {55, 59, 62}}, {40, {52, 55, 59}}, {45, {57, 60, 64}},
      {41, {53, 57, 60}}, {43, {55, 59, 62}}, {36, {60, 64, 67}}, {36, {48, 55, 60, 64}}};
  const std::vector<std::pair<int, double>> melody = {
      {64, 1}, {67, 1}, {72, 2},   {71, 1}, {69, 1}, {64, 2},   {65, 1}, {69, 1}, {72, 1}, {69, 1},
      {67, 2}, {74, 1}, {71, 1},   {72, 1}, {76, 1}, {79, 1.5}, {77, .5}, {76, 1}, {72, 1}, {69, 2},
      {74, 1}, {77, 1}, {81, 1},   {77, 1}, {79, 3}, {0, 1},    {81, 1}, {79, 1}, {77, 1}, {72, 1},
      {71, 1}, {74, 1}, {79, 2},   {79, 1}, {76, 1}, {71, 1},   {76, 1}, {72, 2}, {69, 2}, {65, 1},
      {69, 1}, {72, 1}, {77, 1},   {74, 1}, {71, 1}, {67, 1},   {71, 1}, {72, 4}, {0, 4}};
  SmfWriter smf;
  smf.meta(0, 0, 0x03, Utf8ToCp932("QMIDI for Linux デモ"));
  smf.meta(0, 0, 0x01, Utf8ToCp932("QMIDI for Linux のために書いたデモ曲です"));
  smf.meta(0, 0, 0x51, std::string("\x07\xA1\x20", 3));  // 120 beats a minute
  smf.meta(0, 0, 0x58, std::string("\x04\x02\x18\x08", 4));
  smf.event(0, 0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});  // GM system on
  const int start = kBar / 4;  // a beat of room after the reset
  for (int ch = 0; ch < 3; ++ch) {
    static const int programs[] = {0, 48, 33};
    smf.event(ch + 1, start - 20, {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(programs[ch])});
    smf.event(ch + 1, start - 20, {static_cast<uint8_t>(0xB0 | ch), 7, static_cast<uint8_t>(ch == 1 ? 70 : 100)});
  }
  int t = start;
  for (auto [key, beats] : melody) {
    int len = static_cast<int>(std::lround(beats * kDivision));
    if (key) smf.note(1, 0, t, len, key, 96);
    t += len;
  }
  for (size_t bar = 0; bar < chords.size(); ++bar) {
    int b = start + static_cast<int>(bar) * kBar;
    bool last = bar + 1 == chords.size();
    for (int k : chords[bar].tones) smf.note(2, 1, b, kBar, k, 64);
    smf.note(3, 2, b, last ? kBar : kBar / 2, chords[bar].bass, 100);
    if (!last) smf.note(3, 2, b + kBar / 2, kBar / 2, chords[bar].bass + 7, 90);
    for (int e = 0; e < (last ? 1 : 8); ++e) {
      int at = b + e * kDivision / 2;
      if (e % 4 == 0) smf.note(4, 9, at, kDivision / 2, 36, 100);
      if (e % 4 == 2) smf.note(4, 9, at, kDivision / 2, 38, 90);
      smf.note(4, 9, at, kDivision / 2, last ? 49 : 42, last ? 110 : 60 + (e % 2 ? 0 : 15));
    }
  }
  return smf.bytes();
}

// The picture's colours in steps of 17, so that a script can name them exactly.
constexpr int kLevels[16][3] = {{0, 0, 0},   {0, 0, 3},   {0, 1, 5},   {1, 2, 7},    {2, 3, 9},
                                {3, 5, 11},  {1, 5, 2},   {2, 7, 3},   {3, 9, 4},    {15, 14, 9},
                                {15, 15, 15}, {6, 9, 13}, {0, 3, 6},   {9, 5, 12},   {15, 9, 4},
                                {8, 8, 8}};

// A PAL command's colour list for the picture's colours, each component
// scaled by num/den (the dusk palette is a dimmer, redder copy).
std::string PaletteDigits(int redNum, int greenNum, int blueNum, int den) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const auto& c : kLevels) {
    out += ',';
    out += hex[std::min(15, c[0] * redNum / den)];
    out += hex[std::min(15, c[1] * greenNum / den)];
    out += hex[std::min(15, c[2] * blueNum / den)];
  }
  return out;
}

// A night scene: a gradient sky with stars, a moon, hills and a lake.
MagPicture DemoPicture() {
  MagPicture p;
  p.width = 640;
  p.height = 400;
  p.pixels.assign(640 * 400, 0);
  // Colours in steps of 17 so that a script can name them exactly.
  for (int c = 0; c < 16; ++c)
    for (int k = 0; k < 3; ++k) p.rgb[c][k] = static_cast<uint8_t>(kLevels[c][k] * 17);
  auto at = [&](int x, int y) -> uint8_t& { return p.pixels[static_cast<size_t>(y) * 640 + x]; };
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) {
      // Sky bands, dithered where two bands meet.
      int band = 1 + y * 5 / 260;
      if (band < 5 && ((x + y) & 1) && (y * 5) % 260 > 200) ++band;
      at(x, y) = static_cast<uint8_t>(std::min(band, 5));
    }
  for (int i = 0; i < 90; ++i) {  // stars from a fixed sequence
    int x = (i * 193 + 37) % 640, y = (i * 71 + 11) % 200;
    at(x, y) = 10;
    if (i % 7 == 0 && x > 0 && x < 639) at(x - 1, y) = at(x + 1, y) = 11;
  }
  for (int y = 40; y < 120; ++y)  // the moon, with a brighter rim
    for (int x = 440; x < 520; ++x) {
      int dx = x - 480, dy = y - 80, d = dx * dx + dy * dy;
      if (d < 36 * 36) at(x, y) = d > 32 * 32 && dx > 0 ? 10 : 9;
    }
  for (int x = 0; x < 640; ++x) {
    int far = 250 - static_cast<int>(30 * std::sin(x / 70.0) + 15 * std::sin(x / 23.0));
    int near = 300 - static_cast<int>(25 * std::sin(x / 50.0 + 1.0));
    for (int y = far; y < 400; ++y) at(x, y) = 6;
    for (int y = near; y < 400; ++y) at(x, y) = 7;
    for (int y = 330; y < 400; ++y) at(x, y) = ((x / 4 + y) % 9 == 0) ? 11 : 12;  // the lake
  }
  for (int y = 330; y < 400; ++y)  // the moon's reflection
    for (int x = 470; x < 490; ++x)
      if ((y / 3 + x / 5) % 3 == 0) at(x, y) = 9;
  return p;
}

// The script, written as UTF-8 here and stored as Shift-JIS with CR LF.
std::string DemoScript() {
  const std::string esc = "\x1B";
  // Each line takes a bar unless it ends with ';', so commands that set up
  // the next line share its bar.
  std::vector<std::string> lines = {
      "@REM QMIDI for Linux demo: text, a picture, a fade and drawing",
      "@WAIT(1)@MAG(SCENE,0,0);",
      "@WAIT(2)@COLOR(1)@LOCATE(23,3);",
      "QMIDI for Linux デモンストレーション",
      "@WAIT(3)@LOCATE(22,5);",
      esc + "[33m歌詞と絵と音楽を、" + esc + "[36mいっしょに" + esc + "[37m。",
      "@WAIT(4)@GLINE(40,20,600,90,9,1,9);",
      "@WAIT(5)@GCIRCLE(480,80,44,14,0,9);",  // a halo: orange ring, moon-coloured fill
      "@WAIT(6)@PAL(#1" + PaletteDigits(1, 1, 1, 1) + ");",
      "@PAL(#2" + PaletteDigits(5, 3, 3, 4) + ");",
      "@FADE(1,2,480)@LOCATE(26,22);",
      esc + "[35m夕暮れから夜へ……",
      "@WAIT(10)@FADE(2,1,480)@LOCATE(26,22);",
      esc + "[K" + esc + "[32mまた明るく",
      "@WAIT(12)@GLINE(100,200,540,200,12);",
      "@GLINE(100,210,540,210,13);",
      "@WAIT(14);",
      esc + "[2J" + esc + "[12;36H" + esc + "[37mおしまい",
      "@WAIT(17)@GCLS;",
      "@END"};
  std::string out;
  for (const std::string& l : lines) out += Utf8ToCp932(l) + "\r\n";
  return out;
}

void writeFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::string target, error;
  if (!QGOutputTarget(p.string(), &target, &error)) throw std::runtime_error(error);
  std::ofstream out(target, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + p.string());
}

}  // namespace

QMIDI_TOOL_COMMAND(make_demo, {
  "make-demo",
  "write the demo song (DEMO.MID), its script (DEMO.WRD) and picture (SCENE.MAG)",
  "FOLDER",
  {},
  [](const ToolArgs& a) {
    std::filesystem::path dir = a.arg(0, "FOLDER");
    std::filesystem::create_directories(dir);
    writeFile(dir / "DEMO.MID", DemoSong());
    std::string script = DemoScript();
    writeFile(dir / "DEMO.WRD", std::vector<uint8_t>(script.begin(), script.end()));
    writeFile(dir / "SCENE.MAG", EncodeMag16(DemoPicture(), "QMIDI project", "demo night scene"));
    std::cout << "wrote DEMO.MID, DEMO.WRD and SCENE.MAG into " << dir.string() << '\n';
    return 0;
  }})
