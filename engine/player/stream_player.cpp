// The stream player: start creates the player thread and the status
// thread; the player thread sends the reset sequence, then runs a periodic
// timer whose callback turns elapsed time into ticks and sends every record
// that has become due; the status thread drives the WRD step or the
// progress reports until the song ends.
#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "engine/player/midi_player.h"
#include "engine/player/reset_sequences.h"
#include "engine/player/stream_dispatch.h"
#include "support/guard.h"

namespace {

constexpr int64_t kStallUs = 500000;         // a gap this long shifts the song
constexpr int64_t kLeadInUs = 1000000;       // tick 0 plays this long after the timer starts
constexpr uint32_t kSettleMs = kQDSettleMs;
constexpr uint32_t kResetPassMs = 4;
constexpr uint32_t kStopCheckMs = 256;
constexpr int kStatusWaits = 256;
constexpr int32_t kMinStatusPeriodMs = 16;

// Level meter: a note-on raises its channel's level to its velocity; a
// control change that looks like a volume change is kept per channel.
void meter(TMIDIEXEState& s, uint32_t message, int base) {
  uint32_t status = message & 0xFF;
  int channel = base + static_cast<int>(status & 0x0F);
  if ((status & 0xF0) == 0x90) {
    int32_t level = static_cast<int32_t>(message & 0xFF0000u);
    if (level > s.levels[channel].load(std::memory_order_relaxed)) s.levels[channel].store(level);
  } else if ((status & 0xB0) == 0xB0 && ((message >> 8) & 0x07) == 0x07) {
    s.lastVolume[channel].store(static_cast<int32_t>(message & 0xFFFFFFu));
  }
}

// Elapsed time not yet turned into ticks, turned into whole ticks.
void convert(TMIDIEXEState& s, int64_t elapsedUs, int64_t* converted, int64_t* acc) {
  int64_t tick = s.tickLengthFx.load(std::memory_order_relaxed);
  int64_t left = (elapsedUs << 16) - *converted;
  if (tick > 0 && left >= tick) {
    int64_t ticks = left / tick;
    *converted += ticks * tick;
    *acc += ticks;
  }
}

// Keeps which notes sound, per port and channel.
void track(TMIDIEXEState& s, uint32_t message, int port) {
  const uint32_t status = message & 0xF0;
  if (status != 0x90 && status != 0x80) return;
  const uint32_t key = (message >> 8) & 0x7F;
  uint64_t& word = s.sounding[port][message & 0x0F][key >> 6];
  const uint64_t bit = uint64_t{1} << (key & 63);
  if (status == 0x90 && (message & 0x7F0000u) != 0) word |= bit;
  else word &= ~bit;
}

}  // namespace

// The player's devices as the receiver of what the records send.
class Player::Outputs final : public QDOutputTarget {
 public:
  explicit Outputs(Player& p) : p_(p) {}
  void shortTo(int output, uint32_t message) override {
    if (MidiOutPort* port = p_.s_.handles[output].get()) p_.sendShort(port, message);
  }
  // Copies the message into the device's prepared buffer, sends exactly its
  // bytes and clears them again.
  void longTo(int output, int buffer, const uint8_t* bytes, uint32_t count) override {
    MidiOutPort* port = p_.s_.handles[output].get();
    if (!port) return;
    QDLongHeader& h = p_.s_.longHeaders[buffer];
    uint8_t* to = p_.s_.longBuffers[buffer];
    std::memcpy(to, bytes, count);
    QDLongHeader send = h;
    send.data = to;
    send.bytesRecorded = count;
    h.bytesRecorded = count;
    p_.sendLong(port, &send);
    std::memset(to, 0, count);
  }

 private:
  Player& p_;
};

// Every sounding note is released on its port's devices.
void Player::releaseSounding() {
  TMIDIEXEState& s = s_;
  Outputs outputs(*this);
  for (int port = 0; port < 2; ++port) {
    for (uint32_t ch = 0; ch < 16; ++ch) {
      for (uint32_t half = 0; half < 2; ++half) {
        uint64_t word = s.sounding[port][ch][half];
        s.sounding[port][ch][half] = 0;
        for (uint32_t k = 0; word != 0; ++k, word >>= 1) {
          if (!(word & 1)) continue;
          QDSendToPort(outputs, port, 0x80 | ch | (half * 64 + k) << 8);
        }
      }
    }
  }
}

// The pause begins: the sounding notes are released, then every channel of
// every open device gets "all sound off"; the time stands still from now on.
void Player::hold() {
  s_.pauseStartUs.store(timer_.nowMicroseconds());
  releaseSounding();
  Outputs outputs(*this);
  QDSendAllChannels(outputs, kQDAllSoundOff);
  int32_t asked = kQDPauseAsked;
  s_.pause.compare_exchange_strong(asked, kQDPauseHeld);  // a resume in between wins
}

// A jump: what sounds is silenced, the module gets the chased state (a jump
// backwards first returns what the song sets only later to its default),
// and the song goes on from the target as if it had played up to there.
void Player::applySeek(const QDSeekPlan& plan, int64_t now) {
  TMIDIEXEState& s = s_;
  const QDSongPoint& p = plan.point;
  Outputs outputs(*this);
  const bool backwards = p.offset < s.readOffset.load();
  releaseSounding();
  // Channels in use only: a jump must not cost a sweep of every channel.
  for (int port = 0; port < 2; ++port)
    for (uint32_t ch = 0; ch < 16; ++ch)
      if (s.channelsUsed[port] >> ch & 1) QDSendToPort(outputs, port, 0xB0 | ch | kQDAllSoundOff << 8);
  plan.chase.send(s.playData.load(), s.playLength.load(), outputs, backwards);
  s.readOffset.store(p.offset);
  s.totalTicks.store(p.totalTicks);
  s.markerIndex.store(p.markerIndex);
  s.tempo.store(p.tempo);
  recomputeTickLength();
  s.convertedFx.store(p.playedFx);
  s.tickAccumulator.store(0);
  s.pendingDelta.store(0);
  s.stallUs.store(0);
  s.startUs.store(now - p.targetUs);
  s.lastCallbackUs.store(now);
  if (s.pause.load() == kQDPauseHeld) s.pauseStartUs.store(now);
}

// --- Timer callback ---------------------------------------------------------

void Player::timerCallback() {
  TMIDIEXEState& s = s_;
  try {
    if (s.stopFlag1.load()) return;
    if (s.endReached.load()) {  // a forced end (a paused song too): nothing more is played
      s.stopFlag1 = 1;
      s.stopFlag2 = 1;
      return;
    }
    const int64_t now = timer_.nowMicroseconds();
    // A jump waits for the lead-in, so that its chase comes right before the
    // music at the target.
    if (now > s.startUs.load() + s.stallUs.load() || s.pause.load() == kQDPauseHeld) {
      if (QDSeekPlan* plan = seekPlan_.exchange(nullptr)) {
        applySeek(*plan, now);
        int64_t target = plan->point.targetUs;
        s.seekPendingUs.compare_exchange_strong(target, -1);
        delete plan;
      }
    }
    if (const int32_t paused = s.pause.load()) {
      if (paused == kQDPauseAsked) hold();
      return;
    }
    const int64_t start = s.startUs.load();
    const int64_t stall = s.stallUs.load();
    if (now <= start + stall) return;  // nothing is due yet

    const uint8_t* data = s.playData.load();
    const uint32_t length = data ? s.playLength.load() : 0;
    uint32_t offset = s.readOffset.load();
    int64_t acc = s.tickAccumulator.load();
    uint32_t pending = s.pendingDelta.load();

    const int64_t gap = now - s.lastCallbackUs.load();
    if (gap >= kStallUs) {
      // The machine stood still: the song moves on from where it was
      // instead of rushing through what it missed.
      s.stallUs.store(stall + gap);
    } else {
      int64_t converted = s.convertedFx.load();
      convert(s, now - start - stall, &converted, &acc);
      int64_t total = s.totalTicks.load();
      int32_t markers = s.markerIndex.load();
      Outputs outputs(*this);
      StreamRecordView r;
      while (offset < length && acc >= static_cast<int64_t>(pending)) {
        if (!QDReadRecord(data, length, offset, &r)) {  // a cut record ends the song
          offset = length;
          break;
        }
        if (acc < static_cast<int64_t>(r.delta)) {
          pending = r.delta;
          break;
        }
        pending = 0;
        acc -= r.delta;
        total += r.delta;
        if (r.marker()) ++markers;
        if (r.kind() == kRecShort) {
          meter(s, r.data, r.portB() ? 16 : 0);
          track(s, r.data, r.portB() ? 1 : 0);  // what a pause must release
          s.channelsUsed[r.portB() ? 1 : 0] |= static_cast<uint16_t>(1u << (r.data & 0x0F));
        }
        if (r.kind() == kRecTempo) {
          const int64_t oldTick = s.tickLengthFx.load(std::memory_order_relaxed);
          s.tempo.store(static_cast<int32_t>(r.data));
          recomputeTickLength();
          // Ticks already counted past this record were timed at the old
          // tempo: give them back and count them again at the new one.
          if (acc > 0) {
            converted -= acc * oldTick;
            acc = 0;
            convert(s, now - start - stall, &converted, &acc);
          }
        }
        QDSendSongRecord(r, outputs);
        offset += r.size;
      }
      s.convertedFx.store(converted);
      s.totalTicks.store(total);
      s.markerIndex.store(markers);
    }

    s.readOffset.store(offset);
    if (offset >= length) {
      s.tickAccumulator.store(acc);
      s.endReached = 1;
      s.stopFlag1 = 1;
      return;
    }
    s.lastCallbackUs.store(now);
    s.pendingDelta.store(pending);
    s.tickAccumulator.store(acc);
    if (s.endReached.load()) {
      s.stopFlag1 = 1;
      s.stopFlag2 = 1;
    }
  } catch (...) {
    // The timer callback ignores its own failures.
  }
}

// --- Player thread ------------------------------------------------------------

// Sends the reset records that have become due (deltas in milliseconds).
void Player::sendDueReset(const std::vector<uint8_t>& seq) {
  TMIDIEXEState& s = s_;
  TimerSystem& timer = timer_;
  const uint32_t length = static_cast<uint32_t>(seq.size());
  Outputs outputs(*this);
  uint32_t offset = s.resetReadOffset.load();
  int64_t elapsed = s.resetElapsed.load();
  StreamRecordView r;
  while (offset < length && !s.stopFlag2.load()) {
    if (!QDReadRecord(seq.data(), length, offset, &r)) {
      offset = length;
      break;
    }
    if (elapsed < static_cast<int64_t>(r.delta)) {
      s.resetPendingDelta = r.delta;
      break;
    }
    elapsed -= r.delta;
    offset += r.size;
    if (!QDSendResetRecord(r, outputs)) offset = length;
    if (uint32_t pause = QDResetPauseAfter(r)) timer.sleep(pause);
  }
  s.resetReadOffset = offset;
  s.resetElapsed = elapsed;
}

void Player::playerThread() {
  TMIDIEXEState& s = s_;
  TimerSystem& timer = timer_;
  bool ok = QGuardVoid("QDPlayerThread", [&] {
    // 1. A fresh start.
    s.resetReadOffset = 0;
    s.resetElapsed = 0;
    s.resetPendingDelta = 0;
    s.convertedFx = 0;
    s.tickAccumulator = 0;
    s.longHeaders[0].bytesRecorded = 0;
    s.longHeaders[1].bytesRecorded = 0;
    s.startUs = timer.nowMicroseconds() + kLeadInUs;
    std::memset(s.sounding, 0, sizeof s.sounding);
    s.channelsUsed[0] = s.channelsUsed[1] = 0;
    for (auto& l : s.levels) l = 0;
    for (auto& v : s.lastVolume) v = kQDDefaultVolume;

    // 2. A set-up the converter detected chooses this song's sequence.
    const std::vector<uint8_t>& seq =
        QDResetSequence(QDSongResetKind(s.resetKind.load(), s.detectedSetup.load()));

    // 3. The reset phase.
    uint32_t lastPass = timer.timeGetTime();
    while (!s.resetPhaseEnd.load() && !s.stopFlag2.load()) {
      timer.sleep(kResetPassMs);
      if (s.resetReadOffset.load() >= seq.size()) break;
      uint32_t nowMs = timer.timeGetTime();
      s.resetElapsed = s.resetElapsed.load() + static_cast<int32_t>(nowMs - lastPass);
      lastPass = nowMs;
      if (s.resetElapsed.load() >= static_cast<int64_t>(s.resetPendingDelta.load())) sendDueReset(seq);
    }

    // 4. (The mode's own sequence stays selected for the next song.)
    timer.sleep(kSettleMs);

    // 5. The timer, at TIMERMIDI within the system's range.
    TimerCaps caps;
    uint32_t id = 0;
    int32_t period = s.TIMERMIDI.load();
    if (timer.getDevCaps(&caps) == kTimerOk) {
      if (period < static_cast<int64_t>(caps.periodMin)) period = static_cast<int32_t>(caps.periodMin);
      if (period > static_cast<int64_t>(caps.periodMax)) period = static_cast<int32_t>(caps.periodMax);
      s.TIMERMIDI = period;
      timer.beginPeriod(static_cast<uint32_t>(period));
      int64_t start = timer.nowMicroseconds() + kLeadInUs;
      s.startUs = start;
      s.lastCallbackUs = start;
      s.stallUs = 0;
      // Stop flag 1 is left set by the last song; a stop asked for during
      // the reset phase still ends this one.
      s.stopFlag1 = s.stopFlag2.load() || s.endReached.load() ? 1 : 0;
      id = timer.setEvent(static_cast<uint32_t>(period), static_cast<uint32_t>(period),
                          [this] { timerCallback(); });
      if (id == 0) timer.endPeriod(static_cast<uint32_t>(period));
    }
    s.timerId = id;
    s.periodInForce = id ? period : 0;

    if (id != 0) {
      // 6. Wait for the end, the stop, or the 15-minute limit.
      while (!s.stopFlag1.load()) {
        timer.sleep(kStopCheckMs);
        if (s.pause.load() == kQDPauseNone && timer.nowMicroseconds() - s.startUs.load() > kQDPlayLimitUs) {
          s.stopFlag1 = 1;
          s.stopFlag2 = 1;
        }
      }
      timer.killEvent(id);
      timer.endPeriod(static_cast<uint32_t>(period));
      s.timerId = 0;
      s.periodInForce = 0;
      timer.sleep(kSettleMs);
      Outputs outputs(*this);
      QDSendAllChannels(outputs, kQDAllSoundOff);
      timer.sleep(kSettleMs);
      QDSendAllChannels(outputs, kQDResetAllControllers);
      timer.sleep(kSettleMs);
    } else {
      // Without a timer nothing would ever end the song.
      s.endReached = 1;
      s.stopFlag1 = 1;
      QGTrText("QDPlayerThread");
      s.playerExitCode = 3;
    }
    s.stopFlag2 = 1;
    for (int i = 0; i < kStatusWaits && !s.statusEnded.load(); ++i) timer.sleep(kSettleMs);
  });
  if (s.playerExitCode.load() == 0) s.playerExitCode = ok ? 2 : 3;
  // 7. The owner learns that the threads are done.
  if (PlayerListener* l = listener()) l->playerDone();
}

// --- Status thread ------------------------------------------------------------

void Player::statusThread() {
  TMIDIEXEState& s = s_;
  TimerSystem& timer = timer_;
  QGuardVoid("QDStatusThread", [&] {
    int32_t period = s.TIMERWRD.load();
    if (period <= kMinStatusPeriodMs) period = kMinStatusPeriodMs;
    timer.sleep(kSettleMs);
    while (!s.stopFlag2.load() && s.readOffset.load() < s.playLength.load()) {
      uint32_t t = timer.timeGetTime();
      if (s.streamOpen.load() && s.pause.load() == kQDPauseNone) {  // a paused song holds its screen
        PlayerListener* l = listener();
        const bool step = s.wrdStep.load() && s.wrdDisplayOn.load();
        if (step && l) l->playerWrdStep(t);
        if ((!step || s.wrdStepProgress.load()) && s.statusSink.load() && s.TITLEVISIBLE.load() != 1) {
          s.lastStatusMs = t;
          int64_t ms = (timer.nowMicroseconds() - s.startUs.load() - s.stallUs.load()) / 1000;
          if (l && ms >= 0) l->playerProgress(static_cast<int32_t>(ms));
        }
      }
      int32_t spent = static_cast<int32_t>(timer.timeGetTime() - t);
      int32_t rest = period - spent;
      timer.sleep(static_cast<uint32_t>(rest < 1 ? 1 : rest));
    }
  });
  s.statusExitCode = 1;
  s.statusEnded = 1;
}

// --- The caller's routines ------------------------------------------------------

bool Player::start() {
  return QGuard("QDStreamOut", false, [&]() -> bool {
    TMIDIEXEState& s = s_;
    if (playerThread_ || statusThread_) {
      stop();
      return false;
    }
    s.readOffset = 0;
    s.markerIndex = 0;
    s.totalTicks = 0;
    s.pendingDelta = 0;
    s.tickAccumulator = 0;
    s.convertedFx = 0;
    s.pause = 0;
    s.stopFlag2 = 0;
    s.endReached = 0;
    s.statusEnded = 0;
    // A stop of the last song must not skip this song's reset sequence.
    s.resetPhaseEnd = 0;
    s.playerExitCode = 0;
    s.statusExitCode = 0;
    s.playData = song_.data();
    s.playLength = song_.data() ? song_.length : 0;
    s.playTable = song_.timeTable();
    s.playTableEntries = song_.timeTable() ? song_.entries : 0;
    s.lengthUs = QDSongLengthUs(s.playData.load(), s.playLength.load(), s.effectiveDivision.load());
    dropSeek();
    threadsResumed_ = false;
    playerThread_ = timer_.createThread([this] { playerThread(); });
    statusThread_ = timer_.createThread([this] { statusThread(); });
    return true;
  });
}

bool Player::release() {
  return QGuard("QDStreamReStart", false, [&]() -> bool {
    if (!playerThread_ || !statusThread_) throw std::logic_error("no player threads");
    s_.startUs = timer_.nowMicroseconds() - (s_.convertedFx.load() >> 16);
    s_.pause = 0;
    threadsResumed_ = true;
    playerThread_->resume();
    statusThread_->resume();
    return true;
  });
}

void Player::stop() {
  QGuardVoid("QDStreamStop", [&] {
    s_.resetPhaseEnd = 1;
    s_.stopFlag2 = 1;
    s_.endReached = 1;
    s_.startUs = timer_.nowMicroseconds() - (s_.convertedFx.load() >> 16);
    if (playerThread_) playerThread_->resume();
    if (statusThread_) statusThread_->resume();
    if (playerThread_ || statusThread_) threadsResumed_ = true;
  });
}

bool Player::pause() {
  return QGuard("QDStreamPause", false, [&]() -> bool {
    if (!playerThread_ || !threadsResumed_ || s_.endReached.load() || s_.stopFlag2.load()) return false;
    int32_t none = kQDPauseNone;
    return s_.pause.compare_exchange_strong(none, kQDPauseAsked);
  });
}

bool Player::resume() {
  return QGuard("QDStreamResume", false, [&]() -> bool {
    int32_t state = kQDPauseAsked;
    if (s_.pause.compare_exchange_strong(state, kQDPauseNone)) return true;  // not held yet
    if (state != kQDPauseHeld) return false;
    const int64_t now = timer_.nowMicroseconds();
    const int64_t held = now - s_.pauseStartUs.load();
    if (held > 0) s_.startUs.fetch_add(held);
    s_.lastCallbackUs.store(now);
    s_.pause.store(kQDPauseNone);
    return true;
  });
}

void Player::requestStop() {
  s_.stopFlag1 = -1;
  s_.stopFlag2 = -1;
}

int32_t Player::position() const {
  return QDTablePosition(s_.playTable.load(), s_.playTableEntries.load(), s_.markersNow());
}

bool Player::seek(int64_t ms) {
  return QGuard("QDStreamSeek", false, [&]() -> bool {
    TMIDIEXEState& s = s_;
    if (!playerThread_ || s.endReached.load() || s.stopFlag2.load() || !s.playData.load()) return false;
    auto plan = std::make_unique<QDSeekPlan>();
    plan->point = QDFindSongPoint(s.playData.load(), s.playLength.load(), std::max<int64_t>(ms, 0) * 1000,
                                  s.effectiveDivision.load(), &plan->chase);
    s.seekPendingMarkers.store(plan->point.markerIndex);
    s.seekPendingUs.store(plan->point.targetUs);
    delete seekPlan_.exchange(plan.release());  // a jump not yet made is replaced
    return true;
  });
}

void Player::dropSeek() {
  delete seekPlan_.exchange(nullptr);
  s_.seekPendingUs.store(-1);
}

int32_t Player::positionMs() const {
  const TMIDIEXEState& s = s_;
  if (!s.playData.load()) return 0;
  const int64_t pending = s.seekPendingUs.load();
  if (pending >= 0) return static_cast<int32_t>(pending / 1000);
  const int64_t now = s.pause.load() == kQDPauseHeld ? s.pauseStartUs.load() : timer_.nowMicroseconds();
  const int64_t us = std::clamp<int64_t>(now - s.startUs.load() - s.stallUs.load(), 0, s.lengthUs.load());
  return static_cast<int32_t>(us / 1000);
}
