#include "engine/player/song_chase.h"

#include <algorithm>
#include <unordered_map>

namespace {

enum Kind : uint64_t { kController = 1, kProgram, kChannelPressure, kBend, kKeyPressure, kParameter, kSelection };

constexpr uint32_t kBankMsb = 0, kBankLsb = 32;
constexpr uint32_t kDataMsb = 6, kDataLsb = 38, kDataIncrement = 96, kDataDecrement = 97;
constexpr uint32_t kNrpnLsb = 98, kNrpnMsb = 99, kRpnLsb = 100, kRpnMsb = 101;
constexpr uint32_t kAllSoundOff = 120, kAllNotesOff = 123;
constexpr int kNull = 127;  // a parameter number of 127/127 selects nothing
// Tick lengths are whole 1/65536 µs, so song times run a little early over a
// long song: a record this close before the target is the target's music.
constexpr int64_t kAtTargetFx = int64_t{100} << 16;

uint64_t KeyOf(int port, uint32_t channel, Kind kind, uint32_t param) {
  return uint64_t(port) << 40 | uint64_t(channel) << 32 | uint64_t(kind) << 24 | param;
}

uint32_t Cc(uint32_t channel, uint32_t controller, int value) {
  return 0xB0 | channel | controller << 8 | static_cast<uint32_t>(value & 0x7F) << 16;
}

// What a controller is before a song sets it (the values a GM/GS reset
// leaves): volume 100, pan and the sound controllers centred, expression
// full, reverb 40; everything else 0.
int ControllerDefault(uint32_t controller) {
  switch (controller) {
    case 7: return 100;
    case 10: return 64;
    case 11: return 127;
    case 91: return 40;
    default: return controller >= 71 && controller <= 79 ? 64 : 0;
  }
}

// The registers of one channel that decide what a data entry changes.
struct ChannelRegisters {
  int bank[2] = {-1, -1};  // MSB, LSB; -1 never set
  int rpn[2] = {kNull, kNull};
  int nrpn[2] = {kNull, kNull};
  bool rpnSet = false, nrpnSet = false;
  bool nrpnSelected = false;  // the kind selected last
  uint32_t parameter() const {
    const int* n = nrpnSelected ? nrpn : rpn;
    return (nrpnSelected ? 1u << 14 : 0u) | static_cast<uint32_t>(n[0]) << 7 | static_cast<uint32_t>(n[1]);
  }
  bool selectsNothing() const {
    const int* n = nrpnSelected ? nrpn : rpn;
    return n[0] == kNull && n[1] == kNull;
  }
};

struct ParameterValue {
  int msb = 0, lsb = -1;
};

class Collector {
 public:
  explicit Collector(QDChase& chase) : chase_(chase) {}

  // A record before the target.
  void take(uint32_t offset, const StreamRecordView& r) {
    if (r.kind() == kRecLong) {
      QDChaseItem item;
      item.order = offset;
      item.longOffset = offset;
      chase_.items.push_back(item);
    } else if (r.kind() == kRecShort) {
      shortMessage(offset, r.portB() ? 1 : 0, r.data);
    }
  }
  // A record after the target: only what the song sets for the first time there.
  void takeLater(const StreamRecordView& r) {
    if (r.kind() != kRecShort) return;
    later_ = true;
    shortMessage(0, r.portB() ? 1 : 0, r.data);
    later_ = false;
  }
  void finish() {
    std::stable_sort(chase_.items.begin(), chase_.items.end(),
                     [](const QDChaseItem& a, const QDChaseItem& b) { return a.order < b.order; });
  }

 private:
  void shortMessage(uint32_t offset, int port, uint32_t message) {
    const uint32_t status = message & 0xF0, channel = message & 0x0F;
    const uint32_t d1 = (message >> 8) & 0x7F, d2 = (message >> 16) & 0x7F;
    switch (status) {
      case 0xA0: set(offset, port, KeyOf(port, channel, kKeyPressure, d1), {message}, {0xA0 | channel | d1 << 8}); break;
      case 0xB0: controller(offset, port, channel, d1, static_cast<int>(d2)); break;
      case 0xC0: program(offset, port, channel, message); break;
      case 0xD0: set(offset, port, KeyOf(port, channel, kChannelPressure, 0), {message}, {0xD0 | channel}); break;
      case 0xE0: set(offset, port, KeyOf(port, channel, kBend, 0), {message}, {0xE0 | channel | 0x40u << 16}); break;
      default: break;  // notes and system messages
    }
  }

  void program(uint32_t offset, int port, uint32_t channel, uint32_t message) {
    const ChannelRegisters& reg = registers_[port][channel];
    std::vector<uint32_t> messages;
    if (reg.bank[0] >= 0) messages.push_back(Cc(channel, kBankMsb, reg.bank[0]));
    if (reg.bank[1] >= 0) messages.push_back(Cc(channel, kBankLsb, reg.bank[1]));
    messages.push_back(message);
    set(offset, port, KeyOf(port, channel, kProgram, 0), messages, {0xC0 | channel});
    // The program's own bank selects say the bank now; those before it need
    // not be sent again unless the bank changes after it.
    if (!later_) {
      for (uint32_t bank : {kBankMsb, kBankLsb}) {
        auto it = seen_.find(KeyOf(port, channel, kController, bank));
        if (it != seen_.end()) chase_.items[it->second].count = 0;
      }
    }
  }

  void controller(uint32_t offset, int port, uint32_t channel, uint32_t number, int value) {
    ChannelRegisters& reg = registers_[port][channel];
    switch (number) {
      case kAllSoundOff:
      case kAllNotesOff:
        return;  // about sounding notes, not state
      case kRpnMsb: case kRpnLsb: case kNrpnMsb: case kNrpnLsb:
        select(reg, number, value);
        set(offset, port, KeyOf(port, channel, kSelection, 0), selection(reg, channel), {Cc(channel, kRpnMsb, kNull), Cc(channel, kRpnLsb, kNull)});
        return;
      case kDataMsb: case kDataLsb: case kDataIncrement: case kDataDecrement:
        data(offset, port, channel, number, value);
        return;
      default:
        if (number == kBankMsb) reg.bank[0] = value;
        if (number == kBankLsb) reg.bank[1] = value;
        set(offset, port, KeyOf(port, channel, kController, number), {Cc(channel, number, value)},
            {Cc(channel, number, ControllerDefault(number))});
    }
  }

  static void select(ChannelRegisters& reg, uint32_t number, int value) {
    const bool nrpn = number == kNrpnMsb || number == kNrpnLsb;
    const int half = number == kRpnMsb || number == kNrpnMsb ? 0 : 1;
    (nrpn ? reg.nrpn : reg.rpn)[half] = value;
    (nrpn ? reg.nrpnSet : reg.rpnSet) = true;
    reg.nrpnSelected = nrpn;
  }

  // The selection messages that leave the registers as they are: the kind
  // not selected last first, so that the other is the one selected.
  static std::vector<uint32_t> selection(const ChannelRegisters& reg, uint32_t channel) {
    std::vector<uint32_t> out;
    auto add = [&](bool nrpn) {
      const int* n = nrpn ? reg.nrpn : reg.rpn;
      out.push_back(Cc(channel, nrpn ? kNrpnMsb : kRpnMsb, n[0]));
      out.push_back(Cc(channel, nrpn ? kNrpnLsb : kRpnLsb, n[1]));
    };
    if (reg.nrpnSelected ? reg.rpnSet : reg.nrpnSet) add(!reg.nrpnSelected);
    add(reg.nrpnSelected);
    return out;
  }

  // A data entry changes the parameter selected; it is kept as that
  // parameter's value, sent after selecting it again.
  void data(uint32_t offset, int port, uint32_t channel, uint32_t number, int value) {
    const ChannelRegisters& reg = registers_[port][channel];
    if (reg.selectsNothing()) return;
    const uint32_t parameter = reg.parameter();
    const uint64_t key = KeyOf(port, channel, kParameter, parameter);
    ParameterValue& v = parameters_[key];
    if (!later_) {
      if (number == kDataMsb) v.msb = value;
      if (number == kDataLsb) v.lsb = value;
      if (number == kDataIncrement) v.msb = std::min(v.msb + 1, 127);
      if (number == kDataDecrement) v.msb = std::max(v.msb - 1, 0);
    }
    std::vector<uint32_t> messages = selectOnly(reg, channel);
    messages.push_back(Cc(channel, kDataMsb, v.msb));
    if (v.lsb >= 0) messages.push_back(Cc(channel, kDataLsb, v.lsb));
    const bool pitchBendRange = parameter == 0;
    std::vector<uint32_t> defaults = selectOnly(reg, channel);
    defaults.push_back(Cc(channel, kDataMsb, pitchBendRange ? 2 : (parameter & (1u << 14)) || parameter == 1 || parameter == 2 ? 64 : 0));
    defaults.push_back(Cc(channel, kDataLsb, 0));
    set(offset, port, key, messages, defaults);
  }

  static std::vector<uint32_t> selectOnly(const ChannelRegisters& reg, uint32_t channel) {
    const int* n = reg.nrpnSelected ? reg.nrpn : reg.rpn;
    return {Cc(channel, reg.nrpnSelected ? kNrpnMsb : kRpnMsb, n[0]),
            Cc(channel, reg.nrpnSelected ? kNrpnLsb : kRpnLsb, n[1])};
  }

  // Before the target: the key's item now holds `messages`, at this
  // offset. After it: a key never set before gets its default, once.
  void set(uint32_t offset, int port, uint64_t key, const std::vector<uint32_t>& messages,
           const std::vector<uint32_t>& defaults) {
    if (later_) {
      if (seen_.count(key) || defaulted_.count(key)) return;
      defaulted_.insert({key, 0});
      chase_.defaults.push_back(itemOf(0, port, defaults));
      return;
    }
    auto [it, added] = seen_.insert({key, chase_.items.size()});
    if (added) chase_.items.push_back({});
    chase_.items[it->second] = itemOf(offset, port, messages);
  }

  static QDChaseItem itemOf(uint32_t offset, int port, const std::vector<uint32_t>& messages) {
    QDChaseItem item;
    item.order = offset;
    item.port = static_cast<uint8_t>(port);
    item.count = static_cast<uint8_t>(std::min<size_t>(messages.size(), 4));
    std::copy_n(messages.begin(), item.count, item.messages);
    return item;
  }

  QDChase& chase_;
  bool later_ = false;
  ChannelRegisters registers_[2][16];
  std::unordered_map<uint64_t, ParameterValue> parameters_;
  std::unordered_map<uint64_t, size_t> seen_;
  std::unordered_map<uint64_t, int> defaulted_;
};

}  // namespace

void QDChase::send(const uint8_t* data, uint32_t length, QDOutputTarget& out, bool withDefaults) const {
  auto sendItem = [&](const QDChaseItem& item) {
    StreamRecordView r;
    if (item.longOffset != UINT32_MAX) {
      if (QDReadRecord(data, length, item.longOffset, &r)) QDSendSongRecord(r, out);
      return;
    }
    for (uint8_t i = 0; i < item.count; ++i) QDSendToPort(out, item.port, item.messages[i]);
  };
  if (withDefaults)
    for (const QDChaseItem& item : defaults) sendItem(item);
  for (const QDChaseItem& item : items) sendItem(item);
}

QDSongPoint QDFindSongPoint(const uint8_t* data, uint32_t length, int64_t targetUs, int32_t effectiveDivision,
                            QDChase* chase) {
  QDSongPoint p;
  if (chase) *chase = QDChase();
  QDChase scratch;
  Collector collect(chase ? *chase : scratch);
  targetUs = std::max<int64_t>(targetUs, 0);
  const int64_t targetFx = targetUs << 16;
  int64_t tickFx = QDTickLengthFx(p.tempo, effectiveDivision);
  int64_t timeFx = 0;
  uint32_t offset = 0;
  bool reached = false;
  StreamRecordView r;
  while (offset < length) {
    if (!QDReadRecord(data, length, offset, &r)) {  // a cut record ends the song there
      offset = length;
      break;
    }
    const int64_t at = timeFx + int64_t{r.delta} * tickFx;
    if (!reached && at >= targetFx - kAtTargetFx) {
      reached = true;
      p.offset = offset;
      if (!chase) break;
    }
    if (reached) {
      collect.takeLater(r);
    } else {
      timeFx = at;
      p.totalTicks += r.delta;
      if (r.marker()) ++p.markerIndex;
      if (r.kind() == kRecTempo) {
        p.tempo = static_cast<int32_t>(r.data);
        tickFx = QDTickLengthFx(p.tempo, effectiveDivision);
      }
      if (chase) collect.take(offset, r);
    }
    offset += r.size;
  }
  if (!reached) {
    p.offset = offset;
    targetUs = std::min(targetUs, timeFx >> 16);
  }
  p.playedFx = timeFx;
  p.targetUs = targetUs;
  collect.finish();
  return p;
}

int64_t QDSongLengthUs(const uint8_t* data, uint32_t length, int32_t effectiveDivision) {
  return QDFindSongPoint(data, length, INT64_MAX >> 17, effectiveDivision, nullptr).targetUs;
}
