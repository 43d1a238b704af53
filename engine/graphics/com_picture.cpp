// Pictures inside self-displaying ".COM" programs: four planes of 80-byte
// rows, each plane row built from a reference to one of the last 16 plane
// rows plus literal bytes; the newer variant also codes every data byte with
// a code tree read from the front of the data.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/graphics/loader_file.h"
#include "engine/graphics/loaders.h"
#include "engine/graphics/raster.h"
#include "platform/message_box.h"
#include "support/file_record.h"
#include "support/guard.h"
#include "support/trace.h"

namespace {

constexpr uint64_t kPlainHeader = 671, kPlainData = 763;
constexpr uint64_t kCodedHeader = 862, kCodedData = 958;
constexpr int kRowBytes = 80;
constexpr int kRows = 400;

// The data bytes, plain or through the code tree; -1 once they run out.
class ComStream {
 public:
  ComStream(ByteView file, uint64_t offset, bool coded) : file_(file), coded_(coded) {
    if (coded_) {
      bit_ = offset * 8;
      treeOk_ = sub0165(file_, bit_, tree_);
    } else {
      pos_ = offset;
    }
  }
  int next() {
    if (coded_) return treeOk_ ? sub01B2(file_, bit_, tree_) : -1;
    if (pos_ >= file_.size()) return -1;
    return file_.u8(static_cast<size_t>(pos_++));
  }

 private:
  ByteView file_;
  bool coded_;
  bool treeOk_ = false;
  uint64_t pos_ = 0;
  uint64_t bit_ = 0;
  QGComCodeTree tree_;
};

// Decodes rows x rowLength bytes per plane into the four planes; stops early
// when the data runs out.
void decodePlanes(ComStream& in, uint8_t* planes, int rows, int rowLength) {
  static const uint8_t zeroRow[kRowBytes] = {};
  const uint8_t* history[16];
  for (auto& h : history) h = zeroRow;
  int j = 0;
  int refByte = 0;
  for (int r = 0; r < rows; ++r) {
    for (int k = 0; k < 4; ++k) {
      int number;
      if (k % 2 == 0) {
        refByte = in.next();
        if (refByte < 0) return;
        number = refByte >> 4;
      } else {
        number = refByte & 0x0F;
      }
      const uint8_t* ref = history[number];
      uint8_t* out = planes + k * kQGComPlaneBytes + r * kRowBytes;
      for (int col = 0; col < rowLength; col += 8) {
        int flags = in.next();
        if (flags < 0) return;
        int group = std::min(8, rowLength - col);
        for (int i = 0; i < group; ++i) {
          if (flags & (0x80 >> i)) {
            out[col + i] = ref[col + i];
          } else {
            int v = in.next();
            if (v < 0) return;
            out[col + i] = static_cast<uint8_t>(v);
          }
        }
      }
      j = (j + 1) % 16;
      history[j] = out;
    }
  }
}

}  // namespace

int sub0153(ByteView data, uint64_t& bitPosition) {
  uint64_t byte = bitPosition / 8;
  if (byte >= data.size()) return -1;
  int bit = (data.u8(static_cast<size_t>(byte)) >> (7 - bitPosition % 8)) & 1;
  ++bitPosition;
  return bit;
}

bool sub0165(ByteView data, uint64_t& bitPosition, QGComCodeTree& tree) {
  tree = QGComCodeTree{};
  // Inner nodes waiting for a child: (node, right child next).
  std::vector<std::pair<int, bool>> open;
  while (true) {
    int bit = sub0153(data, bitPosition);
    if (bit < 0) return false;
    int node;
    if (bit == 1) {
      if (tree.innerCount >= QGComCodeTree::kMaxInner) return false;
      node = 256 + tree.innerCount++;
    } else {
      node = 0;
      for (int i = 0; i < 8; ++i) {
        int b = sub0153(data, bitPosition);
        if (b < 0) return false;
        node = node << 1 | b;
      }
    }
    if (open.empty()) {
      tree.root = node;
    } else {
      auto& parent = open.back();
      int slot = parent.first - 256;
      if (!parent.second) {
        tree.left[slot] = static_cast<int16_t>(node);
        parent.second = true;
      } else {
        tree.right[slot] = static_cast<int16_t>(node);
        open.pop_back();
      }
    }
    if (bit == 1) open.push_back({node, false});
    if (open.empty()) return true;
  }
}

int sub01B2(ByteView data, uint64_t& bitPosition, const QGComCodeTree& tree) {
  int node = tree.root;
  if (node < 0) return -1;
  while (node >= 256) {
    int bit = sub0153(data, bitPosition);
    if (bit < 0) return -1;
    node = bit ? tree.right[node - 256] : tree.left[node - 256];
  }
  return node;
}

bool QGameCOMLoadSub(TQGBitmap& bitmap, int32_t x, int32_t y, const uint8_t* planes,
                     int32_t height, int32_t width) {
  return QGuard("QGameCOMLoadSub", false, [&] {
    // Rows longer than a plane row or more rows than a plane holds would
    // read past the planes.
    if (!planes || width < 1 || width > kRowBytes || height < 1 || height > kRows) return false;
    if (!QGClearBitmap(width * 8, height, bitmap)) return false;
    bitmap.originX = static_cast<uint16_t>(x);
    bitmap.originY = static_cast<uint16_t>(y);
    qg::RasterLock r(bitmap);
    if (!r.ok()) return false;
    for (int row = 0; row < height; ++row) {
      uint8_t* out = r.row(row);
      for (int xb = 0; xb < width; ++xb) {
        int o = row * kRowBytes + xb;
        uint8_t p0 = planes[o], p1 = planes[kQGComPlaneBytes + o];
        uint8_t p2 = planes[2 * kQGComPlaneBytes + o], p3 = planes[3 * kQGComPlaneBytes + o];
        for (int bit = 0; bit < 8; ++bit) {
          int s = 7 - bit;
          int colour = ((p0 >> s) & 1) | ((p1 >> s) & 1) << 1 | ((p2 >> s) & 1) << 2 |
                       ((p3 >> s) & 1) << 3;
          out[xb * 8 + bit] = static_cast<uint8_t>(kQGColour0 - colour);
        }
      }
    }
    return true;
  });
}

bool QGameComLoadBytes(ByteView f, TQGBitmap& bitmap) {
  bool ok = QGuard("QGameComLoad", false, [&] {
    QGFreeBitmap(bitmap);
    static const uint8_t kMarker[4] = {0x00, 0x4C, 0xCD, 0x21};
    bool coded = f.has(kQGComCodedMarker, 4) &&
                 std::memcmp(f.data() + kQGComCodedMarker, kMarker, 4) == 0;
    uint64_t h = coded ? kCodedHeader : kPlainHeader;
    uint64_t dataStart = coded ? kCodedData : kPlainData;
    ByteView header = f.sub(static_cast<size_t>(h), 58);  // a short header fails here

    std::vector<uint8_t> planes(4 * kQGComPlaneBytes, header.u8(3) == 1 ? 0xFF : 0x00);
    int32_t x = 0, y = 0, rowLength = kRowBytes, rows = kRows;
    if (!(header.u8(0) == 0x04 && header.u8(1) == 0x00)) {
      uint16_t d = header.u16le(4);
      x = (d % kRowBytes) * 8;
      y = d / kRowBytes;
      rowLength = header.u16le(6);
      rows = header.u16le(8);
      if (rowLength < 1 || rowLength > kRowBytes || rows < 1 || rows > kRows) {
        QGTrText("QGameComLoad");
        return false;
      }
      ComStream in(f, dataStart, coded);
      decodePlanes(in, planes.data(), rows, rowLength);
    }
    if (!QGameCOMLoadSub(bitmap, x, y, planes.data(), rows, rowLength)) return false;
    for (int i = 0; i < 16; ++i)
      bitmap.colours[kQGColour0 - i] = {header.u8(10 + i * 3), header.u8(11 + i * 3),
                                        header.u8(12 + i * 3), 0};
    return true;
  });
  if (!ok) QGFreeBitmap(bitmap);
  return ok;
}

bool QGameComLoad(const std::string& fileName, TQGBitmap& bitmap, MessageSink* messages) {
  return QGuard("QGameComLoad", false, [&] {
    QGFreeBitmap(bitmap);
    uint32_t size = QGGetFileSize(fileName);
    return qg::WithFileBytes(fileName, 503, [&](ByteView f) {
      if (f.size() != size) {
        QDMessageBox(messages, kQGLoadFailCaption, kQGPhoSizeText, MessageIcon::None);
        return false;
      }
      return QGameComLoadBytes(f, bitmap);
    });
  });
}
