// Image loaders: MAG ("MAKI02"), PHO (three-plane screen dumps), pictures
// inside self-displaying ".COM" programs, and 8-bit BMP. Each decodes into a
// TQGBitmap, frees the target first, returns true on success and traps its
// own failures. The *Bytes forms decode a file already in memory; every read
// is checked against the bytes, whatever the file claims.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/graphics/bitmap.h"
#include "platform/message_box.h"
#include "support/byte_view.h"

// The user's message when a picture cannot be loaded (UTF-8).
inline constexpr const char* kQGLoadFailCaption = "ﾋﾞｯﾄﾏｯﾌﾟのﾛｰﾄﾞ失敗";
inline constexpr const char* kQGBmpNot256Text = "256色ﾋﾞｯﾄﾏｯﾌﾟとして、認識出来ない為、ﾛｰﾄﾞ出来ません。";
inline constexpr const char* kQGPhoSizeText = "PHOﾌｧｲﾙのｻｲｽﾞが96000でない為、ﾛｰﾄﾞ出来ません。";

// ---- MAG ---------------------------------------------------------------------

// paletteMode 1 places the picture's colours into the engine's layout
// (MagCVTPal); any other value maps them to the nearest colours of the
// graphics engine's palette.
bool MagLoad(const std::string& fileName, TQGBitmap& bitmap, int32_t paletteMode);
bool MagLoadBytes(ByteView file, TQGBitmap& bitmap, int32_t paletteMode);
// The decoder alone: pixels are the picture's own colour numbers and the
// colour table holds its own palette (no placement).
bool MagDecode(ByteView file, TQGBitmap& bitmap);
// Moves a MAG palette into the engine's layout and remaps the pixels:
// colour i goes to index M[i] (241 - i for 0..214, 243 for 215..239,
// 266 - i for 240..255); the static colours come from the palette given.
void MagCVTPal(std::array<QGRgbQuad, 256>& colourTable, TQGBitmap& bitmap,
               const QGPalette& palette = QGDefaultPalette());
// The placement table M.
int QGMagPlace(int colour);

// ---- PHO -----------------------------------------------------------------------

constexpr uint32_t kQGPhoBytes = 96000;
// A file of the wrong size is refused with a message to the user (through
// messages; standard error when null), as are BMPs of other depths and COM
// pictures of the wrong size below.
bool QGamePHOLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages = nullptr);
bool QGamePHOLoadBytes(ByteView file, TQGBitmap& bitmap, MessageSink* messages = nullptr);
// Three planes of 80 x 400 bytes (bit 7 leftmost) into a 640 x 400 bitmap that
// already exists: pixel = 241 - colour number.
bool QGamePHOLoadSub(TQGBitmap& bitmap, const uint8_t* image);

// ---- COM picture programs -----------------------------------------------------

constexpr uint32_t kQGComPlaneBytes = 32000;  // 80 bytes x 400 rows
constexpr uint32_t kQGComCodedMarker = 858;    // 00 4C CD 21 here: the coded variant

bool QGameComLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages = nullptr);
bool QGameComLoadBytes(ByteView file, TQGBitmap& bitmap);
// Creates a (8 x width) x height bitmap at origin (x, y) from four planes of
// 80-byte rows; width is in bytes per plane row (at most 80), height at most 400.
bool QGameCOMLoadSub(TQGBitmap& bitmap, int32_t x, int32_t y, const uint8_t* planes,
                     int32_t height, int32_t width);

// The code tree of the coded variant: inner nodes are numbered from 256 in
// the order they are read; values below 256 are leaves.
struct QGComCodeTree {
  static constexpr int kMaxInner = 1024;
  int root = -1;
  int innerCount = 0;
  std::array<int16_t, kMaxInner> left{};
  std::array<int16_t, kMaxInner> right{};
};
// One bit of the stream, most significant first; -1 when the data ends.
int sub0153(ByteView data, uint64_t& bitPosition);
// Reads the code tree; false when the data ends first or the tree is too big.
bool sub0165(ByteView data, uint64_t& bitPosition, QGComCodeTree& tree);
// One byte decoded with the tree; -1 when the data ends.
int sub01B2(ByteView data, uint64_t& bitPosition, const QGComCodeTree& tree);

// ---- BMP -------------------------------------------------------------------------

// An 8-bit BMP (Windows 40/52/56/108/124-byte and OS/2 12/16..64-byte headers,
// uncompressed or RLE8, any palette length) as a bottom-up DIB: raster row 0
// is the picture's bottom row. Then the colours go to the nearest ones of the
// graphics engine's palette.
bool QGameDIBLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages = nullptr);
bool QGameDIBLoadBytes(ByteView file, TQGBitmap& bitmap, MessageSink* messages = nullptr);
// QGameDIBLoad with the rows turned top-down.
bool QGameBMPLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages = nullptr);
