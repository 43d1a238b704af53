#include "tools/render_common.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/player/midi_player.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "platform/encode/temp_output.h"
#include "platform/mididevices/machine_midi.h"
#include "tools/loudness.h"
#include "tools/song_audio.h"
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

// The engine's "SynthGain" setting (~/.config/QUOR/QMIDIEXE.conf), "" when none.
std::string SynthGainSetting() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string folder = config && *config ? config : std::string(home ? home : "") + "/.config";
  std::ifstream in(folder + "/QUOR/QMIDIEXE.conf");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SynthGain=", 0) != 0) continue;
    std::string value = line.substr(10);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
  }
  return {};
}

double GainOption(const ToolArgs& a) {
  const std::string text = a.has("--gain") ? a.get("--gain") : SynthGainSetting();
  MidiDeviceConfig config;
  const std::vector<std::string> problems = ApplyMidiDeviceSettings(config, "", text, "");
  if (problems.empty()) return config.synthGain;
  if (a.has("--gain")) throw UsageError("--gain takes a number from 0 to 10");
  return kDefaultSynthGain;  // a setting the engine would refuse too
}

double LufsOption(const ToolArgs& a) {
  const std::string text = a.get("--normalize");
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= -70 && v <= 0))
    throw UsageError("--normalize takes a loudness from -70 to 0 LUFS");
  return v;
}

}  // namespace

RenderSong::~RenderSong() {
  if (!converted_) return;
  TQUORMSTR& reader = QGSongReader();
  reader.QGmstFreeBuf();
  QDStreamClose();
  reader.QGmstFreeBuf2();
}

bool RenderSong::convert(const std::string& path, int32_t mode, bool setupFiles, std::string* error) {
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
  reader.setSetupFiles(setupFiles);
  QGSetErrorCode(0);
  QDStreamOpen();
  converted_ = true;
  reader.QGmstTitle();
  const bool converted = reader.QGmstPreHeader(3);
  setupProblems = reader.SetupProblems();
  if (!converted) {
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
  songEndUs = reader.SongEndMicroseconds();
  return true;
}

bool ConvertForRender(const char* command, const std::string& path, const RenderOptions& o, RenderSong* song,
                      std::string* error) {
  const bool ok = song->convert(path, o.mode, o.setupFiles, error);
  for (const std::string& problem : song->setupProblems) std::cerr << "qmidi-tool " << command << ": " << problem << '\n';
  return ok;
}

RenderOptions ReadRenderOptions(const ToolArgs& a) {
  RenderOptions o;
  o.mode = RangeOption(a, "--mode", 0, INT32_MIN, INT32_MAX);
  o.volume = RangeOption(a, "--volume", 100, 0, 100);
  o.balance = RangeOption(a, "--balance", 50, 0, 100);
  o.soundFont = a.get("--soundfont", kDefaultSoundFont);
  o.gain = GainOption(a);
  o.normalize = a.has("--normalize");
  if (o.normalize) o.targetLufs = LufsOption(a);
  o.setupFiles = !a.flag("--no-setup");
  return o;
}

bool NormalizingFactor(const RenderOptions& o, const QDOfflineSong& song, uint64_t songEndUs, int rate,
                       double* factor, std::string* error) {
  *factor = 1.0;
  if (!o.normalize) return true;
  OfflineSynth synth;
  if (!OpenOfflineSynth(o, rate, &synth, error)) return false;
  SongAudio audio(*synth.synth, {synth.portA.get(), synth.portB.get()}, song, rate, songEndUs);
  LoudnessMeter meter(rate);
  std::vector<float> block(2 * 4096);
  while (!audio.ended()) {
    if (InterruptGuard::interrupted()) return true;  // the caller says so
    const int n = audio.render(block.data(), 4096);
    meter.add(block.data(), n);
  }
  synth.portA->close();
  synth.portB->close();
  const double measured = meter.integrated();
  if (std::isfinite(measured)) *factor = std::pow(10.0, (o.targetLufs - measured) / 20.0);
  return true;
}

void ScaleSound(float* interleaved, int frames, double factor) {
  if (factor == 1.0) return;
  for (int i = 0; i < 2 * frames; ++i)
    interleaved[i] = static_cast<float>(std::clamp(interleaved[i] * factor, -1.0, 1.0));
}

bool OpenOfflineSynth(const RenderOptions& o, int rate, OfflineSynth* out, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(o.soundFont, ec)) {
    *error = "no such sound font \"" + o.soundFont + "\"";
    return false;
  }
  SoftSynthConfig config;
  config.soundFont = o.soundFont;
  config.offline = true;
  config.sampleRate = rate;
  config.gain = o.gain;
  out->synth = std::make_unique<SoftSynthSystem>(config);
  if (out->synth->open(kMidiMapper, &out->portA) != kMidiOk || !out->portA ||
      out->synth->open(kMidiMapper, &out->portB) != kMidiOk || !out->portB) {
    *error = "the soft synth cannot load the sound font \"" + o.soundFont + "\"";
    return false;
  }
  out->portB->servePort(1);
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
