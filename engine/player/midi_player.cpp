#include "engine/player/midi_player.h"

#include <cstring>

#include "engine/player/reset_sequences.h"
#include "engine/player/stream_dispatch.h"
#include "support/guard.h"

namespace {

// A device that keeps reporting "still playing" is given this many 1 ms
// retries before the close is abandoned, so a broken backend cannot hang
// the player.
constexpr int kCloseRetries = 5000;

// Port A devices and the long-message buffer each one uses.
constexpr int kPortAOutputs[2] = {kQDPortAFirst, kQDPortASecond};

}  // namespace

int32_t TMIDIEXEState::deviceId(int output) const {
  switch (output) {
    case kQDPortAFirst: return DEVICEID1A.load();
    case kQDPortBFirst: return DEVICEID2A.load();
    case kQDPortASecond: return DEVICEID1B.load();
    case kQDPortBSecond: return DEVICEID2B.load();
    default: return kMidiNoDevice;
  }
}

int32_t QDTickMicroseconds(int64_t tempo, int64_t eff) {
  if (eff < 1) eff = 1;
  if (tempo < 0) tempo = 0;
  const int64_t us = tempo / eff;
  return static_cast<int32_t>(us < 1 ? 1 : us);
}

Player::Player(MidiOutSystem& devices, TimerSystem& timer, ResultCode& result)
    : devices_(devices), timer_(timer), result_(result) {}

Player::~Player() {
  setListener(nullptr);
  // The worker first (it may be closing), then what is left open.
  worker_.reset();
  retired_.clear();
  endThreads();
  for (auto& h : s_.handles) {
    if (h) h->close();
    h.reset();
  }
  s_.currentHandle.store(nullptr);
}

void Player::recomputeTickLength() {
  const int64_t eff = s_.effectiveDivision.load();
  const int64_t tempo = s_.tempo.load();
  s_.usPerTick.store(QDTickMicroseconds(tempo, eff));
  s_.tickLengthFx.store(QDTickLengthFx(tempo, eff < 1 ? 1 : eff));
}

void Player::recomputeEffectiveDivision() {
  s_.effectiveDivision.store(QDEffectiveDivision(s_.baseDivision.load(), s_.SPEED.load()));
}

void Player::setTimeDivision(int32_t division) {
  s_.baseDivision.store(division);
  recomputeEffectiveDivision();
  recomputeTickLength();
}

void Player::setSpeed(int32_t speed) {
  s_.SPEED.store(speed);
  recomputeEffectiveDivision();
}

void Player::setResetMode(int32_t mode) {
  s_.RESETMODE.store(mode);
  s_.resetKind.store(subResetMode(mode));
}

void Player::setSongInfo(int32_t tickDivision, uint32_t hyosi) {
  s_.tickDivision.store(tickDivision);
  s_.hyosi.store(hyosi);
}

// --- Device calls -------------------------------------------------------------

MidiResult Player::openDevice(int32_t deviceId, std::unique_ptr<MidiOutPort>* port) {
  return QGuard("QDMidiOutOpen", kMidiError, [&]() -> MidiResult {
    if (!port) return kMidiInvalidParam;
    if (disabled()) {
      *port = std::make_unique<SilentMidiPort>();
      return kMidiOk;
    }
    std::unique_ptr<MidiOutPort> opened;
    MidiResult r = devices_.open(deviceId, &opened);
    if (r == kMidiOk && !opened) r = kMidiError;
    if (r == kMidiOk) *port = std::move(opened);
    return r;
  });
}

MidiResult Player::closeDevice(MidiOutPort* port) {
  return QGuard("QDMidiOutClose", kMidiError, [&]() -> MidiResult {
    if (disabled()) return kMidiOk;
    if (!port) return kMidiInvalidParam;
    return port->close();
  });
}

// Preparing only records the buffer: the device interface takes whole
// messages, so nothing has to be locked for the system.
MidiResult Player::prepareHeader(MidiOutPort* port, QDLongHeader* header) {
  return QGuard("QDmidiOutPrepareHeader", kMidiError, [&]() -> MidiResult {
    if (disabled()) return kMidiOk;
    if (!port || !header || !header->data || header->bufferLength == 0 ||
        header->bufferLength > kLongMessageBufferSize)
      return kMidiInvalidParam;
    header->flags |= kQDHeaderPrepared;
    return kMidiOk;
  });
}

MidiResult Player::unprepareHeader(MidiOutPort* port, QDLongHeader* header) {
  return QGuard("QDmidiOutUnprepareHeader", kMidiError, [&]() -> MidiResult {
    if (disabled()) return kMidiOk;
    if (!port || !header) return kMidiInvalidParam;
    header->flags &= ~kQDHeaderPrepared;
    header->bytesRecorded = 0;
    return kMidiOk;
  });
}

// These run on the timer thread for every message: a failure is a result,
// never a trace entry (the timer path writes no files).
MidiResult Player::sendShort(MidiOutPort* port, uint32_t message) {
  try {
    if (disabled()) return kMidiOk;
    if (!port) return kMidiInvalidHandle;
    return port->shortMessage(message);
  } catch (...) {
    return -1;
  }
}

MidiResult Player::sendLong(MidiOutPort* port, QDLongHeader* header) {
  try {
    if (disabled()) return kMidiOk;
    if (!port || !header || !header->data) return kMidiInvalidHandle;
    if (header->bytesRecorded == 0 || header->bytesRecorded > kLongMessageBufferSize)
      return kMidiInvalidParam;
    return port->longMessage(header->data, header->bytesRecorded);
  } catch (...) {
    return -1;
  }
}

MidiResult Player::resetDevice(MidiOutPort* port) {
  try {
    if (disabled()) return kMidiOk;
    if (!port) return kMidiInvalidHandle;
    return port->reset();
  } catch (...) {
    return -1;
  }
}

// --- Opening and closing --------------------------------------------------------

bool Player::onWorker(void (Player::*job)()) {
  bool idle = false;
  if (!busy_.compare_exchange_strong(idle, true)) return false;
  // A worker that has reported may still be returning: it is kept until it has.
  if (worker_) retired_.push_back(std::move(worker_));
  std::erase_if(retired_, [](const std::unique_ptr<TimedThread>& t) { return t->finished(); });
  worker_ = timer_.createThread([this, job] { (this->*job)(); });
  worker_->resume();
  return true;
}

bool Player::openOutputs() {
  return QGuard("QDStreamOpen", false, [&] {
    s_.markerIndex = 0;
    s_.currentHandle.store(nullptr);
    s_.streamOpen = 1;
    timer_.sleep(kQDSettleMs);
    bool lastOk = true;
    for (int out = 0; out < kQDOutputs; ++out) {
      const int32_t id = s_.deviceId(out);
      if (id == kMidiNoDevice) continue;
      if (s_.handles[out]) {  // still open from an earlier song: close it first
        closeDevice(s_.handles[out].get());
        s_.handles[out].reset();
      }
      lastOk = openDevice(id, &s_.handles[out]) == kMidiOk;
      if (lastOk) s_.handles[out]->servePort(QDPortOfOutput(out));
      if (lastOk && !s_.currentHandle.load()) s_.currentHandle.store(s_.handles[out].get());
    }
    return lastOk;
  });
}

void Player::openJob() {
  const bool ok = openOutputs();
  busy_ = false;
  if (PlayerListener* l = listener()) l->playerOpened(ok);
}

bool Player::openAsync() { return onWorker(&Player::openJob); }

bool Player::open() {
  if (busy_.load()) return false;
  const bool ok = openOutputs();
  if (PlayerListener* l = listener()) l->playerOpened(ok);
  return ok;
}

void Player::releaseHeaders() {
  QGuardVoid("QDOutUnPreperHeader", [&] {
    timer_.sleep(kQDSettleMs);
    for (int i = 0; i < 2; ++i) {
      MidiOutPort* port = s_.handles[kPortAOutputs[i]].get();
      // Messages are sent whole and synchronously, so nothing is still
      // playing from the buffer when it is released.
      if (port) unprepareHeader(port, &s_.longHeaders[i]);
    }
  });
}

MidiResult Player::closeOutputs() {
  return QGuard("QDStreamClose", kMidiError, [&]() -> MidiResult {
    s_.pause = 0;
    // The threads go before the devices: a device is never closed under a
    // running timer.
    endThreads();
    if (headersPrepared_) releaseHeaders();
    headersPrepared_ = false;
    timer_.sleep(kQDSettleMs);
    MidiResult last = kMidiOk;
    for (int out = 0; out < kQDOutputs; ++out) {
      MidiOutPort* port = s_.handles[out].get();
      if (!port) continue;
      resetDevice(port);
      int tries = 0;
      do {
        timer_.sleep(1);
        last = closeDevice(port);
      } while (last == kMidiStillPlaying && ++tries < kCloseRetries);
    }
    if (last == kMidiOk) {
      s_.currentHandle.store(nullptr);
      for (auto& h : s_.handles) h.reset();
    }
    s_.streamOpen = 0;
    return last;
  });
}

void Player::closeJob() {
  const MidiResult r = closeOutputs();
  busy_ = false;
  if (PlayerListener* l = listener()) l->playerClosed(r);
}

bool Player::closeAsync() { return onWorker(&Player::closeJob); }

MidiResult Player::close() {
  if (busy_.load()) return kMidiError;
  const MidiResult r = closeOutputs();
  forgetSong();
  if (PlayerListener* l = listener()) l->playerClosed(r);
  return r;
}

void Player::endThreads() {
  if (threadsResumed_ && ((playerThread_ && !playerThread_->finished()) ||
                          (statusThread_ && !statusThread_->finished()))) {
    // Still playing (no stop was asked for): stop first.
    s_.resetPhaseEnd = 1;
    s_.stopFlag1 = 1;
    s_.stopFlag2 = 1;
    s_.endReached = 1;
  }
  // Threads never let run end without running.
  playerThread_.reset();
  statusThread_.reset();
  threadsResumed_ = false;
  s_.playData = nullptr;
  s_.playLength = 0;
  s_.playTable = nullptr;
  s_.playTableEntries = 0;
}

// --- The song -------------------------------------------------------------------

bool Player::take(PackedSong song) {
  return QGuard("QDOutStreamHeader", false, [&] {
    song_ = std::move(song);
    s_.detectedSetup = song_.detectedSetup;
    if (song_.division > 0) setTimeDivision(song_.division);
    if (!currentHandle()) {
      result_.set(kQDErrNoOutput);
      return false;
    }
    s_.longMessageMax = static_cast<int32_t>(song_.longMessageMax);
    uint32_t length = song_.longMessageMax;
    if (length > kLongMessageBufferSize) length = kLongMessageBufferSize;
    for (int i = 0; i < 2; ++i) {
      MidiOutPort* port = s_.handles[kPortAOutputs[i]].get();
      if (!port) continue;
      std::memset(s_.longBuffers[i], 0, kLongMessageBufferSize);
      s_.longHeaders[i] = {};
      s_.longHeaders[i].data = s_.longBuffers[i];
      s_.longHeaders[i].bufferLength = length;
      if (prepareHeader(port, &s_.longHeaders[i]) != kMidiOk) {
        result_.set(kQDErrHeaders);
        return false;
      }
    }
    if (!s_.handles[kQDPortAFirst] && !s_.handles[kQDPortASecond]) {
      result_.set(kQDErrHeaders);  // no port A device to send from
      return false;
    }
    s_.tempo = 500000;
    if (s_.effectiveDivision.load() <= 0) setTimeDivision(48);
    recomputeTickLength();
    headersPrepared_ = song_.length > 0;
    return true;
  });
}
