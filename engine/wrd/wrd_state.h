// The WRD state block: everything the script loader, the compiler and the
// executor share. Each WRD runtime holds one; the loader, compiler and
// executor routines are handed the block they work on.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Operation codes of the command table.
enum : uint8_t {
  kWRDOpText = 1,
  kWRDOpClearText = 2,
  kWRDOpErase = 3,
  kWRDOpScroll = 4,
  kWRDOpGcls = 5,
  kWRDOpGscreen = 6,
  kWRDOpGon = 7,
  kWRDOpGline = 8,
  kWRDOpGcircle = 9,
  kWRDOpPal = 16,
  kWRDOpPalRev = 17,
  kWRDOpFade = 18,
  kWRDOpGmove = 19,
  kWRDOpPicture = 20,
  kWRDOpTextFirst = 21,
  kWRDOpTextMiddle = 22,
  kWRDOpTextLast = 23,
  kWRDOpScrollBatch = 24,
  kWRDOpGmode = 25,
  kWRDOpGlinePlanes = 26,
  kWRDOpGcirclePlanes = 27,
  kWRDOpGmovePlanes = 32,
  kWRDOpClearTextBatch = 34,
  kWRDOpEraseBatch = 35,
  kWRDOpPictureBatch = 36,
  kWRDOpTextLastFull = 39,
  kWRDOpScrollLast = 40,
  kWRDOpFreeSlot = 41,
  kWRDOpFreeCancelled = 153,
};

// Why the last compile failed (0: it did not).
enum : int32_t {
  kWRDCompiled = 0,
  kWRDErrRead = 1,      // missing or unreadable script
  kWRDErrTokens = 2,    // not ended after 5,000,000 tokens
  kWRDErrCapacity = 3,  // a table would exceed its limit
  kWRDErrFault = 4,     // an unexpected failure inside the compiler
};

// Why a script was not read (with kWRDErrRead).
enum : int32_t {
  kWRDReadMissing = 0,   // missing or unreadable
  kWRDReadEmpty = 1,     // an empty file
  kWRDReadTooLarge = 2,  // larger than the file loader reads
};

constexpr int32_t kWRDTokenLimit = 5000000;
constexpr int32_t kWRDPalettes = 22;
constexpr int32_t kWRDSlots = 64;
constexpr int32_t kWRDPendingSize = 256;
constexpr int32_t kWRDPendingEmpty = 255;
constexpr int32_t kWRDColumns = 80;
constexpr int32_t kWRDRows = 25;
constexpr int32_t kWRDClearColour = 242;

// What the compiler needs from the song and the player settings; the song
// loader fills it before the script is compiled.
struct TWRDInputs {
  int32_t tickDivision = 480;   // normalised ticks per quarter note; below 1 means 960
  int32_t beatsPerBar = 4;      // time-signature numerator; 0 means 4
  int32_t songEnd = 0;          // position of the song's last time-table entry (END)
  int32_t timeMapEntries = 0;   // time-table entries: bounds what runs at time 0
  int32_t displayOffset = 0;    // WRD display offset in 1/48 quarter notes
  bool xyMode = false;          // LOCATE takes the row first
};

struct TWRDPalEntry {
  uint8_t red = 0, green = 0, blue = 0, flags = 0;
  bool operator==(const TWRDPalEntry&) const = default;
};
// Entry k holds WRD colour 15 - k (display index 226 + k).
using TWRDPalette = std::array<TWRDPalEntry, 16>;

// A character cell: one character, or a space that blanks the first half of
// a two-byte character followed by one character.
struct TWRDCell {
  uint8_t text[3] = {};
  uint8_t length = 0;
  int32_t x = 0, y = 0;
  int32_t colour = 0;
  std::string_view view() const { return {reinterpret_cast<const char*>(text), length}; }
};

struct TWRDPalRecord {
  TWRDPalette colours{};
  int32_t target = 0;
};

struct TWRDPicRecord {
  int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0, width = 0, height = 0, modeA = 0, modeB = 0;
  bool operator==(const TWRDPicRecord&) const = default;
};

struct TWRDRect {
  int32_t x = 0, y = 0, width = 0, height = 0, kind = 0, colour = 0, colour2 = 0;
  bool operator==(const TWRDRect&) const = default;
};

struct TWRDFadeStep {
  int32_t from = 0, to = 0, step = 0;
  bool operator==(const TWRDFadeStep&) const = default;
};

struct TWRDPending {
  int32_t time = 0;
  uint8_t op = 0;
  int32_t arg = 0;
};

// Thrown when a table would grow past its limit; the compile then fails.
struct TWRDTableFull : std::length_error {
  using std::length_error::length_error;
};

// A side table: reserved from the script's size, grows when a script needs
// more, and refuses to grow past its limit.
template <class T>
class TWRDTable {
 public:
  void allocate(size_t capacity, size_t limit) {
    std::vector<T>().swap(items_);
    limit_ = limit;
    full_ = false;
    items_.reserve(capacity < limit ? capacity : limit);
  }
  int32_t add(const T& item) {
    if (items_.size() >= limit_) {
      full_ = true;
      throw TWRDTableFull("WRD side table full");
    }
    items_.push_back(item);
    return static_cast<int32_t>(items_.size() - 1);
  }
  // Keeps the contents with room for spare more entries; frees an empty table.
  void shrink(size_t spare) {
    std::vector<T> v;
    if (!items_.empty()) {
      v.reserve(items_.size() + spare);
      v.assign(items_.begin(), items_.end());
    }
    items_.swap(v);
  }
  void release() { std::vector<T>().swap(items_); }
  size_t size() const { return items_.size(); }
  T& at(size_t i) { return items_.at(i); }
  const T& at(size_t i) const { return items_.at(i); }
  const std::vector<T>& items() const { return items_; }
  // An add was refused since the last allocate.
  bool full() const { return full_; }

 private:
  std::vector<T> items_;
  size_t limit_ = 0;
  bool full_ = false;
};

// The command table: three parallel columns, one entry per drawing step.
class TWRDCommandTable {
 public:
  void allocate(size_t capacity, size_t limit);
  int32_t add(int32_t time, uint8_t op, int32_t arg);
  void shrink(size_t spare);
  void release();
  size_t size() const { return time_.size(); }
  int32_t& time(size_t i) { return time_.at(i); }
  uint8_t& op(size_t i) { return op_.at(i); }
  int32_t& arg(size_t i) { return arg_.at(i); }
  int32_t time(size_t i) const { return time_.at(i); }
  uint8_t op(size_t i) const { return op_.at(i); }
  int32_t arg(size_t i) const { return arg_.at(i); }
  bool full() const { return full_; }

 private:
  std::vector<int32_t> time_;
  std::vector<uint8_t> op_;
  std::vector<int32_t> arg_;
  size_t limit_ = 0;
  bool full_ = false;
};

// The system colours the default WRD palette is made of (indices 0 and
// 249..255); the host replaces them with the palette it captures.
std::array<TWRDPalEntry, 256> WRDDefaultSystemPalette();

// One character unit of a text run (one or two bytes).
struct TWRDUnit {
  uint8_t bytes[2] = {};
  uint8_t length = 0;
};

struct TWRDState {
  // --- script buffer: only while subWRDInit runs
  const uint8_t* data = nullptr;
  int32_t size = 0;
  int32_t pos = 0;
  uint8_t lastByte = 0;
  int32_t lastLineEnd = -1;    // where the CR the byte reader last returned lies
  bool literalToken = false;   // the last token came from |...| or a \ escape
  int32_t tokenCount = 0;

  // Where the word after '@' ends, left for subWRDOptGet.
  struct WordScan {
    int32_t wordEnd = 0;  // position of the byte that ended the word
    int32_t after = 0;    // position after it
  } scan;

  // --- tokenizer switches
  int32_t column = 0;
  int32_t row = 0;
  bool inCommandLine = false;
  bool kanjiOff = false;

  // --- what the compile is based on
  TWRDInputs inputs;
  std::string scriptName;
  std::string scriptDir;
  int64_t division = 960;
  int32_t beatsPerBar = 4;
  int64_t barLength = 3840;

  // --- compile-time state
  int32_t clock = 0;
  int64_t offsetBar = 0;
  int64_t offsetSteps = 0;
  int64_t offsetTicks = 0;
  int64_t lineWait = 0;
  int64_t pendingWait = 0;
  bool perToken = false;
  int32_t startupMode = 0;

  // --- text screen
  int32_t savedColumn = 0;
  int32_t savedRow = 0;
  int32_t textColour = 255;
  int32_t charWidth = 8;
  int32_t charHeight = 16;
  uint8_t shadow[kWRDRows][kWRDColumns] = {};  // 0 single, 1 first half, 2 second half
  int32_t rowOrigin = 0;
  int32_t columnOrigin = 0;
  std::string lineText;  // the text of the current line in line mode
  // The column a tab in the text being read starts from: the cursor, plus
  // the text of the line not yet placed.
  int32_t tabColumn() const {
    int64_t c = int64_t{column} + (perToken ? 0 : static_cast<int64_t>(lineText.size()));
    return static_cast<int32_t>(c % 8);
  }
  size_t cellsClosed = 0;  // cells already drawn by an op 1 entry
  TWRDUnit units[256];
  int32_t unitBytes = 0;  // bytes subWRDCut took

  // --- graphics
  int32_t drawingPage = 0;
  uint8_t graphicsMode = 15;
  std::array<TWRDPalette, kWRDPalettes> palettes{};
  int32_t currentPalRecord = -1;  // the PAL record subPalCvt writes

  // --- pictures
  std::array<std::string, kWRDSlots> slotNames;
  std::array<int32_t, kWRDSlots> slotFree{};
  std::unordered_map<std::string, std::string> resolvedNames;  // per compile

  // --- pending entries (a fade's later steps)
  std::array<TWRDPending, kWRDPendingSize> pending{};
  int32_t pendingCount = 0;
  int32_t pendingRead = kWRDPendingEmpty;

  // --- tables
  TWRDCommandTable commands;
  TWRDTable<TWRDCell> cells;
  TWRDTable<TWRDPalRecord> palRecords;
  TWRDTable<TWRDPicRecord> pictures;
  TWRDTable<TWRDRect> rects;
  TWRDTable<TWRDFadeStep> fades;
  bool anyTableFull() const {
    return commands.full() || cells.full() || palRecords.full() || pictures.full() || rects.full() ||
           fades.full();
  }

  int32_t errorCode = kWRDCompiled;
  int32_t readFailure = kWRDReadMissing;  // why, when errorCode is kWRDErrRead
  // Entries any one table may hold; 0 keeps the built-in limits (tests
  // lower it to see a script that needs more fail).
  size_t tableLimit = 0;

  // --- settings and flags of the WRD control object
  std::array<TWRDPalEntry, 256> systemPalette = WRDDefaultSystemPalette();  // captured at start-up
  std::atomic<int32_t> loaded{0};
  std::atomic<int32_t> clickGuard{0};
  std::atomic<int32_t> displayExists{0};

  // --- run-time cursors, shared with the status thread
  std::atomic<int32_t> nextEntry{0};
  std::atomic<int32_t> nextCell{0};
  std::atomic<int32_t> running{0};
  std::atomic<int32_t> tickIdle{-1};

  // --- run-time drawing state (the executor's; reset for each script)
  int32_t runDrawingPage = 0;   // page the graphics commands draw on
  int32_t shownPage = 0;        // page the screen shows
  bool graphicsOff = false;     // GON(0): the screen shows colour 0 under the text
  bool dirtyValid = false;      // a text batch has drawn something
  int32_t dirtyLeft = 0, dirtyTop = 0, dirtyRight = 0, dirtyBottom = 0;  // inclusive

  // Display steps the post-pass calls once the display and the executor
  // exist: clearing the status line, and running one table entry.
  std::function<void()> clearStatusLine;
  std::function<void(int32_t index)> runEntry;
};

// Runs body as the one tick inside while `running` is set: a tick that
// finds another inside, or the song stopping, does nothing. The window
// thread clears `running` and waits for `tickIdle` before it frees what a
// tick uses; body must check `running` again before touching it. True when
// body ran.
template <class Body>
bool WRDRunTick(TWRDState& s, Body body) {
  if (!s.running.load()) return false;
  // Whoever turns tickIdle from set to clear runs.
  int32_t idle = s.tickIdle.load();
  if (idle == 0 || !s.tickIdle.compare_exchange_strong(idle, 0)) return false;
  body();
  s.tickIdle = -1;
  return true;
}

// Access to a WRD state block, as the rest of the engine sees it.
class TWRDEXE {
 public:
  explicit TWRDEXE(TWRDState& s) : s_(s) {}
  TWRDState& block() const { return s_; }
  int32_t getEntryCount() const { return static_cast<int32_t>(s_.commands.size()); }
  bool getLoaded() const { return s_.loaded.load() != 0; }
  int32_t getErrorCode() const { return s_.errorCode; }
  // Picture slot name i; empty outside 0..63.
  std::string getSlotName(int32_t i) const;
  // Named slots before the first empty one.
  int32_t getSlotCount() const;
  TWRDInputs& inputs() const { return s_.inputs; }

 private:
  TWRDState& s_;
};
