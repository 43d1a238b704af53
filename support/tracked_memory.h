// Tracked memory: every block allocated through these helpers is registered
// in a 4096-slot table with the number of its call site, so that frees of
// unknown or already freed blocks are reported in the trace log, not done.
#pragma once

#include <cstdint>

constexpr int kTrackedSlots = 4096;

// Windows-era allocation flags the callers pass; only zero-filling matters here.
constexpr uint32_t GMEM_FIXED = 0x0000;
constexpr uint32_t GMEM_MOVEABLE = 0x0002;
constexpr uint32_t GMEM_ZEROINIT = 0x0040;
constexpr uint32_t GPTR = GMEM_FIXED | GMEM_ZEROINIT;
constexpr uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Registers an allocation in the first free slot; reports overflow.
void QGTrAlloc(int32_t tag, const void* address, uint32_t size);
// Clears the slot of address and returns true, or reports "QGTrFree error=".
bool QGTrFree(int32_t tag, const void* address);
// Empties the table (start of a run).
void QGTrClearTable();
// Number of slots in use.
int QGTrLiveBlocks();

// A locked block (pointer form). Null on failure.
void* QGGlobalAllocPtr(int32_t tag, uint32_t flags, uint32_t size);
// A movable block; on this platform the handle is the block's address.
void* QGGlobalAlloc(int32_t tag, uint32_t flags, uint32_t size);
// Free only blocks the table knows; true when freed.
bool QGGlobalFreePtr(int32_t tag, void* pointer);
bool QGGlobalFree(int32_t tag, void* handle);
