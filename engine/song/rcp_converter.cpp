#include "engine/song/rcp_converter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "support/byte_view.h"
#include "support/guard.h"
#include "support/result_code.h"

namespace {

constexpr const char* kTraceName = "TQUORMSTR.ConverterInit";

// Song header fields.
constexpr size_t kTitle = 0x20;
constexpr size_t kTitleSize = 64;
constexpr size_t kMemo = 0x60;
constexpr size_t kMemoLines = 12;
constexpr size_t kMemoLineSize = 28;
constexpr size_t kTimeBase = 0x1C0;
constexpr size_t kTimeBaseHigh = 0x1E7;
constexpr size_t kTempo = 0x1C1;
constexpr size_t kNumerator = 0x1C2;
constexpr size_t kDenominator = 0x1C3;
constexpr size_t kKey = 0x1C4;
constexpr size_t kUserExclusive = 0x406;
constexpr size_t kUserExclusiveEntry = 48;
constexpr size_t kUserExclusiveName = 24;
constexpr size_t kUserExclusiveData = 24;

// Track layout.
constexpr size_t kTrackHeaderSize = 44;
constexpr size_t kEventSize = 4;
constexpr size_t kChannelByte = 4;
constexpr size_t kKeyByte = 5;
constexpr size_t kModeByte = 7;
constexpr uint8_t kChannelOff = 0xFF;

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

// Transposition of a track: 0x80 (and any value with bit 7, which marks
// rhythm tracks) none; otherwise a signed 7-bit value.
int KeyOffset(uint8_t b) {
  if (b & 0x80) return 0;
  return (b & 0x40) ? b - 128 : b;
}

class TrackConverter {
 public:
  TrackConverter(ByteView song, ByteView track, bool first, std::vector<uint8_t>& out)
      : song_(song), first_(first), out_(out), limit_(4 * track.size() + kOutputFixed) {
    std::fill(std::begin(slotOfCode_), std::end(slotOfCode_), int8_t{-1});
    if (track.size() >= kTrackHeaderSize) {
      channelByte_ = track.u8(kChannelByte);
      keyOffset_ = KeyOffset(track.u8(kKeyByte));
      muted_ = (track.u8(kModeByte) & 0x01) != 0;
      // Every whole event the track holds, its final 0xFE included.
      eventCount_ = (track.size() - kTrackHeaderSize) / kEventSize;
      events_ = track.sub(kTrackHeaderSize, eventCount_ * kEventSize);
    }
    if (channelByte_ != kChannelOff) {
      hasChannel_ = true;
      port_ = channelByte_ >= 16 ? 1 : 0;
      channel_ = channelByte_ & 0x0F;
    }
    tempo_ = song_.u8(kTempo) ? song_.u8(kTempo) : 120;
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
  void Channel2(uint8_t kind, uint8_t d1, uint8_t d2, bool running) {
    DeltaAt(now_);
    Status(static_cast<uint8_t>(kind | channel_), running);
    Byte(d1 & 0x7F);
    Byte(d2 & 0x7F);
  }
  void Channel1(uint8_t kind, uint8_t d1) {
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

  void Tempo(int quartersPerMinute) {
    uint32_t us = TempoMicros(quartersPerMinute);
    const uint8_t d[3] = {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
                          static_cast<uint8_t>(us)};
    Meta(0x51, d, 3);
  }

  void KeySignature(uint8_t key) {
    uint8_t d[2];
    KeySignatureData(key, d);
    Meta(0x59, d, 2);
  }

  size_t ChunkBytes() const { return out_.size() - chunkStart_ - 8; }

  // ---- conductor ----------------------------------------------------------

  void Conductor() {
    Tempo(tempo_);
    uint8_t den = song_.u8(kDenominator);
    const uint8_t ts[4] = {song_.u8(kNumerator), static_cast<uint8_t>(den == 2 ? 1 : den == 8 ? 3 : 2),
                           static_cast<uint8_t>(RcpTimeBase(song_.data()) / 2), 8};
    Meta(0x58, ts, 4);
    KeySignature(song_.u8(kKey));
    ByteView title = song_.sub(kTitle, kTitleSize);
    size_t len = kTitleSize;
    while (len > 0 && IsBlank(title.u8(len - 1))) --len;
    if (len > 0) Meta(0x03, title.data(), len);
    for (size_t i = 0; i < kMemoLines; ++i) {
      ByteView line = song_.sub(kMemo + i * kMemoLineSize, kMemoLineSize);
      if (std::any_of(line.data(), line.data() + kMemoLineSize, [](uint8_t b) { return !IsBlank(b); }))
        Meta(0x01, line.data(), kMemoLineSize);
    }
  }

  // ---- notes and their gates ----------------------------------------------

  bool Audible() const { return !muted_ && hasChannel_; }

  void Note(uint8_t code, uint8_t gate, uint8_t velocity) {
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

  // Moves the gates on to tick t, each tick exactly once, writing the
  // note-offs of the notes ending on the way.
  void AdvanceTo(uint64_t t) {
    if (t <= slotTime_) return;
    if (muted_) {
      slotTime_ = t;
      return;
    }
    uint64_t quietFrom = slotTime_;
    while (active_ != 0 && nextEnd_ <= t) {
      quietFrom = nextEnd_;
      ReleaseAt(nextEnd_);
    }
    if (active_ == 0 && quietFrom < t) silentTime_ = true;
    slotTime_ = t;
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

  void StartExclusive(uint8_t gg, uint8_t ee) {
    msg_.clear();
    exGg_ = gg;
    exEe_ = ee;
    exSum_ = 0;
  }

  void UserExclusive(size_t entry, uint8_t gg, uint8_t ee) {
    StartExclusive(gg, ee);
    ByteView data = song_.sub(kUserExclusive + entry * kUserExclusiveEntry + kUserExclusiveName, kUserExclusiveData);
    for (size_t i = 0; i < kUserExclusiveData; ++i)
      if (ExclusiveByte(data.u8(i))) break;
    SysExAt(now_, msg_.data(), msg_.size());
    msg_.clear();
  }

  void RolandParameter(uint8_t gg, uint8_t ee) {
    uint8_t sum = (rolandHigh_ + rolandMiddle_ + gg + ee) & 0x7F;
    const uint8_t m[9] = {0x41, rolandDevice_, rolandModel_, 0x12, rolandHigh_, rolandMiddle_, gg, ee,
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

  void Continuation(uint8_t gg, uint8_t ee) {
    if (pending_ == Pending::kComment) {
      msg_.push_back(gg);
      msg_.push_back(ee);
    } else if (pending_ == Pending::kExclusive) {
      if (ExclusiveByte(gg) || ExclusiveByte(ee)) FlushPending();
    }
  }

  void ChannelChange(uint8_t gg) {
    if (gg == 0) {
      hasChannel_ = false;  // no channel: notes and channel messages stop
    } else {
      hasChannel_ = true;
      port_ = gg >= 17 ? 1 : 0;
      channel_ = (gg - 1) & 0x0F;
    }
    const uint8_t port = static_cast<uint8_t>(port_);
    Meta(0x21, &port, 1);
  }

  // ---- loops and repeated measures ------------------------------------------

  void FindMeasureEnds() {
    for (size_t i = 0; i < eventCount_; ++i) {
      uint8_t code = events_.data()[i * kEventSize];
      if (code == 0xFE) break;
      if (code == 0xFD || code == 0xFC) measureEnds_.push_back(static_cast<uint32_t>(i));
    }
  }

  std::optional<size_t> MeasureStart(uint32_t m) const {
    if (m == 0) return size_t{0};
    if (m <= measureEnds_.size()) return size_t{measureEnds_[m - 1]} + 1;
    return std::nullopt;
  }

  // First event of measure m for the 0xFC at index fc; a measure that would
  // start at the 0xFC itself means the one before it.
  std::optional<size_t> FindMeasure(uint32_t m, size_t fc) const {
    std::optional<size_t> start = MeasureStart(m);
    if (start && *start == fc) start = m > 0 ? MeasureStart(m - 1) : std::nullopt;
    if (!start || *start >= eventCount_ || events_.data()[*start * kEventSize] == 0xFE) return std::nullopt;
    return start;
  }

  void EndRepeat(size_t& next) {
    next = returnIndex_;
    repeating_ = false;
  }

  // ---- the event loop ---------------------------------------------------------

  void Play() {
    const uint8_t* ev = events_.data();
    uint64_t budget = kEventsPerOutputByte * limit_;
    size_t idx = 0;
    while (idx < eventCount_) {
      // The track is cut (and closed) when its output nears its limit, when it
      // has run too long, or when time ran beyond what a delta can carry.
      if (budget-- == 0 || ChunkBytes() + msg_.size() + kOutputReserve > limit_ || now_ - lastWrite_ > kMaxDelta)
        return;
      const uint8_t* e = ev + idx * kEventSize;
      const uint8_t code = e[0], step = e[1], gg = e[2], ee = e[3];
      if (code != 0xF7 && pending_ != Pending::kNone) FlushPending();
      AdvanceTo(now_);
      const bool jumped = justJumped_;
      justJumped_ = false;
      size_t next = idx + 1;
      if (code < 0x80) {
        Note(code, gg, ee);
      } else {
        switch (code) {
          case 0x90: case 0x91: case 0x92: case 0x93:
          case 0x94: case 0x95: case 0x96: case 0x97:
            UserExclusive(code - 0x90, gg, ee);
            break;
          case 0x98:
            StartExclusive(gg, ee);
            pending_ = Pending::kExclusive;
            pendingTime_ = now_;
            break;
          case 0xDD:
            rolandHigh_ = gg;
            rolandMiddle_ = ee;
            break;
          case 0xDE:
            RolandParameter(gg, ee);
            break;
          case 0xDF:
            rolandDevice_ = gg;
            rolandModel_ = ee;
            break;
          case 0xE1:
            if (Audible()) {
              Channel2(0xB0, 0x00, bank_, false);
              Channel2(0xB0, 0x20, ee, true);
              Channel1(0xC0, gg);
            }
            break;
          case 0xE2:
            bank_ = ee;
            if (Audible()) {
              Channel2(0xB0, 0x00, ee, false);
              Channel2(0xB0, 0x20, 0x00, true);
              Channel1(0xC0, gg);
            }
            break;
          case 0xE6:
            ChannelChange(gg);
            break;
          case 0xE7: {
            int t = gg * tempo_ / 64;
            Tempo(t > 0 ? t : 120);
            break;
          }
          case 0xEA:
            if (Audible()) Channel1(0xD0, gg);
            break;
          case 0xEB:
            if (Audible()) Channel2(0xB0, gg, ee, true);
            break;
          case 0xEC:
            if (Audible()) Channel1(0xC0, gg);
            break;
          case 0xED:
            if (Audible()) Channel2(0xA0, gg, ee, false);
            break;
          case 0xEE:
            if (Audible()) Channel2(0xE0, gg, ee, true);
            break;
          case 0xF5:
            if (first_) KeySignature(gg);
            break;
          case 0xF6:
            msg_.assign({gg, ee});
            pending_ = Pending::kComment;
            pendingTime_ = now_;
            break;
          case 0xF7:
            Continuation(gg, ee);
            break;
          case 0xF8: {
            auto& stack = repeating_ ? inner_ : outer_;
            if (!stack.empty()) {
              uint32_t count = std::max<uint32_t>(step, 2);  // 0 and 1 play twice
              LoopLevel& top = stack.back();
              ++top.passes;
              if (top.passes < count && top.passes < kMaxLoopPasses)
                next = top.index;
              else
                stack.pop_back();
            }
            break;
          }
          case 0xF9: {
            auto& stack = repeating_ ? inner_ : outer_;
            if (stack.size() < kMaxLoopDepth) stack.push_back({static_cast<uint32_t>(idx + 1), 0});
            break;
          }
          case 0xFC: {
            // The measure number: the step byte, with bits 8-9 in the low bits
            // of gg (whose other bits hold the measure's offset, a multiple of 4).
            uint32_t m = step | (gg & 0x03u) << 8;
            if (!repeating_) {
              if (auto target = FindMeasure(m, idx)) {
                repeating_ = true;
                returnIndex_ = idx + 1;
                chained_ = 0;
                inner_.clear();
                next = *target;
                justJumped_ = true;
              }
            } else if (jumped && chained_ < kMaxChainedJumps) {
              ++chained_;  // a measure that is itself a reference: follow it
              if (auto target = FindMeasure(m, idx)) {
                next = *target;
                justJumped_ = true;
              } else {
                EndRepeat(next);
              }
            } else {
              EndRepeat(next);
            }
            break;
          }
          case 0xFD:
            if (repeating_) EndRepeat(next);
            break;
          case 0xFE:
            return;
          default:
            break;  // writes nothing; a step below 0xF5 still counts
        }
      }
      // The step byte of 0xF5 and above is a parameter, not time.
      if (code < 0xF5) now_ += step;
      idx = next;
    }
  }

  // Releases the notes still sounding and writes the end of track; also when
  // the events ran out or the track was cut, so that no note is left hanging.
  void Close() {
    FlushPending();
    AdvanceTo(now_);
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

  ByteView song_;
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
  int tempo_ = 120;
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

}  // namespace

int RcpTimeBase(const uint8_t* header) { return header[kTimeBase] | header[kTimeBaseHigh] << 8; }

int RcpKindOfName(const std::string& name) {
  size_t dot = name.rfind('.');
  size_t sep = name.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return 0;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (ext == "rcp") return 18;
  if (ext == "r36") return 36;
  return 0;
}

bool RcpToSmfImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf,
                   ResultCode* result) {
  return QGuard(kTraceName, false, [&] {
    if (smf == nullptr) throw std::invalid_argument("no image to fill");
    smf->clear();
    ByteView file(data, data ? size : 0);
    constexpr size_t kSignatureSize = sizeof kRcpSignature - 1;
    if (!file.has(0, kSignatureSize) || std::memcmp(file.data(), kRcpSignature, kSignatureSize) != 0)
      Refuse(result, kRcpErrNotVersion2, "not a Recomposer v2 song");
    if (!file.has(0, kRcpHeaderSize)) Refuse(result, kRcpErrHeaderNotRead, "song header cut short");
    ByteView header = file.sub(0, kRcpHeaderSize);

    const uint16_t trackCount = r36 ? 36 : 18;
    static constexpr uint8_t kHead[14] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 0, 0, 0};
    smf->assign(std::begin(kHead), std::end(kHead));
    const int timeBase = RcpTimeBase(header.data());
    (*smf)[12] = static_cast<uint8_t>(timeBase >> 8);
    (*smf)[13] = static_cast<uint8_t>(timeBase);
    smf->reserve(64 * 1024);

    uint16_t converted = 0;
    bool silentTime = false, cut = false;
    size_t pos = kRcpHeaderSize;
    for (uint16_t t = 0; t < trackCount; ++t) {
      if (!file.has(pos, 2)) {  // no size to read: the song ends here
        cut = true;
        break;
      }
      size_t trackSize = file.u16le(pos);
      cut = cut || trackSize > file.size() - pos;
      // A size pointing past the file keeps the events that are there.
      ByteView track = file.sub(pos, std::min(trackSize, file.size() - pos));
      size_t chunkStart = smf->size();
      bool done = QGuard(kTraceName, false, [&] {
        TrackConverter converter(header, track, t == 0, *smf);
        converter.Run();
        silentTime = silentTime || converter.TimePassedSilently();
        return true;
      });
      if (!done) {  // a failed allocation: keep the tracks converted so far
        smf->resize(chunkStart);
        break;
      }
      ++converted;
      pos += trackSize;
    }
    // The count says what the image holds, so that a song that broke off
    // still reads as a whole file.
    (*smf)[10] = static_cast<uint8_t>(converted >> 8);
    (*smf)[11] = static_cast<uint8_t>(converted);
    if (silentTime && result) result->set(kRcpErrNoNoteSounding);
    if (cut && result) result->set(kRcpErrCut);
    return true;
  });
}
