// A WRD script and one picture it may name, loaded as a song start loads
// them onto a headless display and run to its end by the WRD tick.
//
// Input: byte 0 chooses the WRD display offset, byte 1 the picture's kind
// (bit 0: a ".COM" picture program, else MAG; bit 1: the picture is also the
// title picture SONG.MAG), bytes 2-3 (little-endian) the picture's length;
// the picture's bytes follow, and the rest is the script. The script names
// the picture as PIC (MAG, PLOAD, EXEC) or it runs without it.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/graphics/display.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_runtime.h"
#include "engine/wrd/wrd_executor.h"
#include "fuzz/fuzz_support.h"
#include "platform/glyphs.h"
#include "platform/headless/headless_presenter.h"

namespace fs = std::filesystem;

namespace {

// Every non-space byte inks its cell: text costs no font lookups.
class BlockFace final : public GlyphFace {
 public:
  void draw(std::string_view sjis, const GlyphCanvas& canvas, int column) override {
    for (size_t i = 0; i < sjis.size(); ++i) {
      const int col = column + static_cast<int>(i);
      if (sjis[i] == ' ' || col < 0 || col >= canvas.stride) continue;
      for (int r = 2; r <= 13; ++r) canvas.bits[r * canvas.stride + col] |= 0x7E;
    }
  }
  std::string family() const override { return "Block"; }
};
class BlockFonts final : public GlyphSystem {
 public:
  std::unique_ptr<GlyphFace> open(const GlyphFontRequest&) override {
    return std::make_unique<BlockFace>();
  }
};

struct Setup {
  SilentMessages silent;
  BlockFonts fonts;
  HeadlessPresenter presenter{HeadlessOptions{{}, 0.0, std::string(), 0, {}}};
  ResultCode result;
  GraphicsDisplay display{presenter, fonts, result};
  WrdRuntime wrd{display, result};
  fs::path dir;

  Setup() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir = fs::path(base) / ("fuzz_wrd_run_" + std::to_string(getpid()));
    fs::create_directories(dir);
    wrd.pictures().setMessages(&silent);
    write("SONG.MID", reinterpret_cast<const uint8_t*>("MThd"), 4);
  }
  ~Setup() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void write(const std::string& name, const uint8_t* data, size_t size) const {
    if (FILE* f = std::fopen((dir / name).c_str(), "wb")) {
      std::fwrite(data, 1, size, f);
      std::fclose(f);
    }
  }
  void remove(const std::string& name) const {
    std::error_code ec;
    fs::remove(dir / name, ec);
  }
};

constexpr int32_t kOffsets[] = {0, 3, -3, 48, -48, 192, 384, -384};
// Positions stepped through per run: a quarter bar of 4/4 at division 960.
constexpr int32_t kStep = 960;
constexpr int kMaxSteps = 400;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  if (size < 4) return 0;
  const size_t pictureSize = std::min<size_t>(data[2] | data[3] << 8, size - 4);
  const uint8_t* picture = data + 4;
  const uint8_t* script = picture + pictureSize;
  const size_t scriptSize = size - 4 - pictureSize;

  for (const char* name : {"PIC.MAG", "PIC.COM", "SONG.MAG"}) setup.remove(name);
  setup.write((data[1] & 1) ? "PIC.COM" : "PIC.MAG", picture, pictureSize);
  if (data[1] & 2) setup.write("SONG.MAG", picture, pictureSize);
  setup.write("SONG.WRD", script, scriptSize);

  WrdRuntime& wrd = setup.wrd;
  TWRDState& s = wrd.state();
  wrd.setVisible(-1);
  wrd.setWRDDelay(kOffsets[data[0] & 7]);
  if (wrd.load((setup.dir / "SONG.WRD").string(), PackedSong()) && s.loaded && s.displayExists) {
    // The stand-in song has no time table: let every time-0 entry run.
    s.inputs.timeMapEntries = 1000000;
    wrd.startMessage();
    wrd.tableCalc();
    s.running = -1;
    const size_t count = s.commands.size();
    for (int i = 1; i <= kMaxSteps && static_cast<size_t>(s.nextEntry.load()) < count; ++i) wrd.tick(i * kStep);
    wrd.tick(99999999);  // past every time a script can give
  }
  wrd.stop();
  return 0;
}
