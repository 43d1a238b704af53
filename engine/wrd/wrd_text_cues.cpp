#include "engine/wrd/wrd_text_cues.h"

#include <algorithm>
#include <array>

#include "engine/wrd/wrd_executor.h"
#include "support/cp932.h"

namespace {

constexpr int32_t kTextRows = kWRDRows - 1;  // the last row is the status line's
constexpr int32_t kCharWidth = 8;
constexpr int32_t kCharHeight = 16;

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The text screen as the script leaves it, one row of code page 932 bytes
// per text row, each row with the cue it shows.
class TextScreen {
 public:
  explicit TextScreen(std::vector<TScreenTextCue>* cues) : cues_(cues) {}

  void write(const TWRDCell& cell, std::array<bool, kTextRows>* touched) {
    const int32_t row = cell.y / kCharHeight;
    if (cell.y < 0 || row >= kTextRows || cell.x < 0) return;
    std::string& bytes = rows_[row].bytes;
    for (size_t i = 0, column = cell.x / kCharWidth; i < cell.length && column < bytes.size();
         ++i, ++column)
      bytes[column] = static_cast<char>(cell.text[i]);
    (*touched)[row] = true;
  }

  void clearAll(uint32_t ms) {
    for (int32_t r = 0; r < kTextRows; ++r) {
      rows_[r].bytes.assign(kWRDColumns, ' ');
      update(r, ms);
    }
  }

  void erase(const TWRDRect& rect, uint32_t ms) {
    const Span s = span(rect);
    if (s.empty()) return;
    for (int32_t r = s.top; r <= s.bottom; ++r) {
      std::fill(rows_[r].bytes.begin() + s.left, rows_[r].bytes.begin() + s.right + 1, ' ');
      update(r, ms);
    }
  }

  // One character row or column; a scroll across whole rows takes their
  // lines along, so they go on without a break.
  void scroll(const TWRDRect& rect, uint32_t ms) {
    const Span s = span(rect);
    if (s.empty()) return;
    if (rect.kind == 0 || rect.kind == 1) {
      const bool up = rect.kind == 0;
      const int32_t gone = up ? s.top : s.bottom, step = up ? 1 : -1;
      const bool wholeRows = s.left == 0 && s.right == kWRDColumns - 1;
      if (wholeRows) close(gone, ms);
      for (int32_t r = gone; r != (up ? s.bottom : s.top); r += step)
        moveRow(r + step, r, s, wholeRows);
      Row& freed = rows_[up ? s.bottom : s.top];
      std::fill(freed.bytes.begin() + s.left, freed.bytes.begin() + s.right + 1, ' ');
      if (wholeRows) {
        freed.cue = -1;
        freed.shown.clear();
      }
    } else {
      for (int32_t r = s.top; r <= s.bottom; ++r) {
        std::string& b = rows_[r].bytes;
        if (rect.kind == 2)
          std::rotate(b.begin() + s.left, b.begin() + s.right, b.begin() + s.right + 1);
        else
          std::rotate(b.begin() + s.left, b.begin() + s.left + 1, b.begin() + s.right + 1);
        b[rect.kind == 2 ? s.left : s.right] = ' ';
      }
    }
    for (int32_t r = s.top; r <= s.bottom; ++r) update(r, ms);
  }

  // The row's cue follows its text: a line that grows (or changes in the
  // moment it appeared) stays the same cue, anything else ends it.
  void update(int32_t row, uint32_t ms) {
    Row& r = rows_[row];
    const std::string now = trimmed(r.bytes);
    if (now == r.shown) return;
    if (r.cue >= 0) {
      const bool grows =
          !now.empty() && ((*cues_)[r.cue].startMs == ms || now.rfind(r.shown, 0) == 0);
      if (grows) {
        r.shown = now;
        raw_[r.cue] = now;
        return;
      }
      close(row, ms);
    }
    if (now.empty()) return;
    r.cue = static_cast<int>(cues_->size());
    r.shown = now;
    cues_->push_back({ms, ms, row, {}});
    raw_.push_back(now);
  }

  // Ends every line at ms and gives the cues their text; cues never seen
  // (replaced in the moment they appeared) are left out.
  void finish(uint32_t ms) {
    for (int32_t r = 0; r < kTextRows; ++r) close(r, ms);
    std::vector<TScreenTextCue> kept;
    for (size_t i = 0; i < cues_->size(); ++i) {
      TScreenTextCue& c = (*cues_)[i];
      if (c.endMs <= c.startMs) continue;
      c.text = trimmed(Cp932ToUtf8(raw_[i]));
      kept.push_back(std::move(c));
    }
    cues_->swap(kept);
  }

 private:
  struct Row {
    std::string bytes = std::string(kWRDColumns, ' ');
    int cue = -1;
    std::string shown;  // the text of the row's cue
  };
  struct Span {
    int32_t left, top, right, bottom;  // character cells, inclusive
    bool empty() const { return left > right || top > bottom; }
  };

  static Span span(const TWRDRect& r) {
    const auto clampTo = [](int64_t v, int32_t most) {
      return static_cast<int32_t>(std::clamp<int64_t>(v, 0, most));
    };
    return {clampTo(r.x / kCharWidth, kWRDColumns - 1), clampTo(r.y / kCharHeight, kTextRows - 1),
            clampTo((int64_t{r.x} + r.width - 1) / kCharWidth, kWRDColumns - 1),
            clampTo((int64_t{r.y} + r.height - 1) / kCharHeight, kTextRows - 1)};
  }

  void moveRow(int32_t from, int32_t to, const Span& s, bool wholeRows) {
    std::copy(rows_[from].bytes.begin() + s.left, rows_[from].bytes.begin() + s.right + 1,
              rows_[to].bytes.begin() + s.left);
    if (!wholeRows) return;
    rows_[to].cue = rows_[from].cue;
    rows_[to].shown = rows_[from].shown;
  }

  void close(int32_t row, uint32_t ms) {
    Row& r = rows_[row];
    if (r.cue >= 0) (*cues_)[r.cue].endMs = ms;
    r.cue = -1;
    r.shown.clear();
  }

  std::vector<TScreenTextCue>* cues_;
  std::vector<std::string> raw_;  // each cue's code page 932 text
  std::array<Row, kTextRows> rows_;
};

bool isText(uint8_t op) {
  return op == kWRDOpText || op == kWRDOpTextFirst || op == kWRDOpTextMiddle ||
         op == kWRDOpTextLast || op == kWRDOpTextLastFull;
}

}  // namespace

std::vector<TScreenTextCue> WRDScreenTextCues(const TWRDState& s, const TimeTableEntry* table,
                                              uint32_t entries) {
  std::vector<TScreenTextCue> cues;
  if (!table || entries == 0) return cues;
  TextScreen screen(&cues);
  const TimeTableEntry* end = table + entries;
  size_t cell = 0;
  for (size_t i = 0; i < s.commands.size(); ++i) {
    const uint8_t op = s.commands.op(i);
    const int32_t arg = s.commands.arg(i);
    // The executor runs an entry once the position passes time - look-ahead.
    const int64_t due = int64_t{s.commands.time(i)} - kWRDLookAhead;
    const TimeTableEntry* at = std::partition_point(
        table, end, [&](const TimeTableEntry& e) { return e.position <= due; });
    if (at == end) break;
    if (isText(op)) {
      std::array<bool, kTextRows> touched{};
      const size_t last = std::min(static_cast<size_t>(std::max(arg, 0)), s.cells.size());
      for (; cell < last; ++cell) screen.write(s.cells.at(cell), &touched);
      for (int32_t r = 0; r < kTextRows; ++r)
        if (touched[r]) screen.update(r, at->ms);
    } else if (op == kWRDOpClearText || op == kWRDOpClearTextBatch) {
      screen.clearAll(at->ms);
    } else if ((op == kWRDOpErase || op == kWRDOpEraseBatch) && arg >= 0 &&
               static_cast<size_t>(arg) < s.rects.size()) {
      screen.erase(s.rects.at(static_cast<size_t>(arg)), at->ms);
    } else if ((op == kWRDOpScroll || op == kWRDOpScrollBatch || op == kWRDOpScrollLast) &&
               arg >= 0 && static_cast<size_t>(arg) < s.rects.size()) {
      screen.scroll(s.rects.at(static_cast<size_t>(arg)), at->ms);
    }
  }
  screen.finish(table[entries - 1].ms);
  return cues;
}
