#include "engine/player/output_status.h"

#include <algorithm>
#include <functional>
#include <memory>

#include "engine/player/midi_player.h"
#include "support/guard.h"

namespace {

// The current time-table entry: the one the marker index points at.
const TimeTableEntry* currentEntry(const TMIDIEXEState& s, const PackedSong& song) {
  int32_t index = s.markersNow();
  if (!song.timeTable() || index < 0 || static_cast<uint32_t>(index) >= song.entries) return nullptr;
  return &song.timeTable()[index];
}

const TimeTableEntry* lastEntry(const PackedSong& song) {
  if (!song.timeTable() || song.entries == 0) return nullptr;
  return &song.timeTable()[song.entries - 1];
}

int32_t songPosition(const TMIDIEXEState& s, const TimeTableEntry* e) {
  return e ? QDPositionValue(e->position, s.tickDivision.load()) : 0;
}

}  // namespace

int32_t QDPositionValue(int32_t code, int32_t tickDivision) {
  // Without a division handed over, the converter's own default.
  if (tickDivision < 1) tickDivision = 960;
  int64_t bars = code / 10000;
  int64_t ticks = code - bars * 10000;
  return static_cast<int32_t>(bars * 10000 + ticks * 1000 / tickDivision);
}

int32_t QDTempoValue(int32_t tempo) {
  if (tempo <= 0) return 120;
  return static_cast<int32_t>((int64_t{tempo} + 59999999) / tempo);
}

int32_t QDTimeSignatureValue(uint32_t hyosi) {
  int32_t numerator = static_cast<int32_t>(hyosi >> 24);
  if (numerator == 0) numerator = 4;
  int32_t denominator;
  switch ((hyosi >> 16) & 0xFF) {
    case 1: denominator = 2; break;
    case 3: denominator = 8; break;
    case 4: denominator = 16; break;
    case 5: denominator = 32; break;
    case 6: denominator = 64; break;
    default: denominator = 4; break;
  }
  return numerator * 1000 + denominator;
}

void Player::setDisplaySelector(int k, int32_t selector) {
  if (k >= 1 && k <= 4) s_.selectors[k - 1].store(selector);
}

int32_t Player::displaySelector(int k) const { return k >= 1 && k <= 4 ? s_.selectors[k - 1].load() : 0; }

int32_t Player::displayValue(int k) {
  if (k < 1 || k > 4) return 0;
  TMIDIEXEState& s = s_;
  switch (s.selectors[k - 1].load()) {
    case kQDShowPosition: return songPosition(s, currentEntry(s, song_));
    case kQDShowAccumulator: return static_cast<int32_t>(s.tickAccumulator.load());
    case kQDShowTempo: return QDTempoValue(s.tempo.load());
    case kQDShowTimeSignature: return QDTimeSignatureValue(s.hyosi.load());
    case kQDShowLevel: return levelValue();
    default: {
      const TimeTableEntry* e = currentEntry(s, song_);
      return e ? static_cast<int32_t>(e->ms) : 0;
    }
  }
}

int32_t Player::totalValue(int k) {
  if (k < 1 || k > 2) return 0;
  TMIDIEXEState& s = s_;
  const TimeTableEntry* last = lastEntry(song_);
  switch (s.selectors[k - 1].load()) {
    case kQDShowPosition: return songPosition(s, last);
    case kQDShowAccumulator: return static_cast<int32_t>(s.totalTicks.load());
    // The table keeps no tempo: its time-signature word stands in.
    case kQDShowTempo: return last ? static_cast<int32_t>(last->hyosi) : 120;
    default: return last ? static_cast<int32_t>(last->ms) : 0;
  }
}

int32_t Player::levelValue() {
  TMIDIEXEState& s = s_;
  auto product = [&](int ch) {
    int32_t velocity = (s.levels[ch].load() >> 16) & 0xFF;
    int32_t volume = (s.lastVolume[ch].load() >> 16) & 0xFF;
    return velocity * volume;
  };
  int32_t chosen = s.OUTSTATUSCH.load();
  int32_t result = 0;
  if (chosen >= 0 && chosen < kQDLevelChannels) {
    result = product(chosen);
  } else {
    for (int ch = 0; ch < kQDLevelChannels; ++ch) result = std::max(result, product(ch));
  }
  // Decay: a note-on that came in between keeps its level.
  for (auto& level : s.levels) {
    int32_t old = level.load();
    int32_t decayed = ((old >> 16) & 0xFF) * 0xFC00;
    level.compare_exchange_strong(old, decayed);
  }
  return result;
}

// --- Volume and balance --------------------------------------------------------

uint32_t QDPackVolume(int32_t volume, int32_t balance) {
  volume = std::clamp(volume, 0, 100);
  balance = std::clamp(balance, 0, 100);
  uint32_t v = static_cast<uint32_t>(volume) * 65535 / 100;
  uint32_t left = balance <= 50 ? v : v * static_cast<uint32_t>(100 - balance) / 50;
  uint32_t right = balance <= 50 ? static_cast<uint32_t>(balance) * v / 50 : v;
  return left | right << 16;
}

void QDUnpackVolume(uint32_t packed, int32_t* volume, int32_t* balance) {
  int32_t left = static_cast<int32_t>(packed & 0xFFFF);
  int32_t right = static_cast<int32_t>(packed >> 16);
  if (right < left) {
    *balance = right * 50 / left;
    *volume = left * 100 / 65536;
  } else {
    *volume = right * 100 / 65536;
    *balance = right == 0 ? 50 : 100 - left * 50 / right;
  }
}

// Volume and balance go to every output in use that has a volume, through
// its open handle or opened for the call. While the worker opens or closes
// the outputs, the stored values stand in.
namespace {

template <class F>
void eachVolumeOutput(TMIDIEXEState& s, MidiOutSystem& system, F&& f) {
  for (int out = 0; out < kQDOutputs; ++out) {
    int32_t id = s.deviceId(out);
    if (id == kMidiNoDevice || !system.supportsVolume(id)) continue;
    if (!f(out, id)) return;
  }
}

// Runs call on the output's open handle, or opens the device for it.
MidiResult onDevice(TMIDIEXEState& s, MidiOutSystem& system, int out, int32_t id,
                    const std::function<MidiResult(MidiOutPort*)>& call) {
  if (MidiOutPort* open = s.handles[out].get()) return call(open);
  std::unique_ptr<MidiOutPort> port;
  MidiResult r = system.open(id, &port);
  if (r != kMidiOk || !port) return r == kMidiOk ? kMidiError : r;
  r = call(port.get());
  port->close();
  return r;
}

void readDeviceVolume(TMIDIEXEState& s, MidiOutSystem& system) {
  if (s.MIDIDISABLE.load() == 1) return;  // no device is touched
  eachVolumeOutput(s, system, [&](int out, int32_t id) {
    uint32_t packed = 0;
    if (onDevice(s, system, out, id, [&](MidiOutPort* p) { return p->getVolume(&packed); }) != kMidiOk)
      return true;
    int32_t volume = 0, balance = 0;
    QDUnpackVolume(packed, &volume, &balance);
    s.DEVVOLUME.store(volume);
    s.DEVBALANCE.store(balance);
    return false;
  });
}

void writeDeviceVolume(TMIDIEXEState& s, MidiOutSystem& system) {
  if (s.MIDIDISABLE.load() == 1) return;
  uint32_t packed = QDPackVolume(s.DEVVOLUME.load(), s.DEVBALANCE.load());
  eachVolumeOutput(s, system, [&](int out, int32_t id) {
    onDevice(s, system, out, id, [&](MidiOutPort* p) { return p->setVolume(packed); });
    return true;
  });
}

}  // namespace

int32_t Player::deviceVolume() {
  if (!busy_.load()) QGuardVoid("TMIDIEXE.getDEVVOLUME", [&] { readDeviceVolume(s_, devices_); });
  return s_.DEVVOLUME.load();
}

int32_t Player::deviceBalance() {
  if (!busy_.load()) QGuardVoid("TMIDIEXE.getDEVBALANCE", [&] { readDeviceVolume(s_, devices_); });
  return s_.DEVBALANCE.load();
}

void Player::setDeviceVolume(int32_t volume) {
  s_.DEVVOLUME.store(std::clamp(volume, 0, 100));
  if (!busy_.load()) QGuardVoid("TMIDIEXE.setDEVVOLUME", [&] { writeDeviceVolume(s_, devices_); });
}

void Player::setDeviceBalance(int32_t balance) {
  s_.DEVBALANCE.store(std::clamp(balance, 0, 100));
  if (!busy_.load()) QGuardVoid("TMIDIEXE.setDEVBALANCE", [&] { writeDeviceVolume(s_, devices_); });
}
