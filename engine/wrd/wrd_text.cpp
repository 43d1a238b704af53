#include "engine/wrd/wrd_text.h"

#include <algorithm>
#include <cstring>

#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_reader.h"
#include "engine/wrd/wrd_state.h"

namespace {

constexpr int32_t kScreenW = 640;
constexpr int32_t kScreenH = 400;
constexpr int32_t kLastTextRow = 23;
constexpr int32_t kLastRow = 24;
constexpr int32_t kMaxColumn = 159;  // cursor moves right stop here; text wraps from 80

int32_t clampTo(int64_t v, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

void clearShadow(TWRDState& s, int32_t row0, int32_t row1, int32_t col0, int32_t col1) {
  row0 = std::max(row0, 0);
  row1 = std::min(row1, kWRDRows - 1);
  col0 = std::max(col0, 0);
  col1 = std::min(col1, kWRDColumns - 1);
  for (int32_t r = row0; r <= row1; ++r)
    for (int32_t c = col0; c <= col1; ++c) s.shadow[r][c] = 0;
}

void setShadow(TWRDState& s, int32_t row, int32_t col, uint8_t v) {
  if (row >= 0 && row < kWRDRows && col >= 0 && col < kWRDColumns) s.shadow[row][col] = v;
}

uint8_t shadowAt(TWRDState& s, int32_t row, int32_t col) {
  if (row < 0 || row >= kWRDRows || col < 0 || col >= kWRDColumns) return 0;
  return s.shadow[row][col];
}

void addRectEntry(TWRDState& s, uint8_t op, int32_t x, int32_t y, int32_t w, int32_t h, int32_t kind, int32_t colour) {
  WRDAddEntry(s, op, WRDAddRect(s, {x, y, w, h, kind, colour, 0}));
}

// The whole screen moves up one row.
void scrollScreen(TWRDState& s) { addRectEntry(s, kWRDOpScroll, 0, 0, kScreenW, kScreenH, 0, kWRDClearColour); }

// Closes the cells placed so far with an op 1 entry.
void closeRun(TWRDState& s) {
  if (s.cells.size() > s.cellsClosed) {
    s.cellsClosed = s.cells.size();
    WRDAddEntry(s, kWRDOpText, static_cast<int32_t>(s.cellsClosed));
  }
}

void addCell(TWRDState& s, std::string_view text, int32_t x, int32_t y) {
  TWRDCell cell;
  cell.length = static_cast<uint8_t>(std::min<size_t>(text.size(), 3));
  std::memcpy(cell.text, text.data(), cell.length);
  cell.x = x;
  cell.y = y;
  cell.colour = s.textColour;
  s.cells.add(cell);
}

void placeUnit(TWRDState& s, const TWRDUnit& u) {
  while (s.column > 79) {
    closeRun(s);
    s.column -= 80;
    if (s.row + 1 >= kLastTextRow + 1) {
      scrollScreen(s);
      std::memmove(s.shadow[0], s.shadow[1], sizeof(s.shadow) - sizeof(s.shadow[0]));
      std::memset(s.shadow[kLastRow], 0, sizeof(s.shadow[0]));
    } else {
      ++s.row;
    }
  }
  const int32_t col = s.column, row = s.row;
  const std::string_view unit(reinterpret_cast<const char*>(u.bytes), u.length);
  if (shadowAt(s, row, col - 1) == 1) {
    // Writing over the second half of a two-byte character blanks its first half.
    char text[3] = {' ', static_cast<char>(u.bytes[0]), static_cast<char>(u.bytes[1])};
    addCell(s, std::string_view(text, 1 + u.length), s.charWidth * (col - 1), s.charHeight * row);
    setShadow(s, row, col - 1, 0);
  } else {
    addCell(s, unit, s.charWidth * col, s.charHeight * row);
  }
  const int32_t after = col + u.length;
  const bool orphan = shadowAt(s, row, after) == 2;
  if (u.length == 2) {
    setShadow(s, row, col, 1);
    setShadow(s, row, col + 1, 2);
  } else {
    setShadow(s, row, col, 0);
  }
  if (orphan) {
    // The unit covered a first half: its second half is blanked too.
    addCell(s, " ", s.charWidth * after, s.charHeight * row);
    setShadow(s, row, after, 0);
  }
  s.column += u.length;
}

uint8_t boxDrawing(uint8_t trail) {
  switch (trail) {
    case 0x44: case 0x45: return '-';
    case 0x46: case 0x47: return '|';
    case 0x52: case 0x53: case 0x56: case 0x57:
    case 0x5A: case 0x5B: case 0x5E: case 0x5F: return '+';
    default: return 0xA5;
  }
}

int32_t tclsColour(int32_t c) {
  if (c >= 1 && c <= 7) return 248 + c;
  if (c >= 9 && c <= 15) return 240 + c;
  return kWRDClearColour;
}

// Count of a command-form escape: first character, first two when there
// are three or more, 1 for a lone letter; 1 .. 24.
int32_t commandCount(const std::string& u) {
  if (u.size() <= 1) return 1;
  std::string digits = u.substr(0, u.size() >= 3 ? 2 : 1);
  return clampTo(WRDNumber(digits, 1), 1, 24);
}

// Up to two digit tokens after ESC '['; -1 when there is none.
int32_t readEscapeCount(TWRDState& s, TWRDToken& t) {
  int32_t n = -1;
  for (int i = 0; i < 2; ++i) {
    int32_t at = s.pos;
    subWRDGet(s, t);
    if (t.length == 1 && !s.literalToken && t.text[0] >= '0' && t.text[0] <= '9') {
      n = (n < 0 ? 0 : n) * 10 + (t.text[0] - '0');
    } else {
      s.pos = at;
      break;
    }
  }
  return n;
}

}  // namespace

void WRDTextReset(TWRDState& s) {
  s.column = s.row = 0;
  s.savedColumn = s.savedRow = 0;
  s.textColour = 255;
  s.charWidth = 8;
  s.charHeight = 16;
  std::memset(s.shadow, 0, sizeof(s.shadow));
  s.rowOrigin = s.columnOrigin = 0;
  s.lineText.clear();
  s.cellsClosed = 0;
  s.unitBytes = 0;
}

int32_t subWRDCut(TWRDState& s, std::string_view text) {
  int32_t n = 0;
  size_t i = 0;
  while (i < text.size() && n < 256) {
    auto b = static_cast<uint8_t>(text[i]);
    TWRDUnit& u = s.units[n++];
    if (!WRDIsLeadByte(b)) {
      u = {{b, 0}, 1};
      ++i;
    } else if (i + 1 < text.size()) {
      auto trail = static_cast<uint8_t>(text[i + 1]);
      if (b == 0x86 && trail >= 0x44 && trail <= 0x5F)
        u = {{boxDrawing(trail), 0}, 1};
      else
        u = {{b, trail}, 2};
      i += 2;
    } else {
      u = {{' ', 0}, 1};  // a lead byte without its trail
      ++i;
    }
  }
  s.unitBytes = static_cast<int32_t>(i);
  return n;
}

void WRDPlaceText(TWRDState& s, std::string_view text) {
  if (text.empty()) return;
  std::string padded;
  if (text.size() == 79) {
    padded.assign(text);
    padded.push_back(' ');
    text = padded;
  } else if (text.size() == 81) {
    text = text.substr(0, 80);
  }
  size_t offset = 0;
  while (offset < text.size()) {
    int32_t n = subWRDCut(s, text.substr(offset));
    if (s.unitBytes <= 0) break;
    offset += static_cast<size_t>(s.unitBytes);
    for (int32_t i = 0; i < n; ++i) placeUnit(s, s.units[i]);
  }
  closeRun(s);
}

void WRDNewLine(TWRDState& s) {
  s.column = 0;
  if (s.row + 1 >= kLastTextRow + 1)
    scrollScreen(s);  // the shadow grid stays as it is
  else
    ++s.row;
}

int32_t WRDColourFor(int32_t n, bool escapeForm) {
  switch (n) {
    case 0: return escapeForm ? 251 : 255;
    case 1: case 11: case 23: case 27: case 37: return 255;
    case 2: case 22: case 29: case 36: return 254;
    case 4: case 19: case 26: case 35: return 253;
    case 5: case 18: case 25: case 34: return 252;
    case 17: case 24: case 31: return 249;
    case 20: case 32: return 250;
    case 21: case 28: case 33: return 251;
    case 30: return 0;
    case 7: case 40: return 512;  // reverse
    case 8: case 16: return kWRDClearColour;
    default:
      if (n >= 41 && n <= 47) return 263 - (n - 41);
      return -1;
  }
}

void WRDLocate(TWRDState& s, int32_t given, int32_t a, int32_t b) {
  int32_t row = b, col = a;
  if (given == 1 || s.inputs.xyMode) {
    row = a;
    col = b;
  }
  // A 0 shows that the script counts from 0: every later value is corrected.
  if (row == 0) s.rowOrigin = 1;
  if (col == 0) s.columnOrigin = 1;
  s.row = clampTo(int64_t{row} + s.rowOrigin, 1, kWRDRows) - 1;
  s.column = clampTo(int64_t{col} + s.columnOrigin, 1, kWRDColumns) - 1;
}

void WRDTon(TWRDState& s, int32_t n) {
  if (n == 1) s.charWidth = kScreenW / kWRDColumns;
}

void WRDColor(TWRDState& s, int32_t n) {
  int32_t c = WRDColourFor(((n % 256) + 256) % 256, false);
  if (c >= 0) s.textColour = c;
}

void WRDTcls(TWRDState& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t colour) {
  x1 = clampTo(x1, 1, 80);
  x2 = clampTo(x2, x1, 80);
  y1 = clampTo(y1, 1, 25);
  y2 = clampTo(y2, y1, 25);
  addRectEntry(s, kWRDOpErase, s.charWidth * (x1 - 1), s.charHeight * (y1 - 1), s.charWidth * (x2 - x1 + 1),
               s.charHeight * (y2 - y1 + 1), 9, tclsColour(colour));
  clearShadow(s, y1 - 1, y2 - 1, x1 - 1, x2 - 1);
}

void WRDScroll(TWRDState& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t kind, int32_t colour) {
  x1 = clampTo(x1, 1, 80);
  x2 = clampTo(x2, x1, 80);
  y1 = clampTo(y1, 1, 25);
  y2 = clampTo(y2, y1, 25);
  addRectEntry(s, kWRDOpScroll, s.charWidth * (x1 - 1), s.charHeight * (y1 - 1), s.charWidth * (x2 - x1 + 2) - 1,
               s.charHeight * (y2 - y1 + 2) - 1, kind, tclsColour(colour));
}

bool WRDEscape(TWRDState& s, char letter, int32_t n, int32_t n2) {
  const int32_t cw = s.charWidth, ch = s.charHeight;
  const int32_t moves = n < 0 ? 1 : n;
  switch (letter) {
    case 'J':
      switch (n < 0 ? 0 : n) {
        case 0:
          addRectEntry(s, kWRDOpErase, 0, ch * s.row, kScreenW, kScreenH - ch * s.row, 9, kWRDClearColour);
          clearShadow(s, s.row, kLastRow, 0, 79);
          break;
        case 1:
          addRectEntry(s, kWRDOpErase, 0, 0, kScreenW, ch * s.row + ch, 9, kWRDClearColour);
          clearShadow(s, 0, s.row, 0, 79);
          break;
        case 2:
          WRDAddEntry(s, kWRDOpClearText, kWRDClearColour);
          s.column = s.row = 0;
          clearShadow(s, 0, kLastRow, 0, 79);
          break;
        default: break;
      }
      return true;
    case 'K': {
      const int32_t col = s.column;
      switch (n < 0 ? 0 : n) {
        case 0:
          addRectEntry(s, kWRDOpErase, cw * col, ch * s.row, kScreenW - cw * col, ch, 9, kWRDClearColour);
          clearShadow(s, s.row, s.row, col, 79);
          break;
        case 1:
          addRectEntry(s, kWRDOpErase, 0, ch * s.row, cw * (col + 1), ch, 9, kWRDClearColour);
          clearShadow(s, s.row, s.row, 0, col);
          break;
        case 2:
          addRectEntry(s, kWRDOpErase, 0, ch * s.row, kScreenW, ch, 9, kWRDClearColour);
          clearShadow(s, s.row, s.row, 0, 79);
          break;
        default: break;
      }
      return true;
    }
    case 'M':
    case 'R':
      for (int32_t i = clampTo(moves, 1, 24); i > 0; --i)
        addRectEntry(s, kWRDOpScroll, 0, ch * s.row, kScreenW, kScreenH - ch * s.row, 0, kWRDClearColour);
      return true;
    case 'L':
      for (int32_t i = clampTo(moves, 1, 24); i > 0; --i) {
        s.column = 0;
        s.row = std::min(s.row + 1, kLastRow);
        addRectEntry(s, kWRDOpScroll, 0, ch * s.row + 16, kScreenW, 384 - ch * s.row, 1, kWRDClearColour);
      }
      return true;
    case 'E':
      s.column = 0;
      if (s.row >= kLastTextRow)
        addRectEntry(s, kWRDOpScroll, 0, ch * s.row + 16, kScreenW, 384 - ch * s.row, 1, kWRDClearColour);
      else
        ++s.row;
      return true;
    case 'A': s.row = std::max(s.row - moves, 0); return true;
    case 'B': s.row = std::min(s.row + moves, kLastRow); return true;
    case 'C': s.column = std::min(s.column + moves, kMaxColumn); return true;
    case 'D':
      s.column -= moves;
      // Moving left past column 0 continues from the right end of the row above.
      while (s.column < 0 && s.row > 0) {
        --s.row;
        s.column += kWRDColumns;
      }
      if (s.column < 0) s.column = 0;
      return true;
    case 's':
      s.savedColumn = s.column;
      s.savedRow = s.row;
      return true;
    case 'u':
      s.column = s.savedColumn;
      s.row = s.savedRow;
      return true;
    case 'm': {
      int32_t c = WRDColourFor(n < 0 ? 0 : n, true);
      if (c >= 0) s.textColour = c;
      return true;
    }
    case 'H':
      s.row = clampTo(n, 1, kWRDRows) - 1;
      s.column = clampTo(n2, 1, kWRDColumns) - 1;
      return true;
    default:
      return false;
  }
}

void WRDEscapeCommand(TWRDState& s, const std::string& p, const std::string& second) {
  std::string u = p;
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (u == "2J") WRDEscape(s, 'J', 2, 0);
  else if (u == "J" || u == "0J") WRDEscape(s, 'J', 0, 0);
  else if (u == "1J") WRDEscape(s, 'J', 1, 0);
  else if (u == "K" || u == "0K") WRDEscape(s, 'K', 0, 0);
  else if (u == "1K") WRDEscape(s, 'K', 1, 0);
  else if (u == "2K") WRDEscape(s, 'K', 2, 0);
  else if (u == "E") WRDEscape(s, 'E', 1, 0);
  else if (u == "S") WRDEscape(s, 's', 1, 0);
  else if (u == "U") WRDEscape(s, 'u', 1, 0);
  else if (!second.empty()) {
    // "y;xH": the parameter reader splits it at the ';'.
    std::string x = second;
    if (!x.empty() && (x.back() == 'H' || x.back() == 'h')) {
      x.pop_back();
      WRDEscape(s, 'H', WRDNumber(u, 1), WRDNumber(x, 1));
    }
  } else if (u.empty()) {
    return;
  } else if (u == "R" || u.back() == 'M') {
    WRDEscape(s, 'M', commandCount(u), 0);
  } else if (u.back() == 'L' || u.back() == 'A' || u.back() == 'B' || u.back() == 'C' || u.back() == 'D') {
    WRDEscape(s, u.back(), commandCount(u), 0);
  } else if (u.back() == 'H') {
    u.pop_back();
    WRDEscape(s, 'H', WRDNumber(u, 1), 1);
  }
}

void WRDEscapeText(TWRDState& s) {
  TWRDToken t;
  const int32_t before = s.pos;
  subWRDGet(s, t);
  if (s.literalToken) {
    s.pos = before;
    return;
  }
  if (t.is('[')) {
    const int32_t n = readEscapeCount(s, t);
    const int32_t at = s.pos;
    subWRDGet(s, t);
    if (!s.literalToken && t.is(';')) {
      const int32_t x = readEscapeCount(s, t);
      const int32_t atH = s.pos;
      subWRDGet(s, t);
      if (!s.literalToken && t.is('H')) {
        WRDEscape(s, 'H', n, x);
        return;
      }
      s.pos = atH;
      return;
    }
    if (!s.literalToken && t.length == 1 && WRDEscape(s, static_cast<char>(t.text[0]), n, -1)) return;
    s.pos = at;  // not a sequence: the token is read as usual
    return;
  }
  if (t.is(')')) {
    const int32_t at = s.pos;
    uint8_t kind = subWRDGet(s, t);
    if (!s.literalToken && t.is('3')) {
      s.kanjiOff = true;
      return;
    }
    s.kanjiOff = false;
    if (kind == 0 || kind == kWRDCR || kind == kWRDEsc || t.length == 0) s.pos = at;
    return;
  }
  if (t.is('E')) {
    WRDEscape(s, 'E', -1, -1);
    return;
  }
  s.pos = before;
}
