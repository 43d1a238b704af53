#include "engine/player/offline_player.h"

#include <algorithm>
#include <vector>

#include "engine/player/output_status.h"
#include "engine/player/reset_sequences.h"
#include "engine/player/stream_dispatch.h"

// The outputs straight: no MIDIDISABLE, no shared buffers (a render owns
// its ports). A failing device loses its message, as in the player.
class QDOfflinePlayer::Outputs final : public QDOutputTarget {
 public:
  explicit Outputs(MidiOutPort* const* ports) : ports_(ports) {}
  void shortTo(int output, uint32_t message) override {
    if (MidiOutPort* p = ports_[output]) {
      try {
        p->shortMessage(message);
      } catch (...) {
      }
    }
  }
  void longTo(int output, int, const uint8_t* bytes, uint32_t count) override {
    if (MidiOutPort* p = ports_[output]) {
      try {
        p->longMessage(bytes, count);
      } catch (...) {
      }
    }
  }

 private:
  MidiOutPort* const* ports_;
};

QDOfflineSong QDOfflineSong::Of(const PackedSong& packed) {
  QDOfflineSong s;
  s.data = packed.data();
  s.length = packed.data() ? packed.length : 0;
  s.table = packed.timeTable();
  s.entries = packed.timeTable() ? packed.entries : 0;
  s.division = packed.division;
  s.detectedSetup = packed.detectedSetup;
  return s;
}

QDOfflinePlayer::QDOfflinePlayer(const QDOfflineSong& song, MidiOutPort* const outputs[kQDOutputs])
    : song_(song) {
  for (int o = 0; o < kQDOutputs; ++o) outputs_[o] = outputs[o];
  const std::vector<uint8_t>& seq = QDResetSequence(QDSongResetKind(song.resetKind, song.detectedSetup));
  resetData_ = seq.data();
  resetLength_ = static_cast<uint32_t>(seq.size());
  if (!song_.data) song_.length = 0;
  effectiveDivision_ = QDEffectiveDivision(song.division, song.speed);
  tickFx_ = QDTickLengthFx(500000, effectiveDivision_);  // the tempo headers start with
  const uint32_t volume = QDPackVolume(song.volume, song.balance);
  for (MidiOutPort* p : outputs_) {
    if (!p) continue;
    try {
      p->setVolume(volume);  // a device without volume keeps its own
    } catch (...) {
    }
  }
}

int32_t QDOfflinePlayer::position() const { return QDTablePosition(song_.table, song_.entries, markers_); }

bool QDOfflinePlayer::peek() {
  if (peeked_) return true;
  switch (phase_) {
    case Phase::kReset:
      if (!QDReadRecord(resetData_, resetLength_, offset_, &next_)) return false;
      // Due at its deltas' sum, but never before the pause after the last
      // long message is over.
      nextFx_ = std::max(resetDeltaFx_ + int64_t{next_.delta} * kQDFxPerMs, resetHoldFx_);
      break;
    case Phase::kSong:
      if (!QDReadRecord(song_.data, song_.length, offset_, &next_)) return false;
      nextFx_ = songStartFx_ + songTimeFx_ + int64_t{next_.delta} * tickFx_;
      break;
    default:
      return false;
  }
  peeked_ = true;
  return true;
}

int64_t QDOfflinePlayer::nextTimeFx() {
  while (phase_ == Phase::kReset || phase_ == Phase::kSong) {
    if (phase_ == Phase::kSong && chasePending_) return songStartFx_;
    if (peek()) {
      if (phase_ == Phase::kSong && nextFx_ - songStartFx_ > kQDPlayLimitUs * kQDFxPerUs) {
        endSong();  // the player ends a song 15 minutes after its start
        break;
      }
      if (phase_ == Phase::kSong && pastExcerpt(nextFx_)) {
        // The excerpt ends at its end, whatever still sounds.
        windDownFx_ = std::max(songStartFx_ + ((song_.endUs - std::max<int64_t>(song_.startUs, 0)) << 16), nowFx_);
        endSong();
        break;
      }
      return nextFx_;
    }
    if (phase_ == Phase::kReset) {
      startSong();  // a sequence without its closing record ends after its last message
    } else {
      endSong();
    }
  }
  switch (phase_) {
    case Phase::kWindDown: return std::max(windDownFx_, nowFx_);
    case Phase::kResetControllers: return windDownFx_ + int64_t{kQDSettleMs} * kQDFxPerMs;
    default: return kNever;
  }
}

void QDOfflinePlayer::startSong() {
  songStartFx_ = nowFx_ + int64_t{kQDSettleMs} * kQDFxPerMs;
  phase_ = Phase::kSong;
  offset_ = 0;
  if (song_.startUs > 0) jumpToStart();
}

void QDOfflinePlayer::jumpToStart() {
  const QDSongPoint p = QDFindSongPoint(song_.data, song_.length, song_.startUs, effectiveDivision_, &chase_);
  offset_ = p.offset;
  ticks_ = p.totalTicks;
  markers_ = p.markerIndex;
  tickFx_ = QDTickLengthFx(p.tempo, effectiveDivision_);
  songTimeFx_ = p.playedFx - (p.targetUs << 16);
  chasePending_ = true;
}

bool QDOfflinePlayer::pastExcerpt(int64_t fx) const {
  return song_.endUs >= 0 && fx - songStartFx_ >= (song_.endUs - std::max<int64_t>(song_.startUs, 0)) << 16;
}

void QDOfflinePlayer::endSong() {
  peeked_ = false;
  phase_ = Phase::kTail;
  if (windDownFx_ != kNever) phase_ = Phase::kWindDown;
}

void QDOfflinePlayer::windDownAt(int64_t timeFx) {
  if (windDownFx_ != kNever) return;
  windDownFx_ = std::max(timeFx, nowFx_);
  if (phase_ == Phase::kTail) phase_ = Phase::kWindDown;
}

void QDOfflinePlayer::sendPeeked() {
  Outputs out(outputs_);
  peeked_ = false;
  nowFx_ = std::max(nowFx_, nextFx_);
  offset_ += next_.size;
  if (phase_ == Phase::kReset) {
    resetDeltaFx_ += int64_t{next_.delta} * kQDFxPerMs;
    if (!QDSendResetRecord(next_, out)) {
      startSong();
      return;
    }
    resetHoldFx_ = nowFx_ + int64_t{QDResetPauseAfter(next_)} * kQDFxPerMs;
    return;
  }
  songTimeFx_ += int64_t{next_.delta} * tickFx_;
  ticks_ += next_.delta;
  if (next_.marker()) ++markers_;
  if (next_.kind() == kRecTempo) tickFx_ = QDTickLengthFx(next_.data, effectiveDivision_);
  QDSendSongRecord(next_, out);
}

void QDOfflinePlayer::runUntil(int64_t timeFx) {
  Outputs out(outputs_);
  for (int64_t t = nextTimeFx(); t <= timeFx && t != kNever; t = nextTimeFx()) {
    switch (phase_) {
      case Phase::kReset:
      case Phase::kSong:
        if (chasePending_) {
          nowFx_ = std::max(nowFx_, t);
          chasePending_ = false;
          chase_.send(song_.data, song_.length, out, false);
        } else {
          sendPeeked();
        }
        break;
      case Phase::kWindDown:
        nowFx_ = std::max(nowFx_, t);
        windDownFx_ = nowFx_;
        QDSendAllChannels(out, kQDAllSoundOff);
        phase_ = Phase::kResetControllers;
        break;
      case Phase::kResetControllers:
        nowFx_ = std::max(nowFx_, t);
        QDSendAllChannels(out, kQDResetAllControllers);
        phase_ = Phase::kDone;
        break;
      default:
        return;
    }
  }
  nowFx_ = std::max(nowFx_, timeFx == kNever ? nowFx_ : timeFx);
}

int64_t QDFxToSamples(int64_t fx, int rate) {
  if (fx <= 0 || rate <= 0) return 0;
  // Whole seconds apart, so that the product cannot overflow.
  constexpr int64_t kFxPerSecond = kQDFxPerUs * 1000000;
  const int64_t rest = fx % kFxPerSecond;
  return fx / kFxPerSecond * rate + (rest * rate + kFxPerSecond - 1) / kFxPerSecond;
}
