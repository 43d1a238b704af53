// What render-audio and render-video share: the song converted as the
// engine converts it before playing, the soft synth rendering offline, the
// checks of the common options, the progress bar, and the batch form (many
// songs into a folder, one engine per worker thread).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/engine.h"
#include "engine/player/offline_player.h"
#include "platform/softsynth/soft_synth.h"
#include "tools/tool_command.h"

// A song converted by an engine's song reader, held for the offline driver.
class RenderSong {
 public:
  explicit RenderSong(Engine& engine) : engine_(engine) {}

  // Converts the song in play mode `mode` (with its set-up files unless
  // setupFiles is false) without touching a device; false with a message
  // for the user.
  bool convert(const std::string& path, int32_t mode, bool setupFiles, std::string* error);

  const PackedSong& packed() const { return packed_; }
  QDOfflineSong song;
  std::string titleSjis;  // the song's title, Shift-JIS as written
  uint32_t songMs = 0;    // the time table's length
  int32_t tickDivision = 960;
  uint64_t songEndUs = 0;  // where the song's last track ends
  std::vector<std::string> setupProblems;  // set-up files named but not usable
  int32_t warning = 0;    // a result code the conversion left that does not stop it (a cut song)

 private:
  Engine& engine_;
  PackedSong packed_;
};

// The options both commands take.
struct RenderOptions {
  int32_t mode = 0;
  bool setupFiles = true;  // --no-setup
  int32_t volume = 100;
  int32_t balance = 50;
  std::string soundFont;
  double gain = kDefaultSynthGain;  // the soft synth's gain
  bool normalize = false;           // to targetLufs, measured in a first pass
  double targetLufs = 0;
};
// Reads --mode, --volume, --balance, --soundfont, --gain (default the
// engine's "SynthGain" setting), --normalize LUFS and --no-setup (UsageError
// on bad values).
RenderOptions ReadRenderOptions(const ToolArgs& a);
// Converts the song as the options say; what went wrong with its set-up
// files goes to standard error, prefixed with the command's name.
bool ConvertForRender(const char* command, const std::string& path, const RenderOptions& o, RenderSong* song,
                      std::string* error);

// With --normalize, the factor that brings the song's integrated loudness
// (EBU R 128) to the target: a first pass renders the whole song (to its
// last track's end, songEndUs) and measures it. 1 otherwise, and for a song
// that stays silent.
bool NormalizingFactor(const RenderOptions& o, const QDOfflineSong& song, uint64_t songEndUs, int rate,
                       double* factor, std::string* error);
// Multiplies the sound by factor (kept within full scale).
void ScaleSound(float* interleaved, int frames, double factor);

// The soft synth rendering offline at rate with two ports open, one for
// each of the player's ports (port A's first output and port B's, as the
// engine plays by default); false with a message when the sound font does
// not load.
struct OfflineSynth {
  std::unique_ptr<SoftSynthSystem> synth;
  std::unique_ptr<MidiOutPort> portA, portB;
};
bool OpenOfflineSynth(const RenderOptions& o, int rate, OfflineSynth* synth, std::string* error);

// A bar on stderr while stderr is a terminal: "[#####.....]  45%  0:15 / 0:34".
class ProgressBar {
 public:
  explicit ProgressBar(int64_t totalMs, bool enabled = true);
  ~ProgressBar();
  void update(int64_t doneMs);

 private:
  int64_t totalMs_;
  int lastShown_ = -1;
  bool enabled_;
};

// --- The batch form: SONG... OUTDIR, each song into OUTDIR/<base name>.<ext>.

// One song of a batch and the file it becomes.
struct BatchItem {
  std::string song;
  std::string out;
};

// The command line's batch form: --jobs or --format given, more than two
// arguments, or the last one an existing folder. A single-song form (SONG
// OUT) gives false.
bool IsBatchForm(const ToolArgs& a);
// The songs and their output names in the folder (the last argument, made
// when missing); UsageError for a missing argument or two songs of one name.
std::vector<BatchItem> BatchItems(const ToolArgs& a, const std::string& extension);
// --jobs, by default the number of cores.
int BatchJobs(const ToolArgs& a);

// Renders one song into one file with a worker's own engine; "" on success,
// else what went wrong. done receives the summary line of a success.
class RenderWorker {
 public:
  virtual ~RenderWorker() = default;
  virtual std::string render(const BatchItem& item, std::string* done) = 0;
};

// Renders every item on `jobs` worker threads, each with a worker (and its
// engine) of its own made by makeWorker on that thread; a line per song on
// standard output as it ends ("[3/8] OUT: ..."), failures on stderr, Ctrl-C
// stops between songs. The exit status: 0, 1 when a song failed, 130 when
// interrupted.
int RunBatch(const std::string& command, const std::vector<BatchItem>& items, int jobs,
             const std::function<std::unique_ptr<RenderWorker>()>& makeWorker);
