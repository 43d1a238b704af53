#include "tests/graphics/picture_files.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <queue>
#include <string>

#include "engine/graphics/raster.h"

namespace gtest_pictures {

std::vector<uint8_t> Pixels(const TQGBitmap& b) {
  if (!b.base) return {};
  return std::vector<uint8_t>(b.base, b.base + static_cast<size_t>(b.width()) * b.height());
}

uint8_t At(const TQGBitmap& b, int x, int y) { return b.base[static_cast<size_t>(y) * b.width() + x]; }

void MakeRaster(TQGBitmap& b, int w, int h, uint8_t index) {
  QGClearBitmap(w, h, b);
  std::memset(b.base, index, static_cast<size_t>(w) * h);
}

namespace {

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}
void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

class BitWriter {
 public:
  void bit(int b) {
    if (n_ % 8 == 0) bytes.push_back(0);
    if (b) bytes.back() |= static_cast<uint8_t>(0x80 >> (n_ % 8));
    ++n_;
  }
  void bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1);
  }
  std::vector<uint8_t> bytes;

 private:
  size_t n_ = 0;
};

}  // namespace

std::vector<uint8_t> EncodeMag(const MagInput& in) {
  const std::string head = "MAKI02  TEST user  made by a test\x1A";
  std::vector<uint8_t> file(head.begin(), head.end());
  size_t h = file.size();
  file.resize(h + 32, 0);
  file[h + 3] = in.mode;
  put16(file, h + 4, in.x0);
  put16(file, h + 6, in.y0);
  put16(file, h + 8, in.x1);
  put16(file, h + 10, in.y1);
  file.insert(file.end(), in.paletteGrb.begin(), in.paletteGrb.end());

  // Flag A: one bit per flag byte, set where the byte differs from the line
  // above; flag B: the XOR of the change.
  BitWriter flagA;
  std::vector<uint8_t> flagB;
  std::vector<uint8_t> previous(in.flags.empty() ? 0 : in.flags[0].size(), 0);
  for (const auto& line : in.flags) {
    for (size_t i = 0; i < line.size(); ++i) {
      uint8_t change = line[i] ^ previous[i];
      flagA.bit(change != 0);
      if (change) flagB.push_back(change);
    }
    previous = line;
  }
  uint32_t flagAOffset = static_cast<uint32_t>(file.size() - h);
  file.insert(file.end(), flagA.bytes.begin(), flagA.bytes.end());
  uint32_t flagBOffset = static_cast<uint32_t>(file.size() - h);
  file.insert(file.end(), flagB.begin(), flagB.end());
  uint32_t pixelOffset = static_cast<uint32_t>(file.size() - h);
  file.insert(file.end(), in.pixelData.begin(), in.pixelData.end());
  put32(file, h + 12, flagAOffset);
  put32(file, h + 16, flagBOffset);
  put32(file, h + 20, static_cast<uint32_t>(flagB.size()));
  put32(file, h + 24, pixelOffset);
  put32(file, h + 28, in.understatePixelSize ? 1u : static_cast<uint32_t>(in.pixelData.size()));
  file.resize(file.size() - std::min<size_t>(in.cutPixelData, file.size()));
  return file;
}

MagInput LiteralMag(uint8_t mode, uint16_t x0, uint16_t y0, int bitmapWidth, int pictureWidth,
                    int height, const std::vector<uint8_t>& values, int colours) {
  MagInput in;
  in.mode = mode;
  in.x0 = x0;
  in.y0 = y0;
  in.x1 = static_cast<uint16_t>(x0 + pictureWidth - 1);
  in.y1 = static_cast<uint16_t>(y0 + height - 1);
  for (int i = 0; i < colours; ++i) {
    in.paletteGrb.push_back(static_cast<uint8_t>(i * 3));       // green
    in.paletteGrb.push_back(static_cast<uint8_t>(i * 5 + 1));   // red
    in.paletteGrb.push_back(static_cast<uint8_t>(255 - i));     // blue
  }
  bool wide = mode & 0x80;
  int flagBytes = wide ? bitmapWidth / 4 : bitmapWidth / 8;
  in.flags.assign(static_cast<size_t>(height), std::vector<uint8_t>(flagBytes, 0));
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &values[static_cast<size_t>(y) * bitmapWidth];
    if (wide) {
      for (int x = 0; x < bitmapWidth; ++x) in.pixelData.push_back(row[x]);
    } else {
      for (int x = 0; x < bitmapWidth; x += 2)
        in.pixelData.push_back(static_cast<uint8_t>(row[x] << 4 | row[x + 1]));
    }
  }
  return in;
}

std::vector<uint8_t> EncodePho(const std::vector<uint8_t>& colours) {
  std::vector<uint8_t> file(96000, 0);
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 640; ++x) {
      uint8_t c = colours[static_cast<size_t>(y) * 640 + x];
      for (int plane = 0; plane < 3; ++plane)
        if (c >> plane & 1) file[plane * 32000 + y * 80 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  return file;
}

namespace {

// A code tree over the bytes of data, built the way Huffman's method does.
struct Node {
  int value = -1;  // leaf value, or -1
  std::unique_ptr<Node> left, right;
};

std::unique_ptr<Node> buildTree(const std::vector<uint8_t>& data) {
  std::map<int, size_t> counts;
  for (uint8_t b : data) ++counts[b];
  if (counts.empty()) counts[0] = 1;
  using Item = std::pair<size_t, Node*>;
  auto cmp = [](const Item& a, const Item& b) { return a.first > b.first; };
  std::priority_queue<Item, std::vector<Item>, decltype(cmp)> queue(cmp);
  for (auto [value, count] : counts) {
    auto* n = new Node;
    n->value = value;
    queue.push({count, n});
  }
  while (queue.size() > 1) {
    Item a = queue.top();
    queue.pop();
    Item b = queue.top();
    queue.pop();
    auto* n = new Node;
    n->left.reset(a.second);
    n->right.reset(b.second);
    queue.push({a.first + b.first, n});
  }
  return std::unique_ptr<Node>(queue.top().second);
}

void writeTree(const Node* n, BitWriter& out) {
  if (n->value >= 0) {
    out.bit(0);
    out.bits(static_cast<uint32_t>(n->value), 8);
    return;
  }
  out.bit(1);
  writeTree(n->left.get(), out);
  writeTree(n->right.get(), out);
}

void codes(const Node* n, std::string path, std::map<int, std::string>& out) {
  if (n->value >= 0) {
    out[n->value] = path;
    return;
  }
  codes(n->left.get(), path + '0', out);
  codes(n->right.get(), path + '1', out);
}

// The data bytes of the picture: per row and plane a reference number (two
// per byte) naming the history row that matches best, then groups of 8
// bytes, each group a flags byte (set: copy from the reference) and literals.
std::vector<uint8_t> planeStream(const ComInput& in) {
  const int L = in.rowLength;
  std::vector<std::vector<uint8_t>> planes(4, std::vector<uint8_t>(static_cast<size_t>(L) * in.rows));
  for (int y = 0; y < in.rows; ++y)
    for (int x = 0; x < L * 8; ++x) {
      uint8_t c = in.pixels[static_cast<size_t>(y) * L * 8 + x];
      for (int k = 0; k < 4; ++k)
        if (c >> k & 1) planes[k][static_cast<size_t>(y) * L + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  std::vector<std::vector<uint8_t>> history(16, std::vector<uint8_t>(80, 0));
  int j = 0;
  auto best = [&](const uint8_t* row) {
    int choice = 0, most = -1;
    for (int h = 0; h < 16; ++h) {
      int same = 0;
      for (int i = 0; i < L; ++i) same += history[h][i] == row[i];
      if (same > most) {
        most = same;
        choice = h;
      }
    }
    return choice;
  };
  std::vector<uint8_t> out;
  auto emitRow = [&](const uint8_t* row, int ref) {
    for (int col = 0; col < L; col += 8) {
      int group = std::min(8, L - col);
      uint8_t flags = 0;
      std::vector<uint8_t> literals;
      for (int i = 0; i < group; ++i) {
        if (history[ref][col + i] == row[col + i])
          flags |= static_cast<uint8_t>(0x80 >> i);
        else
          literals.push_back(row[col + i]);
      }
      out.push_back(flags);
      out.insert(out.end(), literals.begin(), literals.end());
    }
  };
  auto push = [&](const uint8_t* row) {
    j = (j + 1) % 16;
    history[j].assign(80, 0);
    std::copy(row, row + L, history[j].begin());
  };
  for (int r = 0; r < in.rows; ++r) {
    for (int k = 0; k < 4; k += 2) {
      const uint8_t* a = &planes[k][static_cast<size_t>(r) * L];
      const uint8_t* b = &planes[k + 1][static_cast<size_t>(r) * L];
      int refA = best(a);
      // The second reference is chosen against the history as it will be
      // after the first plane row.
      auto saved = history;
      int savedJ = j;
      push(a);
      int refB = best(b);
      history = saved;
      j = savedJ;
      out.push_back(static_cast<uint8_t>(refA << 4 | refB));
      emitRow(a, refA);
      push(a);
      emitRow(b, refB);
      push(b);
    }
  }
  return out;
}

}  // namespace

std::vector<uint8_t> EncodeCom(const ComInput& in) {
  size_t h = in.coded ? 862 : 671;
  size_t dataAt = in.coded ? 958 : 763;
  std::vector<uint8_t> file(dataAt, 0x90);  // the program part: anything
  if (in.coded) {
    file[858] = 0x00;
    file[859] = 0x4C;
    file[860] = 0xCD;
    file[861] = 0x21;
  }
  std::fill(file.begin() + static_cast<long>(h), file.begin() + static_cast<long>(h + 58), 0);
  if (in.noPicture) {
    file[h] = 0x04;
    file[h + 1] = 0x00;
  } else {
    file[h] = 0x01;
  }
  file[h + 3] = in.byte3;
  put16(file, h + 4, in.start);
  put16(file, h + 6, in.rowLength);
  put16(file, h + 8, in.rows);
  std::copy(in.colours.begin(), in.colours.end(), file.begin() + static_cast<long>(h + 10));
  if (!in.noPicture) {
    std::vector<uint8_t> data = planeStream(in);
    if (in.coded) {
      auto tree = buildTree(data);
      BitWriter bits;
      writeTree(tree.get(), bits);
      std::map<int, std::string> table;
      codes(tree.get(), "", table);
      for (uint8_t b : data)
        for (char c : table[b]) bits.bit(c == '1');
      data = bits.bytes;
    }
    file.insert(file.end(), data.begin(), data.end());
  }
  file.resize(file.size() - std::min<size_t>(in.cutData, file.size() - dataAt));
  return file;
}

}  // namespace gtest_pictures
