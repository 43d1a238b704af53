#include "engine/wrd/karaoke_screen.h"

#include <algorithm>

#include "engine/graphics/display.h"
#include "engine/graphics/draw.h"
#include "engine/graphics/raster.h"
#include "platform/glyphs.h"
#include "support/cp932.h"
#include "support/guard.h"

namespace {

constexpr int32_t kStatusTop = 384;  // the bottom row stays the status line's
constexpr size_t kTitleBytes = TKaraokeScreen::kWidth / kGlyphColumnPixels;

// Cuts code page 932 text into pieces of at most `most` bytes, never inside
// a two-byte character.
std::vector<std::string> cutSjis(const std::string& s, size_t most) {
  std::vector<std::string> out;
  size_t start = 0, at = 0;
  while (at < s.size()) {
    const size_t n = IsSjisLeadByte(static_cast<uint8_t>(s[at])) && at + 1 < s.size() ? 2 : 1;
    if (at + n - start > most) {
      out.push_back(s.substr(start, at - start));
      start = at;
    }
    at += n;
  }
  if (at > start) out.push_back(s.substr(start));
  return out;
}

// A line's syllables laid out in rows of at most kRowBytes, wrapping between
// syllables (inside one only when it is longer than a row).
std::vector<TKaraokeScreen::Row> layOut(const LyricLine& line) {
  std::vector<TKaraokeScreen::Row> rows;
  TKaraokeScreen::Row row;
  for (size_t k = 0; k < line.syllables.size(); ++k) {
    for (std::string& piece :
         cutSjis(Utf8ToCp932(line.syllables[k].text), TKaraokeScreen::kRowBytes)) {
      if (row.bytes > 0 && row.bytes + piece.size() > TKaraokeScreen::kRowBytes) {
        rows.push_back(std::move(row));
        row = {};
      }
      row.bytes += piece.size();
      row.pieces.push_back(std::move(piece));
      row.syllables.push_back(k);
    }
  }
  if (row.bytes > 0) rows.push_back(std::move(row));
  return rows;
}

std::string titleLine(const TSongLyrics& lyrics, const std::string& fallback) {
  std::string title = lyrics.title.empty() ? fallback : lyrics.title;
  if (!lyrics.artist.empty()) title += "  " + lyrics.artist;
  std::vector<std::string> cut = cutSjis(Utf8ToCp932(title), kTitleBytes);
  return cut.empty() ? std::string() : cut.front();
}

}  // namespace

void TKaraokeScreen::ApplyPalette() {
  const QGPaletteEntry colours[] = {
      {170, 170, 170, 0},  // kTitle
      {80, 200, 255, 0},   // kSung
      {255, 255, 255, 0},  // kUnsung
      {16, 16, 48, 0},     // kBackground
  };
  QDSetPaletteEntries(kTitle, 4, colours);
}

TKaraokeScreen::TKaraokeScreen(const TSongLyrics& lyrics, const std::string& titleUtf8)
    : lyrics_(lyrics), titleSjis_(titleLine(lyrics, titleUtf8)) {
  for (const LyricLine& line : lyrics.lines) layout_.push_back(layOut(line));
  QGClearBitmap(kWidth, kGlyphRows, text_);
}

TKaraokeScreen::~TKaraokeScreen() { QGFreeBitmap(text_); }

const std::vector<TKaraokeScreen::Row>& TKaraokeScreen::rows(size_t line) const {
  static const std::vector<Row> none;
  return line < layout_.size() ? layout_[line] : none;
}

bool TKaraokeScreen::draw(TQGBitmap& screen, uint32_t ms) {
  return QGuard("TKaraokeScreen.draw", false, [&] {
    const LyricPlace place = lyrics_.placeAt(ms);
    if (drawn_ && place == shown_) return false;
    if (screen.width() < kWidth || screen.height() < kHeight || !text_.exists()) return false;
    if (!QGFillRect(screen, 0, 0, kWidth, kStatusTop, kBackground)) return false;
    if (!drawText(screen, {titleSjis_}, 0, kTitleTop, 1, kTitle)) return false;
    int32_t top = kCurrentTop;
    for (const Row& row : rows(place.line)) {
      if (!drawRow(screen, row, place.sung, top)) return false;
      top += kRowPitch;
    }
    top += kLineGap;
    for (const Row& row : rows(place.line + 1)) {
      if (top + kRowHeight > kStatusTop) break;
      if (!drawRow(screen, row, 0, top)) return false;
      top += kRowPitch;
    }
    shown_ = place;
    drawn_ = true;
    return true;
  });
}

bool TKaraokeScreen::drawRow(TQGBitmap& screen, const Row& row, size_t sung, int32_t top) {
  if (top + kRowHeight > kStatusTop) return true;  // a line of more rows than fit is cut
  const auto begun = static_cast<size_t>(std::count_if(row.syllables.begin(), row.syllables.end(),
                                                       [&](size_t k) { return k < sung; }));
  return drawText(screen, row.pieces, begun, top, 2, kUnsung);
}

// Renders pieces[0, sung) in the sung colour and the rest in colour, then
// puts the ink onto the screen, centred, each pixel scale x scale.
bool TKaraokeScreen::drawText(TQGBitmap& screen, const std::vector<std::string>& pieces,
                              size_t sung, int32_t top, int scale, uint8_t colour) {
  const int count = static_cast<int>(pieces.size());
  const int split = static_cast<int>(std::min(sung, pieces.size()));
  int32_t sungWidth = 0, restWidth = 0;
  if (!QGFillRect(text_, 0, 0, kWidth, kGlyphRows, kQGClearIndex)) return false;
  if (!QRSetMoji(text_, 0, 0, &sungWidth, pieces, 0, split, kSung) ||
      !QRSetMoji(text_, sungWidth, 0, &restWidth, pieces, split, count, colour))
    return false;
  const int32_t width = std::min(sungWidth + restWidth, kWidth / scale);
  const int32_t left = ((kWidth - width * scale) / 2) & ~1;
  qg::RasterLock out(screen), in(text_);
  if (!out.ok() || !in.ok()) return false;
  for (int32_t r = 0; r < kGlyphRows; ++r) {
    const uint8_t* src = in.row(r);
    for (int32_t c = 0; c < width; ++c) {
      if (src[c] == kQGClearIndex) continue;
      for (int i = 0; i < scale; ++i)
        std::fill_n(out.row(top + r * scale + i) + left + c * scale, scale, src[c]);
    }
  }
  return true;
}
