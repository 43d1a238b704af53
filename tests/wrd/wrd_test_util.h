// Compiling scripts written by the tests, and reading the tables back.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_state.h"
#include "engine/wrd/wrd_text.h"
#include "tests/common/test_files.h"

inline void PrintTo(const TWRDRect& r, std::ostream* os) {
  *os << '{' << r.x << ", " << r.y << ", " << r.width << ", " << r.height << ", " << r.kind << ", " << r.colour
      << ", " << r.colour2 << '}';
}
inline void PrintTo(const TWRDPicRecord& p, std::ostream* os) {
  *os << '{' << p.x1 << ", " << p.y1 << ", " << p.x2 << ", " << p.y2 << ", " << p.width << ", " << p.height
      << ", " << p.modeA << ", " << p.modeB << '}';
}
inline void PrintTo(const TWRDPalEntry& e, std::ostream* os) {
  *os << '{' << int{e.red} << ", " << int{e.green} << ", " << int{e.blue} << ", " << int{e.flags} << '}';
}
inline void PrintTo(const TWRDFadeStep& f, std::ostream* os) {
  *os << '{' << f.from << ", " << f.to << ", " << f.step << '}';
}

namespace wrdtest {

struct Entry {
  int32_t time;
  int op;
  int32_t arg;
  bool operator==(const Entry&) const = default;
};

inline void PrintTo(const Entry& e, std::ostream* os) {
  *os << '{' << e.time << ", " << e.op << ", " << e.arg << '}';
}

// Script lines joined with CR LF, as DOS wrote them.
inline std::string Lines(std::initializer_list<std::string> lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

// A state block of its own with the inputs of a 4/4 song of division 480
// and no display offset, and a folder to hold scripts and pictures.
class WrdTest : public ::testing::Test {
 protected:
  // Writes the script (bytes as given) and compiles it with subWRDInit.
  bool Compile(const std::string& script, const std::string& name = "song.wrd") {
    path_ = dir_.write(name, script);
    return subWRDInit(s, path_);
  }

  std::vector<Entry> Entries() const {
    std::vector<Entry> v;
    for (size_t i = 0; i < s.commands.size(); ++i)
      v.push_back({s.commands.time(i), s.commands.op(i), s.commands.arg(i)});
    return v;
  }
  // Entries with one operation code.
  std::vector<Entry> EntriesOf(int op) const {
    std::vector<Entry> v;
    for (const Entry& e : Entries())
      if (e.op == op) v.push_back(e);
    return v;
  }
  // The text of cells [from, to), concatenated.
  std::string CellText(size_t from = 0, size_t to = SIZE_MAX) const {
    std::string t;
    for (size_t i = from; i < s.cells.size() && i < to; ++i) t.append(s.cells.at(i).view());
    return t;
  }
  TWRDRect Rect(int32_t i) const { return s.rects.at(static_cast<size_t>(i)); }
  TWRDPicRecord Picture(int32_t i) const { return s.pictures.at(static_cast<size_t>(i)); }
  TWRDFadeStep Fade(int32_t i) const { return s.fades.at(static_cast<size_t>(i)); }

  TWRDState s;
  qtest::TempDir dir_;
  std::string path_;
};

}  // namespace wrdtest
