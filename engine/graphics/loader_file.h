// Loaders read a file whole into a file record and decode it from memory.
#pragma once

#include <string>

#include "support/byte_view.h"
#include "support/file_record.h"

namespace qg {

// Opens name, runs decode on its bytes and closes it; false when the file
// cannot be opened (no message: the caller's failure value says it).
template <class F>
bool WithFileBytes(const std::string& name, int closeTag, F decode) {
  QGFILE* file = QGOpenFile(name, QG_GENERIC_READ);
  if (!file) return false;
  struct Closer {
    QGFILE* f;
    int tag;
    ~Closer() { QGCloseFile(tag, f); }
  } closer{file, closeTag};
  return decode(ByteView(file->data, file->dataSize));
}

}  // namespace qg
