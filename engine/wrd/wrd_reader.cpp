#include "engine/wrd/wrd_reader.h"

#include <cstring>

#include "engine/wrd/wrd_state.h"
#include "support/guard.h"

namespace {

// A byte that may follow a lead byte as its trail. A line end never does:
// a lone lead byte before CR or LF stays alone so the line still ends.
bool takesTrail(const TWRDState& s) {
  return s.pos < s.size && s.data[s.pos] != kWRDCR && s.data[s.pos] != kWRDLF;
}

bool isParamEnd(uint8_t b) {
  return b == 0 || b == kWRDCR || b == ')' || b == ',' || b == ':' || b == ';';
}

char upper(uint8_t b) { return static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b); }

struct CommandWord {
  const char* word;
  uint8_t code;
};

constexpr CommandWord kCommandWords[] = {
    {"STARTUP", kWRDCmdStartup}, {"WMODE", kWRDCmdWmode},   {"WAIT", kWRDCmdWait},
    {"WAITE", kWRDCmdWait},      {"@WAIT", kWRDCmdWait},    {"OFFSET", kWRDCmdOffset},
    {"REST", kWRDCmdRest},       {"INKEY", kWRDCmdInkey},   {"END", kWRDCmdEnd},
    {"LOCATE", kWRDCmdLocate},   {"TON", kWRDCmdTon},       {"ESC", kWRDCmdEsc},
    {"COLOR", kWRDCmdColor},     {"TCLS", kWRDCmdTcls},     {"SCROLL", kWRDCmdScroll},
    {"GINIT", kWRDCmdGinit},     {"GCLS", kWRDCmdGcls},     {"GSCREEN", kWRDCmdGscreen},
    {"GON", kWRDCmdGon},         {"GLINE", kWRDCmdGline},   {"GCIRCLE", kWRDCmdGcircle},
    {"PAL", kWRDCmdPal},         {"PALREV", kWRDCmdPalrev}, {"FADE", kWRDCmdFade},
    {"GMODE", kWRDCmdGmode},     {"GMOVE", kWRDCmdGmove},   {"MAG", kWRDCmdMag},
    {"PLOAD", kWRDCmdMag},       {"XCOPY", kWRDCmdXcopy},   {"MIDI", kWRDCmdMidi},
    {"EXEC", kWRDCmdExec},       {"PATH", kWRDCmdPath},     {"LOOP", kWRDCmdLoop},
    {"STOP", kWRDCmdStop},
};

}  // namespace

uint8_t WRDCommandCode(std::string_view word) {
  char up[256];
  size_t n = word.size() < sizeof(up) ? word.size() : sizeof(up) - 1;
  for (size_t i = 0; i < n; ++i) up[i] = upper(static_cast<uint8_t>(word[i]));
  std::string_view w(up, n);
  for (const CommandWord& c : kCommandWords)
    if (w == c.word) return c.code;
  if (w.substr(0, 3) == "REM") return kWRDCmdRem;
  return kWRDCmdUnknown;
}

int32_t WRDNumber(std::string_view text, int32_t fallback) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size()) return fallback;
  int64_t value = 0;
  if (text[i] == '$') {
    if (++i >= text.size() || text.size() - i > 8) return fallback;
    for (; i < text.size(); ++i) {
      char c = text[i];
      int d = c >= '0' && c <= '9' ? c - '0'
              : c >= 'A' && c <= 'F' ? c - 'A' + 10
              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                     : -1;
      if (d < 0) return fallback;
      value = value * 16 + d;
    }
    auto bits = static_cast<uint32_t>(value);  // eight digits fill all 32 bits
    int32_t v = static_cast<int32_t>(bits);
    return negative ? static_cast<int32_t>(0u - bits) : v;
  }
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return fallback;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return fallback;
  return static_cast<int32_t>(value);
}

namespace {

// The byte reader itself; the readers below run inside their own guards.
uint8_t readByte(TWRDState& s, bool skipSpaces) {
  uint8_t b = 0;
  for (int skipped = 0;;) {
    if (s.pos >= s.size || !s.data) {
      b = 0;
      break;
    }
    b = s.data[s.pos++];
    if (b == kWRDCR) {
      s.lastLineEnd = s.pos - 1;
      // A following line that holds nothing but ';' is swallowed.
      if (!skipSpaces && s.pos + 2 < s.size && s.data[s.pos + 1] == ';' && s.data[s.pos + 2] == kWRDCR)
        s.pos += 3;
      break;
    }
    bool skip = b == kWRDLF || (skipSpaces && b == ' ');
    if (!skip) break;
    if (++skipped >= 256) {
      b = 0;
      break;
    }
  }
  s.lastByte = b;
  return b;
}

}  // namespace

uint8_t subWRDByteGet(TWRDState& s, bool skipSpaces) {
  return QGuard("subWRDByteGet", uint8_t{0}, [&] { return readByte(s, skipSpaces); });
}

uint8_t subWRDGet(TWRDState& s, TWRDToken& token) {
  token.clear();
  return QGuard("subWRDGet", uint8_t{0}, [&]() -> uint8_t {
    s.literalToken = false;
    ++s.tokenCount;
    if (s.pos >= s.size) return 0;
    uint8_t c = readByte(s, false);
    if (c == 0) return 0;

    if (WRDIsLeadByte(c)) {
      if (s.kanjiOff) {
        token.add(' ');
      } else {
        token.add(c);
        if (takesTrail(s)) token.add(s.data[s.pos++]);
      }
      return token.text[0];
    }

    if (c == '|') {
      bool literal = true;
      for (int i = 0; i < 255 && s.pos < s.size; ++i) {
        uint8_t b = s.data[s.pos];
        if (b == '|') {
          ++s.pos;
          if (token.length == 0 && s.pos < s.size) {
            uint8_t only = s.data[s.pos++];
            token.add(only);
            if (WRDIsLeadByte(only) && takesTrail(s)) token.add(s.data[s.pos++]);
          }
          break;
        }
        if (b == kWRDCR || b == kWRDLF) {
          if (token.length == 0) {
            uint8_t next = readByte(s, false);
            if (next == 0) return 0;
            token.add(next);
            literal = false;
          }
          break;
        }
        if (b == ';') {
          if (token.length == 0) {
            ++s.pos;
            token.add(';');
            literal = false;
          }
          break;
        }
        ++s.pos;
        if (b == '\\') continue;
        if (b == kWRDTab) {
          for (int32_t n = 8 - (s.tabColumn() + token.length) % 8; n > 0; --n) token.add(' ');
          continue;
        }
        token.add(b);
        if (WRDIsLeadByte(b) && takesTrail(s)) token.add(s.data[s.pos++]);
      }
      if (token.length == 0) return s.pos >= s.size ? 0 : ' ';
      if (literal) {
        s.literalToken = true;
        return token.text[0] ? token.text[0] : ' ';
      }
      c = token.text[0];
      token.clear();
      // The CR or ';' that closed an empty run is an ordinary token.
    } else if (c == '\\') {
      if (s.pos >= s.size) return 0;
      if (s.data[s.pos] == kWRDCR) {
        readByte(s, false);
        token.add('\\');
        return kWRDCR;  // a line continuation
      }
      uint8_t e = readByte(s, false);
      if (e == 0) return 0;
      token.add(e);
      if (WRDIsLeadByte(e) && takesTrail(s)) token.add(s.data[s.pos++]);
      s.literalToken = true;
      return e;
    }

    token.add(c);
    if (c == ';') {
      bool lineEnd = s.pos >= s.size || s.data[s.pos] == kWRDCR;
      return lineEnd || s.inCommandLine ? ';' : ' ';
    }
    return c;
  });
}

uint8_t subWRDOptGetPre(TWRDState& s, uint8_t& code) {
  code = 0;
  return QGuard("subWRDOptGetPre", uint8_t{0}, [&]() -> uint8_t {
    const int32_t start = s.pos;
    s.scan = {start, start};
    uint8_t b = readByte(s, false);
    if (b == ' ' || b == kWRDCR || b == ';' || b == 0) {
      s.pos = start;
      return b;
    }
    char word[256];
    int32_t n = 0;
    uint8_t end = ' ';
    int32_t wordEnd = s.pos;
    for (;;) {
      word[n++] = static_cast<char>(b);
      if (n >= 255) {
        wordEnd = s.pos;
        break;
      }
      wordEnd = s.pos;
      b = readByte(s, false);
      if (b == 0 || b == kWRDCR || b == ' ' || b == '(' || b == ';') {
        end = b;
        if (b == kWRDCR) wordEnd = s.lastLineEnd;
        break;
      }
    }
    code = WRDCommandCode(std::string_view(word, static_cast<size_t>(n)));
    s.scan = {wordEnd, s.pos};
    s.pos = start;
    return end;
  });
}

uint8_t subWRDOptGet(TWRDState& s, uint8_t& code) {
  code = 0;
  return QGuard("subWRDOptGet", uint8_t{0}, [&]() -> uint8_t {
    uint8_t end = subWRDOptGetPre(s, code);
    if (code == kWRDCmdUnknown) {
      code = 0;
      return ' ';
    }
    if (code == 0) return end;
    // '(' and a space belong to the word; a line end or ';' is left for the
    // line's own handling.
    s.pos = (end == '(' || end == ' ') ? s.scan.after : s.scan.wordEnd;
    return end;
  });
}

namespace {

// One parameter: up to 255 bytes to its end byte, which is returned. The
// first byte skips spaces; a parameter that ends at a space (spaceEnds)
// reports it as ','.
uint8_t readParameter(TWRDState& s, std::string& text, bool spaceEnds) {
  uint8_t b = readByte(s, true);
  if (isParamEnd(b)) {
    if (b) text.push_back(static_cast<char>(b));
    return b;
  }
  text.push_back(static_cast<char>(b));
  for (int i = 0; i < 254; ++i) {
    b = readByte(s, !spaceEnds);
    if (spaceEnds && b == ' ') return ',';
    if (isParamEnd(b)) return b;
    text.push_back(static_cast<char>(b));
  }
  return b;
}

}  // namespace

uint8_t subWRDPrmGet(TWRDState& s, std::string& text) {
  text.clear();
  return QGuard("subWRDPrmGet", uint8_t{0}, [&] { return readParameter(s, text, false); });
}

uint8_t subWRDPrmGet2(TWRDState& s, std::string& text) {
  text.clear();
  return QGuard("subWRDPrmGet2", uint8_t{0}, [&] { return readParameter(s, text, true); });
}

uint8_t subWRDLineGet(TWRDState& s, std::string& text) {
  text.clear();
  return QGuard("subWRDLineGet", uint8_t{0}, [&]() -> uint8_t {
    uint8_t b = readByte(s, true);
    for (int i = 0; i < 255; ++i) {
      if (b == 0 || b == kWRDCR) return b;
      if (b == ';') {
        if (s.pos >= s.size || s.data[s.pos] == kWRDCR) return ';';
        text.push_back(';');
        b = readByte(s, false);
        if (b == 0 || b == kWRDCR) return b;
      }
      text.push_back(static_cast<char>(b));
      if (text.size() >= 254) return b;
      b = readByte(s, false);
    }
    return b;
  });
}
