// The karaoke screen: what the 640 x 400 screen shows while a song with
// lyrics and no WRD script plays. The line being sung and the next one, in
// the WRD text font at twice its size (a line too long for one row wraps
// between syllables), the syllables already begun in another colour; the
// lyric title above. Text goes through the display's text objects
// (QRSetMoji), so a display must exist (QDCreate); the screen it draws into
// is any raster of at least 640 x 400, normally QDScreenBuffer().
//
// Threads: draw runs where the screen is drawn (the player's status
// thread in the engine); construction and destruction on the thread that
// makes and frees the display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/graphics/bitmap.h"
#include "engine/song/song_lyrics.h"

class TKaraokeScreen {
 public:
  // Palette indices of its colours: screen colours 0 to 3.
  static constexpr uint8_t kBackground = 241;
  static constexpr uint8_t kUnsung = 240;
  static constexpr uint8_t kSung = 239;
  static constexpr uint8_t kTitle = 238;
  static constexpr int32_t kWidth = 640;
  static constexpr int32_t kHeight = 400;
  // Rows of the lines: each 32 pixels high, 40 apart; the current line's
  // first row at kCurrentTop, the next line 24 pixels below the current one.
  static constexpr int32_t kRowHeight = 32;
  static constexpr int32_t kRowPitch = 40;
  static constexpr int32_t kCurrentTop = 136;
  static constexpr int32_t kLineGap = 24;
  static constexpr int32_t kTitleTop = 24;
  // Text bytes per row at twice the font's size.
  static constexpr size_t kRowBytes = 40;

  // Sets the screen's colours in the display palette.
  static void ApplyPalette();

  // titleUtf8: what the top line says when the lyrics have no title. The
  // lyrics must outlive the screen.
  TKaraokeScreen(const TSongLyrics& lyrics, const std::string& titleUtf8);
  ~TKaraokeScreen();
  TKaraokeScreen(const TKaraokeScreen&) = delete;
  TKaraokeScreen& operator=(const TKaraokeScreen&) = delete;

  // Draws the whole 640 x 400 screen as it stands at song time ms (the
  // song's own milliseconds: TSongLyrics::msAtTick of the ticks played).
  // False when the screen already shows that moment and nothing was drawn,
  // or when it could not be drawn (no display, a screen too small).
  bool draw(TQGBitmap& screen, uint32_t ms);
  // The moment the last draw showed.
  LyricPlace shown() const { return shown_; }

  // One row of a line as laid out: its pieces (code page 932 bytes) and
  // the syllable of the line each piece belongs to.
  struct Row {
    std::vector<std::string> pieces;
    std::vector<size_t> syllables;
    size_t bytes = 0;
  };
  // The rows of line i (empty past the end).
  const std::vector<Row>& rows(size_t line) const;

 private:
  bool drawRow(TQGBitmap& screen, const Row& row, size_t sung, int32_t top);
  bool drawText(TQGBitmap& screen, const std::vector<std::string>& pieces, size_t sung, int32_t top,
                int scale, uint8_t colour);

  const TSongLyrics& lyrics_;
  std::string titleSjis_;
  std::vector<std::vector<Row>> layout_;
  TQGBitmap text_;  // one rendered row before it is scaled onto the screen
  LyricPlace shown_;
  bool drawn_ = false;
};
