// qmidi-tool play: plays a song through the player as the engine does (open
// the outputs, convert, hand the stream over, start the threads), without
// WRD or windows, printing the progress display values once a second until
// the song ends. Ctrl-C stops the song as the engine's stop does (all sound
// off and reset all controllers on every device).
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/player/output_status.h"
#include "platform/mididevices/machine_midi.h"
#include "platform/realtimer/real_timer.h"
#include "support/cp932.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/device_options.h"
#include "tools/module_commands.h"
#include "tools/tool_command.h"

namespace {

std::atomic<int> g_interrupt{0};  // Ctrl-C or SIGTERM

void onSignal(int) { g_interrupt.store(1); }

// Learns when the song's threads have finished.
class DoneFlag final : public EngineListener {
 public:
  void engineDone() override { done.store(1); }
  std::atomic<int> done{0};
};

struct Sample {
  int32_t ms, position, tempo, timeSignature, level;
};

std::string clock(int32_t ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%d:%02d.%03d", ms / 60000, ms / 1000 % 60, ms % 1000);
  return b;
}

std::string position(int32_t v) {
  char b[32];
  std::snprintf(b, sizeof b, "%d.%d.%03d", v / 10000, v % 10000 / 1000, v % 1000);
  return b;
}

std::string signature(int32_t v) { return std::to_string(v / 1000) + "/" + std::to_string(v % 1000); }

// Four outputs from "A1,B1,A2,B2": device numbers, or raw MIDI device paths.
std::vector<std::string> outputs(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) out.push_back(item);
  if (out.empty() || out.size() > 4) throw UsageError("--devices takes one to four outputs: A1,B1,A2,B2");
  while (out.size() < 4) out.push_back(std::to_string(kMidiNoDevice));
  return out;
}

bool isNumber(const std::string& s) {
  if (s.empty()) return false;
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (; i < s.size(); ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int runPlay(const ToolArgs& a) {
  const std::string& path = a.arg(0, "SONG");
  long mode = a.getInt("--mode", 0);
  long period = a.getInt("--period", 8);
  if (mode < INT32_MIN || mode > INT32_MAX) throw UsageError("--mode is out of range");
  if (period < 1 || period > 1000) throw UsageError("--period must be 1 to 1000 ms");
  std::vector<std::string> outs = outputs(a.get("--devices", "-1"));

  MidiDeviceConfig config;
  ApplyDeviceOptions(a, config);
  config.captureFolder = a.get("--capture");
  for (const std::string& o : outs)
    if (!isNumber(o)) config.rawDevices.push_back(o);
  RealTimer timer;
  std::unique_ptr<MidiOutSystem> machine = MakeMachineMidiDevices(config);
  MidiOutSystem& devices = *machine;
  int32_t ids[4];
  for (int i = 0; i < 4; ++i) {
    if (isNumber(outs[i])) {
      long id = std::stol(outs[i]);
      if (id < kMidiMapper || id > kMidiNoDevice) throw UsageError("no such device number " + outs[i]);
      ids[i] = static_cast<int32_t>(id);
    } else {
      ids[i] = QDFindMidiDevice(devices, outs[i]);
      if (ids[i] == kMidiNotFound) {
        std::cerr << "qmidi-tool play: no MIDI device \"" << outs[i] << "\"\n";
        return 1;
      }
    }
  }
  if (ids[0] == kMidiNoDevice && ids[1] == kMidiNoDevice && ids[2] == kMidiNoDevice && ids[3] == kMidiNoDevice)
    throw UsageError("--devices leaves every output out of use");

  Engine engine(EngineServices{&devices, &timer, nullptr, nullptr});
  DoneFlag done;
  engine.setListener(&done);
  Player& p = engine.player();
  TMIDIEXE& player = engine.properties();
  player.setDEVICEID1A(ids[0]);
  player.setDEVICEID2A(ids[1]);
  player.setDEVICEID1B(ids[2]);
  player.setDEVICEID2B(ids[3]);
  player.setRESETMODE(static_cast<int32_t>(mode));
  player.setTIMERMIDI(static_cast<int32_t>(period));
  player.setMIDIDISABLE(a.flag("--silent") ? 1 : 0);
  player.setOUTSTATUSCH(40);  // the loudest channel of both ports
  player.setMIDICURRENTTIME1(kQDShowMilliseconds);
  player.setMIDICURRENTTIME2(kQDShowPosition);
  player.setMIDITIMEOPTION1(kQDShowTempo);
  player.setMIDITIMEOPTION2(kQDShowTimeSignature);

  if (const std::string problem = QGFileProblem(path); !problem.empty()) {
    std::cerr << "qmidi-tool play: " << path << ": " << problem << '\n';
    return 1;
  }
  TQUORMSTR& song = engine.song();
  song.setinFileName(path);
  song.setSetupFiles(!a.flag("--no-setup"));
  song.QGmstTitle();
  std::string title = Cp932ToUtf8(song.getinFileTitle());
  if (!p.open()) {
    std::cerr << "qmidi-tool play: the output devices did not open (" << engine.result().get() << ")\n";
    p.close();
    return 1;
  }
  PackedSong packed;
  if (!song.Convert(3, static_cast<int32_t>(mode), &packed) || !p.take(std::move(packed))) {
    std::cerr << "qmidi-tool play: " << SongFailure(path, engine.result().get()) << '\n';
    p.close();
    return 1;
  }
  for (const std::string& problem : song.SetupProblems()) std::cerr << "qmidi-tool play: " << problem << '\n';
  p.setSongInfo(p.song().tickDivision, song.getdwHyosi());
  int32_t lengthMs = player.getMIDITOTALTIME1();
  const bool json = a.json();
  if (!json) {
    std::cout << "playing:  " << song.getinFileName() << '\n'
              << "title:    " << title << '\n'
              << "length:   " << clock(lengthMs) << ", play mode " << mode << ", timer " << period
              << " ms" << (a.flag("--silent") ? ", silent" : "") << '\n'
              << "detected: " << p.state().detectedSetup.load() << '\n';
    if (!config.captureFolder.empty()) std::cout << "capture:  " << config.captureFolder << '\n';
    std::cout << std::flush;
  }

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  bool started = p.start() && p.release();
  std::vector<Sample> samples;
  bool interrupted = false;
  uint32_t nextPrint = timer.timeGetTime() + 1000;
  while (started && !done.done.load()) {
    timer.sleep(20);
    if (g_interrupt.load() && !interrupted) {
      interrupted = true;
      p.stop();
    }
    if (static_cast<int32_t>(timer.timeGetTime() - nextPrint) < 0) continue;
    nextPrint += 1000;
    Sample s{player.getMIDICURRENTTIME1(), player.getMIDICURRENTTIME2(), player.getMIDITIMEOPTION1(),
             player.getMIDITIMEOPTION2(), player.getOUTSTATUSLEVEL()};
    samples.push_back(s);
    if (!json)
      std::cout << "  " << clock(s.ms) << "   bar " << position(s.position) << "   tempo " << s.tempo
                << "   " << signature(s.timeSignature) << "   level " << s.level << std::endl;
  }
  int64_t ticks = p.state().totalTicks.load();
  int32_t markers = p.state().markerIndex.load();
  const int32_t detected = p.state().detectedSetup.load();
  MidiResult closed = p.close();
  engine.setListener(nullptr);
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  int32_t code = engine.result().get();
  bool ok = started && closed == kMidiOk;

  if (json) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("errorcode", code)
        .field("title", title)
        .field("lengthMs", lengthMs)
        .field("ticks", static_cast<int64_t>(ticks))
        .field("markers", markers)
        .field("detected", detected)
        .field("interrupted", interrupted)
        .field("ended", ok);
    j.key("progress").beginArray();
    for (const Sample& s : samples) {
      j.beginObject()
          .field("ms", s.ms)
          .field("position", s.position)
          .field("tempo", s.tempo)
          .field("timeSignature", s.timeSignature)
          .field("level", s.level)
          .endObject();
    }
    j.endArray().endObject();
  } else {
    std::cout << (interrupted ? "stopped" : ok ? "ended" : "failed") << ": " << ticks << " ticks, " << markers
              << " markers\n";
  }
  if (!started) std::cerr << "qmidi-tool play: " << path << ": the player did not start\n";
  else if (closed != kMidiOk) std::cerr << "qmidi-tool play: the output devices did not close\n";
  else WarnOfCode("play", path, code);
  return ok ? 0 : 1;
}

}  // namespace

QMIDI_TOOL_COMMAND(play, {
  "play",
  ModuleCommandSummary("play"),
  "SONG [--mode N] [--period MS] [--devices A1,B1,A2,B2] [--capture DIR] [--silent] [--no-setup] " +
      std::string(kDeviceOptionsUsage) + " [--json]",
  {"--mode", "--period", "--devices", "--capture", "--soundfont", "--gain", "--raw"},
  runPlay,
  {"--silent", "--no-setup"}})
