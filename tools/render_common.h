// What render-audio and render-video share: the song converted as the
// engine converts it before playing, the soft synth rendering offline, the
// checks of the common options, and the progress bar.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/player/offline_player.h"
#include "platform/softsynth/soft_synth.h"
#include "tools/tool_command.h"

// A converted song, held until the object goes (then the buffers are freed
// and the player's outputs closed).
class RenderSong {
 public:
  RenderSong() = default;
  ~RenderSong();
  RenderSong(const RenderSong&) = delete;
  RenderSong& operator=(const RenderSong&) = delete;

  // Converts the song in play mode `mode` (with its set-up files unless
  // setupFiles is false) without touching a device; false with a message
  // for the user.
  bool convert(const std::string& path, int32_t mode, bool setupFiles, std::string* error);

  QDOfflineSong song;
  std::string titleSjis;  // the song's title, Shift-JIS as written
  uint32_t songMs = 0;    // the time table's length
  int32_t tickDivision = 960;
  uint64_t songEndUs = 0;  // where the song's last track ends
  std::vector<std::string> setupProblems;  // set-up files named but not usable
  int32_t warning = 0;    // a result code the conversion left that does not stop it (a cut song)

 private:
  bool converted_ = false;
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
  explicit ProgressBar(int64_t totalMs);
  ~ProgressBar();
  void update(int64_t doneMs);

 private:
  int64_t totalMs_;
  int lastShown_ = -1;
  bool enabled_;
};
