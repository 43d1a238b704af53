#include "engine/wrd/wrd_compiler.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "engine/wrd/wrd_reader.h"
#include "engine/wrd/wrd_text.h"
#include "support/byte_view.h"
#include "support/cp932.h"
#include "support/dos_names.h"
#include "support/file_record.h"
#include "support/guard.h"
#include "support/trace.h"
#include "support/tracked_memory.h"

namespace fs = std::filesystem;

namespace {

constexpr int32_t kScriptTag = 80;
constexpr int32_t kMaxTime = 9990000;
constexpr size_t kSpare = 16;
constexpr int32_t kMaxParams = 64;

int32_t sat32(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int32_t clampTo(int64_t v, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

// Graphics colour c as a display index.
int32_t graphicsColour(int32_t c) { return c >= 1 && c <= 15 ? 241 - c : 241; }

int paletteDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 10;
}

// Three digits, red, green, blue; an omitted colour is black.
TWRDPalEntry parseColour(std::string_view text) {
  TWRDPalEntry e{0, 0, 0, 4};
  if (text.empty()) return e;
  char first = text[0];
  if (first == ',' || first == ')' || first == ':' || first == ';' || first == '\r' || first == 0) return e;
  auto digit = [&](size_t i) { return static_cast<uint8_t>(i < text.size() ? paletteDigit(text[i]) * 17 : 0); };
  e.red = digit(0);
  e.green = digit(1);
  e.blue = digit(2);
  return e;
}

std::string upperExtension(const std::string& name) {
  size_t slash = name.find_last_of("\\/");
  std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
  size_t dot = file.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : file.substr(dot);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return ext;
}

std::string filePart(const std::string& name) {
  size_t slash = name.find_last_of("\\/:");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool hasHighBytes(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
}

std::string resolveIn(const std::string& dir, const std::string& name) {
  std::string found = QGResolveDosName(dir, name);
  if (found.empty() && hasHighBytes(name)) found = QGResolveDosName(dir, Cp932ToUtf8(name));
  return found;
}

struct Params {
  std::array<std::string, kMaxParams> text;
  std::array<uint8_t, kMaxParams> end{};
  int32_t count = 0;
  // Parameter i, or fallback when it is empty, no number or not given.
  int32_t num(int32_t i, int32_t fallback) const {
    return i < count ? WRDNumber(text[static_cast<size_t>(i)], fallback) : fallback;
  }
  // The same, but a parameter not given at all is 0.
  int32_t numOr0(int32_t i, int32_t fallback) const { return i < count ? num(i, fallback) : 0; }
  std::string str(int32_t i) const { return i < count ? text[static_cast<size_t>(i)] : std::string(); }
};

// Compiles the token stream of the state block's buffer.
class ScriptCompiler {
 public:
  explicit ScriptCompiler(TWRDState& s) : s_(s) {}

  void start(bool keepTables, const std::string& scriptName);
  bool run();

 private:
  void command();
  bool caret();
  void text(const TWRDToken& tok);
  void endLine(bool continuation);
  void placeLine();
  void advance();
  bool openParams(uint8_t wordEnd);
  void readParams(bool fileFirst);

  void rem();
  void wmode(bool parens);
  void wait();
  void rest();
  void gline();
  void gcircle();
  void gmove(bool xcopy);
  void pal();
  void fade();
  void mag();
  void exec();

  void cancelPending();
  void addPending(int32_t time, uint8_t op, int32_t arg);
  void recomputeOffset(int64_t bars);
  std::string pictureName(const std::string& name);
  int32_t slotFor(const std::string& path);
  void addPicture(int32_t slot, int32_t x, int32_t y, int32_t mode);
  void titlePicture();

  TWRDState& s_;
  Params p_;
  bool lineStart_ = true;
  bool semicolon_ = false;
  bool noTime_ = false;
  bool afterSemicolonLine_ = false;
};

void ScriptCompiler::start(bool keepTables, const std::string& scriptName) {
  TWRDState& s = s_;
  s.clock = 0;
  s.pos = 0;
  s.lastByte = 0;
  s.lastLineEnd = -1;
  s.literalToken = false;
  s.tokenCount = 0;
  s.inCommandLine = false;
  s.kanjiOff = false;
  s.scriptName = scriptName;
  fs::path dir = fs::path(scriptName).parent_path();
  s.scriptDir = dir.empty() ? std::string(".") : dir.string();

  s.division = s.inputs.tickDivision < 1 ? 960 : s.inputs.tickDivision;
  s.beatsPerBar = s.inputs.beatsPerBar;
  s.barLength = s.division * s.beatsPerBar;
  if (s.barLength < s.division) s.barLength = 4 * s.division;
  recomputeOffset(0);
  s.lineWait = s.pendingWait = s.barLength;
  s.perToken = false;
  s.startupMode = 0;
  WRDTextReset(s);
  cancelPending();
  for (auto& n : s.slotNames) n.clear();
  s.slotFree.fill(-1);
  s.resolvedNames.clear();
  WRDDefaultPalettes(s);
  s.drawingPage = 0;
  s.currentPalRecord = -1;

  if (!keepTables) {
    // Room for what the script's size suggests; a script that needs more
    // grows the tables up to a bound no real script comes near.
    const size_t size = static_cast<size_t>(std::max(s.size, 0));
    auto limit = [&](int bits) { return s.tableLimit ? s.tableLimit : size_t{1} << bits; };
    s.commands.allocate(size / 2 + 18000 + kSpare, limit(24));
    s.cells.allocate(size / 2 + 15000 + kSpare, limit(24));
    s.palRecords.allocate(size / 64 + 1200 + kSpare, limit(20));
    s.pictures.allocate(size / 64 + 1024 + kSpare, limit(20));
    s.rects.allocate(size / 8 + 15000 + kSpare, limit(23));
    s.fades.allocate(size / 24 + 19200 + kSpare, limit(22));
  }
  s.graphicsMode = 15;
  titlePicture();
}

// The offset base: bar (OFFSET's n - 1 plus the display offset's bars) and
// the display offset's steps, kept apart so that a negative display offset
// moves the script earlier inside the bar instead of borrowing a bar.
void ScriptCompiler::recomputeOffset(int64_t bars) {
  const int32_t d = s_.inputs.displayOffset;
  s_.offsetBar = bars + d / 10000;
  s_.offsetSteps = d % 10000;
  s_.offsetTicks = s_.offsetSteps * s_.division / 48;
}

bool ScriptCompiler::run() {
  TWRDState& s = s_;
  TWRDToken tok;
  for (;;) {
    uint8_t kind = subWRDGet(s, tok);
    if (kind == 0) break;
    if (s.tokenCount > kWRDTokenLimit) {
      s.errorCode = kWRDErrTokens;
      QGTrText("subWRDTableCreate");
      return false;
    }
    const bool literal = s.literalToken;
    const bool commandPlace = lineStart_ || s.inCommandLine;
    if (!literal) {
      if (kind == '@' && commandPlace) {
        lineStart_ = false;
        command();
        continue;
      }
      if (kind == '^' && commandPlace && caret()) {
        lineStart_ = false;
        continue;
      }
      if (kind == kWRDCR) {
        endLine(tok.is('\\'));
        continue;
      }
      if (kind == kWRDEsc) {
        lineStart_ = false;
        if (!s.inCommandLine) {
          placeLine();
          WRDEscapeText(s);
        }
        continue;
      }
      if (kind == ';') {
        lineStart_ = false;
        semicolon_ = true;
        continue;
      }
    }
    lineStart_ = false;
    text(tok);
  }
  // A last line without its line end is still shown, and the steps of a
  // fade still running at the end of the script still happen.
  placeLine();
  for (int32_t i = s.pendingRead; i != kWRDPendingEmpty && i < s.pendingCount; ++i) {
    const TWRDPending& e = s.pending[static_cast<size_t>(i)];
    s.commands.add(e.time, e.op, e.arg);
  }
  cancelPending();
  return true;
}

void ScriptCompiler::placeLine() {
  if (s_.perToken || s_.lineText.empty()) return;
  std::string line;
  line.swap(s_.lineText);
  WRDPlaceText(s_, line);
}

void ScriptCompiler::advance() {
  s_.clock = WRDAddTicks(s_, s_.clock, s_.pendingWait);
  subWRDStack(s_, s_.pendingRead);
  s_.pendingWait = s_.lineWait;
}

void ScriptCompiler::endLine(bool continuation) {
  placeLine();
  if (!semicolon_ && !s_.inCommandLine && !continuation) WRDNewLine(s_);
  if (!semicolon_ && !noTime_) advance();
  afterSemicolonLine_ = semicolon_;
  lineStart_ = true;
  semicolon_ = false;
  noTime_ = false;
  s_.inCommandLine = false;
}

void ScriptCompiler::text(const TWRDToken& tok) {
  TWRDState& s = s_;
  if (s.inCommandLine || tok.length == 0) return;
  std::string_view v = tok.view();
  std::string spaces;
  if (tok.text[0] == kWRDTab) {
    spaces.assign(static_cast<size_t>(8 - s.tabColumn()), ' ');
    v = spaces;
  } else if (tok.text[0] < 0x20) {
    return;  // control characters are not shown
  }
  if (!s.perToken) {
    s.lineText.append(v);
    return;
  }
  if (v != "_") WRDPlaceText(s, v);
  const bool free = afterSemicolonLine_ && s.startupMode >= 400;
  afterSemicolonLine_ = false;
  if (!free) advance();
}

bool ScriptCompiler::openParams(uint8_t wordEnd) {
  if (wordEnd == '(') return true;
  if (wordEnd != ' ') return false;
  int32_t p = s_.pos;
  while (p < s_.size && s_.data[p] == ' ') ++p;
  if (p < s_.size && s_.data[p] == '(') {
    s_.pos = p + 1;
    return true;
  }
  return false;
}

void ScriptCompiler::readParams(bool fileFirst) {
  p_.count = 0;
  uint8_t end = 0;
  while (p_.count < kMaxParams) {
    auto i = static_cast<size_t>(p_.count);
    end = fileFirst && i == 0 ? subWRDPrmGet2(s_, p_.text[i]) : subWRDPrmGet(s_, p_.text[i]);
    p_.end[i] = end;
    ++p_.count;
    if (end == ')' || end == 0 || end == kWRDCR) break;
  }
  // An unclosed list still ends with its line.
  if (end == kWRDCR && s_.lastLineEnd >= 0) s_.pos = s_.lastLineEnd;
}

void ScriptCompiler::command() {
  TWRDState& s = s_;
  s.inCommandLine = true;
  semicolon_ = false;
  uint8_t code = 0;
  const uint8_t end = subWRDOptGet(s, code);
  if (code == 0) return;
  if (code == kWRDCmdRem) {
    rem();
    return;
  }
  const bool parens = openParams(end);
  p_.count = 0;
  if (parens) readParams(code == kWRDCmdMag || code == kWRDCmdExec);

  switch (code) {
    case kWRDCmdStartup:
      s.clock = 0;
      s.startupMode = parens ? p_.num(0, 1) : 0;
      WRDAddEntry(s, kWRDOpGon, 1);
      noTime_ = true;
      break;
    case kWRDCmdWmode: wmode(parens); break;
    case kWRDCmdWait: wait(); break;
    case kWRDCmdOffset:
      recomputeOffset(int64_t{std::max(p_.num(0, 1), 1)} - 1);
      break;
    case kWRDCmdRest: rest(); break;
    case kWRDCmdInkey: {
      int32_t bars = std::max(p_.num(0, 0), 0);
      s.clock = WRDNormalise(s, int64_t{s.clock / 10000} + bars, s.clock % 10000);
      subWRDStack(s, s.pendingRead);
      break;
    }
    case kWRDCmdEnd:
      s.clock = std::max(s.inputs.songEnd, 0);
      subWRDStack(s, s.pendingRead);
      break;
    case kWRDCmdLocate: WRDLocate(s, p_.count, p_.num(0, 1), p_.num(1, 1)); break;
    case kWRDCmdTon: WRDTon(s, p_.num(0, 0)); break;
    case kWRDCmdEsc: {
      std::string second = p_.count > 1 && p_.end[0] == ';' ? p_.str(1) : std::string();
      WRDEscapeCommand(s, p_.str(0), second);
      break;
    }
    case kWRDCmdColor: WRDColor(s, p_.num(0, 0)); break;
    case kWRDCmdTcls:
      WRDTcls(s, p_.num(0, 1), p_.num(1, 1), p_.num(2, 80), p_.num(3, 25), p_.num(4, 0));
      break;
    case kWRDCmdScroll:
      WRDScroll(s, p_.num(0, 1), p_.num(1, 1), p_.num(2, 80), p_.num(3, 25), p_.num(4, 0), p_.num(5, 0));
      break;
    case kWRDCmdGcls: {
      int32_t mask = p_.num(0, 15);
      WRDAddEntry(s, kWRDOpGcls, mask >= 1 && mask <= 15 ? mask : 15);
      break;
    }
    case kWRDCmdGscreen: {
      const int32_t draw = p_.num(0, 0) == 1 ? 1 : 0;
      const int32_t show = p_.num(1, 0) == 1 ? 1 : 0;
      s.drawingPage = draw;
      WRDAddEntry(s, kWRDOpGscreen, 2 * draw + show);
      break;
    }
    case kWRDCmdGon: WRDAddEntry(s, kWRDOpGon, p_.num(0, 1) == 0 ? 0 : 1); break;
    case kWRDCmdGline: gline(); break;
    case kWRDCmdGcircle: gcircle(); break;
    case kWRDCmdPal: pal(); break;
    case kWRDCmdPalrev: {
      int32_t n = p_.num(0, 0);
      cancelPending();
      WRDAddEntry(s, kWRDOpPalRev, n >= 0 && n < kWRDPalettes ? n : 0);
      break;
    }
    case kWRDCmdFade: fade(); break;
    case kWRDCmdGmode: {
      auto mode = static_cast<uint8_t>(p_.num(0, 15));
      s.graphicsMode = mode == 0 ? 15 : mode;
      WRDAddEntry(s, kWRDOpGmode, s.graphicsMode);
      break;
    }
    case kWRDCmdGmove: gmove(false); break;
    case kWRDCmdMag: mag(); break;
    case kWRDCmdExec: exec(); break;
    default:
      // GINIT, MIDI, PATH, LOOP, STOP: parameters read, nothing to draw.
      // XCOPY counts only when written with '^'.
      break;
  }
}

bool ScriptCompiler::caret() {
  const int32_t at = s_.pos;
  uint8_t code = 0;
  const uint8_t end = subWRDOptGet(s_, code);
  if (code != kWRDCmdXcopy) {
    s_.pos = at;  // the '^' is ordinary text
    return false;
  }
  s_.inCommandLine = true;
  semicolon_ = false;
  p_.count = 0;
  if (openParams(end)) readParams(false);
  gmove(true);
  return true;
}

void ScriptCompiler::rem() {
  std::string comment;
  noTime_ = true;
  if (subWRDLineGet(s_, comment) == kWRDCR) endLine(false);  // the reader took the line end
}

void ScriptCompiler::wmode(bool parens) {
  TWRDState& s = s_;
  if (!parens) {
    s.lineWait = s.barLength;
    return;
  }
  const int32_t n = p_.num(0, 23);
  if (n != 0)
    s.lineWait = s.division * (int64_t{n} + 1) / 24;
  else
    s.perToken = false;
  s.perToken = p_.num(1, 0) == 1;
}

void ScriptCompiler::wait() {
  TWRDState& s = s_;
  if (s.beatsPerBar == 0) s.beatsPerBar = s.inputs.beatsPerBar = 4;
  const int32_t bar = std::max(p_.num(0, 1), 1);
  const int64_t steps = p_.num(1, 0);
  s.clock = WRDNormalise(s, bar + s.offsetBar - 1, steps * s.division / 48 + s.offsetTicks);
  subWRDStack(s, s.pendingRead);
}

void ScriptCompiler::rest() {
  TWRDState& s = s_;
  const int64_t bars = std::max(p_.num(0, 0), 0);
  const int64_t steps = std::max(p_.num(1, 0), 0);
  int64_t elapsed = s.clock / 10000 - s.offsetBar;
  if (s.clock % 10000 < s.offsetTicks) --elapsed;
  if (elapsed < 0) elapsed = 0;
  s.clock = WRDNormalise(s, s.offsetBar + elapsed + bars, steps * s.division / 48 + s.offsetTicks);
  subWRDStack(s, s.pendingRead);
  noTime_ = true;
}

void ScriptCompiler::gline() {
  TWRDState& s = s_;
  int64_t x1 = clampTo(p_.numOr0(0, 1), 0, 639);
  int64_t y1 = clampTo(p_.numOr0(1, 1), 0, 399);
  int64_t x2 = std::min(p_.numOr0(2, 80), 639);
  int64_t y2 = std::min(p_.numOr0(3, 25), 399);
  const int32_t colour = p_.numOr0(4, 0);
  const int32_t kind = p_.numOr0(5, 0);
  const int32_t colour2 = p_.numOr0(6, 0);
  if (kind != 0) {
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
  }
  TWRDRect r{static_cast<int32_t>(x1), static_cast<int32_t>(y1), sat32(x2 - x1 + 1), sat32(y2 - y1 + 1),
             sat32(int64_t{kind} + 4), graphicsColour(colour), graphicsColour(colour2)};
  WRDAddEntry(s, s.graphicsMode == 15 ? kWRDOpGline : kWRDOpGlinePlanes, WRDAddRect(s, r));
}

void ScriptCompiler::gcircle() {
  TWRDState& s = s_;
  const int32_t r = p_.num(2, 1);
  if (r > 199) return;
  int32_t kind = p_.num(4, 0);
  if (kind == 1)
    kind = 0;
  else if (kind == 2)
    kind = 1;
  TWRDRect rect{clampTo(p_.num(0, 1), 0, 639), clampTo(p_.num(1, 1), 0, 399), clampTo(r, 1, 320),
                sat32(int64_t{kind} + 7), 0, graphicsColour(p_.num(3, 0)), graphicsColour(p_.num(5, 0))};
  WRDAddEntry(s, s.graphicsMode == 15 ? kWRDOpGcircle : kWRDOpGcirclePlanes, WRDAddRect(s, rect));
}

void ScriptCompiler::gmove(bool xcopy) {
  TWRDState& s = s_;
  const int32_t x1 = clampTo(p_.numOr0(0, 1), 0, 639);
  const int32_t y1 = clampTo(p_.numOr0(1, 1), 0, 399);
  const int32_t x2 = clampTo(p_.numOr0(2, 1), x1, 639);
  const int32_t y2 = std::max(p_.numOr0(3, 1), y1);
  const int32_t xd = clampTo(p_.numOr0(4, 1), 0, 639);
  const int32_t yd = clampTo(p_.numOr0(5, 1), 0, 399);
  // There are two graphic pages: anything but 1 is page 0.
  const int32_t source = p_.numOr0(6, 0) == 1 ? 1 : 0;
  const int32_t target = p_.numOr0(7, 0) == 1 ? 1 : 0;
  const int64_t mode = int64_t{p_.numOr0(8, 0)} + (xcopy ? 2 : 0);
  TWRDPicRecord rec{x1, y1, xd, yd, x2 - x1 + 1, std::min(y2, 399) - y1 + 1, 2 * source + target, sat32(mode)};
  WRDAddEntry(s, s.graphicsMode == 15 ? kWRDOpGmove : kWRDOpGmovePlanes, s.pictures.add(rec));
}

void ScriptCompiler::pal() {
  TWRDState& s = s_;
  int32_t target = 0;
  int32_t first = 0;
  if (p_.count > 0 && !p_.text[0].empty() && p_.text[0][0] == '#') {
    target = clampTo(WRDNumber(std::string_view(p_.text[0]).substr(1), 0), 0, 20);
    if (target == 0) target = 21;
    first = 1;
  }
  TWRDPalRecord rec;
  rec.target = target;
  s.currentPalRecord = s.palRecords.add(rec);
  for (int32_t i = 0; i < 16; ++i) {
    const std::string colour = p_.str(first + i);
    subPalCvt(s, colour, 15 - i);
    subPalCvtRGB(s, colour, 15 - i, target);
    // PAL to palette 0 is also what palette 21 will hold: fades from 0 see it.
    if (target == 0) subPalCvtRGB(s, colour, 15 - i, 21);
  }
  cancelPending();
  WRDAddEntry(s, kWRDOpPal, s.currentPalRecord);
}

void ScriptCompiler::fade() {
  TWRDState& s = s_;
  auto palette = [](int32_t n) {
    if (n < 0 || n >= kWRDPalettes) n = 0;
    return n == 0 ? 21 : n;
  };
  const int32_t from = palette(p_.num(0, 0));
  const int32_t to = palette(p_.num(1, 0));
  const int32_t speed = p_.num(2, 1);
  cancelPending();
  if (speed == 0 || from == to) {
    WRDAddEntry(s, kWRDOpFade, s.fades.add({to, to, 0}));
    return;
  }
  WRDAddEntry(s, kWRDOpFade, s.fades.add({from, from, 0}));
  int32_t diff = 0;
  const TWRDPalette& a = s.palettes[static_cast<size_t>(from)];
  const TWRDPalette& b = s.palettes[static_cast<size_t>(to)];
  for (size_t k = 0; k < 16; ++k) {
    diff = std::max({diff, std::abs(a[k].red - b[k].red), std::abs(a[k].green - b[k].green),
                     std::abs(a[k].blue - b[k].blue)});
  }
  int32_t complete = 1;
  while (complete < 16 && diff >= 17 * complete) ++complete;
  if (complete == 1) {
    addPending(WRDAddTicks(s, s.clock, speed), kWRDOpFade, s.fades.add({to, to, 0}));
    return;
  }
  int32_t time = s.clock;
  for (int32_t k = 1; k < complete; ++k) {
    time = WRDAddTicks(s, time, speed);
    addPending(time, kWRDOpFade, s.fades.add({from, to, k}));
  }
}

void ScriptCompiler::cancelPending() {
  s_.pendingCount = 0;
  s_.pendingRead = kWRDPendingEmpty;
}

void ScriptCompiler::addPending(int32_t time, uint8_t op, int32_t arg) {
  if (s_.pendingCount >= kWRDPendingEmpty) return;
  s_.pending[static_cast<size_t>(s_.pendingCount++)] = {time, op, arg};
  if (s_.pendingRead == kWRDPendingEmpty) s_.pendingRead = 0;
}

// A name written in the script as a path: found in any letter case relative
// to the script's folder, else by its bare file name beside the script; a
// picture that is not there keeps the name it would have.
std::string ScriptCompiler::pictureName(const std::string& name) {
  auto cached = s_.resolvedNames.find(name);
  if (cached != s_.resolvedNames.end()) return cached->second;
  std::string found = resolveIn(s_.scriptDir, name);
  const std::string bare = filePart(name);
  if (found.empty() && bare != name && !bare.empty()) found = resolveIn(s_.scriptDir, bare);
  if (found.empty()) found = (fs::path(s_.scriptDir) / bare).string();
  if (s_.resolvedNames.size() < 4096) s_.resolvedNames.emplace(name, found);
  return found;
}

int32_t ScriptCompiler::slotFor(const std::string& path) {
  for (int32_t i = 0; i < kWRDSlots; ++i)
    if (!s_.slotNames[static_cast<size_t>(i)].empty() &&
        strcasecmp(s_.slotNames[static_cast<size_t>(i)].c_str(), path.c_str()) == 0)
      return i;
  for (int32_t i = 0; i < kWRDSlots; ++i) {
    if (s_.slotNames[static_cast<size_t>(i)].empty()) {
      s_.slotNames[static_cast<size_t>(i)] = path;
      return i;
    }
  }
  return -1;
}

void ScriptCompiler::addPicture(int32_t slot, int32_t x, int32_t y, int32_t mode) {
  TWRDState& s = s_;
  TWRDPicRecord rec{0, 0, x, y, 640 - x, 400 - y, s.drawingPage == 1 ? 3 : 0, slot * 64 + mode};
  const int32_t index = s.pictures.add(rec);
  WRDAddEntry(s, kWRDOpPicture, index);
  const int32_t freeEntry = WRDAddEntry(s, kWRDOpFreeSlot, index);
  // A slot is freed only after its last use.
  int32_t& previous = s.slotFree[static_cast<size_t>(slot)];
  if (previous >= 0) s.commands.op(static_cast<size_t>(previous)) = kWRDOpFreeCancelled;
  previous = freeEntry;
}

void ScriptCompiler::titlePicture() {
  TWRDState& s = s_;
  fs::path mag = fs::path(s.scriptName).replace_extension(".mag");
  std::string found = QGFindFileNoCase(mag.string());
  if (found.empty()) return;
  s.slotNames[0] = found;
  addPicture(0, 0, 0, 0);
}

bool isNoName(const std::string& name) {
  return name.empty() || (name.size() == 1 && (name[0] == ',' || name[0] == ')' || name[0] == ':' ||
                                               name[0] == ';' || name[0] == '\r'));
}

void ScriptCompiler::mag() {
  const std::string raw = p_.str(0);
  if (isNoName(raw)) return;
  std::string name = raw;
  const std::string ext = upperExtension(name);
  if (ext != ".MAG" && ext != ".PHO") name += ".MAG";
  const int32_t x = clampTo(p_.num(1, 0), 0, 639) & ~7;
  const int32_t y = clampTo(p_.num(2, 0), 0, 399);
  int32_t mode = p_.num(4, 0);
  if (mode < 0 || mode > 63) mode = 0;  // the mode shares its field with the slot
  const int32_t slot = slotFor(pictureName(name));
  if (slot < 0) return;  // all 64 slots hold other pictures
  if (mode != 1) cancelPending();
  addPicture(slot, x, y, mode);
}

void ScriptCompiler::exec() {
  const std::string raw = p_.str(0);
  if (isNoName(raw)) return;
  std::string name = raw;
  const std::string ext = upperExtension(name);
  if (ext == ".MAG") {
    const int32_t slot = slotFor(pictureName(name));
    if (slot >= 0) addPicture(slot, 0, 0, 0);
    return;
  }
  if (ext != ".COM") name += ".COM";
  const std::string path = pictureName(name);
  // Only a self-displaying picture program can be shown.
  QGFILE* f = QGOpenFile(path, QG_GENERIC_READ, 1024);
  bool picture = false;
  if (f) {
    ByteView v(f->data, f->dataSize);
    auto test = [&](size_t at, size_t mark) {
      return v.has(at, 4) && v.has(mark, 1) && v.u32be(at) == 0x004CCD21u && v.u8(mark) == 4;
    };
    picture = v.size() >= 861 && (test(667, 673) || test(858, 864));
    QGCloseFile(kQGFileRecordTag, f);
  }
  if (!picture) return;
  const int32_t slot = slotFor(path);
  if (slot < 0) return;
  int32_t at = p_.num(1, 0) % 10000;
  if (at < 0) at = 0;
  addPicture(slot, clampTo(int64_t{at / 100} * 8, 0, 639), clampTo(int64_t{at % 100} * 16, 0, 399), 0);
}

bool fullScreenErase(const TWRDState& s, int32_t arg) {
  if (arg < 0 || static_cast<size_t>(arg) >= s.rects.size()) return false;
  const TWRDRect& r = s.rects.at(static_cast<size_t>(arg));
  return r.x == 0 && r.y == 0 && r.width == 640 && r.height == 400;
}

bool pictureAtOrigin(const TWRDState& s, int32_t arg) {
  if (arg < 0 || static_cast<size_t>(arg) >= s.pictures.size()) return false;
  const TWRDPicRecord& p = s.pictures.at(static_cast<size_t>(arg));
  return p.x2 == 0 && p.y2 == 0;
}

// Text batches: a run of op 1 entries at one time is drawn without
// composing and composed once at its end; after a clear, a full erase or a
// full picture the whole screen is composed once.
void batchEntries(TWRDState& s) {
  TWRDCommandTable& c = s.commands;
  const size_t n = c.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t op = c.op(i);
    if (op != kWRDOpText && op != kWRDOpScroll) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < n && c.op(j) == op && c.time(j) == c.time(i)) ++j;
    if (op == kWRDOpScroll) {
      if (j - i >= 2) {
        for (size_t k = i; k + 1 < j; ++k) c.op(k) = kWRDOpScrollBatch;
        c.op(j - 1) = kWRDOpScrollLast;
      }
      i = j;
      continue;
    }
    // The entry the run follows, passing over slot frees (they draw nothing).
    size_t lead = i;
    bool led = false;
    while (lead > 0) {
      const size_t k = lead - 1;
      if (c.time(k) != c.time(i)) break;
      const uint8_t kop = c.op(k);
      if (kop == kWRDOpFreeSlot || kop == kWRDOpFreeCancelled) {
        lead = k;
        continue;
      }
      if (kop == kWRDOpClearText) {
        c.op(k) = kWRDOpClearTextBatch;
        led = true;
      } else if (kop == kWRDOpErase && fullScreenErase(s, c.arg(k))) {
        c.op(k) = kWRDOpEraseBatch;
        led = true;
      } else if (kop == kWRDOpPicture && pictureAtOrigin(s, c.arg(k))) {
        c.op(k) = kWRDOpPictureBatch;
        led = true;
      }
      break;
    }
    for (size_t start = i; start < j; start += 78) {
      const size_t end = std::min(start + 78, j);
      const bool composeAll = led && start == i;
      if (end - start == 1) {
        if (composeAll) c.op(start) = kWRDOpTextLastFull;
        continue;
      }
      c.op(start) = kWRDOpTextFirst;
      for (size_t k = start + 1; k + 1 < end; ++k) c.op(k) = kWRDOpTextMiddle;
      c.op(end - 1) = composeAll ? kWRDOpTextLastFull : kWRDOpTextLast;
    }
    i = j;
  }
}

}  // namespace

int32_t WRDNormalise(TWRDState& s, int64_t bar, int64_t ticks) {
  const int64_t length = std::max<int64_t>(s.barLength, 1);
  for (int i = 0; i < 2 && ticks < 0; ++i) {
    --bar;
    ticks += length;
  }
  bar += ticks / length;
  ticks %= length;
  bar = std::clamp<int64_t>(bar, -1000000000LL, 1000000000LL);
  const int64_t time = bar * 10000 + ticks;
  return time < 0 ? 0 : sat32(time);
}

int32_t WRDAddTicks(TWRDState& s, int32_t time, int64_t ticks) {
  return WRDNormalise(s, time / 10000, time % 10000 + ticks);
}

int32_t WRDAddEntry(TWRDState& s, uint8_t op, int32_t arg) {
  return s.commands.add(s.clock, op, arg);
}

int32_t WRDAddRect(TWRDState& s, const TWRDRect& rect) { return s.rects.add(rect); }

void WRDDefaultPalettes(TWRDState& s) {
  TWRDPalette d;
  for (int32_t c = 0; c < 16; ++c) {
    const int32_t system = (c == 0 || c == 8) ? 0 : c < 8 ? 248 + c : 240 + c;
    d[static_cast<size_t>(15 - c)] = s.systemPalette[static_cast<size_t>(system)];
  }
  s.palettes.fill(d);
}

bool subPalCvt(TWRDState& s, std::string_view colour, int32_t entry) {
  return QGuard("subPalCvt", false, [&] {
    if (entry < 0 || entry > 15 || s.currentPalRecord < 0) return false;
    s.palRecords.at(static_cast<size_t>(s.currentPalRecord)).colours[static_cast<size_t>(entry)] =
        parseColour(colour);
    return true;
  });
}

bool subPalCvtRGB(TWRDState& s, std::string_view colour, int32_t entry, int32_t palette) {
  return QGuard("subPalCvtRGB", false, [&] {
    if (entry < 0 || entry > 15) return false;
    if (palette < 0 || palette >= kWRDPalettes) palette = 0;
    s.palettes[static_cast<size_t>(palette)][static_cast<size_t>(entry)] = parseColour(colour);
    return true;
  });
}

bool subWRDStack(TWRDState& s, int32_t& readIndex) {
  return QGuard("subWRDStack", false, [&] {
    while (readIndex != kWRDPendingEmpty && readIndex >= 0 && readIndex < s.pendingCount) {
      const TWRDPending& e = s.pending[static_cast<size_t>(readIndex)];
      if (e.time > s.clock) break;
      s.commands.add(e.time, e.op, e.arg);
      ++readIndex;
    }
    if (readIndex < 0 || readIndex >= s.pendingCount) readIndex = kWRDPendingEmpty;
    return true;
  });
}

bool subWRDTableCreate(TWRDState& s, bool keepTables, const std::string& scriptName) {
  s.errorCode = kWRDErrFault;
  const bool ok = QGuard("subWRDTableCreate", false, [&] {
    ScriptCompiler compiler(s);
    compiler.start(keepTables, scriptName);
    return compiler.run();
  });
  if (ok)
    s.errorCode = kWRDCompiled;
  else if (s.anyTableFull())
    s.errorCode = kWRDErrCapacity;
  return ok;
}

bool subWRDTableCre2(TWRDState& s) {
  return QGuard("subWRDTableCre2", false, [&] {
    s.commands.shrink(kSpare);
    s.cells.shrink(kSpare);
    s.palRecords.shrink(kSpare);
    s.pictures.shrink(kSpare);
    s.rects.shrink(kSpare);
    s.fades.shrink(kSpare);
    s.nextEntry = 0;
    s.nextCell = 0;
    return true;
  });
}

bool subWRDTableCalc(TWRDState& s) {
  s.clickGuard = 0;
  const bool ok = QGuard("subWRDTableCalc", false, [&] {
    TWRDCommandTable& c = s.commands;
    const size_t n = c.size();
    // Times never decrease: a later entry pulls every earlier one back.
    int32_t limit = kMaxTime;
    for (size_t i = n; i-- > 0;) {
      if (c.time(i) > limit) c.time(i) = limit;
      limit = c.time(i);
    }
    if (n > 0) c.time(n - 1) += 1;
    batchEntries(s);
    if (s.displayExists && s.clearStatusLine) s.clearStatusLine();
    size_t next = 0;
    if (s.runEntry) {
      const auto most = static_cast<size_t>(std::max(s.inputs.timeMapEntries, 0));
      while (next < n && next < most && c.time(next) == 0) {
        s.runEntry(static_cast<int32_t>(next));
        ++next;
      }
    }
    s.nextEntry = static_cast<int32_t>(next);
    return true;
  });
  s.clickGuard = -1;
  return ok;
}

namespace {

// Scripts were written with CR LF line ends, and CR ends a line. A script
// saved by a Unix editor has LF alone: each lone LF becomes a CR so that its
// lines still end (a trail byte is never 0x0A, so no character is split).
void EndLinesWithCR(uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i)
    if (data[i] == kWRDLF && (i == 0 || data[i - 1] != kWRDCR)) data[i] = kWRDCR;
}

bool loadScript(TWRDState& s, const std::string& fileName, bool full) {
  s.errorCode = kWRDErrRead;
  s.readFailure = kWRDReadMissing;
  if (full) s.loaded = 0;
  const uint32_t size = QGGetFileSize(fileName);
  if (size == 0xFFFFFFFFu || size > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return false;
  if (size > kQGDefaultMaxBytes) {
    s.readFailure = kWRDReadTooLarge;
    return false;
  }
  std::error_code ec;
  if (size == 0 && fs::is_regular_file(fileName, ec) && fs::file_size(fileName, ec) == 0) s.readFailure = kWRDReadEmpty;
  if (!full && size == 0) return false;
  QGFILE* file = QGOpenFile(fileName, QG_GENERIC_READ);
  if (!file) return false;
  auto* buffer = static_cast<uint8_t*>(QGGlobalAlloc(kScriptTag, GHND, size));
  // The block and the file go whatever happens.
  struct Release {
    TWRDState& s;
    uint8_t* buffer;
    QGFILE* file;
    ~Release() {
      s.data = nullptr;
      s.size = 0;
      s.pos = 0;
      if (buffer) QGGlobalFree(kScriptTag, buffer);
      QGCloseFile(kQGFileRecordTag, file);
    }
  } release{s, buffer, file};
  if (!buffer || QGGetFile(file, buffer, 0, size) != size) return false;
  EndLinesWithCR(buffer, size);
  s.data = buffer;
  s.size = static_cast<int32_t>(size);
  if (!subWRDTableCreate(s, false, fileName)) return false;
  if (!full) return true;
  if (!subWRDTableCre2(s)) return false;
  s.loaded = -1;
  return true;
}

}  // namespace

bool subWRDInit(TWRDState& s, const std::string& fileName) {
  return QGuard("subWRDInit", false, [&] { return loadScript(s, fileName, true); });
}

bool subWRDInit2(TWRDState& s, const std::string& fileName) {
  return QGuard("subWRDInit2", false, [&] { return loadScript(s, fileName, false); });
}

std::string WRDScriptNameFor(const std::string& songPath) {
  return QGuard("TQUORMSTR.getWRDFileName", std::string(), [&] {
    fs::path song(songPath);
    std::string base = song.filename().string();
    size_t dot = base.find('.');
    if (dot != std::string::npos) base.resize(dot);
    if (base.empty()) return std::string();
    return QGFindFileNoCase((song.parent_path() / (base + ".wrd")).string());
  });
}
