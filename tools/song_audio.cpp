#include "tools/song_audio.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/player/stream_dispatch.h"

namespace {

// Below this the synth counts as silent: half a step of 16-bit sound, which
// rounds to 0.
constexpr float kSilence = 1.0f / 65536;
// The tail ends after this long of silence.
constexpr double kQuietSeconds = 0.1;
constexpr int kBlock = 512;
// FluidSynth renders in blocks of this many frames and starts what it is
// sent at the next block: each message goes at the block boundary nearest
// its sample (within 32 frames, 0.73 ms at 44.1 kHz), not up to a block late.
constexpr int64_t kSynthBlock = 64;

std::array<MidiOutPort*, kQDOutputs> OnFirstOutputs(SongAudio::Ports ports) {
  std::array<MidiOutPort*, kQDOutputs> outputs{};
  outputs[kQDPortAFirst] = ports.a;
  outputs[kQDPortBFirst] = ports.b;
  return outputs;
}

}  // namespace

SongAudio::SongAudio(SoftSynthSystem& synth, Ports ports, const QDOfflineSong& song, int rate, uint64_t songEndUs)
    : synth_(synth), song_(song), driver_(song, OnFirstOutputs(ports).data()), rate_(rate), scratch_(2 * kBlock) {
  // Tick 0 must fall on a synth block, so that every message is within half
  // a block of its time in the file: the reset phase starts late by what
  // that takes (found by playing the sequence to no device first).
  const std::array<MidiOutPort*, kQDOutputs> none{};
  QDOfflinePlayer dry(song, none.data());
  while (dry.songStartFx() == QDOfflinePlayer::kNever && dry.nextTimeFx() != QDOfflinePlayer::kNever)
    dry.runUntil(dry.nextTimeFx());
  const int64_t tick0 = dry.songStartFx() == QDOfflinePlayer::kNever ? 0 : QDFxToSamples(dry.songStartFx(), rate_);
  lead_ = (kSynthBlock - tick0 % kSynthBlock) % kSynthBlock;
  songStart_ = tick0 + lead_;
  // The reset sequence sounds nothing worth keeping: render it and drop it.
  while (cursor_ < songStart_)
    synthesise(scratch_.data(), static_cast<int>(std::min<int64_t>(kBlock, songStart_ - cursor_)));
  // SPEED stretches the song's time as it stretches every tick.
  const int64_t speed = song.speed > 0 ? song.speed : 256;
  const int64_t start = dry.songStartFx() == QDOfflinePlayer::kNever ? 0 : dry.songStartFx();
  songEndFx_ = start + static_cast<int64_t>(songEndUs) * kQDFxPerUs / 256 * speed;
}

bool SongAudio::songOver() const { return driver_.songEnded() && fxOfSample(cursor_) >= songEndFx_; }

int64_t SongAudio::sampleOf(int64_t fx) const {
  return (QDFxToSamples(fx, rate_) + lead_ + kSynthBlock / 2) / kSynthBlock * kSynthBlock;
}

int64_t SongAudio::fxOfSample(int64_t sample) const {
  constexpr int64_t kFxPerSecond = kQDFxPerUs * 1000000;
  sample = std::max<int64_t>(0, sample - lead_);
  return sample / rate_ * kFxPerSecond + sample % rate_ * kFxPerSecond / rate_;
}

int32_t SongAudio::positionReached() const {
  const int32_t reached = driver_.markerIndex() - 1;
  return reached < 0 ? 0 : QDTablePosition(song_.table, song_.entries, reached);
}

void SongAudio::synthesise(float* out, int frames) {
  int done = 0;
  while (done < frames) {
    int n = frames - done;
    const int64_t next = driver_.nextTimeFx();
    if (next != QDOfflinePlayer::kNever) {
      const int64_t at = sampleOf(next);
      if (at <= cursor_) {
        driver_.runUntil(next);
        continue;
      }
      n = static_cast<int>(std::min<int64_t>(n, at - cursor_));
    }
    if (!synth_.render(out + 2 * done, n)) std::fill(out + 2 * done, out + 2 * (done + n), 0.0f);
    cursor_ += n;
    done += n;
  }
}

void SongAudio::sendDue() {
  for (int64_t next = driver_.nextTimeFx();
       next != QDOfflinePlayer::kNever && sampleOf(next) <= cursor_;
       next = driver_.nextTimeFx())
    driver_.runUntil(next);
}

void SongAudio::endSound() {
  driver_.windDownAt(fxOfSample(cursor_));
  while (!driver_.finished()) driver_.runUntil(driver_.nextTimeFx());
  ended_ = true;
}

int SongAudio::render(float* interleaved, int frames) {
  int handed = 0;
  while (handed < frames && !ended_) {
    if (songOver() && (quietFrames_ >= kQuietSeconds * rate_ || tailFrames_ >= kMaxTailSeconds * rate_)) {
      endSound();
      break;
    }
    const int n = std::min(frames - handed, kBlock);
    float* out = interleaved + 2 * handed;
    const bool inTail = songOver();
    synthesise(out, n);
    float blockPeak = 0;
    for (int i = 0; i < 2 * n; ++i) blockPeak = std::max(blockPeak, std::fabs(out[i]));
    peak_ = std::max(peak_, blockPeak);
    if (inTail) {
      tailFrames_ += n;
      quietFrames_ = blockPeak < kSilence ? quietFrames_ + n : 0;
    }
    handed += n;
  }
  handedOut_ += handed;
  return handed;
}
