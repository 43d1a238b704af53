// Bounds-checked access to bytes read from a file. Parsers read every field
// through it; a read outside the bytes throws, which the routine's guard
// turns into a trace entry and its failure value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  bool has(size_t offset, size_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }

  uint8_t u8(size_t offset) const {
    check(offset, 1);
    return data_[offset];
  }
  uint16_t u16le(size_t o) const {
    check(o, 2);
    return static_cast<uint16_t>(data_[o] | data_[o + 1] << 8);
  }
  uint32_t u32le(size_t o) const {
    check(o, 4);
    return static_cast<uint32_t>(data_[o]) | static_cast<uint32_t>(data_[o + 1]) << 8 |
           static_cast<uint32_t>(data_[o + 2]) << 16 | static_cast<uint32_t>(data_[o + 3]) << 24;
  }
  uint16_t u16be(size_t o) const {
    check(o, 2);
    return static_cast<uint16_t>(data_[o] << 8 | data_[o + 1]);
  }
  uint32_t u32be(size_t o) const {
    check(o, 4);
    return static_cast<uint32_t>(data_[o]) << 24 | static_cast<uint32_t>(data_[o + 1]) << 16 |
           static_cast<uint32_t>(data_[o + 2]) << 8 | static_cast<uint32_t>(data_[o + 3]);
  }
  ByteView sub(size_t offset, size_t count) const {
    check(offset, count);
    return ByteView(data_ + offset, count);
  }

 private:
  void check(size_t offset, size_t count) const {
    if (!has(offset, count)) throw std::out_of_range("read past the end of the data");
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
