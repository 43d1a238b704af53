#include "engine/wrd/wrd_state.h"


std::array<TWRDPalEntry, 256> WRDDefaultSystemPalette() {
  // The static system colours at these indices, as the graphics engine's
  // default palette table holds them (black, then red, green, yellow, blue,
  // magenta, cyan and white at 249..255). Only the entries the WRD default
  // colours are made of are needed here.
  std::array<TWRDPalEntry, 256> p{};
  p[0] = {0x00, 0x00, 0x00, 0};
  p[249] = {0xFF, 0x00, 0x00, 0};
  p[250] = {0x00, 0xFF, 0x00, 0};
  p[251] = {0xFF, 0xFF, 0x00, 0};
  p[252] = {0x00, 0x00, 0xFF, 0};
  p[253] = {0xFF, 0x00, 0xFF, 0};
  p[254] = {0x00, 0xFF, 0xFF, 0};
  p[255] = {0xFF, 0xFF, 0xFF, 0};
  return p;
}

void TWRDCommandTable::allocate(size_t capacity, size_t limit) {
  release();
  limit_ = limit;
  full_ = false;
  size_t n = capacity < limit ? capacity : limit;
  time_.reserve(n);
  op_.reserve(n);
  arg_.reserve(n);
}

int32_t TWRDCommandTable::add(int32_t time, uint8_t op, int32_t arg) {
  if (time_.size() >= limit_) {
    full_ = true;
    throw TWRDTableFull("WRD command table full");
  }
  time_.push_back(time);
  op_.push_back(op);
  arg_.push_back(arg);
  return static_cast<int32_t>(time_.size() - 1);
}

namespace {
template <class T>
void shrinkColumn(std::vector<T>& column, size_t spare) {
  std::vector<T> v;
  if (!column.empty()) {
    v.reserve(column.size() + spare);
    v.assign(column.begin(), column.end());
  }
  column.swap(v);
}
}  // namespace

void TWRDCommandTable::shrink(size_t spare) {
  shrinkColumn(time_, spare);
  shrinkColumn(op_, spare);
  shrinkColumn(arg_, spare);
}

void TWRDCommandTable::release() {
  std::vector<int32_t>().swap(time_);
  std::vector<uint8_t>().swap(op_);
  std::vector<int32_t>().swap(arg_);
}

std::string TWRDEXE::getSlotName(int32_t i) const {
  if (i < 0 || i >= kWRDSlots) return {};
  return s_.slotNames[static_cast<size_t>(i)];
}

int32_t TWRDEXE::getSlotCount() const {
  int32_t n = 0;
  while (n < kWRDSlots && !s_.slotNames[static_cast<size_t>(n)].empty()) ++n;
  return n;
}
