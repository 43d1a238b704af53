// The sound of a converted song, rendered as fast as the synth goes: the
// offline driver plays the song into the soft synth and the synth's output
// is pulled block by block, every message sent at its exact sample. The
// reset sequence is rendered and dropped, so the sound starts at tick 0;
// the song runs to where its last track ends (rests after the last note
// are kept), then the tail runs until the synth falls silent (at most a few
// seconds), then the player's wind-down is sent and the sound ends.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/player/offline_player.h"
#include "platform/softsynth/soft_synth.h"

class SongAudio {
 public:
  static constexpr double kMaxTailSeconds = 5.0;

  // The synth's open ports for the player's ports A and B (their first
  // outputs; B may be null).
  struct Ports {
    MidiOutPort* a = nullptr;
    MidiOutPort* b = nullptr;
  };

  // synth must run offline at `rate`. songEndUs is where the song's last
  // track ends, from tick 0 at the song's tempi (0: at its last record).
  SongAudio(SoftSynthSystem& synth, Ports ports, const QDOfflineSong& song, int rate, uint64_t songEndUs = 0);

  // Renders up to `frames` stereo frames (interleaved left/right) of the
  // song from tick 0 on; fewer, and then 0, once the sound has ended.
  int render(float* interleaved, int frames);
  bool ended() const { return ended_; }
  // Sends the messages due at the sound handed out so far, so that the
  // song's state is that of this moment (before a picture of it is made).
  void sendDue();

  int rate() const { return rate_; }
  // Frames handed out so far.
  int64_t frames() const { return handedOut_; }
  // The largest absolute sample value handed out.
  float peak() const { return peak_; }
  // The song's position at the sound handed out so far: the position code
  // of the last time-table entry reached (0 before the first).
  int32_t positionReached() const;
  const QDOfflinePlayer& driver() const { return driver_; }

 private:
  // Renders frames from the synth, sending every message due on the way.
  void synthesise(float* out, int frames);
  // The synth sample a message due at fx is sent at, and back.
  int64_t sampleOf(int64_t fx) const;
  int64_t fxOfSample(int64_t sample) const;
  void endSound();
  // The song's records are all sent and its last track has ended.
  bool songOver() const;

  SoftSynthSystem& synth_;
  QDOfflineSong song_;
  QDOfflinePlayer driver_;
  int rate_;
  int64_t cursor_ = 0;      // samples rendered since the start of the reset phase
  int64_t lead_ = 0;        // silent samples before the reset phase
  int64_t songStart_ = 0;   // sample of tick 0
  int64_t songEndFx_ = 0;   // driver time of the end of the song's last track
  int64_t handedOut_ = 0;
  int64_t tailFrames_ = 0;
  int64_t quietFrames_ = 0;
  float peak_ = 0;
  bool ended_ = false;
  std::vector<float> scratch_;
};
