// qmidi-tool render-audio: renders a song through the soft synth into an
// audio file as fast as the synth goes. The song is converted and played as
// the engine plays it (reset sequence of the play mode, the converter's
// edits, volume and balance), but by the offline driver, each message at its
// exact sample. The file is written under a temporary name and renamed when
// complete; a failure or Ctrl-C leaves nothing behind.
#include <algorithm>
#include <iostream>
#include <vector>

#include "platform/encode/audio_file.h"
#include "tools/song_audio.h"
#include "platform/encode/temp_output.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/render_common.h"
#include "tools/module_commands.h"
#include "tools/tool_command.h"

namespace {

constexpr int kBlockFrames = 4096;

int Fail(const std::string& message) {
  std::cerr << "qmidi-tool render-audio: " << message << '\n';
  return 1;
}

int runRenderAudio(const ToolArgs& a) {
  const std::string& songPath = a.arg(0, "SONG");
  const std::string& outPath = a.arg(1, "OUT");
  const RenderOptions options = ReadRenderOptions(a);
  AudioFileFormat format;
  if (!AudioFileFormatFor(outPath, &format))
    return Fail("cannot tell the format of \"" + outPath + "\": name it .wav, .flac, .ogg or .opus");
  const long rate = a.getInt("--rate", format.defaultRate);
  std::string error;
  if (rate < 0 || rate > 192000 || !AudioFileRateAllowed(format, static_cast<int>(rate), &error))
    return Fail(error.empty() ? "the rate must be 8000 to 192000 Hz" : error);

  std::string target;
  if (!QGOutputTarget(outPath, &target, &error)) return Fail(error);
  RenderSong song;
  if (!ConvertForRender("render-audio", songPath, options, &song, &error)) return Fail(error);
  WarnOfCode("render-audio", songPath, song.warning);
  song.song.volume = options.volume;
  song.song.balance = options.balance;
  OfflineSynth synth;
  if (!OpenOfflineSynth(options, static_cast<int>(rate), &synth, &error)) return Fail(error);

  // Ctrl-C is caught before the temporary file exists, so it never outlives the render.
  InterruptGuard interrupt;
  double factor = 1.0;
  if (!NormalizingFactor(options, song.song, song.songEndUs, static_cast<int>(rate), &factor, &error))
    return Fail(error);
  TempOutput temp(target);
  AudioFileWriter file;
  if (!file.open(temp.path(), format, static_cast<int>(rate), &error))
    return Fail("cannot write \"" + outPath + "\": " + error);

  SongAudio audio(*synth.synth, {synth.portA.get(), synth.portB.get()}, song.song, static_cast<int>(rate),
                  song.songEndUs);
  ProgressBar progress(song.songMs);
  std::vector<float> block(2 * kBlockFrames);
  while (!audio.ended()) {
    if (InterruptGuard::interrupted()) {
      std::cerr << "qmidi-tool render-audio: interrupted, nothing written\n";
      return 130;
    }
    const int n = audio.render(block.data(), kBlockFrames);
    ScaleSound(block.data(), n, factor);
    if (n > 0 && !file.write(block.data(), n, &error)) return Fail("cannot write \"" + outPath + "\": " + error);
    progress.update(audio.frames() * 1000 / rate);
  }
  if (!file.close(&error) || !temp.commit(&error)) return Fail(error);
  synth.portA->close();
  synth.portB->close();

  const int64_t lengthMs = audio.frames() * 1000 / rate;
  const double peak = std::min(1.0, audio.peak() * factor);
  if (a.json()) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("file", outPath)
        .field("format", format.name)
        .field("rate", static_cast<int64_t>(rate))
        .field("samples", audio.frames())
        .field("lengthMs", lengthMs)
        .field("songMs", song.songMs)
        .field("peak", peak)
        .field("mode", options.mode)
        .field("detected", song.song.detectedSetup)
        .endObject();
    std::cout << '\n';
  } else {
    std::cout << "wrote " << outPath << ": " << format.name << ", " << rate << " Hz, " << lengthMs / 1000 << '.'
              << lengthMs % 1000 / 100 << " s, peak " << peak << '\n';
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(render_audio, {
  "render-audio",
  ModuleCommandSummary("render-audio"),
  "SONG OUT [--mode N] [--soundfont FILE] [--gain G] [--normalize LUFS] [--rate HZ] [--volume 0-100] "
  "[--balance 0-100] [--no-setup] [--json]",
  {"--mode", "--soundfont", "--gain", "--normalize", "--rate", "--volume", "--balance"},
  runRenderAudio,
  {"--no-setup"}})
