#include "engine/song/rcp_converter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#include "support/byte_view.h"
#include "support/guard.h"
#include "support/result_code.h"

namespace {

constexpr const char* kTraceName = "TQUORMSTR.ConverterInit";

// Where each layout keeps its fields.
struct Format {
  RcpLayout layout;
  size_t headerSize;
  size_t memo, memoLineSize;
  size_t userExclusive, userExclusiveName, userExclusiveData;
  size_t trackHeaderSize, trackSizeBytes, channelByte, keyByte, modeByte;
  size_t eventSize;
};
constexpr Format kFormatV2 = {RcpLayout::kV2, kRcpHeaderSize, 0x60, 28, 0x406, 24, 24, 44, 2, 4, 5, 7, 4};
// RCP 3.0 user exclusive entries keep 23 bytes of name and 25 of data.
constexpr Format kFormatV3 = {RcpLayout::kV3, kRcp3HeaderSize, 0xA0, 30, 0xB18, 23, 25, 46, 4, 6, 7, 9, 6};

const Format& FormatOf(RcpLayout layout) { return layout == RcpLayout::kV3 ? kFormatV3 : kFormatV2; }

// Header fields.
constexpr size_t kTitle = 0x20;
constexpr size_t kTitleSize = 64;
constexpr size_t kMemoLines = 12;
constexpr size_t kUserExclusiveEntry = 48;
constexpr size_t kV2TimeBase = 0x1C0, kV2TimeBaseHigh = 0x1E7, kV2Tempo = 0x1C1, kV2Numerator = 0x1C2;
constexpr size_t kV2TrackCount = 0x1E6, kV2Cm6 = 0x1C6, kV2Gsd = 0x1D6, kV2Fields = 0x1E8;
constexpr size_t kV3TrackCount = 0x208, kV3TimeBase = 0x20A, kV3Tempo = 0x20C, kV3Numerator = 0x20E;
constexpr size_t kV3GsdA = 0x298, kV3GsdB = 0x2A8, kV3Cm6 = 0x2B8, kV3Fields = 0x2C8;
constexpr size_t kSetupName = 12;

constexpr uint8_t kChannelOff = 0xFF;
constexpr uint8_t kTrackEnd = 0xFE;
constexpr int kMaxTracks = 36;
// An RCP 3.0 same-measure command names the event it jumps to; 0x30 is the
// track's first event.
constexpr uint32_t kV3FirstEventIndex = 0x30;

constexpr int kSlotCount = 64;
constexpr uint32_t kMaxLoopPasses = 256;
constexpr uint32_t kMaxChainedJumps = 256;
// Recomposer nests loops a few levels deep; a deeper push is ignored so that
// a track of nothing but loop starts cannot grow the stack without end.
constexpr size_t kMaxLoopDepth = 256;
constexpr size_t kOutputFixed = 64000;
// Room kept free below a track's output limit: the note-offs and the largest
// message one event can write, plus the closing note-offs and end of track,
// so that a cut track is still closed properly inside its limit.
constexpr size_t kOutputReserve = 1024;
// Largest delta a variable-length quantity can carry.
constexpr uint64_t kMaxDelta = 0x0FFFFFFF;
// Events a track may process per byte of its output limit: far above what a
// real song needs, it ends loops that write nothing and never finish.
constexpr uint64_t kEventsPerOutputByte = 8;
constexpr uint32_t kMaxTempoMicros = 0xFFFFFF;
// The longest tick of a set-up measure, in microseconds.
constexpr uint64_t kSetupTickUs = 1000;
// A tempo ramp moves in steps of 2/48 of a quarter note.
constexpr uint32_t kRampUnitsPerQuarter = 48;
constexpr uint32_t kRampStepUnits = 2;

bool IsBlank(uint8_t b) { return b == 0x20 || b == 0x00; }

uint32_t TempoMicros(int quartersPerMinute) {
  return std::min<uint32_t>(60000000u / static_cast<uint32_t>(quartersPerMinute), kMaxTempoMicros);
}

// Key byte: low 4 bits 1-7 sharps, 9-15 one to seven flats; high 4 bits 1 minor.
void KeySignatureData(uint8_t key, uint8_t out[2]) {
  int low = key & 0x0F;
  int sf = (low >= 1 && low <= 7) ? low : (low >= 9 ? 8 - low : 0);
  out[0] = static_cast<uint8_t>(static_cast<int8_t>(sf));
  out[1] = (key >> 4) == 0x1 ? 1 : 0;
}

// Transposition of a track: a key byte with bit 7 (rhythm tracks, 0x80)
// none at all, the song's play bias included; otherwise a signed 7-bit
// value plus the play bias.
int KeyOffset(uint8_t b, int playBias) {
  if (b & 0x80) return 0;
  return ((b & 0x40) ? b - 128 : b) + playBias;
}

// Ramp length of a tempo change with graduation g (1-255), in 1/48 quarter
// notes: the larger g, the quicker the change (255 for 1, 15 for 255).
uint32_t RampUnits(uint32_t g) {
  return static_cast<uint32_t>(std::lround(255.0 - 30.0 * std::log2(static_cast<double>(g))));
}

std::string SetupName(ByteView header, size_t at) {
  ByteView field = header.sub(at, kSetupName);
  size_t n = 0;
  while (n < kSetupName && field.u8(n) != 0) ++n;
  while (n > 0 && field.u8(n - 1) == ' ') --n;
  size_t a = 0;
  while (a < n && field.u8(a) == ' ') ++a;
  return std::string(reinterpret_cast<const char*>(field.data() + a), n - a);
}

bool PowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

// The header fields both layouts share, read from where each keeps them.
RcpHeader ParseHeader(ByteView h, RcpLayout layout, int v2Tracks) {
  RcpHeader r;
  r.layout = layout;
  if (layout == RcpLayout::kV3) {
    int count = h.u16le(kV3TrackCount);
    r.trackCount = count >= 1 && count <= kMaxTracks ? count : kMaxTracks;
    r.timeBase = h.u16le(kV3TimeBase);
    r.tempo = h.u16le(kV3Tempo);
    r.gsd = SetupName(h, kV3GsdA);
    r.gsdB = SetupName(h, kV3GsdB);
    r.cm6 = SetupName(h, kV3Cm6);
  } else {
    r.trackCount = v2Tracks == 36 ? 36 : 18;
    r.timeBase = RcpTimeBase(h.data());
    r.tempo = h.u8(kV2Tempo);
    r.cm6 = SetupName(h, kV2Cm6);
    r.gsd = SetupName(h, kV2Gsd);
  }
  const size_t n = layout == RcpLayout::kV3 ? kV3Numerator : kV2Numerator;
  r.numerator = h.u8(n);
  r.denominator = h.u8(n + 1);
  r.key = h.u8(n + 2);
  r.playBias = static_cast<int8_t>(h.u8(n + 3));
  return r;
}

// The set-up measure: when each message goes, and the tempo that gives
// every message at least its wait.
struct SetupPlan {
  uint32_t leadIn = 0;       // ticks, whole bars
  uint32_t tempoMicros = 0;  // per quarter note during the set-up
  std::vector<uint32_t> ticks;
};

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// One tick lasts u microseconds; each wait is rounded up to whole ticks, so
// the ticks needed stay below total / u + n. The measure is the shortest
// whole number of bars with room for that, at a tempo a meta event holds,
// with ticks of at most a millisecond so that the rounding lengthens the
// set-up by little.
SetupPlan PlanSetup(const std::vector<RcpSetupMessage>& messages, const RcpHeader& h) {
  SetupPlan plan;
  if (messages.empty()) return plan;
  const uint64_t tb = std::max(h.timeBase, 1);
  uint64_t bar = 4 * tb;
  if (h.numerator > 0 && PowerOfTwo(h.denominator)) bar = std::max<uint64_t>(1, h.numerator * 4 * tb / h.denominator);
  uint64_t totalUs = 0;
  for (const RcpSetupMessage& m : messages) totalUs += uint64_t{std::max<uint32_t>(m.waitMs, 1)} * 1000;
  const uint64_t n = messages.size();
  uint64_t length = std::max({2 * n, n + CeilDiv(totalUs, kSetupTickUs), n + CeilDiv(totalUs * tb, kMaxTempoMicros)});
  length = CeilDiv(length, bar) * bar;
  uint64_t unitUs = CeilDiv(totalUs, length - n);
  while (unitUs * tb > kMaxTempoMicros) {
    length += bar;
    unitUs = CeilDiv(totalUs, length - n);
  }
  plan.leadIn = static_cast<uint32_t>(std::min<uint64_t>(length, kMaxDelta));
  plan.tempoMicros = static_cast<uint32_t>(unitUs * tb);
  uint64_t at = 0;
  for (const RcpSetupMessage& m : messages) {
    plan.ticks.push_back(static_cast<uint32_t>(at));
    at += CeilDiv(uint64_t{std::max<uint32_t>(m.waitMs, 1)} * 1000, unitUs);
  }
  return plan;
}

// The song as every track converter sees it.
struct SongContext {
  const Format* format = nullptr;
  ByteView header;
  RcpHeader info;
  const std::vector<RcpSetupMessage>* setup = nullptr;
  SetupPlan plan;
};

// One event, whatever the layout: v2 code, step, gg, ee; RCP 3.0 code,
// velocity, 16-bit step, 16-bit gate.
struct Event {
  uint8_t code;
  uint32_t step;
  uint32_t gg;
  uint8_t ee;
};

class TrackConverter {
 public:
  TrackConverter(const SongContext& song, ByteView track, bool first, std::vector<uint8_t>& out)
      : song_(song), f_(*song.format), first_(first), out_(out), limit_(4 * track.size() + kOutputFixed) {
    std::fill(std::begin(slotOfCode_), std::end(slotOfCode_), int8_t{-1});
    if (track.size() >= f_.trackHeaderSize) {
      channelByte_ = track.u8(f_.channelByte);
      keyOffset_ = KeyOffset(track.u8(f_.keyByte), song.info.playBias);
      muted_ = (track.u8(f_.modeByte) & 0x01) != 0;
      // Every whole event the track holds, its final 0xFE included.
      eventCount_ = (track.size() - f_.trackHeaderSize) / f_.eventSize;
      events_ = track.sub(f_.trackHeaderSize, eventCount_ * f_.eventSize);
    }
    if (channelByte_ != kChannelOff) {
      hasChannel_ = true;
      port_ = channelByte_ >= 16 ? 1 : 0;
      channel_ = channelByte_ & 0x0F;
    }
    tempo_ = song.info.tempo ? song.info.tempo : 120;
    current_ = tempo_;
    now_ = slotTime_ = song.plan.leadIn;
    FindMeasureEnds();
  }

  void Run() {
    chunkStart_ = out_.size();
    static constexpr uint8_t kChunk[8] = {'M', 'T', 'r', 'k', 0, 0, 0, 0};
    out_.insert(out_.end(), std::begin(kChunk), std::end(kChunk));
    if (first_) Conductor();
    // Muted tracks too: their exclusive messages still go out, to their port.
    if (hasChannel_ && port_ == 1) {
      static constexpr uint8_t kPortB = 1;
      Meta(0x21, &kPortB, 1);
    }
    if (hasChannel_) Play();
    Close();
  }

  bool TimePassedSilently() const { return silentTime_; }

 private:
  struct LoopLevel {
    uint32_t index;   // event after the loop start
    uint32_t passes;  // passes finished
  };
  enum class Pending { kNone, kComment, kExclusive };

  bool V3() const { return f_.layout == RcpLayout::kV3; }

  Event At(size_t index) const {
    const uint8_t* e = events_.data() + index * f_.eventSize;
    if (V3()) return {e[0], uint32_t{e[2]} | uint32_t{e[3]} << 8, uint32_t{e[4]} | uint32_t{e[5]} << 8, e[1]};
    return {e[0], e[1], e[2], e[3]};
  }
  uint8_t CodeAt(size_t index) const { return events_.data()[index * f_.eventSize]; }

  // The text or message bytes a comment, channel exclusive or continuation
  // carries: gg and ee in v2, all five parameter bytes in RCP 3.0.
  std::pair<const uint8_t*, size_t> Payload(size_t index) const {
    const uint8_t* e = events_.data() + index * f_.eventSize;
    return V3() ? std::pair{e + 1, size_t{5}} : std::pair{e + 2, size_t{2}};
  }

  // ---- output -------------------------------------------------------------

  void Byte(uint8_t b) { out_.push_back(b); }

  void Vlq(uint32_t v) {
    uint8_t buf[5];
    int n = 0;
    buf[n++] = v & 0x7F;
    while ((v >>= 7) != 0) buf[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
    while (n > 0) Byte(buf[--n]);
  }

  // Delta from the previous written event to tick t.
  void DeltaAt(uint64_t t) {
    uint64_t d = t > lastWrite_ ? t - lastWrite_ : 0;
    Vlq(static_cast<uint32_t>(std::min(d, kMaxDelta)));
    lastWrite_ = std::max(t, lastWrite_);
  }

  void Status(uint8_t status, bool running) {
    if (!running || lastStatus_ != status) Byte(status);
    lastStatus_ = status;
  }

  // A channel message at the current time. Only control change and pitch
  // bend (and the bank-select pair) use running status, and only right after
  // the same status byte, so that note-offs written in between never leave a
  // data byte read under the wrong status. Data bytes keep 7 bits: a higher
  // byte would break the file apart.
  void Channel2(uint8_t kind, uint32_t d1, uint32_t d2, bool running) {
    DeltaAt(now_);
    Status(static_cast<uint8_t>(kind | channel_), running);
    Byte(d1 & 0x7F);
    Byte(d2 & 0x7F);
  }
  void Channel1(uint8_t kind, uint32_t d1) {
    DeltaAt(now_);
    Status(static_cast<uint8_t>(kind | channel_), false);
    Byte(d1 & 0x7F);
  }

  void MetaAt(uint64_t t, uint8_t type, const uint8_t* data, size_t n) {
    DeltaAt(t);
    Byte(0xFF);
    Byte(type);
    Vlq(static_cast<uint32_t>(n));
    out_.insert(out_.end(), data, data + n);
    lastStatus_ = 0;
  }
  void Meta(uint8_t type, const uint8_t* data, size_t n) { MetaAt(now_, type, data, n); }

  // 0xF0, the length (data and the closing 0xF7), the data, 0xF7.
  void SysExAt(uint64_t t, const uint8_t* data, size_t n) {
    DeltaAt(t);
    Byte(0xF0);
    Vlq(static_cast<uint32_t>(n + 1));
    out_.insert(out_.end(), data, data + n);
    Byte(0xF7);
    lastStatus_ = 0;
  }

  void TempoMicrosAt(uint64_t t, uint32_t us) {
    const uint8_t d[3] = {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)};
    MetaAt(t, 0x51, d, 3);
  }
  void TempoAt(uint64_t t, int quartersPerMinute) { TempoMicrosAt(t, TempoMicros(quartersPerMinute)); }

  void KeySignatureAt(uint64_t t, uint8_t key) {
    uint8_t d[2];
    KeySignatureData(key, d);
    MetaAt(t, 0x59, d, 2);
  }

  void PortAt(uint64_t t, uint8_t port) { MetaAt(t, 0x21, &port, 1); }

  size_t ChunkBytes() const { return out_.size() - chunkStart_ - 8; }

  // ---- conductor and set-up -------------------------------------------------

  // The header's tempo, metre, key, title and memo at tick 0; with a set-up,
  // the set-up's tempo first and the song's own where the song starts.
  void Conductor() {
    const SetupPlan& plan = song_.plan;
    if (plan.leadIn > 0)
      TempoMicrosAt(0, plan.tempoMicros);
    else
      TempoAt(0, tempo_);
    const RcpHeader& h = song_.info;
    const uint8_t ts[4] = {h.numerator, static_cast<uint8_t>(h.denominator == 2 ? 1 : h.denominator == 8 ? 3 : 2),
                           static_cast<uint8_t>(h.timeBase / 2), 8};
    MetaAt(0, 0x58, ts, 4);
    KeySignatureAt(0, h.key);
    ByteView title = song_.header.sub(kTitle, kTitleSize);
    size_t len = kTitleSize;
    while (len > 0 && IsBlank(title.u8(len - 1))) --len;
    if (len > 0) MetaAt(0, 0x03, title.data(), len);
    for (size_t i = 0; i < kMemoLines; ++i) {
      ByteView line = song_.header.sub(f_.memo + i * f_.memoLineSize, f_.memoLineSize);
      if (std::any_of(line.data(), line.data() + line.size(), [](uint8_t b) { return !IsBlank(b); }))
        MetaAt(0, 0x01, line.data(), line.size());
    }
    if (plan.leadIn > 0) {
      WriteSetup();
      TempoAt(plan.leadIn, tempo_);
    }
  }

  // Each set-up message at its tick, on its port; port A again afterwards.
  void WriteSetup() {
    const std::vector<RcpSetupMessage>& messages = *song_.setup;
    uint8_t port = 0;
    for (size_t i = 0; i < messages.size(); ++i) {
      const RcpSetupMessage& m = messages[i];
      if (m.bytes.size() < 2 || m.bytes.front() != 0xF0 || m.bytes.back() != 0xF7) continue;
      if (m.port != port) PortAt(song_.plan.ticks[i], port = m.port ? 1 : 0);
      SysExAt(song_.plan.ticks[i], m.bytes.data() + 1, m.bytes.size() - 2);
    }
    if (port != 0) PortAt(song_.plan.leadIn, 0);
  }

  // ---- notes and their gates ----------------------------------------------

  bool Audible() const { return !muted_ && hasChannel_; }

  void Note(uint8_t code, uint32_t gate, uint8_t velocity) {
    if (code == 0 || gate == 0 || velocity == 0 || !Audible()) return;
    int s = slotOfCode_[code];
    if (s >= 0) {  // sounding already: lengthened, not struck again
      end_[s] = now_ + gate;
      NextEnd();
      return;
    }
    // A note moved outside 0-127 by the key offset would only produce a
    // silent note-on and an invalid data byte; it is left out.
    int note = code + keyOffset_;
    if (note < 0 || note > 127) return;
    if (active_ == ~uint64_t{0}) {
      static constexpr uint8_t kAt = '@';
      Meta(0x02, &kAt, 1);
      return;
    }
    s = std::countr_one(active_);
    active_ |= uint64_t{1} << s;
    code_[s] = code;
    note_[s] = static_cast<uint8_t>(note);
    // The note-off goes to the channel the note was struck on, whatever
    // channel changes come in between.
    slotChannel_[s] = static_cast<uint8_t>(channel_);
    end_[s] = now_ + gate;
    slotOfCode_[code] = static_cast<int8_t>(s);
    nextEnd_ = std::min(nextEnd_, end_[s]);
    DeltaAt(now_);
    Status(static_cast<uint8_t>(0x90 | channel_), false);
    Byte(static_cast<uint8_t>(note));
    Byte(velocity >= 128 ? 127 : velocity);
  }

  void NextEnd() {
    uint64_t m = UINT64_MAX;
    for (uint64_t bits = active_; bits; bits &= bits - 1) m = std::min(m, end_[std::countr_zero(bits)]);
    nextEnd_ = m;
  }

  // Note-offs (0x9n, velocity 0) of every slot ending at tick t, slot order.
  void ReleaseAt(uint64_t t) {
    for (uint64_t bits = active_; bits; bits &= bits - 1) {
      int s = std::countr_zero(bits);
      if (end_[s] != t) continue;
      DeltaAt(t);
      Status(static_cast<uint8_t>(0x90 | slotChannel_[s]), false);
      Byte(note_[s]);
      Byte(0);
      active_ &= ~(uint64_t{1} << s);
      slotOfCode_[code_[s]] = -1;
    }
    NextEnd();
  }

  // Moves time on to tick t, each tick exactly once: the tempo ramp's steps
  // and the note-offs of the notes ending on the way, in time order.
  void AdvanceTo(uint64_t t) {
    if (t <= slotTime_) return;
    uint64_t quietFrom = slotTime_;
    for (;;) {
      const uint64_t ramp = ramp_ ? ramp_->next : UINT64_MAX;
      const uint64_t noteEnd = muted_ ? UINT64_MAX : nextEnd_;
      if (std::min(ramp, noteEnd) > t) break;
      if (ramp <= noteEnd) {
        RampStep();
      } else {
        quietFrom = nextEnd_;
        ReleaseAt(nextEnd_);
      }
    }
    if (!muted_ && active_ == 0 && quietFrom < t) silentTime_ = true;
    slotTime_ = t;
  }

  // ---- tempo ----------------------------------------------------------------

  // A tempo change, at once or by graduation over a stretch of time.
  struct Ramp {
    int from, to;
    uint64_t start;
    uint32_t units;   // length in 1/48 quarter notes
    uint32_t unit;    // the next step, in units
    uint64_t next;    // its tick
    int written;      // the tempo in force
  };

  uint64_t RampTick(const Ramp& r, uint32_t unit) const {
    return r.start + uint64_t{unit} * static_cast<uint64_t>(std::max(song_.info.timeBase, 1)) / kRampUnitsPerQuarter;
  }

  void TempoChange(uint32_t rate, uint8_t graduation) {
    int target = static_cast<int>(std::min<uint64_t>(uint64_t{rate} * static_cast<uint64_t>(tempo_) / 64, INT32_MAX));
    if (target <= 0) target = 120;
    if (graduation == 0 || RampUnits(graduation) == 0) {
      ramp_.reset();
      current_ = target;
      TempoAt(now_, target);
      return;
    }
    Ramp r{current_, target, now_, RampUnits(graduation), 0, 0, current_};
    r.next = RampTick(r, r.unit);
    ramp_ = r;
    RampStep();
  }

  // Writes the ramp's tempo at its next tick (the last of the steps that
  // fall on that tick) and schedules the next step.
  void RampStep() {
    Ramp& r = *ramp_;
    const uint64_t tick = r.next;
    int tempo = r.written;
    while (ramp_ && r.next == tick) {
      if (r.unit >= r.units) {
        tempo = r.to;
        ramp_.reset();
        break;
      }
      tempo = r.from + static_cast<int>(int64_t{r.to - r.from} * r.unit / r.units);
      r.unit = std::min(r.unit + kRampStepUnits, r.units);
      r.next = RampTick(r, r.unit);
    }
    if (tempo != current_ && tempo > 0) TempoAt(tick, tempo);
    current_ = tempo;
    if (ramp_) ramp_->written = tempo;
  }

  // ---- system exclusive and comments ---------------------------------------

  // One byte of an exclusive message being built; true when it ends it.
  bool ExclusiveByte(uint8_t b) {
    uint8_t v;
    switch (b) {
      case 0x80: v = exGg_; break;
      case 0x81: v = exEe_; break;
      case 0x82: v = static_cast<uint8_t>(channel_); break;
      case 0x83: exSum_ = 0; return false;
      case 0x84: msg_.push_back(static_cast<uint8_t>((0x80 - (exSum_ & 0x7F)) & 0x7F)); return false;
      case 0xF0: return false;
      case 0xF7: return true;
      default: v = b; break;
    }
    msg_.push_back(v);
    exSum_ = (exSum_ + v) & 0x7F;
    return false;
  }

  void StartExclusive(uint32_t gg, uint8_t ee) {
    msg_.clear();
    exGg_ = static_cast<uint8_t>(gg);
    exEe_ = ee;
    exSum_ = 0;
  }

  void UserExclusive(size_t entry, uint32_t gg, uint8_t ee) {
    StartExclusive(gg, ee);
    ByteView data = song_.header.sub(f_.userExclusive + entry * kUserExclusiveEntry + f_.userExclusiveName,
                                     f_.userExclusiveData);
    for (size_t i = 0; i < data.size(); ++i)
      if (ExclusiveByte(data.u8(i))) break;
    SysExAt(now_, msg_.data(), msg_.size());
    msg_.clear();
  }

  void RolandParameter(uint32_t gg, uint8_t ee) {
    const uint8_t lo = static_cast<uint8_t>(gg);
    uint8_t sum = (rolandHigh_ + rolandMiddle_ + lo + ee) & 0x7F;
    const uint8_t m[9] = {0x41, rolandDevice_, rolandModel_, 0x12, rolandHigh_, rolandMiddle_, lo, ee,
                          static_cast<uint8_t>((0x80 - sum) & 0x7F)};
    SysExAt(now_, m, sizeof m);
  }

  // A comment or channel exclusive is written, at the time of the event that
  // started it, once its 0xF7 continuations are over.
  void FlushPending() {
    if (pending_ == Pending::kComment) MetaAt(pendingTime_, 0x01, msg_.data(), msg_.size());
    if (pending_ == Pending::kExclusive) SysExAt(pendingTime_, msg_.data(), msg_.size());
    pending_ = Pending::kNone;
    msg_.clear();
  }

  void Continuation(size_t index) {
    auto [bytes, n] = Payload(index);
    if (pending_ == Pending::kComment) {
      msg_.insert(msg_.end(), bytes, bytes + n);
    } else if (pending_ == Pending::kExclusive) {
      for (size_t i = 0; i < n; ++i)
        if (ExclusiveByte(bytes[i])) {
          FlushPending();
          break;
        }
    }
  }

  void ChannelChange(uint32_t gg) {
    if (gg == 0) {
      hasChannel_ = false;  // no channel: notes and channel messages stop
    } else {
      hasChannel_ = true;
      port_ = gg >= 17 ? 1 : 0;
      channel_ = static_cast<int>((gg - 1) & 0x0F);
    }
    PortAt(now_, static_cast<uint8_t>(port_));
  }

  // ---- loops and repeated measures ------------------------------------------

  void FindMeasureEnds() {
    for (size_t i = 0; i < eventCount_; ++i) {
      uint8_t code = CodeAt(i);
      if (code == kTrackEnd) break;
      if (code == 0xFD || code == 0xFC) measureEnds_.push_back(static_cast<uint32_t>(i));
    }
  }

  std::optional<size_t> MeasureStart(uint32_t m) const {
    if (m == 0) return size_t{0};
    if (m <= measureEnds_.size()) return size_t{measureEnds_[m - 1]} + 1;
    return std::nullopt;
  }

  bool Playable(size_t index) const { return index < eventCount_ && CodeAt(index) != kTrackEnd; }

  // First event of the measure the 0xFC at index fc repeats: RCP 3.0 names
  // the event itself; otherwise measure m, counting measure ends from the
  // track's start (a measure that would start at the 0xFC itself means the
  // one before it).
  std::optional<size_t> FindMeasure(const Event& e, size_t fc) const {
    if (V3() && e.gg >= kV3FirstEventIndex) {
      const size_t named = e.gg - kV3FirstEventIndex;
      if (named != fc && Playable(named)) return named;
    }
    const uint32_t m = V3() ? e.step : e.step | (e.gg & 0x03u) << 8;
    std::optional<size_t> start = MeasureStart(m);
    if (start && *start == fc) start = m > 0 ? MeasureStart(m - 1) : std::nullopt;
    if (!start || !Playable(*start)) return std::nullopt;
    return start;
  }

  void EndRepeat(size_t& next) {
    next = returnIndex_;
    repeating_ = false;
  }

  void LoopEnd(uint32_t count, size_t& next) {
    auto& stack = repeating_ ? inner_ : outer_;
    if (stack.empty()) return;
    count = std::max<uint32_t>(count, 2);  // 0 and 1 play twice
    LoopLevel& top = stack.back();
    ++top.passes;
    if (top.passes < count && top.passes < kMaxLoopPasses)
      next = top.index;
    else
      stack.pop_back();
  }

  void SameMeasure(const Event& e, size_t idx, bool jumped, size_t& next) {
    if (!repeating_) {
      if (auto target = FindMeasure(e, idx)) {
        repeating_ = true;
        returnIndex_ = idx + 1;
        chained_ = 0;
        inner_.clear();
        next = *target;
        justJumped_ = true;
      }
    } else if (jumped && chained_ < kMaxChainedJumps) {
      ++chained_;  // a measure that is itself a reference: follow it
      if (auto target = FindMeasure(e, idx)) {
        next = *target;
        justJumped_ = true;
      } else {
        EndRepeat(next);
      }
    } else {
      EndRepeat(next);
    }
  }

  // ---- the event loop ---------------------------------------------------------

  // Commands that write channel messages (nothing on a muted or silent track).
  void ChannelCommand(const Event& e) {
    if (!Audible()) return;
    switch (e.code) {
      case 0xE1:
        Channel2(0xB0, 0x00, bank_, false);
        Channel2(0xB0, 0x20, e.ee, true);
        Channel1(0xC0, e.gg);
        break;
      case 0xE2:
        Channel2(0xB0, 0x00, e.ee, false);
        Channel2(0xB0, 0x20, 0x00, true);
        Channel1(0xC0, e.gg);
        break;
      case 0xEA: Channel1(0xD0, e.gg); break;
      case 0xEB: Channel2(0xB0, e.gg, e.ee, true); break;
      case 0xEC: Channel1(0xC0, e.gg); break;
      case 0xED: Channel2(0xA0, e.gg, e.ee, false); break;
      case 0xEE: Channel2(0xE0, e.gg, e.ee, true); break;
      default: break;
    }
  }

  // Handles one command; next is the event played after it.
  void Command(const Event& e, size_t idx, bool jumped, size_t& next) {
    switch (e.code) {
      case 0x90: case 0x91: case 0x92: case 0x93:
      case 0x94: case 0x95: case 0x96: case 0x97:
        UserExclusive(e.code - 0x90, e.gg, e.ee);
        break;
      case 0x98:
        StartExclusive(e.gg, e.ee);
        pending_ = Pending::kExclusive;
        pendingTime_ = now_;
        break;
      case 0xDD:
        rolandHigh_ = static_cast<uint8_t>(e.gg);
        rolandMiddle_ = e.ee;
        break;
      case 0xDE: RolandParameter(e.gg, e.ee); break;
      case 0xDF:
        rolandDevice_ = static_cast<uint8_t>(e.gg);
        rolandModel_ = e.ee;
        break;
      case 0xE2:
        bank_ = e.ee;
        ChannelCommand(e);
        break;
      case 0xE1: case 0xEA: case 0xEB: case 0xEC: case 0xED: case 0xEE:
        ChannelCommand(e);
        break;
      case 0xE6: ChannelChange(e.gg); break;
      case 0xE7: TempoChange(e.gg, e.ee); break;
      case 0xF5:
        if (first_) KeySignatureAt(now_, static_cast<uint8_t>(e.gg));
        break;
      case 0xF6: {
        auto [bytes, n] = Payload(idx);
        msg_.assign(bytes, bytes + n);
        pending_ = Pending::kComment;
        pendingTime_ = now_;
        break;
      }
      case 0xF7: Continuation(idx); break;
      case 0xF8: LoopEnd(e.step, next); break;
      case 0xF9: {
        auto& stack = repeating_ ? inner_ : outer_;
        if (stack.size() < kMaxLoopDepth) stack.push_back({static_cast<uint32_t>(idx + 1), 0});
        break;
      }
      case 0xFC: SameMeasure(e, idx, jumped, next); break;
      case 0xFD:
        if (repeating_) EndRepeat(next);
        break;
      default:
        break;  // writes nothing; a step below 0xF5 still counts
    }
  }

  void Play() {
    uint64_t budget = kEventsPerOutputByte * limit_;
    size_t idx = 0;
    while (idx < eventCount_) {
      // The track is cut (and closed) when its output nears its limit, when it
      // has run too long, or when time ran beyond what a delta can carry.
      if (budget-- == 0 || ChunkBytes() + msg_.size() + kOutputReserve > limit_ || now_ - lastWrite_ > kMaxDelta)
        return;
      const Event e = At(idx);
      if (e.code != 0xF7 && pending_ != Pending::kNone) FlushPending();
      AdvanceTo(now_);
      const bool jumped = justJumped_;
      justJumped_ = false;
      size_t next = idx + 1;
      if (e.code == kTrackEnd) return;
      if (e.code < 0x80)
        Note(e.code, e.gg, e.ee);
      else
        Command(e, idx, jumped, next);
      // The step of 0xF5 and above is a parameter, not time.
      if (e.code < 0xF5) now_ += e.step;
      idx = next;
    }
  }

  // Releases the notes still sounding and writes the end of track; also when
  // the events ran out or the track was cut, so that no note is left hanging.
  // A tempo ramp still running stops where the track ends.
  void Close() {
    FlushPending();
    AdvanceTo(now_);
    ramp_.reset();
    while (active_ != 0) ReleaseAt(nextEnd_);
    uint64_t t = std::max(now_, lastWrite_);
    if (t - lastWrite_ > kMaxDelta) t = lastWrite_;
    DeltaAt(t);
    Byte(0xFF);
    Byte(0x2F);
    Byte(0x00);
    uint32_t len = static_cast<uint32_t>(ChunkBytes());
    uint8_t* p = out_.data() + chunkStart_ + 4;
    p[0] = static_cast<uint8_t>(len >> 24);
    p[1] = static_cast<uint8_t>(len >> 16);
    p[2] = static_cast<uint8_t>(len >> 8);
    p[3] = static_cast<uint8_t>(len);
  }

  const SongContext& song_;
  const Format& f_;
  bool first_;
  std::vector<uint8_t>& out_;
  size_t limit_;
  size_t chunkStart_ = 0;

  uint8_t channelByte_ = kChannelOff;
  int keyOffset_ = 0;
  bool muted_ = false;
  bool hasChannel_ = false;
  int port_ = 0;
  int channel_ = 0;
  int tempo_ = 120;    // the header's tempo, which tempo changes scale
  int current_ = 120;  // the tempo in force
  std::optional<Ramp> ramp_;
  ByteView events_;
  size_t eventCount_ = 0;

  uint64_t now_ = 0;        // tick of the event being handled
  uint64_t lastWrite_ = 0;  // tick of the last event written
  uint64_t slotTime_ = 0;   // tick the gates have been advanced to
  uint8_t lastStatus_ = 0;
  bool silentTime_ = false;

  uint64_t active_ = 0;  // one bit per sounding slot
  uint64_t nextEnd_ = UINT64_MAX;
  uint8_t code_[kSlotCount] = {};
  uint8_t note_[kSlotCount] = {};
  uint8_t slotChannel_[kSlotCount] = {};
  uint64_t end_[kSlotCount] = {};
  int8_t slotOfCode_[128];

  std::vector<LoopLevel> outer_, inner_;
  std::vector<uint32_t> measureEnds_;
  bool repeating_ = false;
  bool justJumped_ = false;
  size_t returnIndex_ = 0;
  uint32_t chained_ = 0;

  uint8_t rolandHigh_ = 0x40, rolandMiddle_ = 0x00;
  uint8_t rolandDevice_ = 0x10, rolandModel_ = 0x42;
  uint8_t bank_ = 0;

  Pending pending_ = Pending::kNone;
  uint64_t pendingTime_ = 0;
  std::vector<uint8_t> msg_;
  uint8_t exGg_ = 0, exEe_ = 0, exSum_ = 0;
};

[[noreturn]] void Refuse(ResultCode* result, int32_t code, const char* why) {
  if (result) result->set(code);
  throw std::runtime_error(why);
}

// The bytes the track at pos takes. Its size field is trusted when it lies
// inside the file and the last whole event inside it ends the track;
// otherwise (a size cut to 16 bits, a wrong one) the track runs to its
// first track end. A track with no track end keeps what its size and the
// file give.
size_t TrackExtent(ByteView file, size_t pos, const Format& f) {
  const size_t stated = f.trackSizeBytes == 2 ? file.u16le(pos) : file.u32le(pos);
  const size_t avail = file.size() - pos;
  auto endsTrack = [&](size_t at) { return file.u8(at) == kTrackEnd || file.u8(at) == 0xFF; };
  if (stated <= avail && stated >= f.trackHeaderSize + f.eventSize) {
    const size_t events = (stated - f.trackHeaderSize) / f.eventSize;
    if (endsTrack(pos + f.trackHeaderSize + (events - 1) * f.eventSize)) return stated;
  }
  for (size_t at = f.trackHeaderSize; at + f.eventSize <= avail; at += f.eventSize)
    if (file.u8(pos + at) == kTrackEnd) return at + f.eventSize;
  return stated;
}

}  // namespace

RcpLayout RcpLayoutOf(const uint8_t* data, size_t size) {
  auto starts = [&](const char* sig, size_t n) { return data && size >= n && std::memcmp(data, sig, n) == 0; };
  if (starts(kRcpSignature, sizeof kRcpSignature - 1)) return RcpLayout::kV2;
  if (starts(kRcp3Signature, sizeof kRcp3Signature - 1)) return RcpLayout::kV3;
  return RcpLayout::kNone;
}

int RcpTimeBase(const uint8_t* header) { return header[kV2TimeBase] | header[kV2TimeBaseHigh] << 8; }

int RcpKindOfName(const std::string& name) {
  size_t dot = name.rfind('.');
  size_t sep = name.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return 0;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "rcp" || ext == "g18") return 18;
  if (ext == "r36" || ext == "g36") return 36;
  return 0;
}

bool RcpIsSongName(const std::string& name) { return RcpKindOfName(name) != 0; }

bool RcpReadHeader(const uint8_t* data, size_t size, const std::string& name, RcpHeader* header) {
  const RcpLayout layout = RcpLayoutOf(data, size);
  if (layout == RcpLayout::kNone || !header) return false;
  const size_t needed = layout == RcpLayout::kV3 ? kV3Fields : kV2Fields;
  if (size < needed) return false;
  ByteView h(data, needed);
  int v2Tracks = RcpKindOfName(name);
  if (v2Tracks == 0) v2Tracks = h.u8(kV2TrackCount) == 36 ? 36 : 18;
  *header = ParseHeader(h, layout, v2Tracks);
  return true;
}

bool RcpBuildImage(const RcpImageRequest& request, RcpImage* image) {
  return QGuard(kTraceName, false, [&] {
    if (image == nullptr) throw std::invalid_argument("no image to fill");
    std::vector<uint8_t>* smf = &image->smf;
    smf->clear();
    image->leadInTicks = 0;
    ByteView file(request.data, request.data ? request.size : 0);
    const RcpLayout layout = RcpLayoutOf(file.data(), file.size());
    if (layout == RcpLayout::kNone) Refuse(request.result, kRcpErrNotRecomposer, "not a Recomposer song");
    SongContext song;
    song.format = &FormatOf(layout);
    if (!file.has(0, song.format->headerSize)) Refuse(request.result, kRcpErrHeaderNotRead, "song header cut short");
    song.header = file.sub(0, song.format->headerSize);
    song.info = ParseHeader(song.header, layout, request.v2Tracks);
    if (request.setup && !request.setup->empty()) {
      song.setup = request.setup;
      song.plan = PlanSetup(*request.setup, song.info);
    }
    image->leadInTicks = song.plan.leadIn;

    static constexpr uint8_t kHead[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 0, 0, 0};
    smf->assign(std::begin(kHead), std::end(kHead));
    (*smf)[12] = static_cast<uint8_t>(song.info.timeBase >> 8);
    (*smf)[13] = static_cast<uint8_t>(song.info.timeBase);
    smf->reserve(64 * 1024);

    uint16_t converted = 0;
    bool silentTime = false, cut = false;
    const Format& f = *song.format;
    size_t pos = f.headerSize;
    for (int t = 0; t < song.info.trackCount; ++t) {
      if (!file.has(pos, f.trackSizeBytes)) {  // no size to read: the song ends here
        cut = true;
        break;
      }
      const size_t trackSize = TrackExtent(file, pos, f);
      cut = cut || trackSize > file.size() - pos;
      // A size pointing past the file keeps the events that are there.
      ByteView track = file.sub(pos, std::min(trackSize, file.size() - pos));
      size_t chunkStart = smf->size();
      bool done = QGuard(kTraceName, false, [&] {
        TrackConverter converter(song, track, t == 0, *smf);
        converter.Run();
        silentTime = silentTime || converter.TimePassedSilently();
        return true;
      });
      if (!done) {  // a failed allocation: keep the tracks converted so far
        smf->resize(chunkStart);
        break;
      }
      ++converted;
      if (trackSize == 0) break;  // a size of 0 would read this track again and again
      pos += trackSize;
    }
    // The count says what the image holds, so that a song that broke off
    // still reads as a whole file.
    (*smf)[10] = static_cast<uint8_t>(converted >> 8);
    (*smf)[11] = static_cast<uint8_t>(converted);
    if (silentTime && request.result) request.result->set(kRcpErrNoNoteSounding);
    if (cut && request.result) request.result->set(kRcpErrCut);
    return true;
  });
}

bool RcpToSmfImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf,
                   ResultCode* result) {
  const RcpImageRequest request{data, size, r36 ? 36 : 18, nullptr, result};
  if (smf == nullptr) return RcpBuildImage(request, nullptr);
  RcpImage image;
  const bool ok = RcpBuildImage(request, &image);
  *smf = std::move(image.smf);
  return ok;
}
