// qmidi-tool render-audio: renders a song through the soft synth into an
// audio file as fast as the synth goes. The song is converted and played as
// the engine plays it (reset sequence of the play mode, the converter's
// edits, volume and balance), but by the offline driver, each message at its
// exact sample. The file is written under a temporary name and renamed when
// complete; a failure or Ctrl-C leaves nothing behind. Many songs go into a
// folder at once, one engine per worker thread.
#include <algorithm>
#include <iostream>
#include <vector>

#include "platform/encode/audio_file.h"
#include "platform/encode/temp_output.h"
#include "support/file_record.h"
#include "tools/json_writer.h"
#include "tools/module_commands.h"
#include "tools/render_common.h"
#include "tools/song_audio.h"
#include "tools/tool_command.h"

namespace {

constexpr int kBlockFrames = 4096;

int Fail(const std::string& message) {
  std::cerr << "qmidi-tool render-audio: " << message << '\n';
  return 1;
}

// What one render made.
struct AudioResult {
  int64_t frames = 0;
  uint32_t songMs = 0;
  double peak = 0;
  int32_t detected = 0;
};

struct AudioJob {
  RenderOptions options;
  AudioFileFormat format;
  int rate = 44100;
  bool progress = true;  // the bar on a terminal (one song at a time)
};

// Renders songPath into outPath with the engine's song reader; "" on
// success, else what went wrong.
std::string RenderAudio(Engine& engine, const std::string& songPath, const std::string& outPath,
                        const AudioJob& job, AudioResult* made) {
  std::string error, target;
  if (!QGOutputTarget(outPath, &target, &error)) return error;
  RenderSong song(engine);
  if (!ConvertForRender("render-audio", songPath, job.options, &song, &error)) return error;
  WarnOfCode("render-audio", songPath, song.warning);
  song.song.volume = job.options.volume;
  song.song.balance = job.options.balance;
  OfflineSynth synth;
  if (!OpenOfflineSynth(job.options, job.rate, &synth, &error)) return error;
  double factor = 1.0;
  if (!NormalizingFactor(job.options, song.song, song.songEndUs, job.rate, &factor, &error)) return error;

  TempOutput temp(target);
  AudioFileWriter file;
  if (!file.open(temp.path(), job.format, job.rate, &error)) return "cannot write \"" + outPath + "\": " + error;

  SongAudio audio(*synth.synth, {synth.portA.get(), synth.portB.get()}, song.song, job.rate, song.songEndUs);
  ProgressBar progress(song.songMs, job.progress);
  std::vector<float> block(2 * kBlockFrames);
  while (!audio.ended()) {
    if (InterruptGuard::interrupted()) return "interrupted, nothing written";
    const int n = audio.render(block.data(), kBlockFrames);
    ScaleSound(block.data(), n, factor);
    if (n > 0 && !file.write(block.data(), n, &error)) return "cannot write \"" + outPath + "\": " + error;
    progress.update(audio.frames() * 1000 / job.rate);
  }
  if (!file.close(&error) || !temp.commit(&error)) return error;
  synth.portA->close();
  synth.portB->close();
  *made = {audio.frames(), song.songMs, std::min(1.0, audio.peak() * factor), song.song.detectedSetup};
  return {};
}

std::string Summary(const std::string& outPath, const AudioJob& job, const AudioResult& r) {
  const int64_t lengthMs = r.frames * 1000 / job.rate;
  return "wrote " + outPath + ": " + job.format.name + ", " + std::to_string(job.rate) + " Hz, " +
         std::to_string(lengthMs / 1000) + '.' + std::to_string(lengthMs % 1000 / 100) + " s, peak " +
         std::to_string(r.peak);
}

// The options, the format of the name given and the rate; false with a message.
bool ReadJob(const ToolArgs& a, const std::string& formatOf, AudioJob* job, std::string* error) {
  job->options = ReadRenderOptions(a);
  if (!AudioFileFormatFor(formatOf, &job->format)) {
    *error = "cannot tell the format of \"" + formatOf + "\": name it .wav, .flac, .ogg or .opus";
    return false;
  }
  const long rate = a.getInt("--rate", job->format.defaultRate);
  if (rate < 0 || rate > 192000 || !AudioFileRateAllowed(job->format, static_cast<int>(rate), error)) {
    if (error->empty()) *error = "the rate must be 8000 to 192000 Hz";
    return false;
  }
  job->rate = static_cast<int>(rate);
  return true;
}

class AudioWorker final : public RenderWorker {
 public:
  explicit AudioWorker(const AudioJob& job) : job_(job), engine_(EngineServices{}) {}
  std::string render(const BatchItem& item, std::string* done) override {
    AudioResult made;
    std::string error = RenderAudio(engine_, item.song, item.out, job_, &made);
    if (error.empty()) *done = Summary(item.out, job_, made);
    return error;
  }

 private:
  const AudioJob& job_;
  Engine engine_;
};

int runBatch(const ToolArgs& a) {
  const std::string extension = "." + a.get("--format", "wav");
  AudioJob job;
  std::string error;
  if (!ReadJob(a, "song" + extension, &job, &error)) return Fail(error);
  job.progress = false;
  const std::vector<BatchItem> items = BatchItems(a, extension);
  return RunBatch("render-audio", items, BatchJobs(a), [&] { return std::make_unique<AudioWorker>(job); });
}

int runRenderAudio(const ToolArgs& a) {
  if (IsBatchForm(a)) return runBatch(a);
  const std::string& songPath = a.arg(0, "SONG");
  const std::string& outPath = a.arg(1, "OUT");
  AudioJob job;
  std::string problem;
  if (!ReadJob(a, outPath, &job, &problem)) return Fail(problem);
  // Ctrl-C is caught before the temporary file exists, so it never outlives the render.
  InterruptGuard interrupt;
  Engine engine{EngineServices{}};
  AudioResult made;
  const std::string error = RenderAudio(engine, songPath, outPath, job, &made);
  if (!error.empty()) {
    if (InterruptGuard::interrupted()) {
      std::cerr << "qmidi-tool render-audio: interrupted, nothing written\n";
      return 130;
    }
    return Fail(error);
  }

  if (a.json()) {
    JsonWriter j(std::cout);
    j.beginObject()
        .field("file", outPath)
        .field("format", job.format.name)
        .field("rate", static_cast<int64_t>(job.rate))
        .field("samples", made.frames)
        .field("lengthMs", made.frames * 1000 / job.rate)
        .field("songMs", made.songMs)
        .field("peak", made.peak)
        .field("mode", job.options.mode)
        .field("detected", made.detected)
        .endObject();
    std::cout << '\n';
  } else {
    std::cout << Summary(outPath, job, made) << '\n';
  }
  return 0;
}

}  // namespace

QMIDI_TOOL_COMMAND(render_audio, {
  "render-audio",
  ModuleCommandSummary("render-audio"),
  "SONG OUT [--mode N] [--soundfont FILE] [--gain G] [--normalize LUFS] [--rate HZ] [--volume 0-100] "
  "[--balance 0-100] [--no-setup] [--json]\n"
  "  or:  render-audio --jobs N [--format EXT] [--mode N] [--soundfont FILE] [--gain G] [--normalize LUFS] "
  "[--rate HZ] [--volume 0-100] [--balance 0-100] [--no-setup] SONG... OUTDIR\n"
  "       writes OUTDIR/<song's base name>.EXT (wav by default; flac, ogg, opus), N songs at a time\n"
  "       (default: the number of cores)",
  {"--mode", "--soundfont", "--gain", "--normalize", "--rate", "--volume", "--balance", "--jobs", "--format"},
  runRenderAudio,
  {"--no-setup"}})
