#include "engine/wrd/wrd_executor.h"

#include <algorithm>
#include <array>
#include <string>
#include <thread>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/graphics/draw.h"
#include "engine/graphics/picture_slots.h"
#include "engine/graphics/transfer.h"
#include "support/guard.h"
#include "support/result_code.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 400;
constexpr int32_t kColour0 = 241;
constexpr int32_t kStatusTop = 384;
constexpr int32_t kFirstScreenColour = 226;

TQGBitmap& page(int32_t n) { return n == 1 ? QDPage1() : QDPage0(); }
int32_t clampPalette(int32_t n) { return std::clamp(n, 0, kWRDPalettes - 1); }

// The bounding box of two corners as x, y, width, height.
struct Box {
  int32_t x, y, w, h;
};
Box boxOf(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  const int64_t l = std::min(x1, x2), r = std::max(x1, x2);
  const int64_t t = std::min(y1, y2), b = std::max(y1, y2);
  auto c = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -100000, 100000)); };
  return {c(l), c(t), c(r - l + 1), c(b - t + 1)};
}

void composeIfShown(int32_t drawnPage, const Box& b) {
  if (drawnPage == WRDState().shownPage) WRDComposeWidened(b.x, b.y, b.w, b.h);
}

// --- text --------------------------------------------------------------------

// Draws cells nextCell .. end-1 into the text layer; the rectangle drawn
// (width 0 when nothing was).
Box drawText(int32_t end) {
  TWRDState& s = WRDState();
  const int32_t first = s.nextCell.load();
  const int32_t last = std::min<int32_t>(end, static_cast<int32_t>(s.cells.size()));
  s.nextCell = end;
  if (first < 0 || last <= first) return {0, 0, 0, 0};
  std::vector<std::string> strings;
  strings.reserve(static_cast<size_t>(last - first));
  for (int32_t i = first; i < last; ++i) strings.emplace_back(s.cells.at(static_cast<size_t>(i)).view());
  const TWRDCell& head = s.cells.at(static_cast<size_t>(first));
  int32_t width = 0;
  QRSetMoji(QDTextLayer(), head.x, head.y, &width, strings, 0, static_cast<int>(strings.size()),
            head.colour);
  return {head.x, head.y, width, 16};
}

void growDirty(const Box& b, bool first) {
  TWRDState& s = WRDState();
  if (first) s.dirtyValid = false;
  if (b.w <= 0) return;
  const int32_t r = b.x + b.w - 1, bottom = b.y + b.h - 1;
  if (!s.dirtyValid) {
    s.dirtyLeft = b.x;
    s.dirtyTop = b.y;
    s.dirtyRight = r;
    s.dirtyBottom = bottom;
    s.dirtyValid = true;
    return;
  }
  s.dirtyLeft = std::min(s.dirtyLeft, b.x);
  s.dirtyTop = std::min(s.dirtyTop, b.y);
  s.dirtyRight = std::max(s.dirtyRight, r);
  s.dirtyBottom = std::max(s.dirtyBottom, bottom);
}

void composeDirty() {
  TWRDState& s = WRDState();
  if (!s.dirtyValid) return;
  s.dirtyValid = false;
  WRDComposeWidened(s.dirtyLeft, s.dirtyTop, s.dirtyRight - s.dirtyLeft + 1,
                    s.dirtyBottom - s.dirtyTop + 1);
}

// --- text layer rectangles ---------------------------------------------------

void erase(int32_t record, bool compose) {
  const TWRDRect r = WRDState().rects.at(static_cast<size_t>(record));
  if (r.colour == kWRDClearColour)
    QGFillRect(QDTextLayer(), r.x, r.y, r.width, r.height, kWRDClearColour);
  else
    QGClearRect(QDTextLayer(), r.x, r.y, r.width, r.height, kWRDClearColour, r.colour);
  if (compose) WRDComposeWidened(r.x, r.y, r.width, r.height);
}

// Moves the rectangle's contents by one character and fills the strip left
// behind. Copies towards lower addresses run forwards, the others backwards,
// so that the overlapping rows survive.
void scroll(int32_t record, bool compose) {
  const TWRDRect r = WRDState().rects.at(static_cast<size_t>(record));
  TQGBitmap& t = QDTextLayer();
  const int32_t x = r.x, y = r.y, w = r.width, h = r.height;
  switch (r.kind) {
    case 0:  // up
      QGBackBlt(t, x, y, w, h - 16, t, x, y + 16);
      QGFillRect(t, x, y + h - 16, w, 16, r.colour);
      break;
    case 1:  // down
      QGDownBlt(t, x, y + 16, w, h - 16, t, x, y);
      QGFillRect(t, x, y, w, 16, r.colour);
      break;
    case 2:  // right
      QGDownBlt(t, x + 8, y, w - 8, h, t, x, y);
      QGFillRect(t, x, y, 8, h, r.colour);
      break;
    case 3:  // left
      QGBackBlt(t, x, y, w - 8, h, t, x + 8, y);
      QGFillRect(t, x + w - 8, y, 8, h, r.colour);
      break;
    default:
      return;
  }
  if (compose) WRDComposeWidened(x, y, w, h);
}

// --- graphics ------------------------------------------------------------------

void gline(int32_t record, bool planes) {
  TWRDState& s = WRDState();
  const TWRDRect r = s.rects.at(static_cast<size_t>(record));
  const int32_t p = s.runDrawingPage;
  TQGBitmap& pg = page(p);
  const int32_t mask = s.graphicsMode;
  const int64_t x2 = int64_t{r.x} + r.width - 1, y2 = int64_t{r.y} + r.height - 1;
  const Box b = boxOf(r.x, r.y, x2, y2);
  switch (r.kind) {
    case 5:
      if (planes) QGPlanRect(pg, b.x, b.y, b.x + b.w - 1, b.y + b.h - 1, r.colour, mask);
      else QGRectAngle(pg, b.x, b.y, b.x + b.w - 1, b.y + b.h - 1, r.colour);
      break;
    case 6:
      if (r.colour2 == r.colour) {
        if (planes) QGPlanFill(pg, b.x, b.y, b.w, b.h, r.colour, mask);
        else QGFillRect(pg, b.x, b.y, b.w, b.h, r.colour);
      } else {
        if (planes) {
          QGPlanRect(pg, b.x, b.y, b.x + b.w - 1, b.y + b.h - 1, r.colour, mask);
          QGPlanFill(pg, b.x + 1, b.y + 1, b.w - 2, b.h - 2, r.colour2, mask);
        } else {
          QGRectAngle(pg, b.x, b.y, b.x + b.w - 1, b.y + b.h - 1, r.colour);
          QGFillRect(pg, b.x + 1, b.y + 1, b.w - 2, b.h - 2, r.colour2);
        }
      }
      break;
    default:  // a line; a single point is not drawn
      if (r.width == 1 && r.height == 1) return;
      if (planes)
        QGPlanLine(pg, r.x, r.y, static_cast<int32_t>(x2), static_cast<int32_t>(y2), r.colour, mask);
      else
        QGLineTo(pg, r.x, r.y, static_cast<int32_t>(x2), static_cast<int32_t>(y2), r.colour);
      break;
  }
  composeIfShown(p, b);
}

void gcircle(int32_t record, bool planes) {
  TWRDState& s = WRDState();
  const TWRDRect r = s.rects.at(static_cast<size_t>(record));
  const int32_t p = s.runDrawingPage;
  const int32_t cx = r.x, cy = r.y, radius = r.width;
  if (planes)
    QGPlanCircle(page(p), cx, cy, cx + radius - 1, cy, r.colour, r.colour2, s.graphicsMode);
  else
    QGFillCircle(page(p), cx, cy, cx + radius - 1, cy, r.colour, r.colour2);
  composeIfShown(p, {cx - radius, cy - radius, 2 * radius, 2 * radius});
}

void gmove(int32_t record, bool planes) {
  TWRDState& s = WRDState();
  const TWRDPicRecord c = s.pictures.at(static_cast<size_t>(record));
  const int32_t from = (c.modeA / 2) & 1, to = c.modeA % 2 == 0 ? 0 : 1;
  TQGBitmap& src = page(from);
  TQGBitmap& dst = page(to);
  const int32_t w = c.width, h = c.height;
  switch (c.modeB) {
    case 0:
      if (planes) {
        QGPlanBlt(dst, c.x2, c.y2, w, h, src, c.x1, c.y1, s.graphicsMode);
      } else if (from == to && (c.y2 > c.y1 || (c.y2 == c.y1 && c.x2 > c.x1))) {
        // Within one page towards higher addresses: copy from the end so
        // that an overlapping source is read before it is overwritten.
        QGDownBlt(dst, c.x2, c.y2, w, h, src, c.x1, c.y1);
      } else {
        QGBackBlt(dst, c.x2, c.y2, w, h, src, c.x1, c.y1);
      }
      break;
    case 1:
      QGChgeBlt(dst, c.x2, c.y2, w, h, src, c.x1, c.y1);
      break;
    case 2:
      QGXCopy(dst, c.x2, c.y2, w, h, src, c.x1, c.y1, kQGOpaque);
      break;
    case 3:
      QGXCopy(dst, c.x2, c.y2, w, h, src, c.x1, c.y1, kColour0);
      break;
    default:
      return;
  }
  if (c.modeB == 0) {
    if (to == s.shownPage) WRDComposeWidened(c.x2, c.y2, w, h);
  } else {
    WRDComposeWidened(c.x2, c.y2, w, h);
    WRDComposeWidened(c.x1, c.y1, w, h);
  }
}

// A picture's 16 screen colours as a palette (entry k from index 226 + k).
TWRDPalette pictureColours(const TQGBitmap& picture) {
  TWRDPalette p{};
  for (int k = 0; k < 16; ++k) {
    const QGRgbQuad& q = picture.colours[static_cast<size_t>(kFirstScreenColour + k)];
    p[static_cast<size_t>(k)] = {q.red, q.green, q.blue, 0};
  }
  return p;
}

void picture(int32_t record, bool compose) {
  TWRDState& s = WRDState();
  const TWRDPicRecord c = s.pictures.at(static_cast<size_t>(record));
  const int32_t slot = c.modeB / 64, mode = c.modeB % 64;
  const TQGBitmap* pic = QGSlotPicture(slot);
  int32_t x = c.x2, y = c.y2, w = c.width, h = c.height;
  if (x == 0 && y == 0 && pic) {
    x = pic->originX;
    y = pic->originY;
    w = pic->width();
    h = pic->height();
  }
  w = std::min(w, kWidth - x);
  h = std::min(h, kHeight - y);
  const int32_t p = s.runDrawingPage;
  const size_t pagePalette = p == 1 ? 19 : 18;
  if (pic) {
    // The picture's colours are kept for every mode, so that mode 2 shows
    // this picture's palette rather than the one drawn before it.
    const TWRDPalette colours = pictureColours(*pic);
    s.palettes[pagePalette] = colours;
    s.palettes[17] = colours;
  }
  if (mode != 2 && pic && w > 0 && h > 0) QDMagBlt(page(p), x, y, 0, pic, h, w);
  if (mode != 1) {
    s.palettes[0] = s.palettes[pagePalette];
    s.palettes[21] = s.palettes[pagePalette];
    WRDApplyPalette0();
  }
  if (mode != 2 && compose && pic && p == s.shownPage && w > 0 && h > 0) WRDComposeWidened(x, y, w, h);
}

// --- palettes ----------------------------------------------------------------

void pal(int32_t record) {
  TWRDState& s = WRDState();
  const TWRDPalRecord& r = s.palRecords.at(static_cast<size_t>(record));
  const int32_t target = clampPalette(r.target);
  s.palettes[static_cast<size_t>(target)] = r.colours;
  if (target == 0) {
    s.palettes[21] = r.colours;
    WRDApplyPalette0();
  }
}

void palrev(int32_t n) {
  TWRDState& s = WRDState();
  if (n < 0 || n >= kWRDPalettes) return;
  TWRDPalette& p = s.palettes[static_cast<size_t>(n)];
  for (TWRDPalEntry& e : p) {
    e.red = static_cast<uint8_t>(255 - e.red);
    e.green = static_cast<uint8_t>(255 - e.green);
    e.blue = static_cast<uint8_t>(255 - e.blue);
  }
  if (n == 0) {
    s.palettes[21] = p;
    WRDApplyPalette0();
  }
}

uint8_t towards(uint8_t from, uint8_t to, int32_t by) {
  if (from < to) return static_cast<uint8_t>(std::min<int32_t>(from + by, to));
  return static_cast<uint8_t>(std::max<int32_t>(from - by, to));
}

void fade(int32_t record) {
  TWRDState& s = WRDState();
  const TWRDFadeStep f = s.fades.at(static_cast<size_t>(record));
  const TWRDPalette from = s.palettes[static_cast<size_t>(clampPalette(f.from))];
  const TWRDPalette& to = s.palettes[static_cast<size_t>(clampPalette(f.to))];
  const int32_t by = 17 * std::clamp(f.step, 0, 16);
  for (size_t k = 0; k < 16; ++k) {
    s.palettes[0][k] = {towards(from[k].red, to[k].red, by), towards(from[k].green, to[k].green, by),
                        towards(from[k].blue, to[k].blue, by), from[k].flags};
  }
  WRDApplyPalette0();
}

// --- one entry ---------------------------------------------------------------

void execute(int32_t index) {
  TWRDState& s = WRDState();
  const auto i = static_cast<size_t>(index);
  const uint8_t op = s.commands.op(i);
  const int32_t arg = s.commands.arg(i);
  switch (op) {
    case kWRDOpText: {
      const Box b = drawText(arg);
      if (b.w > 0) WRDCompose(b.x, b.y, b.w, b.h);
      break;
    }
    case kWRDOpTextFirst:
      growDirty(drawText(arg), true);
      break;
    case kWRDOpTextMiddle:
      growDirty(drawText(arg), false);
      break;
    case kWRDOpTextLast:
      growDirty(drawText(arg), false);
      composeDirty();
      break;
    case kWRDOpTextLastFull:
      growDirty(drawText(arg), false);
      s.dirtyValid = false;
      WRDComposeAll();
      break;
    case kWRDOpClearText:
    case kWRDOpClearTextBatch:
      QGFillRect(QDTextLayer(), 0, 0, kWidth, kHeight, kWRDClearColour);
      if (op == kWRDOpClearText) WRDComposeAll();
      break;
    case kWRDOpErase:
    case kWRDOpEraseBatch:
      erase(arg, op == kWRDOpErase);
      break;
    case kWRDOpScroll:
    case kWRDOpScrollBatch:
    case kWRDOpScrollLast:
      scroll(arg, op == kWRDOpScroll);
      if (op == kWRDOpScrollLast) WRDComposeAll();
      break;
    case kWRDOpGcls:
      QGFillRect(page(s.runDrawingPage), 0, 0, kWidth, kHeight, kColour0);
      if (s.runDrawingPage == s.shownPage) WRDComposeAll();
      break;
    case kWRDOpGscreen: {
      if (arg < 0 || arg > 3) break;
      const int32_t shown = s.shownPage;
      s.runDrawingPage = arg / 2;
      s.shownPage = arg % 2;
      if (s.shownPage != shown) WRDComposeAll();
      break;
    }
    case kWRDOpGon:
      s.graphicsOff = arg == 0;
      if (s.graphicsOff) {
        QGFillRect(QDScreenBuffer(), 0, 0, kWidth, kHeight, kColour0);
        QGmemBlt(QDScreenBuffer(), 0, 0, kWidth, kHeight, QDTextLayer(), 0, 0, kQGOpaque);
      } else {
        WRDComposeAll();
      }
      break;
    case kWRDOpGline:
    case kWRDOpGlinePlanes:
      gline(arg, op == kWRDOpGlinePlanes);
      break;
    case kWRDOpGcircle:
    case kWRDOpGcirclePlanes:
      gcircle(arg, op == kWRDOpGcirclePlanes);
      break;
    case kWRDOpPal:
      pal(arg);
      break;
    case kWRDOpPalRev:
      palrev(arg);
      break;
    case kWRDOpFade:
      fade(arg);
      break;
    case kWRDOpGmove:
    case kWRDOpGmovePlanes:
      gmove(arg, op == kWRDOpGmovePlanes);
      break;
    case kWRDOpPicture:
    case kWRDOpPictureBatch:
      picture(arg, op == kWRDOpPicture);
      break;
    case kWRDOpGmode:
      s.graphicsMode = static_cast<uint8_t>(arg);
      break;
    case kWRDOpFreeSlot:
      QDMagFree(s.pictures.at(static_cast<size_t>(arg)).modeB / 64);
      break;
    default:  // 153 (a cancelled free) and unknown codes
      break;
  }
}

}  // namespace

void WRDResetRunState() {
  TWRDState& s = WRDState();
  s.runDrawingPage = 0;
  s.shownPage = 0;
  s.graphicsOff = false;
  s.dirtyValid = false;
}

void WRDApplyPalette0() {
  QGuardVoid("WRDApplyPalette0", [] {
    TWRDState& s = WRDState();
    std::array<QGPaletteEntry, 16> entries{};
    for (size_t k = 0; k < 16; ++k) {
      const TWRDPalEntry& e = s.palettes[0][k];
      entries[k] = {e.red, e.green, e.blue, e.flags};
    }
    if (!QDDisplayExists()) {
      QGSetErrorCode(kWRDPaletteFailed);
      return;
    }
    QDSetPaletteEntries(kFirstScreenColour, 16, entries.data());
    // The display palette must now hold the colours; anything else means the
    // set-entries call did not take.
    const QGPalette& shown = QDDisplayPalette();
    for (size_t k = 0; k < 16; ++k) {
      const QGPaletteEntry& d = shown[kFirstScreenColour + k];
      if (d.red != entries[k].red || d.green != entries[k].green || d.blue != entries[k].blue) {
        QGSetErrorCode(kWRDPaletteFailed);
        break;
      }
    }
    QDWaitForVerticalBlank();
  });
}

void WRDCompose(int32_t x, int32_t y, int32_t width, int32_t height) {
  // Limited to the screen here, so that the transfers see only real pixels.
  const int32_t left = std::max(x, 0), top = std::max(y, 0);
  const int32_t right = std::min<int64_t>(int64_t{x} + width, kWidth);
  const int32_t bottom = std::min<int64_t>(int64_t{y} + height, kHeight);
  if (right <= left || bottom <= top) return;
  const int32_t w = right - left, h = bottom - top;
  TWRDState& s = WRDState();
  if (s.graphicsOff)
    QGFillRect(QDScreenBuffer(), left, top, w, h, kColour0);
  else
    QGBackBlt(QDScreenBuffer(), left, top, w, h, page(s.shownPage), left, top);
  QGmemBlt(QDScreenBuffer(), left, top, w, h, QDTextLayer(), left, top, kQGOpaque);
}

void WRDComposeWidened(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const int64_t left = int64_t{x} & ~int64_t{3};
  const int64_t right = ((int64_t{x} + width + 3) & ~int64_t{3});  // exclusive
  const int64_t l = std::clamp<int64_t>(left, -1, kWidth + 1);
  const int64_t r = std::clamp<int64_t>(right, -1, kWidth + 1);
  const int64_t t = std::clamp<int64_t>(y, -1, kHeight + 1);
  const int64_t b = std::clamp<int64_t>(int64_t{y} + height, -1, kHeight + 1);
  WRDCompose(static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(r - l),
             static_cast<int32_t>(b - t));
}

void WRDComposeAll() { WRDCompose(0, 0, kWidth, kHeight); }

void subWRDExec(int32_t index) {
  QGuardVoid("subWRDExec", [&] { execute(index); });
}

void subWRDTick(int32_t position) {
  TWRDState& s = WRDState();
  if (!s.running.load()) return;
  // Only one tick at a time: whoever turns tickIdle from set to clear runs.
  int32_t idle = s.tickIdle.load();
  if (idle == 0 || !s.tickIdle.compare_exchange_strong(idle, 0)) return;
  QGuardVoid("subWRDTick", [&] {
    // A stop that came between the test above and taking the tick waits
    // for tickIdle; seeing it here keeps the tables untouched.
    if (!s.running.load()) return;
    const auto count = static_cast<int32_t>(s.commands.size());
    int32_t i = s.nextEntry.load();
    if (i < 0 || i >= count) return;
    const int64_t horizon = int64_t{position} + kWRDLookAhead;
    for (; i < count; ++i) {
      s.nextEntry = i;
      if (s.commands.time(static_cast<size_t>(i)) >= horizon || !s.running.load()) return;
      subWRDExec(i);
      std::this_thread::yield();
      s.nextEntry = i + 1;
    }
  });
  s.tickIdle = -1;
}

void WRDClearStatusLine() {
  QGuardVoid("WRDClearStatusLine", [] {
    QGFillRect(QDScreenBuffer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, 0);
    QGFillRect(QDTextLayer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, kWRDClearColour);
    QGmemBlt(QDScreenBuffer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, QDTextLayer(), 0,
             kStatusTop, kQGOpaque);
  });
}

void WRDInstallExecutor() {
  TWRDState& s = WRDState();
  s.runEntry = [](int32_t index) { subWRDExec(index); };
  s.clearStatusLine = [] { WRDClearStatusLine(); };
}
