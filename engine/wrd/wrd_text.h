// The 80 x 25 character screen the WRD compiler emulates: cursor, shadow
// grid of two-byte halves, text runs laid out into character cells, and the
// cursor, erase and scroll commands turned into rectangle records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct TWRDState;

// Cursor to 0, 0, colour 255, 8 x 16 characters, empty grid, no origin
// corrections.
void WRDTextReset(TWRDState& s);

// Splits text into character units (at most 256) in the state's unit table;
// the bytes taken are left in unitBytes. Box-drawing characters of the 0x86
// row become one-byte look-alikes.
int32_t subWRDCut(TWRDState& s, std::string_view text);

// Lays a text run out at the cursor and closes it with an op 1 entry.
void WRDPlaceText(TWRDState& s, std::string_view text);
// Column 0 of the next row, scrolling the screen at the last text row.
void WRDNewLine(TWRDState& s);

// The text colour for n: the colour table, where 0 means 255 for COLOR and
// 251 for the escape form; -1 when n leaves the colour unchanged.
int32_t WRDColourFor(int32_t n, bool escapeForm);

// Commands. given is the number of parameters written.
void WRDLocate(TWRDState& s, int32_t given, int32_t a, int32_t b);
void WRDTon(TWRDState& s, int32_t n);
void WRDColor(TWRDState& s, int32_t n);
void WRDTcls(TWRDState& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t colour);
void WRDScroll(TWRDState& s, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t kind, int32_t colour);

// Escape sequences by their final letter (as written after ESC '['):
// n is the count (-1 when no digit was written), n2 the column of 'H'.
// False when the letter is not one of the sequences.
bool WRDEscape(TWRDState& s, char letter, int32_t n, int32_t n2);
// @ESC(p): the command form (upper-cased parameter). second is the
// parameter after a ';' (the column of "y;xH"), empty when none.
void WRDEscapeCommand(TWRDState& s, const std::string& p, const std::string& second);
// ESC inside a text line: reads the sequence's tokens. A token that is not
// part of a known sequence is left to be read as usual.
void WRDEscapeText(TWRDState& s);
