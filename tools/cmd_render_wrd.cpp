// qmidi-tool render-wrd: shows what a song's WRD script puts on the screen
// over time, without sound and without waiting. The song is converted as the
// engine converts it before playing; its script and pictures are loaded as
// a song start loads them (onto a headless display); then the WRD tick is
// driven with the positions of the song's own time table, and the screen is
// written as PNG at the chosen positions, plus the final frame. A song with
// lyrics and no script shows its karaoke screen instead, at the times of
// the same positions.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/graphics/display.h"
#include "engine/player/midi_player.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/karaoke_screen.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_display.h"
#include "engine/wrd/wrd_executor.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/glyphs.h"
#include "platform/headless/headless_presenter.h"
#include "platform/png/png_file.h"
#include "support/cp932.h"
#include "support/result_code.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/module_commands.h"
#include "tools/tool_command.h"

namespace fs = std::filesystem;

namespace {

std::vector<int32_t> parsePositions(const std::string& list) {
  std::vector<int32_t> out;
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    size_t used = 0;
    long v = 0;
    try {
      v = std::stol(item, &used);
    } catch (...) {
      used = 0;
    }
    if (used != item.size() || v < 0 || v > INT32_MAX)
      throw UsageError("--at takes positions bar*10000+tick separated by commas");
    out.push_back(static_cast<int32_t>(v));
  }
  if (out.empty()) throw UsageError("--at needs at least one position");
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::string frameName(int index, int32_t position) {
  char b[64];
  std::snprintf(b, sizeof b, "frame-%04d-bar%04d-tick%04d.png", index, position / 10000,
                position % 10000);
  return b;
}

// The screen buffer through the display palette.
bool writeScreen(const std::string& path, std::string* error) {
  std::array<PngRgb, 256> palette;
  const QGPalette& p = QDDisplayPalette();
  for (size_t i = 0; i < 256; ++i) palette[i] = {p[i].red, p[i].green, p[i].blue};
  const TQGBitmap& screen = QDScreenBuffer();
  if (!screen.base) {
    *error = "no screen";
    return false;
  }
  // The script draws the top 400 rows, whatever mode the display runs in.
  return WritePngIndexed(path, screen.width(), std::min(screen.height(), 400), screen.base, palette,
                         error);
}

int runRenderWrd(const ToolArgs& a) {
  const std::string& songPath = a.arg(0, "SONG");
  if (!a.has("--out")) throw UsageError("--out DIR is required");
  const std::string outDir = a.get("--out");
  std::vector<int32_t> at;
  long every = 0;
  if (a.has("--at") && a.has("--every")) throw UsageError("give --at or --every, not both");
  if (a.has("--at")) at = parsePositions(a.get("--at"));
  if (a.has("--every")) {
    every = a.getInt("--every", 0);
    if (every < 1 || every > INT32_MAX) throw UsageError("--every takes a count of 1 or more");
  }
  const long offset = a.getInt("--offset", 0);
  if (offset < -384 || offset > 384) throw UsageError("--offset takes -384 .. 384 steps");

  std::error_code ec;
  fs::create_directories(outDir, ec);
  if (!fs::is_directory(outDir)) {
    std::cerr << "qmidi-tool render-wrd: cannot make the folder \"" << outDir << "\"\n";
    return 1;
  }

  // The song, converted without a device.
  TMIDIEXEState& player = QDPlayer();
  player.MIDIDISABLE = 1;
  player.DEVICEID1A = 0;
  if (const std::string problem = QGFileProblem(songPath); !problem.empty()) {
    std::cerr << "qmidi-tool render-wrd: " << songPath << ": " << problem << '\n';
    return 1;
  }
  TQUORMSTR& song = QGSongReader();
  song.setinFileName(songPath);
  QGSetErrorCode(0);
  QDStreamOpen();
  if (!song.QGmstPreHeader(3)) {
    std::cerr << "qmidi-tool render-wrd: " << SongFailure(songPath, QGEngineErrorCode().load()) << '\n';
    return 1;
  }
  WarnOfCode("render-wrd", songPath, QGEngineErrorCode().load());
  const TimeTableEntry* table = song.TimeTable();
  const uint32_t entries = song.TimeTableEntries();

  FreeTypeGlyphSystem glyphs;
  HeadlessOptions options;
  options.framesFolder = "";
  options.refreshHz = 0;
  HeadlessPresenter presenter(options);
  QRSetGlyphSystem(&glyphs);
  QDSetPresenter(&presenter);
  TWRDCRE& wrd = WRDControl();
  auto cleanUp = [&] {
    wrd.subWRDStop();
    QDFree();
    QDSetPresenter(nullptr);
    QRSetGlyphSystem(nullptr);
    QDStreamClose();
  };

  wrd.setWRDDelay(static_cast<int32_t>(offset));
  wrd.setFullScreen(0);
  wrd.subWRDLoadMsgOut();
  if (!wrd.subWRDLoad()) {
    std::cerr << "qmidi-tool render-wrd: the script could not be loaded\n";
    cleanUp();
    return 1;
  }
  TWRDState& s = WRDState();
  const TSongLyrics lyrics =
      song.getWRDFileName().empty() ? ReadSongLyrics(song.getinFileName()) : TSongLyrics();
  std::unique_ptr<TKaraokeScreen> karaoke;
  if (!s.displayExists && !lyrics.empty()) {
    if (!QDCreate(TKaraokeScreen::kWidth, TKaraokeScreen::kHeight, QDFont{}, nullptr, false)) {
      std::cerr << "qmidi-tool render-wrd: no display could be made (result code "
                << QGEngineErrorCode().load() << "; is a font installed?)\n";
      cleanUp();
      return 1;
    }
    TKaraokeScreen::ApplyPalette();
    karaoke = std::make_unique<TKaraokeScreen>(lyrics, Cp932ToUtf8(song.getinFileTitle()));
  } else if (!s.displayExists) {
    std::cerr << "qmidi-tool render-wrd: "
              << (song.getWRDFileName().empty() ? "the song has no .wrd script"
                                                : "no display could be made (result code " +
                                                      std::to_string(QGEngineErrorCode().load()) +
                                                      "; is a font installed?)")
              << '\n';
    cleanUp();
    return 1;
  }
  const bool loaded = s.loaded.load() != 0;
  if (loaded) {
    wrd.subWRDKaisiMsgOut();
    subWRDTableCalc();
  }
  s.running = -1;

  struct Frame {
    std::string file;
    int32_t position;
  };
  std::vector<Frame> frames;
  bool failed = false;
  auto write = [&](int32_t position, const std::string& name) {
    std::string error;
    const std::string path = (fs::path(outDir) / name).string();
    if (writeScreen(path, &error)) {
      frames.push_back({path, position});
    } else {
      std::cerr << "qmidi-tool render-wrd: cannot write \"" << path << "\": " << error << '\n';
      failed = true;
    }
  };

  // The screen at a position; the karaoke screen takes the time of the last
  // time-table entry at or before it (entry i is the first one after it).
  auto show = [&](int32_t position, uint32_t i) {
    presenter.setSongPosition(position);
    if (!karaoke) {
      subWRDTick(position);
      return;
    }
    const bool reached = i < entries && table[i].position <= position;
    karaoke->draw(QDScreenBuffer(), reached ? table[i].ms : i > 0 ? table[i - 1].ms : 0);
  };
  size_t nextAt = 0;
  int32_t last = 0;
  for (uint32_t i = 0; i < entries && !failed; ++i) {
    const int32_t position = table[i].position;
    // Requested positions before this entry's are shown as they stand then.
    while (nextAt < at.size() && at[nextAt] <= position) {
      show(at[nextAt], i);
      write(at[nextAt], frameName(static_cast<int>(frames.size()), at[nextAt]));
      ++nextAt;
    }
    show(position, i);
    last = position;
    if (every > 0 && (i + 1) % static_cast<uint32_t>(every) == 0)
      write(position, frameName(static_cast<int>(frames.size()), position));
  }
  // Positions past the song's end still run what the script has left.
  for (; nextAt < at.size() && !failed; ++nextAt) {
    show(at[nextAt], entries);
    last = std::max(last, at[nextAt]);
    write(at[nextAt], frameName(static_cast<int>(frames.size()), at[nextAt]));
  }
  if (!failed) write(last, "final.png");
  const int32_t ran = s.nextEntry.load();
  const auto total = static_cast<int32_t>(s.commands.size());
  s.running = 0;

  if (a.json()) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("script", song.getWRDFileName())
        .field("loaded", loaded)
        .field("karaoke", karaoke != nullptr)
        .field("entries", total)
        .field("entriesRun", ran)
        .field("timeTableEntries", entries)
        .field("errorcode", QGEngineErrorCode().load());
    j.key("frames").beginArray();
    for (const Frame& f : frames) j.beginObject().field("png", f.file).field("position", f.position).endObject();
    j.endArray();
    j.endObject();
  } else {
    if (karaoke)
      std::cout << "karaoke: " << lyrics.lines.size() << " lines of lyrics over " << entries
                << " time-table positions\n";
    else
      std::cout << "script:  " << song.getWRDFileName() << (loaded ? "" : " (did not compile)")
                << '\n'
                << "entries: " << ran << " of " << total << " run over " << entries
                << " time-table positions\n";
    for (const Frame& f : frames)
      std::cout << f.position / 10000 << '.' << f.position % 10000 << "  " << f.file << '\n';
  }
  cleanUp();
  return failed ? 1 : 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(render_wrd, {
  "render-wrd",
  ModuleCommandSummary("render-wrd"),
  "SONG --out DIR [--at POS,...|--every N] [--offset STEPS] [--json]",
  {"--out", "--at", "--every", "--offset"},
  runRenderWrd})
