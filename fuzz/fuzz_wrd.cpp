// Arbitrary bytes as a WRD script, read and compiled by subWRDInit, then the
// post-pass. The first bytes also choose the song facts the script is
// compiled against.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_state.h"

namespace {
std::string ScriptPath() {
  static const std::string path = [] {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fuzz_wrd_" + std::to_string(getpid()) + ".wrd";
  }();
  return path;
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
  const std::string path = ScriptPath();
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  if (subWRDInit(path)) subWRDTableCalc();
  std::remove(path.c_str());  // nothing of a run stays in /dev/shm
  return 0;
}
