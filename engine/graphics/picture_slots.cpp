#include "engine/graphics/picture_slots.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <thread>

#include "engine/graphics/loaders.h"
#include "engine/graphics/raster.h"
#include "support/dos_names.h"
#include "support/guard.h"
#include "support/tracked_memory.h"

namespace {

constexpr int32_t kTagSlotRecord = 601;
constexpr int32_t kTagSlotPixels = 602;
constexpr int32_t kTagSlotFree = 603;
constexpr int kMaxCount = 225;

bool validSlot(int32_t slot) { return slot >= 0 && slot < kQGSlotCount; }

bool isLiteral(uint8_t b) { return b == 0 || b >= 226; }

// Reads the packed stream as runs of one value.
class Unpacker {
 public:
  Unpacker(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  // Next run: false when the stream has ended.
  bool run(uint8_t& value, uint32_t& count) {
    if (pos_ >= size_) return false;
    uint8_t b = data_[pos_++];
    if (first_ || isLiteral(b)) {
      first_ = false;
      value_ = b;
      count = 1;
    } else {
      count = b;
    }
    value = value_;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool first_ = true;
  uint8_t value_ = 0;
};

std::string upperExtension(const std::string& name) {
  size_t cut = name.find_last_of("/\\");
  std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
  size_t dot = base.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : base.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace

PictureSlots::~PictureSlots() { freeAll(); }

TQGBitmap* PictureSlots::picture(int32_t slot) const { return validSlot(slot) ? slots_[slot] : nullptr; }

bool QGPackable(const uint8_t* pixels, size_t count) {
  return std::all_of(pixels, pixels + count, isLiteral);
}

std::vector<uint8_t> QGPackPixels(const uint8_t* pixels, size_t count) {
  std::vector<uint8_t> out;
  if (count == 0) return out;
  out.reserve(count / 4 + 16);
  uint8_t previous = pixels[0];
  out.push_back(previous);
  int pending = 0;
  for (size_t i = 1; i < count; ++i) {
    uint8_t p = pixels[i];
    if (p == previous) {
      if (pending == kMaxCount) {
        out.push_back(kMaxCount);
        pending = 0;
      }
      ++pending;
    } else {
      if (pending > 0) out.push_back(static_cast<uint8_t>(pending));
      pending = 0;
      out.push_back(p);
      previous = p;
    }
  }
  if (pending > 0) out.push_back(static_cast<uint8_t>(pending));
  return out;
}

void PictureSlots::free(int32_t slot) {
  QGuardVoid("QDMagFree", [&] {
    if (!validSlot(slot) || !slots_[slot]) return;
    TQGBitmap* rec = slots_[slot];
    slots_[slot] = nullptr;
    if (rec->storage.block) QGGlobalFree(kTagSlotFree, rec->storage.block);
    rec->~TQGBitmap();
    QGGlobalFreePtr(kTagSlotFree, rec);
  });
}

void PictureSlots::freeAll() {
  for (int i = 0; i < kQGSlotCount; ++i) free(i);
}

bool PictureSlots::create(int32_t slot, TQGBitmap& picture) {
  return QGuard("QDMagCreate", false, [&] {
    if (!validSlot(slot)) return false;
    free(slot);
    qg::RasterLock r(picture);
    if (!r.ok()) return false;
    size_t count = static_cast<size_t>(r.width) * static_cast<size_t>(r.height);
    bool packable = QGPackable(r.pixels, count);
    std::vector<uint8_t> packed =
        packable ? QGPackPixels(r.pixels, count) : std::vector<uint8_t>(r.pixels, r.pixels + count);
    void* recordBlock = QGGlobalAllocPtr(kTagSlotRecord, GPTR, sizeof(TQGBitmap));
    if (!recordBlock) return false;
    auto* rec = new (recordBlock) TQGBitmap();
    QGFillBmpHeaders(*rec, r.width, r.height);
    rec->infoHeader.compression = packable ? kQGSlotPacked : 0;
    rec->colours = picture.colours;
    rec->originX = picture.originX;
    rec->originY = picture.originY;
    void* block = QGGlobalAlloc(kTagSlotPixels, GMEM_MOVEABLE, static_cast<uint32_t>(packed.size()));
    if (!block) {
      rec->~TQGBitmap();
      QGGlobalFreePtr(kTagSlotFree, rec);
      return false;
    }
    std::memcpy(block, packed.data(), packed.size());
    rec->storage.block = block;
    rec->storage.size = static_cast<uint32_t>(packed.size());
    slots_[slot] = rec;
    return true;
  });
}

bool QDMagBlt(TQGBitmap& dest, int32_t x, int32_t y, int32_t t, const TQGBitmap* slotPicture,
              int32_t maxRows, int32_t maxCols) {
  return QGuard("QDMagBlt", false, [&] {
    std::this_thread::yield();
    if (!slotPicture || !slotPicture->storage.block || slotPicture->storage.isDisplay())
      return false;
    qg::RasterLock d(dest);
    if (!d.ok()) return false;
    const int64_t pw = slotPicture->width(), ph = slotPicture->height();
    if (pw <= 0 || ph <= 0) return true;
    const int64_t rows = std::min<int64_t>({ph, maxRows, int64_t{d.height} - y});
    const int64_t cols = std::min<int64_t>({pw, maxCols, int64_t{d.width} - x});
    const bool keyed = t >= 0 && t <= 255;
    const uint8_t key = static_cast<uint8_t>(t);
    // Visible columns of each row: [colFrom, cols) of the picture.
    const int64_t colFrom = std::max<int64_t>(0, -int64_t{x});
    const auto* stored = static_cast<const uint8_t*>(slotPicture->storage.block);
    const size_t storedSize = slotPicture->storage.size;
    if (slotPicture->infoHeader.compression != kQGSlotPacked) {
      // Plain rows.
      for (int64_t row = std::max<int64_t>(0, -int64_t{y}); row < rows; ++row) {
        if (static_cast<uint64_t>((row + 1) * pw) > storedSize) break;
        const uint8_t* from = stored + row * pw;
        uint8_t* out = d.row(static_cast<int32_t>(y + row));
        for (int64_t c = colFrom; c < cols; ++c)
          if (!keyed || from[c] != key) out[x + c] = from[c];
      }
      return true;
    }
    Unpacker in(stored, storedSize);
    uint8_t value = 0;
    uint32_t left = 0;
    for (int64_t row = 0; row < rows; ++row) {
      int64_t destRow = y + row;
      uint8_t* out = (destRow >= 0) ? d.row(static_cast<int32_t>(destRow)) : nullptr;
      int64_t col = 0;
      while (col < pw) {
        if (left == 0 && !in.run(value, left)) return true;
        int64_t n = std::min<int64_t>(left, pw - col);
        if (out && (!keyed || value != key)) {
          int64_t from = std::max(col, colFrom), to = std::min(col + n, cols);
          if (to > from) std::memset(out + (x + from), value, static_cast<size_t>(to - from));
        }
        col += n;
        left -= static_cast<uint32_t>(n);
      }
    }
    return true;
  });
}

bool PictureSlots::load(int32_t slot) {
  return QGuard("QGMagBMPLoad", false, [&] {
    if (!validSlot(slot)) return false;
    const QGSlotNameTable& table = names_;
    const std::string& name = table.names[slot];
    if (name.empty()) return true;
    std::string path = QGResolveDosName(table.folder, name);
    if (path.empty()) path = name;
    std::string ext = upperExtension(name);
    TQGBitmap picture;
    struct Freer {
      TQGBitmap& b;
      ~Freer() { QGFreeBitmap(b); }
    } freer{picture};
    if (ext == ".MAG") return MagLoad(path, picture, 1) && create(slot, picture);
    bool loaded = ext == ".PHO"   ? QGamePHOLoad(path, picture, messages_)
                  : ext == ".COM" ? QGameComLoad(path, picture, messages_)
                                  : QGameBMPLoad(path, picture, messages_);
    if (!loaded || !create(slot, picture)) return false;
    slots_[slot]->originX = 0;
    slots_[slot]->originY = 0;
    return true;
  });
}
