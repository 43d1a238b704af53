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

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 400;
constexpr int32_t kColour0 = 241;
constexpr int32_t kStatusTop = 384;
constexpr int32_t kFirstScreenColour = 226;

int32_t clampPalette(int32_t n) { return std::clamp(n, 0, kWRDPalettes - 1); }

using Box = WrdExecutor::Box;

// The bounding box of two corners as x, y, width, height.
Box boxOf(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  const int64_t l = std::min(x1, x2), r = std::max(x1, x2);
  const int64_t t = std::min(y1, y2), b = std::max(y1, y2);
  auto c = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -100000, 100000)); };
  return {c(l), c(t), c(r - l + 1), c(b - t + 1)};
}

uint8_t towards(uint8_t from, uint8_t to, int32_t by) {
  if (from < to) return static_cast<uint8_t>(std::min<int32_t>(from + by, to));
  return static_cast<uint8_t>(std::max<int32_t>(from - by, to));
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

}  // namespace

WrdExecutor::WrdExecutor(TWRDState& s, GraphicsDisplay& display, PictureSlots& slots, ResultCode& result)
    : s_(s), display_(display), slots_(slots), result_(result) {}

TQGBitmap& WrdExecutor::page(int32_t n) { return n == 1 ? display_.page1() : display_.page0(); }

void WrdExecutor::composeIfShown(int32_t drawnPage, const Box& b) {
  if (drawnPage == s_.shownPage) composeWidened(b.x, b.y, b.w, b.h);
}

// --- text --------------------------------------------------------------------

// Draws cells nextCell .. end-1 into the text layer; the rectangle drawn
// (width 0 when nothing was).
Box WrdExecutor::drawText(int32_t end) {
  TWRDState& s = s_;
  const int32_t first = s.nextCell.load();
  const int32_t last = std::min<int32_t>(end, static_cast<int32_t>(s.cells.size()));
  s.nextCell = end;
  if (first < 0 || last <= first) return {0, 0, 0, 0};
  std::vector<std::string> strings;
  strings.reserve(static_cast<size_t>(last - first));
  for (int32_t i = first; i < last; ++i) strings.emplace_back(s.cells.at(static_cast<size_t>(i)).view());
  const TWRDCell& head = s.cells.at(static_cast<size_t>(first));
  int32_t width = 0;
  display_.drawText(display_.textLayer(), head.x, head.y, &width, strings, 0, static_cast<int>(strings.size()),
            head.colour);
  return {head.x, head.y, width, 16};
}

void WrdExecutor::growDirty(const Box& b, bool first) {
  TWRDState& s = s_;
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

void WrdExecutor::composeDirty() {
  TWRDState& s = s_;
  if (!s.dirtyValid) return;
  s.dirtyValid = false;
  composeWidened(s.dirtyLeft, s.dirtyTop, s.dirtyRight - s.dirtyLeft + 1,
                    s.dirtyBottom - s.dirtyTop + 1);
}

// --- text layer rectangles ---------------------------------------------------

void WrdExecutor::erase(int32_t record, bool compose) {
  const TWRDRect r = s_.rects.at(static_cast<size_t>(record));
  if (r.colour == kWRDClearColour)
    QGFillRect(display_.textLayer(), r.x, r.y, r.width, r.height, kWRDClearColour);
  else
    QGClearRect(display_.textLayer(), r.x, r.y, r.width, r.height, kWRDClearColour, r.colour);
  if (compose) composeWidened(r.x, r.y, r.width, r.height);
}

// Moves the rectangle's contents by one character and fills the strip left
// behind. Copies towards lower addresses run forwards, the others backwards,
// so that the overlapping rows survive.
void WrdExecutor::scroll(int32_t record, bool compose) {
  const TWRDRect r = s_.rects.at(static_cast<size_t>(record));
  TQGBitmap& t = display_.textLayer();
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
  if (compose) composeWidened(x, y, w, h);
}

// --- graphics ------------------------------------------------------------------

void WrdExecutor::gline(int32_t record, bool planes) {
  TWRDState& s = s_;
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

void WrdExecutor::gcircle(int32_t record, bool planes) {
  TWRDState& s = s_;
  const TWRDRect r = s.rects.at(static_cast<size_t>(record));
  const int32_t p = s.runDrawingPage;
  const int32_t cx = r.x, cy = r.y, radius = r.width;
  if (planes)
    QGPlanCircle(page(p), cx, cy, cx + radius - 1, cy, r.colour, r.colour2, s.graphicsMode);
  else
    QGFillCircle(page(p), cx, cy, cx + radius - 1, cy, r.colour, r.colour2);
  composeIfShown(p, {cx - radius, cy - radius, 2 * radius, 2 * radius});
}

void WrdExecutor::gmove(int32_t record, bool planes) {
  TWRDState& s = s_;
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
    if (to == s.shownPage) composeWidened(c.x2, c.y2, w, h);
  } else {
    composeWidened(c.x2, c.y2, w, h);
    composeWidened(c.x1, c.y1, w, h);
  }
}

void WrdExecutor::picture(int32_t record, bool compose) {
  TWRDState& s = s_;
  const TWRDPicRecord c = s.pictures.at(static_cast<size_t>(record));
  const int32_t slot = c.modeB / 64, mode = c.modeB % 64;
  const TQGBitmap* pic = slots_.picture(slot);
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
    applyPalette0();
  }
  if (mode != 2 && compose && pic && p == s.shownPage && w > 0 && h > 0) composeWidened(x, y, w, h);
}

// --- palettes ----------------------------------------------------------------

void WrdExecutor::pal(int32_t record) {
  TWRDState& s = s_;
  const TWRDPalRecord& r = s.palRecords.at(static_cast<size_t>(record));
  const int32_t target = clampPalette(r.target);
  s.palettes[static_cast<size_t>(target)] = r.colours;
  if (target == 0) {
    s.palettes[21] = r.colours;
    applyPalette0();
  }
}

void WrdExecutor::palrev(int32_t n) {
  TWRDState& s = s_;
  if (n < 0 || n >= kWRDPalettes) return;
  TWRDPalette& p = s.palettes[static_cast<size_t>(n)];
  for (TWRDPalEntry& e : p) {
    e.red = static_cast<uint8_t>(255 - e.red);
    e.green = static_cast<uint8_t>(255 - e.green);
    e.blue = static_cast<uint8_t>(255 - e.blue);
  }
  if (n == 0) {
    s.palettes[21] = p;
    applyPalette0();
  }
}

void WrdExecutor::fade(int32_t record) {
  TWRDState& s = s_;
  const TWRDFadeStep f = s.fades.at(static_cast<size_t>(record));
  const TWRDPalette from = s.palettes[static_cast<size_t>(clampPalette(f.from))];
  const TWRDPalette& to = s.palettes[static_cast<size_t>(clampPalette(f.to))];
  const int32_t by = 17 * std::clamp(f.step, 0, 16);
  for (size_t k = 0; k < 16; ++k) {
    s.palettes[0][k] = {towards(from[k].red, to[k].red, by), towards(from[k].green, to[k].green, by),
                        towards(from[k].blue, to[k].blue, by), from[k].flags};
  }
  applyPalette0();
}

// --- one entry ---------------------------------------------------------------

void WrdExecutor::execute(int32_t index) {
  TWRDState& s = s_;
  const auto i = static_cast<size_t>(index);
  const uint8_t op = s.commands.op(i);
  const int32_t arg = s.commands.arg(i);
  switch (op) {
    case kWRDOpText: {
      const Box b = drawText(arg);
      if (b.w > 0) compose(b.x, b.y, b.w, b.h);
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
      composeAll();
      break;
    case kWRDOpClearText:
    case kWRDOpClearTextBatch:
      QGFillRect(display_.textLayer(), 0, 0, kWidth, kHeight, kWRDClearColour);
      if (op == kWRDOpClearText) composeAll();
      break;
    case kWRDOpErase:
    case kWRDOpEraseBatch:
      erase(arg, op == kWRDOpErase);
      break;
    case kWRDOpScroll:
    case kWRDOpScrollBatch:
    case kWRDOpScrollLast:
      scroll(arg, op == kWRDOpScroll);
      if (op == kWRDOpScrollLast) composeAll();
      break;
    case kWRDOpGcls:
      QGFillRect(page(s.runDrawingPage), 0, 0, kWidth, kHeight, kColour0);
      if (s.runDrawingPage == s.shownPage) composeAll();
      break;
    case kWRDOpGscreen: {
      if (arg < 0 || arg > 3) break;
      const int32_t shown = s.shownPage;
      s.runDrawingPage = arg / 2;
      s.shownPage = arg % 2;
      if (s.shownPage != shown) composeAll();
      break;
    }
    case kWRDOpGon:
      s.graphicsOff = arg == 0;
      if (s.graphicsOff) {
        QGFillRect(display_.screen(), 0, 0, kWidth, kHeight, kColour0);
        QGmemBlt(display_.screen(), 0, 0, kWidth, kHeight, display_.textLayer(), 0, 0, kQGOpaque);
      } else {
        composeAll();
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
      slots_.free(s.pictures.at(static_cast<size_t>(arg)).modeB / 64);
      break;
    default:  // 153 (a cancelled free) and unknown codes
      break;
  }
}

void WrdExecutor::resetRunState() {
  TWRDState& s = s_;
  s.runDrawingPage = 0;
  s.shownPage = 0;
  s.graphicsOff = false;
  s.dirtyValid = false;
}

void WrdExecutor::applyPalette0() {
  QGuardVoid("WRDApplyPalette0", [&] {
    TWRDState& s = s_;
    std::array<QGPaletteEntry, 16> entries{};
    for (size_t k = 0; k < 16; ++k) {
      const TWRDPalEntry& e = s.palettes[0][k];
      entries[k] = {e.red, e.green, e.blue, e.flags};
    }
    if (!display_.exists()) {
      result_.set(kWRDPaletteFailed);
      return;
    }
    display_.setPaletteEntries(kFirstScreenColour, 16, entries.data());
    // The display palette must now hold the colours; anything else means the
    // set-entries call did not take.
    const QGPalette& shown = display_.palette();
    for (size_t k = 0; k < 16; ++k) {
      const QGPaletteEntry& d = shown[kFirstScreenColour + k];
      if (d.red != entries[k].red || d.green != entries[k].green || d.blue != entries[k].blue) {
        result_.set(kWRDPaletteFailed);
        break;
      }
    }
    display_.waitForVerticalBlank();
  });
}

void WrdExecutor::compose(int32_t x, int32_t y, int32_t width, int32_t height) {
  // Limited to the screen here, so that the transfers see only real pixels.
  const int32_t left = std::max(x, 0), top = std::max(y, 0);
  const int32_t right = std::min<int64_t>(int64_t{x} + width, kWidth);
  const int32_t bottom = std::min<int64_t>(int64_t{y} + height, kHeight);
  if (right <= left || bottom <= top) return;
  const int32_t w = right - left, h = bottom - top;
  TWRDState& s = s_;
  if (s.graphicsOff)
    QGFillRect(display_.screen(), left, top, w, h, kColour0);
  else
    QGBackBlt(display_.screen(), left, top, w, h, page(s.shownPage), left, top);
  QGmemBlt(display_.screen(), left, top, w, h, display_.textLayer(), left, top, kQGOpaque);
}

void WrdExecutor::composeWidened(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const int64_t left = int64_t{x} & ~int64_t{3};
  const int64_t right = ((int64_t{x} + width + 3) & ~int64_t{3});  // exclusive
  const int64_t l = std::clamp<int64_t>(left, -1, kWidth + 1);
  const int64_t r = std::clamp<int64_t>(right, -1, kWidth + 1);
  const int64_t t = std::clamp<int64_t>(y, -1, kHeight + 1);
  const int64_t b = std::clamp<int64_t>(int64_t{y} + height, -1, kHeight + 1);
  compose(static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(r - l),
             static_cast<int32_t>(b - t));
}

void WrdExecutor::composeAll() { compose(0, 0, kWidth, kHeight); }

void WrdExecutor::exec(int32_t index) {
  QGuardVoid("subWRDExec", [&] { execute(index); });
}

void WrdExecutor::tick(int32_t position) {
  WRDRunTick(s_, [&] {
    QGuardVoid("subWRDTick", [&] {
      // A stop that came before the tick was taken waits for tickIdle;
      // seeing it here keeps the tables untouched.
      if (s_.running.load()) runDue(position, true);
    });
  });
}

void WrdExecutor::runDue(int32_t position, bool yield) {
  TWRDState& s = s_;
  const auto count = static_cast<int32_t>(s.commands.size());
  int32_t i = s.nextEntry.load();
  if (i < 0 || i >= count) return;
  const int64_t horizon = int64_t{position} + kWRDLookAhead;
  for (; i < count; ++i) {
    s.nextEntry = i;
    if (s.commands.time(static_cast<size_t>(i)) >= horizon || !s.running.load()) return;
    exec(i);
    if (yield) std::this_thread::yield();
    s.nextEntry = i + 1;
  }
}

bool WrdExecutor::ranPast(int32_t position) const {
  const int32_t done = s_.nextEntry.load();
  const auto count = static_cast<int32_t>(s_.commands.size());
  return done > 0 && done <= count &&
         s_.commands.time(static_cast<size_t>(done - 1)) >= int64_t{position} + kWRDLookAhead;
}

void WrdExecutor::clearStatusLine() {
  QGuardVoid("WRDClearStatusLine", [&] {
    QGFillRect(display_.screen(), 0, kStatusTop, kWidth, kHeight - kStatusTop, 0);
    QGFillRect(display_.textLayer(), 0, kStatusTop, kWidth, kHeight - kStatusTop, kWRDClearColour);
    QGmemBlt(display_.screen(), 0, kStatusTop, kWidth, kHeight - kStatusTop, display_.textLayer(), 0,
             kStatusTop, kQGOpaque);
  });
}

void WrdExecutor::install() {
  TWRDState& s = s_;
  s.runEntry = [this](int32_t index) { exec(index); };
  s.clearStatusLine = [this] { clearStatusLine(); };
}
