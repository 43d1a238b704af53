#include "engine/player/midi_player.h"

#include <cstring>

#include "engine/player/player_internal.h"
#include "engine/player/reset_sequences.h"
#include "engine/player/stream_dispatch.h"
#include "support/guard.h"

namespace {

void timerSleep(uint32_t ms) { QDTimerSystem().sleep(ms); }

std::atomic<void (*)(uint32_t)> g_sleeper{&timerSleep};

// A device that keeps reporting "still playing" is given this many 1 ms
// retries before the close is abandoned, so a broken backend cannot hang
// the window thread.
constexpr int kCloseRetries = 5000;

bool disabled() { return QDPlayer().MIDIDISABLE.load() == 1; }

void recomputeEffectiveDivision(TMIDIEXEState& s) {
  s.effectiveDivision.store(QDEffectiveDivision(s.baseDivision.load(), s.SPEED.load()));
}

void notify(int32_t code) {
  if (QDNotifyProc proc = QDPlayer().notifyProc.load()) proc(code);
}

// Port A devices and the long-message buffer each one uses.
constexpr int kPortAOutputs[2] = {kQDPortAFirst, kQDPortASecond};

}  // namespace

void QDRecomputeTickLength(TMIDIEXEState& s) {
  int64_t eff = s.effectiveDivision.load();
  int64_t tempo = s.tempo.load();
  if (eff < 1) eff = 1;
  if (tempo < 0) tempo = 0;
  int64_t us = tempo / eff;
  s.usPerTick.store(static_cast<int32_t>(us < 1 ? 1 : us));
  s.tickLengthFx.store(QDTickLengthFx(tempo, eff));
}

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
  // Threads first: they use the devices and the timer.
  QDEndThreads(s);
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
  s.resetKind = kResetEmpty;
  s.detectedSetup = 0;
  s.MIDIDISABLE = 0;
  s.TIMERMIDI = 4;
  s.TIMERWRD = 16;
  s.TITLEVISIBLE = 0;
  s.DEVVOLUME = 100;
  s.DEVBALANCE = 50;
  s.OUTSTATUSCH = 0;
  for (auto& sel : s.selectors) sel = 0;
  s.TIMEROUTSTATUS = 32;
  s.TIMERSCORE = 32;
  s.STEPTIME = 1;
  s.OUTSTATUSENABLE = -1;
  s.EXTOPTION1 = 0;
  s.EXTOPTION2 = 0;
  s.EXTOPTION3 = 0;
  s.EXTOPTION4 = 0;
  s.streamOpen = 0;
  s.baseDivision = 0;
  s.SPEED = 0;
  s.effectiveDivision = 0;
  s.tempo = 500000;
  s.usPerTick = 1;
  s.tickLengthFx = int64_t{1} << 16;
  s.longMessageMax = 32;
  s.tickDivision = 0;
  s.hyosi = 0x04020000;
  std::memset(s.longBuffers, 0, sizeof s.longBuffers);
  s.longHeaders[0] = {};
  s.longHeaders[1] = {};
  s.stream = {};
  s.stopFlag1 = 0;
  s.stopFlag2 = 0;
  s.endReached = 0;
  s.resetPhaseEnd = 0;
  s.pause = 0;
  s.pauseStartUs = 0;
  std::memset(s.sounding, 0, sizeof s.sounding);
  s.statusEnded = 0;
  s.playerExitCode = 0;
  s.statusExitCode = 0;
  s.playData = nullptr;
  s.playLength = 0;
  s.playTable = nullptr;
  s.playTableEntries = 0;
  s.startUs = 0;
  s.stallUs = 0;
  s.lastCallbackUs = 0;
  s.convertedFx = 0;
  s.tickAccumulator = 0;
  s.pendingDelta = 0;
  s.totalTicks = 0;
  s.markerIndex = 0;
  s.readOffset = 0;
  s.periodInForce = 0;
  s.timerId = 0;
  s.resetReadOffset = 0;
  s.resetElapsed = 0;
  s.resetPendingDelta = 0;
  for (auto& l : s.levels) l = 0;
  for (auto& v : s.lastVolume) v = 0;
  s.notifyProc = nullptr;
  s.statusProc = nullptr;
  s.statusSink = 0;
  s.lastStatusMs = 0;
  s.wrdHook = nullptr;
  s.wrdDisplayOn = -1;
}

void QDEndThreads(TMIDIEXEState& s) {
  if (s.threadsResumed && ((s.playerThread && !s.playerThread->finished()) ||
                           (s.statusThread && !s.statusThread->finished()))) {
    // Still playing (no stop was asked for): stop first.
    s.resetPhaseEnd = 1;
    s.stopFlag1 = 1;
    s.stopFlag2 = 1;
    s.endReached = 1;
  }
  // Threads never let run end without running.
  s.playerThread.reset();
  s.statusThread.reset();
  s.threadsResumed = false;
  s.playTable = nullptr;
  s.playTableEntries = 0;
}

MidiOutPort* QDCurrentHandle() { return QDPlayer().currentHandle.load(); }

void QDSetNotifyProc(QDNotifyProc proc) { QDPlayer().notifyProc.store(proc); }
void QDSetStatusProc(QDStatusProc proc) { QDPlayer().statusProc.store(proc); }
void QDSetStatusSink(bool registered) { QDPlayer().statusSink.store(registered ? -1 : 0); }
void QDSetWrdHook(QDWrdHook hook) { QDPlayer().wrdHook.store(hook); }
void QDSetWrdDisplay(bool on) { QDPlayer().wrdDisplayOn.store(on ? -1 : 0); }

void QDSetSongInfo(int32_t tickDivision, uint32_t hyosi) {
  QDPlayer().tickDivision.store(tickDivision);
  QDPlayer().hyosi.store(hyosi);
}

void QDSleep(uint32_t ms) { g_sleeper.load()(ms); }

void QDSetSleepFunction(void (*sleeper)(uint32_t)) {
  g_sleeper.store(sleeper ? sleeper : &timerSleep);
}

MidiResult QDMidiOutOpen(int32_t deviceId, std::unique_ptr<MidiOutPort>* port) {
  return QGuard("QDMidiOutOpen", kMidiError, [&]() -> MidiResult {
    if (!port) return kMidiInvalidParam;
    if (disabled()) {
      *port = std::make_unique<SilentMidiPort>();
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

// These run on the timer thread for every message: a failure is a result,
// never a trace entry (the timer path writes no files).
MidiResult QDmidiOutShortMsg(MidiOutPort* port, uint32_t message) {
  try {
    if (disabled()) return kMidiOk;
    if (!port) return kMidiInvalidHandle;
    return port->shortMessage(message);
  } catch (...) {
    return -1;
  }
}

MidiResult QDmidiOutLongMsg(MidiOutPort* port, QDLongHeader* header) {
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

MidiResult QDmidiOutReset(MidiOutPort* port) {
  try {
    if (disabled()) return kMidiOk;
    if (!port) return kMidiInvalidHandle;
    return port->reset();
  } catch (...) {
    return -1;
  }
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
      if (lastOk) s.handles[out]->servePort(QDPortOfOutput(out));
      if (lastOk && !s.currentHandle.load()) s.currentHandle.store(s.handles[out].get());
    }
    notify(kQDNotifyOpen);
    return lastOk;
  });
}

MidiResult QDStreamClose() {
  return QGuard("QDStreamClose", kMidiError, [&]() -> MidiResult {
    TMIDIEXEState& s = QDPlayer();
    s.pause = 0;
    // The threads go before the devices: a device is never closed under a
    // running timer.
    QDEndThreads(s);
    QDSleep(41);
    MidiResult last = kMidiOk;
    for (int out = 0; out < kQDOutputs; ++out) {
      MidiOutPort* port = s.handles[out].get();
      if (!port) continue;
      QDmidiOutReset(port);
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
  QDRecomputeTickLength(s);
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
      if (result != 0) return result;
    }
    if (result != 0) return result;
    s.tempo = 500000;
    if (s.effectiveDivision.load() <= 0) QDSetTimeDiv(48);
    QDRecomputeTickLength(s);
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
