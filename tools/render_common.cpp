#include "tools/render_common.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "support/file_record.h"
#include "support/result_code.h"

namespace {

std::string Clock(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60));
  return text;
}

int32_t RangeOption(const ToolArgs& a, const std::string& name, long fallback, long low, long high) {
  const long v = a.getInt(name, fallback);
  if (v < low || v > high)
    throw UsageError(name + " takes " + std::to_string(low) + " to " + std::to_string(high));
  return static_cast<int32_t>(v);
}

}  // namespace

RenderSong::~RenderSong() {
  if (!converted_) return;
  TQUORMSTR& reader = QGSongReader();
  reader.QGmstFreeBuf();
  QDStreamClose();
  reader.QGmstFreeBuf2();
}

bool RenderSong::convert(const std::string& path, int32_t mode, std::string* error) {
  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    *error = path + ": " + problem;
    return false;
  }
  // The converter wants an open output: a silent one, no device is touched.
  TMIDIEXEState& player = QDPlayer();
  player.MIDIDISABLE = 1;
  QDMidiExe().setDEVICEID1A(0);
  QDMidiExe().setRESETMODE(mode);
  TQUORMSTR& reader = QGSongReader();
  reader.setinFileName(path);
  QGSetErrorCode(0);
  QDStreamOpen();
  converted_ = true;
  reader.QGmstTitle();
  if (!reader.QGmstPreHeader(3)) {
    *error = SongFailure(path, QGEngineErrorCode().load());
    return false;
  }
  warning = QGEngineErrorCode().load();
  titleSjis = reader.getinFileTitle();
  tickDivision = reader.getdwTickDivision();
  song.data = reader.StreamData();
  song.length = reader.StreamDataLength();
  song.table = reader.TimeTable();
  song.entries = reader.TimeTableEntries();
  song.division = static_cast<int32_t>(reader.getdwTimeDivision());
  song.speed = player.SPEED.load();
  song.resetKind = player.resetKind.load();
  song.detectedSetup = player.detectedSetup.load();
  songMs = song.entries ? song.table[song.entries - 1].ms : 0;
  return true;
}

RenderOptions ReadRenderOptions(const ToolArgs& a) {
  RenderOptions o;
  o.mode = RangeOption(a, "--mode", 0, INT32_MIN, INT32_MAX);
  o.volume = RangeOption(a, "--volume", 100, 0, 100);
  o.balance = RangeOption(a, "--balance", 50, 0, 100);
  o.soundFont = a.get("--soundfont", kDefaultSoundFont);
  return o;
}

bool OpenOfflineSynth(const RenderOptions& o, int rate, std::unique_ptr<SoftSynthSystem>* synth,
                      std::unique_ptr<MidiOutPort>* port, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(o.soundFont, ec)) {
    *error = "no such sound font \"" + o.soundFont + "\"";
    return false;
  }
  SoftSynthConfig config;
  config.soundFont = o.soundFont;
  config.offline = true;
  config.sampleRate = rate;
  *synth = std::make_unique<SoftSynthSystem>(config);
  if ((*synth)->open(kMidiMapper, port) != kMidiOk || !*port) {
    *error = "the soft synth cannot load the sound font \"" + o.soundFont + "\"";
    return false;
  }
  return true;
}

ProgressBar::ProgressBar(int64_t totalMs) : totalMs_(totalMs), enabled_(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (enabled_ && lastShown_ >= 0) std::fputs("\r\033[K", stderr);
}

void ProgressBar::update(int64_t doneMs) {
  if (!enabled_ || totalMs_ <= 0) return;
  const int percent = static_cast<int>(std::min<int64_t>(100, doneMs * 100 / totalMs_));
  if (percent == lastShown_) return;
  lastShown_ = percent;
  constexpr int kWidth = 30;
  std::string bar(kWidth, '.');
  for (int i = 0; i < percent * kWidth / 100; ++i) bar[static_cast<size_t>(i)] = '#';
  std::fprintf(stderr, "\r[%s] %3d%%  %s / %s", bar.c_str(), percent, Clock(doneMs).c_str(),
               Clock(totalMs_).c_str());
  std::fflush(stderr);
}
