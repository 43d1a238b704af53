// The stream converter: reads every track of a Standard MIDI File image,
// merges them in time order and packs the events into the stream buffer,
// keeping the time table (milliseconds, bar position, time signature) for
// each marker record.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "engine/song/setup_files.h"
#include "engine/song/song_internal.h"
#include "engine/song/song_reader.h"
#include "support/file_record.h"
#include "support/guard.h"
#include "support/result_code.h"
#include "support/tracked_memory.h"

namespace {

constexpr const char* kInit = "TQUORMSTR.ConverterInit";
constexpr const char* kVDWord = "TQUORMSTR.GetTrackVDWord";
constexpr const char* kEvent = "TQUORMSTR.GetTrackEvent";
constexpr const char* kConvert = "TQUORMSTR.ConvertToBuffer";
constexpr const char* kAdd = "TQUORMSTR.AddEventToStreamBuffer";

// Songs are held whole in memory; larger files are refused (9111) rather
// than cut, and the 4-byte-per-input-byte stream buffer stays addressable.
constexpr uint32_t kMaxSongBytes = 64u << 20;
constexpr uint32_t kBufferStep = 4096;
// Four bytes per input byte hold every event; long silences add an 8-byte
// marker record per marker interval on top, which the buffer takes by
// growing up to this much more (far beyond any real song's needs, small
// enough that a corrupt delta cannot claim much memory).
constexpr uint32_t kIntervalAllowance = 4u << 20;
constexpr uint32_t kFirstEventReserve = 1040;
constexpr uint32_t kMarkerReserve = 256;
constexpr uint32_t kMinMarkerInterval = 12;
constexpr uint32_t kTrailerDelta = 144;

uint32_t roundUp(uint64_t n, uint32_t step) {
  return static_cast<uint32_t>((n + step - 1) / step * step);
}

bool twoByteMessage(uint8_t status) { return (status & 0xE0) == 0xC0; }  // 0xC0-0xDF

// A binary min-heap of merge keys, one per track still running.
class MergeHeap {
 public:
  bool empty() const { return size_ == 0; }
  uint64_t top() const { return keys_[0]; }
  void push(uint64_t key) {
    int i = size_++;
    keys_[i] = key;
    while (i > 0 && keys_[(i - 1) / 2] > keys_[i]) {
      std::swap(keys_[(i - 1) / 2], keys_[i]);
      i = (i - 1) / 2;
    }
  }
  void replaceTop(uint64_t key) {
    keys_[0] = key;
    siftDown();
  }
  void popTop() {
    keys_[0] = keys_[--size_];
    siftDown();
  }

 private:
  void siftDown() {
    int i = 0;
    for (;;) {
      int l = 2 * i + 1;
      if (l >= size_) return;
      // The smaller child, chosen without a branch on the keys.
      int c = l + (l + 1 < size_ && keys_[l + 1] < keys_[l]);
      if (keys_[i] <= keys_[c]) return;
      std::swap(keys_[i], keys_[c]);
      i = c;
    }
  }
  uint64_t keys_[kQGmstMaxTracks];
  int size_ = 0;
};

int64_t gapLimitFor(uint32_t division, uint32_t tempo) {
  int64_t divisor = tempo / 100000;
  return static_cast<int64_t>(division) * 20000 / (divisor == 0 ? 1 : divisor);
}

// Position code after d more normalised ticks in a bar of beats × division.
int32_t advanceCode(int32_t code, uint64_t normTicks, int32_t beats, int32_t division) {
  int64_t bars = code / 10000;
  int64_t ticks = code - bars * 10000 + static_cast<int64_t>(normTicks);
  int64_t barLength = static_cast<int64_t>(beats) * division;
  if (barLength < division) barLength = static_cast<int64_t>(division) * 4;
  if (barLength > 0 && ticks >= barLength) {
    bars += ticks / barLength;
    ticks %= barLength;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(bars * 10000 + ticks));
}

void* trackedAlloc(int32_t tag, uint32_t flags, uint64_t size) {
  if (size > UINT32_MAX) return nullptr;
  return QGGlobalAllocPtr(tag, flags, static_cast<uint32_t>(size));
}

}  // namespace

// --- Set-up -------------------------------------------------------------------

void TQUORMSTR::ResetConverterState(int32_t mode, int32_t playMode) {
  mode_ = mode;
  playMode_ = playMode;
  markersOn_ = mode != 0;
  markers_ = 0;
  positionCode_ = 0;
  elapsedUs_ = 0;
  usRemainder_ = 0;
  normRemainder_ = 0;
  leadInTicks_ = 0;
  leadInLeft_ = 0;
  endTick_ = 0;
  songEndUs_ = 0;
  gapLimit_ = 0;
  gapWarning_ = false;
  gapTick_ = 0;
  prevTick_ = 0;
  tempo_ = 500000;
  longMax_ = 32;
  firstEventPending_ = true;
  trackFailed_ = false;
  allEnded_ = false;
  currentTrack_ = 0;
  std::memset(port_, 0, sizeof port_);
  setTimeSignature(kDefaultHyosi);
  started_ = false;
  edits_.start(playMode_);
  detected_ = 0;
}

bool TQUORMSTR::ConverterInit() {
  bool ok = QGuard(kInit, false, [&]() -> bool {
    ConverterCleanUp();
    freeOutput();
    if (fileName_.empty()) return fail(kInit, 9112);
    if (QGGetFileSize(fileName_) > kMaxSongBytes) return fail(kInit, 9111);
    file_ = QGOpenFile(fileName_, QG_GENERIC_READ, kMaxSongBytes);
    if (!file_) return fail(kInit, 9112);
    if (SongRecomposerLayout(file_->data, file_->dataSize, fileName_) != RcpLayout::kNone)
      return convertRecomposer();
    return setUpImage(file_->data, file_->dataSize);
  });
  if (!ok) {
    ConverterCleanUp();
    freeOutput();
  }
  return ok;
}

bool TQUORMSTR::convertRecomposer() {
  RcpHeader header;
  if (!RcpReadHeader(file_->data, file_->dataSize, fileName_, &header)) header.trackCount = RcpKindOfName(fileName_);
  std::vector<RcpSetupMessage> setup;
  setupProblems_.clear();
  if (setupFiles_ && header.layout != RcpLayout::kNone) {
    SongSetup found = LoadSongSetup(fileName_, header);
    setup = std::move(found.messages);
    for (const std::string& problem : found.problems) QGTrText(std::string(kInit) + " " + problem);
    setupProblems_ = std::move(found.problems);
  }
  RcpImage image;
  // The Recomposer converter records its own result code and trace entry.
  if (!rcpBuilder_({file_->data, file_->dataSize, header.trackCount, &setup, &result_}, &image)) return false;
  if (!setUpImage(image.smf.data(), image.smf.size())) return false;
  leadInTicks_ = image.leadInTicks;
  leadInLeft_ = image.leadInTicks;
  return true;
}

bool TQUORMSTR::ConverterInitImage(const uint8_t* image, size_t size) {
  bool ok = QGuard(kInit, false, [&]() -> bool {
    ConverterCleanUp();
    freeOutput();
    if (size > kMaxSongBytes) return fail(kInit, 9111);
    return setUpImage(image, size);
  });
  if (!ok) {
    ConverterCleanUp();
    freeOutput();
  }
  return ok;
}

bool TQUORMSTR::setUpImage(const uint8_t* image, size_t size) {
  if (!image) size = 0;
  auto has = [&](uint64_t offset, uint64_t count) { return offset <= size && count <= size - offset; };

  // The header may sit behind a wrapper (RIFF "RMID"), on a 4-byte boundary.
  int64_t header = -1;
  for (uint32_t step = 0; step < 256 && has(step * 4ull, 4); ++step) {
    if (std::memcmp(image + step * 4, "MThd", 4) == 0) {
      header = step * 4;
      break;
    }
  }
  if (header < 0) return fail(kInit, 9109);
  if (!has(header + 4, 4)) return fail(kInit, 9117);
  uint32_t headerLength = LoadBe32(image + header + 4);
  if (headerLength < 6) return fail(kInit, 9108);
  if (!has(header + 8, 6)) return fail(kInit, 9117);
  uint32_t trackCount = static_cast<uint32_t>(image[header + 10]) << 8 | image[header + 11];
  uint32_t division = static_cast<uint32_t>(image[header + 12]) << 8 | image[header + 13];

  if (division == 0) division = 960;
  division_ = division;
  markerInterval_ = division / 4;
  int32_t norm = static_cast<int32_t>(division);
  if (division == 48) norm = 960;
  for (int i = 0; i < 4 && norm > 999; ++i) norm /= 2;
  for (int i = 0; i < 4 && norm <= 480; ++i) norm *= 2;
  normDivision_ = norm;
  timeDivision_ = division;
  tickDivision_ = norm;
  if (trackCount > kQGmstMaxTracks) trackCount = kQGmstMaxTracks;
  gapLimit_ = gapLimitFor(division_, tempo_);

  uint64_t at = static_cast<uint64_t>(header) + 8 + headerLength;
  uint64_t totalLength = 0;
  for (uint32_t i = 0; i < trackCount; ++i) {
    if (!has(at, 8) || std::memcmp(image + at, "MTrk", 4) != 0) return fail(kInit, 9113);
    uint32_t length = LoadBe32(image + at + 4);
    uint64_t dataStart = at + 8;
    // A chunk that claims more than the file holds keeps what is there.
    if (length > size - dataStart) length = static_cast<uint32_t>(size - dataStart);

    void* stateMemory = trackedAlloc(kTagTrackState, GPTR, sizeof(TrackState));
    if (!stateMemory) return fail(kInit, 9116);
    auto* t = new (stateMemory) TrackState();
    tracks_[trackCount_++] = t;
    t->start = static_cast<uint8_t*>(trackedAlloc(kTagTrackData, GMEM_FIXED, length));
    if (!t->start) return fail(kInit, 9116);
    if (length > 0) std::memcpy(t->start, image + dataStart, length);
    t->length = length;
    t->leftInBuffer = length;
    t->current = t->start;
    t->fileStart = static_cast<uint32_t>(dataStart);
    t->nextRead = static_cast<uint32_t>(dataStart + length);
    totalLength += length;
    at = dataStart + length;

    if (length == 0) {
      t->flags |= kTrackEnded;
      continue;
    }
    uint32_t delta = 0;
    if (!readVlq(*t, &delta)) return fail(kInit, 9115);
    t->nextEventTime = delta;
    // Reading the first event once shows a bad track early (codes and trace);
    // the track itself is not advanced.
    TrackState probe = *t;
    TrackEvent first;
    readEvent(probe, &first);
    freeEventData(&first);
  }
  if (trackCount_ == 0) return fail(kInit, 9116);

  bufferSize_ = std::max(roundUp(totalLength * 4, kBufferStep), kBufferStep);
  bufferLimit_ = bufferSize_ + kIntervalAllowance;
  buffer_ = static_cast<uint8_t*>(trackedAlloc(kTagStreamBuffer, GPTR, bufferSize_));
  if (!buffer_) {
    bufferSize_ = bufferLimit_ = 0;
    return fail(kInit, 9117);
  }
  written_ = 0;
  tableCapacity_ = static_cast<uint32_t>((totalLength + 1024) / sizeof(TimeTableEntry));
  table_ = static_cast<TimeTableEntry*>(
      trackedAlloc(kTagTimeTable, GPTR, static_cast<uint64_t>(tableCapacity_) * sizeof(TimeTableEntry)));
  if (!table_) {
    tableCapacity_ = 0;
    return fail(kInit, 9117);
  }
  markers_ = 0;
  return true;
}

void TQUORMSTR::freeTracks() {
  for (int i = 0; i < trackCount_; ++i) {
    TrackState* t = tracks_[i];
    if (!t) continue;
    if (t->start) QGGlobalFreePtr(kTagTrackData, t->start);
    t->~TrackState();
    QGGlobalFreePtr(kTagTrackState, t);
    tracks_[i] = nullptr;
  }
  trackCount_ = 0;
}

void TQUORMSTR::ConverterCleanUp() {
  QGuardVoid("TQUORMSTR.ConverterCleanUp", [&] {
    // The Recomposer image is built in memory: no work file to delete.
    if (file_) {
      QGCloseFile(kTagSongFile, file_);
      file_ = nullptr;
    }
    if (hasHeld_) {
      freeEventData(&held_);
      hasHeld_ = false;
    }
    freeTracks();
  });
}

// --- Reading tracks ---------------------------------------------------------

bool TQUORMSTR::ReFillTrackBuffer(int) { return false; }  // the whole track is in memory

bool TQUORMSTR::getTrackByte(int track, uint8_t* byte) {
  return QGuard("TQUORMSTR.getTrackByte", false, [&] {
    if (track < 0 || track >= trackCount_ || !byte) return false;
    TrackState& t = *tracks_[track];
    if (t.leftInBuffer == 0) {
      ReFillTrackBuffer(track);
      return false;
    }
    *byte = *t.current++;
    --t.leftInBuffer;
    return true;
  });
}

bool TQUORMSTR::readVlq(TrackState& t, uint32_t* value) {
  if (t.flags & kTrackEnded) return fail(kVDWord, 9120);
  uint32_t v = 0;
  uint8_t b;
  do {
    if (t.leftInBuffer == 0) {
      t.flags |= kTrackEnded;
      return fail(kVDWord, 9118);
    }
    b = *t.current++;
    --t.leftInBuffer;
    v = (v << 7) + (b & 0x7Fu);
  } while (b & 0x80);
  *value = v;
  return true;
}

bool TQUORMSTR::GetTrackVDWord(int track, uint32_t* value) {
  return QGuard(kVDWord, false, [&] {
    if (track < 0 || track >= trackCount_ || !value) return false;
    return readVlq(*tracks_[track], value);
  });
}

void TQUORMSTR::freeEventData(TrackEvent* event) {
  if (event && event->longData) {
    QGGlobalFreePtr(kTagLongData, event->longData);
    event->longData = nullptr;
  }
}

// Reads one event and the delta after it. Running out of data ends the
// track (the caller lets the other tracks go on); a byte that cannot start
// an event, or a missing running status, fails the read.
bool TQUORMSTR::readEvent(TrackState& t, TrackEvent* e) {
  *e = TrackEvent();
  auto ranOut = [&](int32_t code) {
    t.flags |= kTrackEnded;
    freeEventData(e);
    return fail(kEvent, code);
  };
  auto next = [&]() -> uint8_t {
    --t.leftInBuffer;
    return *t.current++;
  };
  // A length written as a variable-length quantity of up to 4 bytes.
  auto readLength = [&](uint8_t first, uint32_t* length) -> bool {
    uint32_t v = first & 0x7Fu;
    uint8_t b = first;
    for (int i = 1; (b & 0x80) && i < 4; ++i) {
      if (t.leftInBuffer == 0) return false;
      b = next();
      v = v << 7 | (b & 0x7Fu);
    }
    *length = v;
    return true;
  };
  auto copyData = [&](uint32_t length, int32_t allocCode) -> bool {
    if (length == 0) return true;
    e->longData = static_cast<uint8_t*>(QGGlobalAllocPtr(kTagLongData, GMEM_FIXED, length));
    if (!e->longData) return fail(kEvent, allocCode);
    std::memcpy(e->longData, t.current, length);
    t.current += length;
    t.leftInBuffer -= length;
    return true;
  };

  if ((t.flags & kTrackEnded) || t.leftInBuffer == 0) return ranOut(9124);
  uint8_t b = next();
  if (b < 0x80) {
    if (t.runningStatus == 0) return fail(kEvent, 9126);
    e->status = t.runningStatus;
    e->data1 = b;
    if (twoByteMessage(e->status)) {
      e->length = 2;
    } else {
      if (t.leftInBuffer == 0) return ranOut(9127);
      e->data2 = next();
      e->length = 3;
    }
  } else if (b < 0xF0) {
    t.runningStatus = b;
    e->status = b;
    uint32_t count = twoByteMessage(b) ? 1 : 2;
    if (t.leftInBuffer < count) return ranOut(9129);
    e->data1 = next();
    if (count == 2) e->data2 = next();
    e->length = count + 1;
  } else if (b == 0xF0 || b == 0xF7) {
    e->status = b;
    if (t.leftInBuffer == 0) return ranOut(9132);
    uint32_t length = 0;
    if (!readLength(next(), &length)) return ranOut(9132);
    if (length > t.leftInBuffer) return ranOut(9133);
    e->length = length;
    if (!copyData(length, 9134)) return false;
  } else if (b == 0xFF) {
    e->status = b;
    if (t.leftInBuffer == 0) return ranOut(9136);
    e->data1 = next();
    if (t.leftInBuffer == 0) return ranOut(9137);
    e->data2 = next();
    uint32_t length = e->data2;
    if (e->data2 >= 0x80) {
      // (data2 - 0x80) × 128 + data3; a data3 with bit 7 set continues the
      // number as a variable-length quantity (up to 4 bytes in all).
      if (t.leftInBuffer == 0) return ranOut(9137);
      e->data3 = next();
      length = (e->data2 & 0x7Fu) << 7 | (e->data3 & 0x7Fu);
      for (uint8_t c = e->data3, i = 2; (c & 0x80) && i < 4; ++i) {
        if (t.leftInBuffer == 0) return ranOut(9137);
        c = next();
        length = length << 7 | (c & 0x7Fu);
      }
    }
    if (length > t.leftInBuffer) return ranOut(9139);
    e->length = length;
    if (!copyData(length, 9138)) return false;
    if (e->data1 == 0x2F) t.flags |= kTrackEnded;
  } else {
    return fail(kEvent, 9140);
  }

  e->tick = t.nextEventTime;
  if (!(t.flags & kTrackEnded)) {
    uint32_t delta = 0;
    if (readVlq(t, &delta)) {
      t.nextEventTime += delta;
    } else if (!(t.flags & kTrackEnded)) {
      freeEventData(e);
      return fail(kEvent, 9141);
    }
    // Data that ends right after an event ends the track; the event counts.
  }
  return true;
}

bool TQUORMSTR::GetTrackEvent(int track, TrackEvent* event) {
  return QGuard(kEvent, false, [&] {
    if (track < 0 || track >= trackCount_ || !event) return false;
    return readEvent(*tracks_[track], event);
  });
}

// --- Merging --------------------------------------------------------------------

int32_t TQUORMSTR::ConvertToBuffer(int32_t reset) {
  return QGuard(kConvert, kConvError, [&]() -> int32_t {
    if (reset == 1) {
      trackFailed_ = false;
      allEnded_ = false;
      if (hasHeld_) {
        freeEventData(&held_);
        hasHeld_ = false;
      }
      edits_.clearBanks();
      std::memset(port_, 0, sizeof port_);
    }
    if (trackFailed_) {
      fail(kConvert, 9122);
      return kConvAfterFailure;
    }
    if (allEnded_) return kConvAfterEnd;
    if (!buffer_ || !table_) return kConvError;

    bool stop = false;  // an event refused for another reason ends the song
    if (hasHeld_) {
      TrackEvent event = held_;
      held_ = TrackEvent();
      hasHeld_ = false;
      if (event.status == 0xFF && event.data1 == 0x2F) {
        endTick_ = std::max(endTick_, event.tick);
        freeEventData(&event);
      } else {
        int32_t code = addEvent(&event);
        if (code == kConvBufferFull) {
          held_ = event;
          hasHeld_ = true;
          return kConvOk;
        }
        if (code != kConvOk && code != kConvSkipped) {
          freeEventData(&event);
          stop = true;
        }
      }
    }
    // Merge keys: the next event's tick above, 255 - track below, so the
    // smallest key is the earliest event and, on a tie, the highest track.
    // A small heap keeps the smallest at its root.
    MergeHeap heap;
    for (int i = 0; i < trackCount_; ++i)
      if (!(tracks_[i]->flags & kTrackEnded)) heap.push(mergeKey(i));
    while (!stop) {
      if (heap.empty()) {
        allEnded_ = true;
        break;
      }
      int pick = 255 - static_cast<int>(heap.top() & 0xFF);
      currentTrack_ = pick;
      TrackEvent event;
      bool read = readEvent(*tracks_[pick], &event);
      if (tracks_[pick]->flags & kTrackEnded)
        heap.popTop();
      else
        heap.replaceTop(mergeKey(pick));
      if (!read) {
        if (tracks_[pick]->flags & kTrackEnded) continue;  // its data ran out
        trackFailed_ = true;
        fail(kConvert, 9123);
        return kConvTrackFailed;
      }
      if (event.status == 0xFF && event.data1 == 0x2F) {
        endTick_ = std::max(endTick_, event.tick);
        freeEventData(&event);
        continue;
      }
      int32_t code = addEvent(&event);
      if (code == kConvOk || code == kConvSkipped) continue;
      if (code == kConvBufferFull) {
        held_ = event;
        hasHeld_ = true;
        return kConvOk;
      }
      freeEventData(&event);
      break;
    }
    finishConversion();
    return kConvOk;
  });
}

uint64_t TQUORMSTR::mergeKey(int track) const {
  return static_cast<uint64_t>(tracks_[track]->nextEventTime) << 8 | static_cast<uint64_t>(255 - track);
}

void TQUORMSTR::finishConversion() {
  // The song ends where its last track ends, which may be after its last
  // event (rests at the end), at the tempo in force then.
  songEndUs_ = elapsedUs_;
  if (endTick_ > prevTick_) songEndUs_ += uint64_t{endTick_ - prevTick_} * tempo_ / division_;
  // Two closing no-operation records let the last notes ring out.
  closing_ = true;
  for (int i = 0; i < 2; ++i) {
    StreamEvent nop{kTrailerDelta, 0, kEvNop | (markersOn_ ? kEvMarker : 0)};
    if (!packEvent(nop, nullptr, 0)) break;
    prevTick_ += kTrailerDelta;
  }
  closing_ = false;
  // Trim the buffer to the bytes used plus 1024, the table to its entries
  // plus 1024 bytes.
  uint32_t used = written_;
  uint32_t size = roundUp(static_cast<uint64_t>(used) + 1024, kBufferStep);
  if (auto* trimmed = static_cast<uint8_t*>(QGGlobalAllocPtr(kTagStreamBuffer, GPTR, size))) {
    std::memcpy(trimmed, buffer_, used);
    QGGlobalFreePtr(kTagStreamBuffer, buffer_);
    buffer_ = trimmed;
    bufferSize_ = size;
  }
  bufferLength_ = used + 1024;
  dataLength_ = used;
  uint32_t entries = markers_ + 1024 / sizeof(TimeTableEntry);
  if (entries < tableCapacity_) {
    if (auto* trimmed = static_cast<TimeTableEntry*>(
            QGGlobalAllocPtr(kTagTimeTable, GPTR, entries * sizeof(TimeTableEntry)))) {
      std::memcpy(trimmed, table_, markers_ * sizeof(TimeTableEntry));
      QGGlobalFreePtr(kTagTimeTable, table_);
      table_ = trimmed;
      tableCapacity_ = entries;
    }
  }
}

// --- Packing ----------------------------------------------------------------------

uint32_t TQUORMSTR::intervalRecords(uint32_t delta) const {
  uint32_t interval = std::max(markerInterval_, kMinMarkerInterval);
  return delta > interval ? (delta - 1) / interval : 0;
}

// Room for a record needing `bytes` plus the interval records its delta
// brings (a long gap costs 8 bytes per marker interval).
bool TQUORMSTR::roomFor(uint32_t delta, uint32_t bytes) const {
  return static_cast<uint64_t>(intervalRecords(delta)) * 8 + bytes <= freeBytes();
}

bool TQUORMSTR::ensureCapacity(uint64_t bytes) {
  uint64_t need = static_cast<uint64_t>(written_) + bytes;
  if (need <= bufferSize_) return true;
  uint64_t size = roundUp(std::max<uint64_t>(need, static_cast<uint64_t>(bufferSize_) * 2), kBufferStep);
  auto* grown = static_cast<uint8_t*>(trackedAlloc(kTagStreamBuffer, GPTR, size));
  if (!grown) return false;
  std::memcpy(grown, buffer_, written_);
  QGGlobalFreePtr(kTagStreamBuffer, buffer_);
  buffer_ = grown;
  bufferSize_ = static_cast<uint32_t>(size);
  return true;
}

// Every marker record gets an entry, however many markers the song has.
bool TQUORMSTR::growTable() {
  uint64_t capacity = std::max<uint64_t>(static_cast<uint64_t>(tableCapacity_) * 2, 1024);
  auto* grown = static_cast<TimeTableEntry*>(
      trackedAlloc(kTagTimeTable, GPTR, capacity * sizeof(TimeTableEntry)));
  if (!grown) return false;
  std::memcpy(grown, table_, static_cast<size_t>(markers_) * sizeof(TimeTableEntry));
  QGGlobalFreePtr(kTagTimeTable, table_);
  table_ = grown;
  tableCapacity_ = static_cast<uint32_t>(capacity);
  return true;
}

// Time and position advance exactly: the remainders of the divisions are
// carried, so each entry is the true time rounded down to a millisecond and
// the true position however many deltas came before.
// The set-up measure before a Recomposer song takes time but no bars: the
// song's bar 0 starts after it, so that its script keeps to the music.
void TQUORMSTR::advance(uint32_t delta) {
  if (delta == 0) return;
  uint64_t us = static_cast<uint64_t>(delta) * tempo_ + usRemainder_;
  elapsedUs_ += us / division_;
  usRemainder_ = us % division_;
  const uint64_t leadIn = std::min<uint64_t>(leadInLeft_, delta);
  leadInLeft_ -= leadIn;
  if (delta == leadIn) return;
  uint64_t ticks = (delta - leadIn) * static_cast<uint32_t>(normDivision_) + normRemainder_;
  normRemainder_ = ticks % division_;
  positionCode_ = advanceCode(positionCode_, ticks / division_, beatsPerBar_, normDivision_);
}

int32_t TQUORMSTR::positionAfter(uint32_t delta) const {
  const uint64_t counted = delta - std::min<uint64_t>(leadInLeft_, delta);
  uint64_t ticks = counted * static_cast<uint32_t>(normDivision_) + normRemainder_;
  return advanceCode(positionCode_, ticks / division_, beatsPerBar_, normDivision_);
}

bool TQUORMSTR::addTableEntry() {
  if (markers_ == tableCapacity_ && !growTable()) return false;
  table_[markers_++] = TimeTableEntry{static_cast<uint32_t>(elapsedUs_ / 1000), positionCode_, hyosi_};
  return true;
}

bool TQUORMSTR::subMidiEventSet(const StreamEvent& event, const uint8_t* payload, uint32_t payloadSize) {
  return QGuard("TQUORMSTR.subMidiEventSet", false, [&] { return packEvent(event, payload, payloadSize); });
}

// The converter's own calls come here directly: one guard per conversion
// is enough, and the packing runs once per record.
bool TQUORMSTR::packEvent(const StreamEvent& event, const uint8_t* payload, uint32_t payloadSize) {
  uint32_t interval = std::max(markerInterval_, kMinMarkerInterval);
  uint32_t delta = event.delta;
  uint32_t padded = (payloadSize + 3) & ~3u;
  uint32_t last = delta > interval ? delta - intervalRecords(delta) * interval : delta;
  uint64_t need = static_cast<uint64_t>(intervalRecords(delta)) * 8 + 4 + (last > 2 ? 4 : 0) + padded;
  if (!buffer_ || (payloadSize > 0 && !payload)) return false;
  if ((!closing_ && need > freeBytes()) || !ensureCapacity(need)) return false;

  const uint8_t intervalFlags = kRecNop | kRecDeltaWord | (markersOn_ ? kRecMarker : 0);
  while (delta > interval) {
    putWord(static_cast<uint32_t>(intervalFlags) << 24);
    putWord(interval);
    advance(interval);
    delta -= interval;
    if (markersOn_) addTableEntry();
  }
  uint8_t top = static_cast<uint8_t>(event.event >> 24);
  uint8_t flags = static_cast<uint8_t>((top & (kRecKindMask | kRecMarker)) | (event.port == 1 ? kRecPortB : 0));
  flags |= delta == 0 ? 0 : delta == 1 ? kRecDelta1 : delta == 2 ? kRecDelta2 : kRecDeltaWord;
  putWord(static_cast<uint32_t>(flags) << 24 | (event.event & 0xFFFFFFu));
  if (delta > 2) putWord(delta);
  if (padded > 0) {
    std::memcpy(buffer_ + written_, payload, payloadSize);
    std::memset(buffer_ + written_ + payloadSize, 0, padded - payloadSize);
    written_ += padded;
  }
  advance(delta);
  if (flags & kRecMarker) addTableEntry();
  return true;
}

int32_t TQUORMSTR::addNop(uint32_t delta, uint32_t marker) {
  StreamEvent nop{delta, port_[currentTrack_], kEvNop | (delta > 0 ? marker : 0)};
  return packEvent(nop, nullptr, 0) ? kConvOk : kConvBufferFull;
}

int32_t TQUORMSTR::AddEventToStreamBuffer(TrackEvent* e) {
  return QGuard(kAdd, kConvError, [&] { return addEvent(e); });
}

int32_t TQUORMSTR::addEvent(TrackEvent* e) {
  if (!e || !buffer_) return kConvError;
  // A silence between two events longer than the gap limit (about 2000 s
  // at the tempo in force) is warned about once; a second one cuts the
  // song there. The gap is measured between consecutive events, so a slow
  // tempo late in a long song does not cut it.
  if (static_cast<int64_t>(prevTick_) - gapTick_ > gapLimit_) {
    if (!gapWarning_) {
      gapWarning_ = true;
    } else {
      gapWarning_ = false;
      fail(kAdd, 9142);
      return kConvBufferFull;
    }
  }
  gapTick_ = prevTick_;
  if (firstEventPending_) {
    if (freeBytes() < kFirstEventReserve) return kConvBufferFull;
    if (!packEvent(StreamEvent{0, 0, kEvTempo | tempo_}, nullptr, 0)) return kConvBufferFull;
    firstEventPending_ = false;
  }
  uint32_t marker = markersOn_ && freeBytes() > kMarkerReserve ? kEvMarker : 0;
  uint32_t delta = e->tick - prevTick_;
  int32_t code;
  if (e->status < 0xF0)
    code = addChannel(e, delta, marker);
  else if (e->status == 0xF0 || e->status == 0xF7)
    code = addSysEx(e, delta, marker);
  else
    code = addMeta(e, delta, marker);
  if (code == kConvBufferFull) return code;  // held with its data for a later call
  prevTick_ = e->tick;
  if (e->longData) freeEventData(e);
  return code;
}

int32_t TQUORMSTR::addChannel(TrackEvent* e, uint32_t delta, uint32_t marker) {
  if (!roomFor(delta, 12)) return kConvBufferFull;
  int32_t position = edits_.mode == 1 ? positionAfter(delta) : 0;
  switch (edits_.channel(currentTrack_, e->status, e->data1, e->data2, position)) {
    case QGmstEdit::Replace:
      return addNop(delta, marker) == kConvOk ? kConvSkipped : kConvBufferFull;
    case QGmstEdit::ReplaceNoMarker:
      return addNop(delta, 0) == kConvOk ? kConvSkipped : kConvBufferFull;
    case QGmstEdit::Keep:
      break;
  }
  if (edits_.mode == 2) detected_ = edits_.detected;
  uint32_t word = kEvShort | e->status | static_cast<uint32_t>(e->data1) << 8 |
                  static_cast<uint32_t>(e->data2) << 16 | (delta > 0 ? marker : 0);
  return packEvent(StreamEvent{delta, port_[currentTrack_], word}, nullptr, 0) ? kConvOk
                                                                                     : kConvBufferFull;
}

int32_t TQUORMSTR::addSysEx(TrackEvent* e, uint32_t delta, uint32_t marker) {
  QGmstEdit edit = edits_.sysEx(e->longData, e->length);
  if (edits_.mode == 2) detected_ = edits_.detected;
  // The player's send buffers hold 1024 bytes and it reads a message's byte
  // count from 10 bits: a longer message is left out, its time kept.
  if (edit == QGmstEdit::Keep && e->length + 1 > kLongMessageMaxBytes) edit = QGmstEdit::Replace;
  if (edit != QGmstEdit::Keep) {
    if (!roomFor(delta, 12)) return kConvBufferFull;
    uint32_t m = edit == QGmstEdit::Replace ? marker : 0;
    return addNop(delta, m) == kConvOk ? kConvSkipped : kConvBufferFull;
  }
  uint32_t padded = (e->length + 4) & ~3u;
  longMax_ = std::max(longMax_, padded);
  if (!roomFor(delta, padded + 12)) return kConvBufferFull;
  scratch_.resize(e->length + 1);
  scratch_[0] = e->status;
  if (e->length > 0) std::memcpy(scratch_.data() + 1, e->longData, e->length);
  uint32_t word = (e->length + 1) | kEvLong | (delta > 0 ? marker : 0);
  StreamEvent event{delta, port_[currentTrack_], word};
  return packEvent(event, scratch_.data(), e->length + 1) ? kConvOk : kConvBufferFull;
}

int32_t TQUORMSTR::addMeta(TrackEvent* e, uint32_t delta, uint32_t marker) {
  if (!roomFor(delta, 12)) return kConvBufferFull;
  const uint8_t type = e->data1;
  const uint8_t* d = e->longData;
  uint32_t tempo = 0;
  if (type == 0x51 && e->length >= 3) tempo = static_cast<uint32_t>(d[0]) << 16 | d[1] << 8 | d[2];
  uint32_t word = (tempo != 0 ? (kEvTempo | tempo) : kEvNop) | (delta > 0 ? marker : 0);
  // The record's own delta still runs at the tempo and metre before it.
  if (!packEvent(StreamEvent{delta, port_[currentTrack_], word}, nullptr, 0)) return kConvBufferFull;
  if (tempo != 0) {
    tempo_ = tempo;
    gapLimit_ = gapLimitFor(division_, tempo_);
  } else if (type == 0x21 && e->length == 1) {
    port_[currentTrack_] = d[0] != 0 ? 1 : 0;
  } else if (type == 0x58) {
    uint32_t signature = 0;
    for (uint32_t k = 0; k < 4 && k < e->length; ++k) signature |= static_cast<uint32_t>(d[k]) << (24 - 8 * k);
    setTimeSignature(signature);
  }
  return kConvOk;
}
