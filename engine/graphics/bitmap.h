// The engine's one raster record, TQGBitmap (8-bit indexed pixels with BMP
// headers, a colour table and an origin), the current 256-entry palette with
// its fixed index layout, and the lock/unlock dispatch on a raster's storage.
//
// Index layout of the palette:
//   0..9, 246..255   the 20 static system colours
//   226..241         the 16 screen colours: colour c is index 241 - c
//   242              the clear colour and transparent key of the screen
//   11..225, 243..245  free for 256-colour pictures
#pragma once

#include <array>
#include <cstdint>

constexpr int kQGColour0 = 241;     // screen colour c is palette index 241 - c
constexpr int kQGClearIndex = 242;  // clear colour / colour key
constexpr int kQGOpaque = 256;      // "no transparent index" for keyed transfers

// Largest raster the engine makes (pixels); larger requests fail like an
// allocation failure. Far above anything a 640x400 display shows, and it
// keeps a lying picture header from costing seconds of decoding.
constexpr uint32_t kQGMaxPixels = 2048u * 2048u;

// Palette entry in the platform's order.
struct QGPaletteEntry {
  uint8_t red, green, blue, flags;
};
// Colour-table entry in BMP order.
struct QGRgbQuad {
  uint8_t blue, green, red, reserved;
};

// The BMP headers' fields (held unpacked in memory, so that they can be
// used like any other value; whoever writes a BMP file writes them field by
// field).
struct QGBmpFileHeader {
  uint8_t type[2];      // "BM"
  uint32_t size;        // 1078 + pixel bytes
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t offBits;     // 1078
};
struct QGBmpInfoHeader {
  uint32_t size;        // 40
  int32_t width;
  int32_t height;
  uint16_t planes;      // 1
  uint16_t bitCount;    // 8
  uint32_t compression; // 0
  uint32_t sizeImage;   // width x height
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t clrUsed;
  uint32_t clrImportant;
};
static_assert(sizeof(QGBmpInfoHeader) == 40);

constexpr uint32_t kQGBmpPixelOffset = 14 + 40 + 256 * 4;  // 1078

class QGSurfaceOps;

// What a raster's storage is. Memory blocks are locked and unlocked here; the
// display surfaces are served by their display through its QGSurfaceOps.
enum class QGSurface : int32_t {
  kMemory = 0,
  kScreenBuffer = 1,  // the presentation back buffer
  kPage0 = 2,         // graphic page 0
  kTextLayer = 3,
  kPage1 = 4,         // graphic page 1
};

// The storage handle: a movable memory block (tracked memory) or a display
// surface's identity. size is the number of bytes the storage holds; every
// routine checks width x height against it before touching pixels.
struct QGStorage {
  void* block = nullptr;
  uint32_t size = 0;
  QGSurface surface = QGSurface::kMemory;
  QGSurfaceOps* ops = nullptr;  // the display a surface belongs to

  bool isDisplay() const { return surface != QGSurface::kMemory; }
  bool empty() const { return block == nullptr && surface == QGSurface::kMemory; }
};

struct TQGBitmap {
  uint8_t* base = nullptr;        // non-null while the record owns pixel storage
  uint8_t* lock = nullptr;        // pixel (0,0) while locked
  void* platformBitmap = nullptr; // no platform bitmaps are made on this system
  QGStorage storage;
  uint32_t pixelBytes = 0;        // width x height
  QGBmpFileHeader fileHeader{};
  QGBmpInfoHeader infoHeader{};
  std::array<QGRgbQuad, 256> colours{};
  uint16_t originX = 0;
  uint16_t originY = 0;

  int32_t width() const { return infoHeader.width; }
  int32_t height() const { return infoHeader.height; }
  bool exists() const { return base != nullptr; }
};

// ---- Palette -------------------------------------------------------------

using QGPalette = std::array<QGPaletteEntry, 256>;

// The graphics engine's palette: the built-in table, which a display starts
// from and which pictures are placed against unless a caller gives another.
const QGPalette& QGDefaultPalette();

// Fills palette from a 1024-byte table (red, green, blue, flags).
void QGLoadPal(const uint8_t* table, QGPalette& palette);
// Copies the palette into the bitmap's colour table.
void QGSetPal(TQGBitmap& bitmap, const QGPalette& palette = QGDefaultPalette());
// Nearest entry of the palette to colour (blue, green, red): an exact match
// at once, else the smallest |dr|+|dg|+|db|, the lowest index on ties.
// colour becomes the chosen entry (blue, green, red, 0).
int QGNearColor(QGRgbQuad& colour, const QGPalette& palette = QGDefaultPalette());
// Maps the picture's colours to the nearest ones of the palette: the colour
// table becomes the palette and every pixel is translated.
void QGCvtPal(std::array<QGRgbQuad, 256>& colourTable, TQGBitmap& bitmap,
              const QGPalette& palette = QGDefaultPalette());
// The entry as a colour value: red in the low byte, then green, blue, flags.
uint32_t QGNoToColor(int index, const QGPalette& palette = QGDefaultPalette());
uint32_t QGClearColor(const QGPalette& palette = QGDefaultPalette());

// ---- Bitmap life -----------------------------------------------------------

// Frees the bitmap and gives it width x height zero pixels, the BMP headers
// and the default palette. False (bitmap absent) on failure.
bool QGClearBitmap(int32_t width, int32_t height, TQGBitmap& bitmap);
// Releases the pixel storage (memory blocks only; display surfaces belong to
// the display code).
void QGFreeBitmap(TQGBitmap& bitmap);
// Fills both BMP headers for width x height without touching the storage.
void QGFillBmpHeaders(TQGBitmap& bitmap, int32_t width, int32_t height);

// ---- Lock dispatch ---------------------------------------------------------

// Address of pixel (0,0) or null. Sets bitmap.lock.
uint8_t* QDLock(TQGBitmap& bitmap);
// Ends a lock (a display surface also clears bitmap.lock). False on failure.
bool QDUnLock(TQGBitmap& bitmap);

// An inclusive rectangle of the screen buffer.
struct QGRect {
  int32_t left, top, right, bottom;
};

// A display serves its surfaces through this interface (each surface record
// names its display's): QDLock and QDUnLock of a display-surface raster go
// to lock/unlock, every transfer onto the screen buffer ends with present,
// and a failure the transfers report is recorded by failed. A surface
// without one cannot be locked, and presenting it does nothing.
class QGSurfaceOps {
 public:
  virtual ~QGSurfaceOps() = default;
  virtual uint8_t* lock(TQGBitmap& raster) = 0;
  virtual bool unlock(TQGBitmap& raster) = 0;
  virtual void present(const QGRect& rect) = 0;
  virtual void failed(int32_t resultCode) = 0;
};
// Presents a rectangle of the screen buffer (clipped by its display).
void QGPresent(const TQGBitmap& screen, const QGRect& rect);
// Records a failure code with the display of a surface raster (nothing for memory).
void QGReportFailure(const TQGBitmap& raster, int32_t resultCode);
// The same storage: one memory block, or one surface of one display.
bool QGSameStorage(const TQGBitmap& a, const TQGBitmap& b);
