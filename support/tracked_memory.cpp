#include "support/tracked_memory.h"

#include <atomic>
#include <cstdlib>
#include <string>

#include "support/trace.h"

namespace {

// Slots are claimed and released with compare-and-swap so that threads can
// allocate without a lock.
struct Slot {
  std::atomic<uintptr_t> address{0};
  std::atomic<int32_t> tag{0};
  std::atomic<uint32_t> size{0};
};

Slot* table() {
  static Slot slots[kTrackedSlots];
  return slots;
}

void* allocate(const char* traceName, int32_t tag, uint32_t flags, uint32_t size) {
  // A zero-byte request still gets a distinct block that can be freed.
  size_t bytes = size == 0 ? 1 : size;
  void* p = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
  if (!p) {
    QGTrText(traceName);
    return nullptr;
  }
  QGTrAlloc(tag, p, size);
  return p;
}

bool release(int32_t tag, void* p) {
  if (!p) return false;
  if (!QGTrFree(tag, p)) return false;
  std::free(p);
  return true;
}

}  // namespace

void QGTrAlloc(int32_t tag, const void* address, uint32_t size) {
  auto addr = reinterpret_cast<uintptr_t>(address);
  Slot* slots = table();
  for (int i = 0; i < kTrackedSlots; ++i) {
    uintptr_t expected = 0;
    if (slots[i].address.load(std::memory_order_relaxed) == 0 &&
        slots[i].address.compare_exchange_strong(expected, addr)) {
      slots[i].tag.store(tag);
      slots[i].size.store(size);
      return;
    }
  }
  QGTrNumText(10, "QGTrAlloc Table Overflow=" + QGTrHex(addr) + ' ' + QGTrHex(size) + ' ' +
                      std::to_string(tag));
}

bool QGTrFree(int32_t tag, const void* address) {
  auto addr = reinterpret_cast<uintptr_t>(address);
  Slot* slots = table();
  if (addr != 0) {
    for (int i = 0; i < kTrackedSlots; ++i) {
      uintptr_t expected = addr;
      if (slots[i].address.load(std::memory_order_relaxed) == addr &&
          slots[i].address.compare_exchange_strong(expected, 0)) {
        return true;
      }
    }
  }
  QGTrNumText(tag, "QGTrFree error=" + QGTrHex(addr));
  return false;
}

void QGTrClearTable() {
  Slot* slots = table();
  for (int i = 0; i < kTrackedSlots; ++i) slots[i].address.store(0);
}

int QGTrLiveBlocks() {
  int n = 0;
  Slot* slots = table();
  for (int i = 0; i < kTrackedSlots; ++i) n += slots[i].address.load() != 0;
  return n;
}

void* QGGlobalAllocPtr(int32_t tag, uint32_t flags, uint32_t size) {
  return allocate("QGGlobalAllocPtr ", tag, flags, size);
}

void* QGGlobalAlloc(int32_t tag, uint32_t flags, uint32_t size) {
  return allocate("QGGlobalAlloc ", tag, flags, size);
}

bool QGGlobalFreePtr(int32_t tag, void* pointer) { return release(tag, pointer); }
bool QGGlobalFree(int32_t tag, void* handle) { return release(tag, handle); }
