#include "engine/song/play_mode_edits.h"

#include <bitset>
#include <cstring>
#include <iterator>

namespace {

struct BankPair {
  uint8_t program;
  uint8_t msb;
};

// Program / bank MSB pairs the mode 2 analysis compares the song's program
// changes with (list A and list B).
constexpr BankPair kListA[] = {
    {0, 8}, {0, 16}, {1, 8}, {2, 8}, {3, 8}, {4, 8}, {4, 16}, {4, 24}, {5, 8}, {5, 16}, {6, 8},
    {6, 16}, {6, 24}, {11, 8}, {12, 8}, {14, 8}, {14, 9}, {16, 8}, {16, 16}, {16, 32}, {17, 8},
    {17, 32}, {19, 8}, {19, 16}, {21, 8}, {24, 8}, {24, 16}, {24, 32}, {25, 8}, {25, 16}, {26, 8},
    {27, 8}, {28, 8}, {28, 16}, {30, 8}, {31, 8}, {38, 1}, {38, 8}, {39, 8}, {39, 16}, {40, 8},
    {48, 8}, {50, 8}, {52, 32}, {57, 1}, {60, 1}, {61, 8}, {62, 8}, {62, 16}, {63, 8}, {63, 16},
    {80, 1}, {80, 8}, {81, 1}, {81, 8}, {98, 1}, {102, 1}, {102, 2}, {104, 1}, {107, 8}, {115, 8},
    {116, 8}, {117, 8}, {118, 8}, {118, 9}, {120, 1}, {120, 2}, {121, 1}, {122, 1}, {122, 2},
    {122, 3}, {122, 4}, {122, 5}, {123, 1}, {123, 2}, {123, 3}, {124, 1}, {124, 2}, {124, 3},
    {124, 4}, {124, 5}, {125, 1}, {125, 2}, {125, 3}, {125, 4}, {125, 5}, {125, 6}, {125, 7},
    {125, 8}, {125, 9}, {126, 1}, {126, 2}, {126, 3}, {126, 4}, {126, 5}, {127, 1}, {127, 2},
    {127, 3}, {0, 0}, {0, 0},
};

constexpr BankPair kListB[] = {
    {0, 8}, {0, 16}, {1, 8}, {2, 1}, {2, 2}, {2, 8}, {3, 8}, {4, 8}, {4, 16}, {4, 24}, {4, 25},
    {4, 26}, {5, 8}, {5, 16}, {5, 24}, {6, 8}, {6, 16}, {6, 24}, {11, 1}, {11, 8}, {12, 8},
    {12, 16}, {12, 17}, {12, 24}, {14, 8}, {14, 9}, {15, 1}, {15, 8}, {16, 1}, {16, 8}, {16, 9},
    {16, 16}, {16, 17}, {16, 18}, {16, 24}, {16, 32}, {16, 33}, {16, 40}, {17, 1}, {17, 8},
    {17, 32}, {18, 8}, {18, 16}, {18, 24}, {19, 8}, {19, 16}, {19, 24}, {19, 32}, {21, 8},
    {22, 1}, {24, 8}, {24, 16}, {24, 24}, {24, 32}, {24, 40}, {25, 8}, {25, 9}, {25, 16},
    {25, 32}, {26, 1}, {26, 8}, {27, 8}, {28, 1}, {28, 8}, {28, 16}, {30, 1}, {30, 2}, {30, 8},
    {30, 9}, {30, 16}, {30, 17}, {30, 18}, {30, 24}, {30, 25}, {31, 8}, {31, 16}, {33, 1},
    {33, 2}, {34, 8}, {35, 1}, {35, 2}, {35, 3}, {35, 4}, {35, 5}, {36, 8}, {38, 1}, {38, 8},
    {38, 9}, {38, 10}, {38, 16}, {39, 1}, {39, 2}, {39, 3}, {39, 8}, {39, 9}, {39, 16}, {39, 17},
    {39, 18}, {39, 19}, {40, 8}, {44, 8}, {44, 9}, {48, 1}, {48, 8}, {48, 9}, {48, 10}, {48, 11},
    {48, 16}, {48, 24}, {49, 1}, {49, 8}, {49, 9}, {49, 10}, {50, 1}, {50, 8}, {52, 8}, {52, 9},
    {52, 32}, {54, 8}, {55, 8}, {55, 9}, {55, 10}, {55, 16}, {56, 1}, {56, 8}, {56, 24}, {56, 25},
    {57, 1}, {58, 1}, {60, 1}, {60, 8}, {60, 16}, {61, 8}, {61, 16}, {62, 1}, {62, 8}, {62, 9},
    {62, 16}, {63, 1}, {63, 8}, {63, 16}, {63, 17}, {65, 8}, {66, 8}, {71, 8}, {75, 8}, {80, 1},
    {80, 2}, {80, 3}, {80, 4}, {80, 5}, {80, 6}, {80, 8}, {81, 1}, {81, 2}, {81, 3}, {81, 4},
    {81, 5}, {81, 6}, {81, 7}, {81, 8}, {81, 16}, {82, 1}, {82, 2}, {84, 8}, {86, 1}, {87, 1},
    {87, 2}, {88, 1}, {89, 1}, {89, 2}, {89, 3}, {89, 4}, {90, 1}, {91, 1}, {93, 1}, {93, 2},
    {95, 1}, {95, 8}, {95, 9}, {95, 10}, {96, 1}, {96, 2}, {96, 8}, {97, 1}, {97, 2}, {97, 8},
    {98, 1}, {98, 2}, {98, 3}, {98, 4}, {98, 5}, {98, 6}, {98, 7}, {98, 8}, {98, 9}, {98, 16},
    {98, 17}, {98, 18}, {98, 19}, {99, 1}, {99, 2}, {99, 3}, {99, 4}, {99, 5}, {99, 6}, {101, 1},
    {101, 2}, {102, 1}, {102, 2}, {102, 3}, {102, 4}, {102, 5}, {102, 6}, {103, 1}, {104, 1},
    {104, 2}, {104, 8}, {104, 16}, {105, 1}, {105, 8}, {105, 16}, {105, 24}, {106, 1}, {107, 8},
    {107, 16}, {111, 1}, {111, 8}, {111, 16}, {112, 8}, {112, 9}, {112, 10}, {112, 11}, {112, 16},
    {113, 8}, {115, 8}, {116, 8}, {117, 1}, {117, 8}, {117, 9}, {118, 8}, {118, 9}, {119, 1},
    {119, 8}, {119, 9}, {119, 16}, {119, 17}, {119, 24}, {119, 25}, {120, 1}, {120, 2}, {120, 3},
    {120, 4}, {120, 5}, {120, 6}, {121, 1}, {122, 1}, {122, 2}, {122, 3}, {122, 4}, {122, 5},
    {123, 1}, {123, 2}, {123, 3}, {123, 4}, {123, 5}, {124, 1}, {124, 2}, {124, 3}, {124, 4},
    {124, 5}, {124, 7}, {125, 1}, {125, 2}, {125, 3}, {125, 4}, {125, 5}, {125, 6}, {125, 7},
    {125, 8}, {125, 9}, {126, 1}, {126, 2}, {126, 3}, {126, 4}, {126, 5}, {126, 6}, {127, 1},
    {127, 2}, {127, 3},
};

static_assert(std::size(kListA) == 100);
static_assert(std::size(kListB) == 290);

template <size_t N>
std::bitset<128 * 128> makeSet(const BankPair (&list)[N]) {
  std::bitset<128 * 128> set;
  for (const BankPair& p : list) set.set(static_cast<size_t>(p.program) * 128 + p.msb);
  return set;
}

bool inSet(const std::bitset<128 * 128>& set, uint8_t program, uint8_t msb) {
  return program < 128 && msb < 128 && set.test(static_cast<size_t>(program) * 128 + msb);
}

constexpr uint8_t kGsReset[] = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41};
constexpr uint8_t kGmSystemOn[] = {0x7E, 0x7F, 0x09, 0x01};
constexpr uint8_t kSystemModeSet[] = {0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01};
constexpr uint8_t kXgSystemOn[] = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00};

template <size_t N>
bool startsWith(const uint8_t* data, uint32_t length, const uint8_t (&prefix)[N], uint32_t minLength) {
  return length >= minLength && std::memcmp(data, prefix, N) == 0;
}

bool isGeneratorBank(uint8_t msb) { return msb == 126 || msb == 127; }

}  // namespace

bool QGmstInBankListA(uint8_t program, uint8_t msb) {
  static const auto set = makeSet(kListA);
  return inSet(set, program, msb);
}

bool QGmstInBankListB(uint8_t program, uint8_t msb) {
  static const auto set = makeSet(kListB);
  return inSet(set, program, msb);
}

bool QGmstIsResetMessage(const uint8_t* data, uint32_t length) {
  if (!data) return false;
  return startsWith(data, length, kGsReset, 9) || startsWith(data, length, kGmSystemOn, 4) ||
         startsWith(data, length, kSystemModeSet, 9) || startsWith(data, length, kXgSystemOn, 7);
}

void PlayModeEdits::start(int32_t playMode) {
  mode = playMode;
  detected = 0;
  chordCount = 0;
  chordPosition = 0;
  clearBanks();
}

void PlayModeEdits::clearBanks() {
  std::memset(msb, 0, sizeof msb);
  std::memset(lsb, 0, sizeof lsb);
}

QGmstEdit PlayModeEdits::channel(int track, uint8_t status, uint8_t data1, uint8_t data2,
                                 int32_t position) {
  if (mode <= 0) return QGmstEdit::Keep;
  uint8_t kind = status & 0xF0;
  if (mode == 1) {
    // At most 16 note-ons sound together at one position; any other event
    // between them ends the chord. The note-on that opens a position counts.
    const bool noteOn = kind == 0x90 && data2 != 0;
    if (!noteOn || position != chordPosition) {
      chordCount = 0;
      chordPosition = position;
    }
    if (!noteOn) return QGmstEdit::Keep;
    if (chordCount >= 16) return QGmstEdit::Replace;
    ++chordCount;
    return QGmstEdit::Keep;
  }
  if (mode == 5) return kind == 0xB0 && data1 == 0x20 ? QGmstEdit::ReplaceNoMarker : QGmstEdit::Keep;
  if (mode != 2 || track < 0 || track >= kQGmstMaxTracks) return QGmstEdit::Keep;

  if (kind == 0xB0 && data1 == 0x20) {
    lsb[track] = data2;
    if (data2 == 0 && (isGeneratorBank(msb[track]) || (detected & kSetupOutsideListB)))
      return QGmstEdit::ReplaceNoMarker;
  } else if (kind == 0xB0 && data1 == 0x00) {
    msb[track] = data2;
  } else if (kind == 0xC0 && msb[track] != 0) {
    uint8_t bank = msb[track];
    uint8_t program = data1;
    if (!(detected & kSetupOutsideListA) && !isGeneratorBank(bank)) {
      detected |= kSetupOutsideListA;
      if (QGmstInBankListA(program, bank)) detected &= ~kSetupOutsideListA;
    }
    if (!(detected & kSetupOutsideListB)) {
      detected |= kSetupOutsideListB;
      if (lsb[track] == 1) {
        if (isGeneratorBank(bank) || QGmstInBankListA(program, bank)) detected &= ~kSetupOutsideListB;
      } else if (!isGeneratorBank(bank)) {
        if (QGmstInBankListB(program, bank)) detected &= ~kSetupOutsideListB;
      }
    }
  }
  return QGmstEdit::Keep;
}

QGmstEdit PlayModeEdits::sysEx(const uint8_t* data, uint32_t length) {
  if (mode <= 0) return QGmstEdit::Keep;
  if (mode == 1) return QGmstEdit::Replace;
  if (mode == 2 && length >= 1 && data && data[0] == 0x43 && detected < 4) detected |= kSetupYamaha;
  return QGmstIsResetMessage(data, length) ? QGmstEdit::Replace : QGmstEdit::Keep;
}
