// The 64 picture slots: loaded pictures kept packed, so that drawing one
// while music plays is a single pass over a short stream.
//
// Packed pixel stream: the first byte is a literal (the first pixel); after
// it a byte 0 or 226..255 is a literal (the next pixel), a byte 1..225 a
// count n (the current value repeats n more times). Only the values 0 and
// 226..255 survive packing; a picture holding any other value (a 256-colour
// or BMP picture) is kept unpacked instead, so that it draws as loaded.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/graphics/bitmap.h"
#include "platform/message_box.h"

constexpr int kQGSlotCount = 64;
// Info-header compression of a slot record whose storage holds the packed
// stream; 0 means plain rows (width x height bytes).
constexpr uint32_t kQGSlotPacked = 0x4B434150;  // "PACK"

// The names each slot is to hold: DOS names as written in the script,
// resolved inside folder (any case, '\' separators).
struct QGSlotNameTable {
  std::string folder;
  std::array<std::string, kQGSlotCount> names;
};

// The 64 slots of one WRD runtime; the pictures go with it.
class PictureSlots {
 public:
  PictureSlots() = default;
  ~PictureSlots();
  PictureSlots(const PictureSlots&) = delete;
  PictureSlots& operator=(const PictureSlots&) = delete;

  QGSlotNameTable& names() { return names_; }
  // Where a picture that cannot be loaded is said (null: standard error).
  void setMessages(MessageSink* messages) { messages_ = messages; }
  // Loads the file named for the slot by its extension (".MAG", ".PHO",
  // ".COM", anything else BMP; case ignored) and packs it into the slot
  // (QGMagBMPLoad). True without doing anything when the slot has no name.
  bool load(int32_t slot);
  // Packs a loaded picture into a slot, replacing what it held (QDMagCreate).
  bool create(int32_t slot, TQGBitmap& picture);
  void free(int32_t slot);  // QDMagFree
  void freeAll();           // display torn down, new script
  // The slot's record (width, height, origin, colour table; its storage
  // holds the packed stream), or null when the slot is empty (QGSlotPicture).
  TQGBitmap* picture(int32_t slot) const;

 private:
  MessageSink* messages_ = nullptr;
  QGSlotNameTable names_;
  std::array<TQGBitmap*, kQGSlotCount> slots_{};
};

// Draws a slot picture with its top-left corner at (x, y): at most maxRows
// rows and maxCols columns, pixels equal to t (0..255) left out.
bool QDMagBlt(TQGBitmap& dest, int32_t x, int32_t y, int32_t t, const TQGBitmap* slotPicture,
              int32_t maxRows, int32_t maxCols);

// The packed stream of count pixels.
std::vector<uint8_t> QGPackPixels(const uint8_t* pixels, size_t count);
// True when every value survives packing (0 and 226..255).
bool QGPackable(const uint8_t* pixels, size_t count);
