// Arbitrary bytes as a WRD script, read and compiled by subWRDInit, then the
// post-pass. The first bytes also choose the song facts the script is
// compiled against.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_state.h"

namespace {
// The script lives in an anonymous memory file, named through /proc: no
// file of a run is left anywhere, however the run ends.
int ScriptFile() {
  static const int fd = memfd_create("fuzz_wrd", MFD_CLOEXEC);
  return fd;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TWRDInputs in;
  if (size >= 4) {
    static const int32_t divisions[] = {0, 48, 96, 120, 480, 960, -5, 1};
    static const int32_t offsets[] = {0, 3, -3, 192, -192, 384, -384, 48};
    in.tickDivision = divisions[data[0] & 7];
    in.beatsPerBar = (data[1] & 15) - 2;
    in.displayOffset = offsets[data[2] & 7];
    in.xyMode = data[3] & 1;
    in.songEnd = data[3] * 1000;
    in.timeMapEntries = data[3];
  }
  WRDState().inputs = in;
  const int fd = ScriptFile();
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
  if (subWRDInit("/proc/self/fd/" + std::to_string(fd))) subWRDTableCalc();
  return 0;
}
