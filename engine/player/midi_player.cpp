#include "engine/player/midi_player.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "support/guard.h"

namespace {

// The handle MIDIDISABLE hands out: every call succeeds and nothing sounds.
class SilentPort final : public MidiOutPort {
 public:
  MidiResult shortMessage(uint32_t) override { return kMidiOk; }
  MidiResult longMessage(const uint8_t*, uint32_t) override { return kMidiOk; }
  MidiResult reset() override { return kMidiOk; }
  MidiResult getVolume(uint32_t* volume) override {
    if (volume) *volume = 0xFFFFFFFFu;
    return kMidiOk;
  }
  MidiResult setVolume(uint32_t) override { return kMidiOk; }
  MidiResult close() override { return kMidiOk; }
};

void realSleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::atomic<void (*)(uint32_t)> g_sleeper{&realSleep};

// A device that keeps reporting "still playing" is given this many 1 ms
// retries before the close is abandoned, so a broken backend cannot hang
// the window thread.
constexpr int kCloseRetries = 5000;

bool disabled() { return QDPlayer().MIDIDISABLE.load() == 1; }

void recomputeEffectiveDivision(TMIDIEXEState& s) {
  int64_t base = s.baseDivision.load();
  int64_t speed = s.SPEED.load();
  int64_t eff = speed > 0 ? base * 256 / speed : base;
  if (eff < 1) eff = 1;
  if (eff > INT32_MAX) eff = INT32_MAX;
  s.effectiveDivision.store(static_cast<int32_t>(eff));
}

void recomputeTickLength(TMIDIEXEState& s) {
  int32_t eff = s.effectiveDivision.load();
  int32_t us = eff > 0 ? s.tempo.load() / eff : 1;
  s.usPerTick.store(us < 1 ? 1 : us);
}

void notify(int32_t code) {
  if (QDNotifyProc proc = QDPlayer().notifyProc.load()) proc(code);
}

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

TMIDIEXEState& QDPlayer() {
  static TMIDIEXEState state;
  return state;
}

void QDResetPlayer() {
  TMIDIEXEState& s = QDPlayer();
  for (auto& h : s.handles) {
    if (h) h->close();
    h.reset();
  }
  s.currentHandle.store(nullptr);
  s.DEVICEID1A = kMidiNoDevice;
  s.DEVICEID2A = kMidiNoDevice;
  s.DEVICEID1B = kMidiNoDevice;
  s.DEVICEID2B = kMidiNoDevice;
  s.RESETMODE = 0;
  s.detectedSetup = 0;
  s.MIDIDISABLE = 0;
  s.streamOpen = 0;
  s.markerIndex = 0;
  s.baseDivision = 0;
  s.SPEED = 0;
  s.effectiveDivision = 0;
  s.tempo = 500000;
  s.usPerTick = 1;
  s.longMessageMax = 32;
  std::memset(s.longBuffers, 0, sizeof s.longBuffers);
  s.longHeaders[0] = {};
  s.longHeaders[1] = {};
  s.stream = {};
  s.notifyProc = nullptr;
}

MidiOutPort* QDCurrentHandle() { return QDPlayer().currentHandle.load(); }

void QDSetNotifyProc(QDNotifyProc proc) { QDPlayer().notifyProc.store(proc); }

void QDSleep(uint32_t ms) { g_sleeper.load()(ms); }

void QDSetSleepFunction(void (*sleeper)(uint32_t)) {
  g_sleeper.store(sleeper ? sleeper : &realSleep);
}

MidiResult QDMidiOutOpen(int32_t deviceId, std::unique_ptr<MidiOutPort>* port) {
  return QGuard("QDMidiOutOpen", kMidiError, [&]() -> MidiResult {
    if (!port) return kMidiInvalidParam;
    if (disabled()) {
      *port = std::make_unique<SilentPort>();
      return kMidiOk;
    }
    std::unique_ptr<MidiOutPort> opened;
    MidiResult r = QDMidiSystem().open(deviceId, &opened);
    if (r == kMidiOk && !opened) r = kMidiError;
    if (r == kMidiOk) *port = std::move(opened);
    return r;
  });
}

MidiResult QDMidiOutClose(MidiOutPort* port) {
  return QGuard("QDMidiOutClose", kMidiError, [&]() -> MidiResult {
    if (disabled()) return kMidiOk;
    if (!port) return kMidiInvalidParam;
    return port->close();
  });
}

// Preparing only records the buffer: the device interface takes whole
// messages, so nothing has to be locked for the system.
MidiResult QDmidiOutPrepareHeader(MidiOutPort* port, QDLongHeader* header) {
  return QGuard("QDmidiOutPrepareHeader", kMidiError, [&]() -> MidiResult {
    if (disabled()) return kMidiOk;
    if (!port || !header || !header->data || header->bufferLength == 0 ||
        header->bufferLength > kLongMessageBufferSize)
      return kMidiInvalidParam;
    header->flags |= kQDHeaderPrepared;
    return kMidiOk;
  });
}

MidiResult QDmidiOutUnprepareHeader(MidiOutPort* port, QDLongHeader* header) {
  return QGuard("QDmidiOutUnprepareHeader", kMidiError, [&]() -> MidiResult {
    if (disabled()) return kMidiOk;
    if (!port || !header) return kMidiInvalidParam;
    header->flags &= ~kQDHeaderPrepared;
    header->bytesRecorded = 0;
    return kMidiOk;
  });
}

bool QDStreamOpen() {
  return QGuard("QDStreamOpen", false, [&] {
    TMIDIEXEState& s = QDPlayer();
    s.markerIndex = 0;
    s.stream.data = nullptr;
    s.stream.bufferLength = 0;
    s.stream.bytesRecorded = 0;
    s.stream.position = 0;
    s.currentHandle.store(nullptr);
    s.streamOpen = 1;
    QDSleep(41);
    bool lastOk = true;
    for (int out = 0; out < kQDOutputs; ++out) {
      int32_t id = s.deviceId(out);
      if (id == kMidiNoDevice) continue;
      if (s.handles[out]) {  // still open from an earlier song: close it first
        QDMidiOutClose(s.handles[out].get());
        s.handles[out].reset();
      }
      lastOk = QDMidiOutOpen(id, &s.handles[out]) == kMidiOk;
      if (lastOk && !s.currentHandle.load()) s.currentHandle.store(s.handles[out].get());
    }
    notify(kQDNotifyOpen);
    return lastOk;
  });
}

MidiResult QDStreamClose() {
  return QGuard("QDStreamClose", kMidiError, [&]() -> MidiResult {
    TMIDIEXEState& s = QDPlayer();
    QDSleep(41);
    MidiResult last = kMidiOk;
    for (int out = 0; out < kQDOutputs; ++out) {
      MidiOutPort* port = s.handles[out].get();
      if (!port) continue;
      if (!disabled()) port->reset();
      int tries = 0;
      do {
        QDSleep(1);
        last = QDMidiOutClose(port);
      } while (last == kMidiStillPlaying && ++tries < kCloseRetries);
    }
    if (last == kMidiOk) {
      s.currentHandle.store(nullptr);
      for (auto& h : s.handles) h.reset();
    }
    notify(kQDNotifyClosed);
    s.streamOpen = 0;
    return last;
  });
}

void QDSetTimeDiv(int32_t division) {
  TMIDIEXEState& s = QDPlayer();
  s.baseDivision.store(division);
  recomputeEffectiveDivision(s);
  recomputeTickLength(s);
}

void QDSetSpeed(int32_t speed) {
  TMIDIEXEState& s = QDPlayer();
  s.SPEED.store(speed);
  recomputeEffectiveDivision(s);
}

int32_t QDOutStreamHeader() {
  return QGuard("QDOutStreamHeader", int32_t{-1}, [&]() -> int32_t {
    TMIDIEXEState& s = QDPlayer();
    int32_t result = 1;  // no port A device open
    uint32_t length = static_cast<uint32_t>(s.longMessageMax.load());
    if (length > kLongMessageBufferSize) length = kLongMessageBufferSize;
    for (int i = 0; i < 2; ++i) {
      MidiOutPort* port = s.handles[kPortAOutputs[i]].get();
      if (!port) continue;
      std::memset(s.longBuffers[i], 0, kLongMessageBufferSize);
      s.longHeaders[i] = {};
      s.longHeaders[i].data = s.longBuffers[i];
      s.longHeaders[i].bufferLength = length;
      result = QDmidiOutPrepareHeader(port, &s.longHeaders[i]);
    }
    if (result != 0) return result;
    s.tempo = 500000;
    if (s.effectiveDivision.load() <= 0) QDSetTimeDiv(48);
    recomputeTickLength(s);
    return 0;
  });
}

int32_t QDOutUnPreperHeader() {
  return QGuard("QDOutUnPreperHeader", int32_t{-1}, [&]() -> int32_t {
    TMIDIEXEState& s = QDPlayer();
    QDSleep(41);
    MidiResult last = kMidiOk;
    for (int i = 0; i < 2; ++i) {
      MidiOutPort* port = s.handles[kPortAOutputs[i]].get();
      if (!port) continue;
      // Messages are sent whole and synchronously, so nothing is still
      // playing from the buffer when it is released.
      last = QDmidiOutUnprepareHeader(port, &s.longHeaders[i]);
    }
    return last;
  });
}
