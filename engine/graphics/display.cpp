#include "engine/graphics/display.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/graphics/draw.h"
#include "engine/graphics/raster.h"
#include "support/guard.h"

namespace {

// Result codes of display set-up; the exclusive (full screen) request and
// windowed operation report their failures under different numbers.
constexpr int32_t kNoDisplayObject = 9001;
constexpr int32_t kNoModeExclusive = 9002;
constexpr int32_t kNoModeWindowed = 9014;
constexpr int32_t kNoBackBuffer = 9018;
constexpr int32_t kNoSurfaceExclusive[3] = {9005, 9010, 9063};  // page 0, text, page 1
constexpr int32_t kNoSurfaceWindowed[3] = {9019, 9024, 9065};
constexpr int32_t kNoFontExclusive = 9047;
constexpr int32_t kNoFontWindowed = 9048;
constexpr int32_t kNoTextObjects = 9052;
constexpr int32_t kLineTooWide = 9053;
constexpr int32_t kTextLockFailed = 9051;

// Indexed by QGSurface - 1: screen buffer, page 0, text layer, page 1.
constexpr int32_t kLockFailed[4] = {9035, 9036, 9051, 9067};
constexpr int32_t kUnlockFailed[4] = {9040, 9041, 9052, 9069};

constexpr int32_t kLineLimit = 640;        // widest text line in pixels
constexpr int32_t kRenderWidth = 680;      // rendering bitmap: a full line plus slack
constexpr int32_t kRenderHeight = 48;
constexpr int32_t kCanvasStride = kRenderWidth / 8;
constexpr uint8_t kRenderInk = 255;        // white in the rendering bitmap

int surfaceIndex(QGSurface s) { return static_cast<int>(s) - 1; }

}  // namespace

// Lock, unlock and present for the four rasters. The surfaces are plain
// memory, so a lock fails only when the record does not belong to the
// display in force (freed, or of another size).
class GraphicsDisplay::Surfaces final : public QGSurfaceOps {
 public:
  explicit Surfaces(GraphicsDisplay& d) : d_(d) {}

  uint8_t* lock(TQGBitmap& raster) override {
    int i = surfaceIndex(raster.storage.surface);
    if (i < 0 || i > 3) return nullptr;
    Surface& s = d_.surfaces_[i];
    int64_t need = int64_t{raster.width()} * raster.height();
    if (!d_.exists_ || !s.pixels || raster.width() <= 0 || raster.height() <= 0 || need > int64_t{s.size}) {
      d_.result_.set(kLockFailed[i]);
      return nullptr;
    }
    if (i == 0) d_.screenLocked_ = true;
    return s.pixels.get();
  }

  bool unlock(TQGBitmap& raster) override {
    int i = surfaceIndex(raster.storage.surface);
    if (i < 0 || i > 3) return false;
    if (!d_.exists_ || !d_.surfaces_[i].pixels) {
      d_.result_.set(kUnlockFailed[i]);
      return false;
    }
    if (i == 0) d_.screenLocked_ = false;
    return true;
  }

  void present(const QGRect& r) override {
    if (!d_.exists_ || !d_.surfaces_[0].pixels || d_.quiet_.load()) return;
    int32_t left = std::max(r.left, 0), top = std::max(r.top, 0);
    int32_t right = std::min(r.right, d_.width_ - 1), bottom = std::min(r.bottom, d_.height_ - 1);
    if (right < left || bottom < top) return;
    d_.presenter_.present(d_.surfaces_[0].pixels.get(),
                          DisplayRect{left, top, right - left + 1, bottom - top + 1});
  }

  void failed(int32_t code) override { d_.result_.set(code); }

 private:
  GraphicsDisplay& d_;
};

namespace {

GlyphFontRequest fontRequest(const QDFont& font) {
  GlyphFontRequest r;
  r.face = font.face;
  // Negative heights give the character height, positive ones the cell
  // height; zero leaves the size in points to decide.
  if (font.height < 0)
    r.pixelHeight = -font.height;
  else if (font.height > 0)
    r.pixelHeight = font.height;
  else
    r.pixelHeight = QRFontPixelsFromPoints(font.size);
  r.bold = font.bold;
  return r;
}

}  // namespace

void GraphicsDisplay::releaseSurfaces() {
  for (int i = 0; i < 4; ++i) {
    TQGBitmap& b = rasters_[i];
    b.base = nullptr;
    b.lock = nullptr;
    b.storage = {};
    surfaces_[i] = {};
  }
  screenLocked_ = false;
}

// The raster record for surface i over its storage.
bool GraphicsDisplay::makeSurface(int i, int32_t width, int32_t height) {
  uint32_t bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
  Surface& s = surfaces_[i];
  s.pixels.reset(new (std::nothrow) uint8_t[bytes]());
  if (!s.pixels) return false;
  s.size = bytes;
  TQGBitmap& b = rasters_[i];
  b = TQGBitmap{};
  QGFillBmpHeaders(b, width, height);
  b.pixelBytes = bytes;
  b.storage = {s.pixels.get(), bytes, static_cast<QGSurface>(i + 1), ops_.get()};
  b.base = s.pixels.get();
  QGSetPal(b);
  return true;
}

void GraphicsDisplay::sendPalette(int first, int count) {
  if (quiet_.load()) return;
  presenter_.setPaletteEntries(first, count, reinterpret_cast<const uint8_t*>(&palette_[first]));
}

// Tears down what set-up made; true when a display existed.
bool GraphicsDisplay::tearDown() {
  bool existed = exists_;
  if (existed || surfaces_[0].pixels) presenter_.close();
  releaseSurfaces();
  exists_ = false;
  return existed;
}

bool GraphicsDisplay::createTextObjects(const QDFont& font) {
  Text& t = text_;
  t.face = glyphs_.open(fontRequest(font));
  if (!t.face) return false;
  t.font = font;
  t.canvas.assign(static_cast<size_t>(kCanvasStride) * kGlyphRows, 0);
  if (!QGClearBitmap(kRenderWidth, kRenderHeight, t.render)) {
    t.face.reset();
    return false;
  }
  t.created = true;
  return true;
}

void GraphicsDisplay::freeTextObjects() {
  Text& t = text_;
  t.face.reset();
  t.canvas.clear();
  QGFreeBitmap(t.render);
  t.created = false;
}

// Draws the laid-out strings white on black into the rendering bitmap.
void GraphicsDisplay::renderLine(const std::vector<std::string>& strings,
                         const std::vector<std::pair<int, int32_t>>& laid, int32_t lineWidth) {
  Text& t = text_;
  std::fill(t.canvas.begin(), t.canvas.end(), 0);
  GlyphCanvas canvas{t.canvas.data(), kCanvasStride};
  for (const auto& [index, x] : laid) t.face->draw(strings[index], canvas, x / 8);
  // The platform renderer's bitmap is read back as indices; only the 16
  // text rows and the columns the line covers matter.
  int32_t cols = std::min(lineWidth + 16, kRenderWidth);
  uint8_t* px = t.render.base;
  for (int r = 0; r < kGlyphRows; ++r) {
    const uint8_t* bits = t.canvas.data() + r * kCanvasStride;
    uint8_t* row = px + static_cast<size_t>(r) * kRenderWidth;
    for (int32_t x = 0; x < cols; ++x)
      row[x] = ((bits[x >> 3] >> (7 - (x & 7))) & 1) ? kRenderInk : 0;
  }
}

GraphicsDisplay::GraphicsDisplay(Presenter& presenter, GlyphSystem& glyphs, ResultCode& result)
    : presenter_(presenter), glyphs_(glyphs), result_(result), ops_(std::make_unique<Surfaces>(*this)) {}

GraphicsDisplay::~GraphicsDisplay() {
  freeTextObjects();
  tearDown();
}

bool GraphicsDisplay::create(int32_t width, int32_t height, const QDFont& font, const QGPaletteEntry* palette256,
                     bool exclusive) {
  return QGuard("QDCreate", false, [&] {
    // A display left standing would keep the presenter and its rasters.
    if (exists_) free();
    width_ = 640;
    height_ = 480;
    exclusive_ = exclusive;
    releaseSurfaces();
    for (TQGBitmap& b : rasters_) b = TQGBitmap{};

    Presenter& presenter = presenter_;
    if (!presenter.open()) {
      result_.set(kNoDisplayObject);
      return false;
    }
    // A failed step closes the presenter again: nobody frees a display
    // whose creation failed.
    auto fail = [&](int32_t code) {
      result_.set(code);
      freeTextObjects();
      releaseSurfaces();
      presenter.close();
      return false;
    };

    const std::pair<int32_t, int32_t> modes[] = {{width, height}, {640, 480}, {640, 400}, {512, 384}};
    bool haveMode = false;
    for (auto [w, h] : modes) {
      if (w <= 0 || h <= 0 || uint64_t(w) * uint64_t(h) > kQGMaxPixels) continue;
      if (presenter.setMode(w, h)) {
        width_ = w;
        height_ = h;
        haveMode = true;
        break;
      }
    }
    if (!haveMode) return fail(exclusive ? kNoModeExclusive : kNoModeWindowed);

    if (!makeSurface(0, width_, height_)) return fail(kNoBackBuffer);
    for (int i = 1; i <= 3; ++i)
      if (!makeSurface(i, width_, height_))
        return fail((exclusive ? kNoSurfaceExclusive : kNoSurfaceWindowed)[i - 1]);
    // The surfaces answer locks from here on (the text layer fill needs one).
    exists_ = true;
    QGFillRect(textLayer(), 0, 0, width_, height_, kQGClearIndex);

    if (!createText(font)) {
      exists_ = false;
      return fail(exclusive ? kNoFontExclusive : kNoFontWindowed);
    }

    if (palette256)
      std::copy(palette256, palette256 + 256, palette_.begin());
    else
      palette_ = QGDefaultPalette();
    sendPalette(0, 256);
    return true;
  });
}

bool GraphicsDisplay::free() {
  return QGuard("QDFree", false, [&] {
    freeText();
    return tearDown();
  });
}

void GraphicsDisplay::setPaletteEntries(int first, int count, const QGPaletteEntry* entries) {
  QGuardVoid("QDSetPaletteEntries", [&] {
    if (!entries || count <= 0) return;
    // Entries outside 0..255 are left out.
    int64_t from = std::max<int64_t>(first, 0);
    int64_t to = std::min<int64_t>(int64_t{first} + count, 256);
    if (from >= to) return;
    for (int64_t i = from; i < to; ++i) palette_[i] = entries[i - first];
    if (exists_) sendPalette(static_cast<int>(from), static_cast<int>(to - from));
  });
}

void GraphicsDisplay::waitForVerticalBlank() {
  QGuardVoid("QDWaitForVerticalBlank", [&] {
    if (!quiet_.load()) presenter_.waitForVerticalBlank();
  });
}

void GraphicsDisplay::presentWhole() {
  QGuardVoid("QDPresentWhole", [&] {
    if (!exists_ || !surfaces_[0].pixels || quiet_.load()) return;
    sendPalette(0, 256);
    presenter_.present(surfaces_[0].pixels.get(), DisplayRect{0, 0, width_, height_});
  });
}

bool GraphicsDisplay::createText(const QDFont& font) {
  return QGuard("QRSetMojiCreate", false, [&] {
    freeTextObjects();
    if (createTextObjects(font)) return true;
    result_.set(exclusive_ ? kNoFontExclusive : kNoFontWindowed);
    return false;
  });
}

void GraphicsDisplay::freeText() {
  QGuardVoid("QRSetMojiFree", [&] { freeTextObjects(); });
}

bool GraphicsDisplay::drawText(TQGBitmap& dest, int32_t x, int32_t y, int32_t* widthOut,
                       const std::vector<std::string>& strings, int first, int end, int32_t colour) {
  if (widthOut) *widthOut = 0;
  return QGuard("QRSetMoji", false, [&] {
    if (!text_.created || !text_.face) {
      result_.set(kNoTextObjects);
      return false;
    }
    const bool inverse = colour >= 256;
    const uint8_t ink = inverse ? kQGClearIndex : static_cast<uint8_t>(colour);
    const uint8_t paper =
        inverse ? static_cast<uint8_t>(256 - (colour % 256)) : static_cast<uint8_t>(kQGClearIndex);

    // Lay the strings out on one line, each byte one 8-pixel column.
    bool tooWide = false;
    int32_t lineWidth = 0;
    std::vector<std::pair<int, int32_t>> laid;
    int from = std::max(first, 0);
    int to = std::min<int64_t>(end, static_cast<int64_t>(strings.size()));
    for (int i = from; i < to; ++i) {
      if (strings[i].empty()) continue;
      int64_t w = int64_t{8} * static_cast<int64_t>(strings[i].size());
      if (lineWidth + w > kLineLimit) {
        tooWide = true;
        break;
      }
      laid.emplace_back(i, lineWidth);
      lineWidth += static_cast<int32_t>(w);
    }
    if (tooWide) result_.set(kLineTooWide);
    if (lineWidth == 0) return !tooWide;

    if (!text_.render.exists()) {
      QDFont font = text_.font;
      freeTextObjects();
      if (!createTextObjects(font)) {
        result_.set(kNoTextObjects);
        return false;
      }
    }
    renderLine(strings, laid, lineWidth);

    int32_t width = std::max<int64_t>(0, std::min<int64_t>(lineWidth, int64_t{dest.width()} - x));
    if (width == 0) {
      result_.set(kLineTooWide);
      return false;
    }
    qg::RasterLock d(dest);
    if (!d.ok()) {
      result_.set(kTextLockFailed);
      return false;
    }
    // Cut to the raster: a cell partly outside it keeps its inside part.
    int32_t c0 = std::max(0, -x);
    const uint8_t* render = text_.render.base;
    for (int r = 0; r < kGlyphRows; ++r) {
      int64_t row = int64_t{y} + r;
      if (row < 0 || row >= d.height) continue;
      const uint8_t* src = render + static_cast<size_t>(r) * kRenderWidth;
      uint8_t* out = d.row(static_cast<int32_t>(row));
      for (int32_t c = c0; c < width; ++c) {
        bool glyph = inverse ? src[c] == kRenderInk : src[c] != 0;
        out[int64_t{x} + c] = glyph ? ink : paper;
      }
    }
    if (widthOut) *widthOut = width;
    return !tooWide;
  });
}
