// Readers of a WRD script held in the state block's buffer: bytes, tokens,
// command words, parameters and the rest of a line. Each returns 0 once the
// script's end is reached (and on any failure, which is traced).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TWRDState;

constexpr uint8_t kWRDCR = 13;
constexpr uint8_t kWRDLF = 10;
constexpr uint8_t kWRDTab = 9;
constexpr uint8_t kWRDEsc = 27;

// Command codes of the command words.
enum : uint8_t {
  kWRDCmdStartup = 0x80,
  kWRDCmdWmode = 0x81,
  kWRDCmdWait = 0x82,
  kWRDCmdOffset = 0x83,
  kWRDCmdRest = 0x84,
  kWRDCmdInkey = 0x85,
  kWRDCmdEnd = 0x86,
  kWRDCmdLocate = 0x90,
  kWRDCmdTon = 0x91,
  kWRDCmdEsc = 0x92,
  kWRDCmdColor = 0x93,
  kWRDCmdTcls = 0x94,
  kWRDCmdScroll = 0x95,
  kWRDCmdGinit = 0xA0,
  kWRDCmdGcls = 0xA1,
  kWRDCmdGscreen = 0xA2,
  kWRDCmdGon = 0xA3,
  kWRDCmdGline = 0xA4,
  kWRDCmdGcircle = 0xA5,
  kWRDCmdPal = 0xA7,
  kWRDCmdPalrev = 0xA8,
  kWRDCmdFade = 0xA9,
  kWRDCmdGmode = 0xAA,
  kWRDCmdGmove = 0xAB,
  kWRDCmdMag = 0xAC,
  kWRDCmdXcopy = 0xAD,
  kWRDCmdMidi = 0xB0,
  kWRDCmdExec = 0xB1,
  kWRDCmdPath = 0xB2,
  kWRDCmdLoop = 0xB3,
  kWRDCmdStop = 0xB4,
  kWRDCmdRem = 0xB5,
  kWRDCmdUnknown = 0xFF,
};

// Shift-JIS lead bytes as the script reader counts them.
constexpr bool WRDIsLeadByte(uint8_t b) { return (b >= 0x80 && b <= 0x9F) || b >= 0xE0; }

// A token or parameter: at most 255 bytes.
struct TWRDToken {
  uint8_t text[256];
  int32_t length = 0;
  void clear() { length = 0; }
  void add(uint8_t b) {
    if (length < 255) text[length++] = b;
  }
  std::string_view view() const { return {reinterpret_cast<const char*>(text), static_cast<size_t>(length)}; }
  bool is(char c) const { return length == 1 && text[0] == static_cast<uint8_t>(c); }
};

uint8_t subWRDByteGet(TWRDState& s, bool skipSpaces);
// The token's kind byte; 0 at the end of the script.
uint8_t subWRDGet(TWRDState& s, TWRDToken& token);
// Command word after '@' or '^': the code, and the byte that ended the word.
uint8_t subWRDOptGetPre(TWRDState& s, uint8_t& code);
uint8_t subWRDOptGet(TWRDState& s, uint8_t& code);
// One parameter; the result is the character that ended it.
uint8_t subWRDPrmGet(TWRDState& s, std::string& text);
// A file name parameter.
uint8_t subWRDPrmGet2(TWRDState& s, std::string& text);
// The rest of the line.
uint8_t subWRDLineGet(TWRDState& s, std::string& text);

// The code of a command word (any letter case); kWRDCmdUnknown when none.
uint8_t WRDCommandCode(std::string_view word);
// A parameter as a number: optional sign and decimal digits, or '$' and
// hexadecimal digits, after optional spaces; anything else (or a value
// outside 32 bits) gives fallback.
int32_t WRDNumber(std::string_view text, int32_t fallback);
