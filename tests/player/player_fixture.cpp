#include "tests/player/player_fixture.h"

#include <cstdio>

#include "platform/midi_bytes.h"

namespace playertest {

namespace {

void putWord(Bytes& b, uint32_t w) {
  uint8_t le[4];
  StoreLe32(le, w);
  b.insert(b.end(), le, le + 4);
}

uint8_t deltaCode(uint32_t delta) {
  return delta == 0 ? 0 : delta == 1 ? kRecDelta1 : delta == 2 ? kRecDelta2 : kRecDeltaWord;
}

class RecordingPort final : public MidiOutPort {
 public:
  RecordingPort(RecordingSystem* system, int id) : system_(system), id_(id) {}
  MidiResult shortMessage(uint32_t message) override {
    if (!decoder_.decode(message)) return kMidiInvalidParam;
    system_->add(id_, MidiHex(decoder_.data(), static_cast<size_t>(decoder_.size())));
    return kMidiOk;
  }
  MidiResult longMessage(const uint8_t* data, uint32_t length) override {
    system_->add(id_, MidiHex(data, length));
    return kMidiOk;
  }
  MidiResult reset() override {
    system_->add(id_, "reset");
    return kMidiOk;
  }
  MidiResult getVolume(uint32_t* v) override {
    std::lock_guard lock(system_->mutex);
    for (int u : system_->unreadable)
      if (u == id_) return kMidiError;
    *v = system_->volume[id_ + 1];
    return kMidiOk;
  }
  MidiResult setVolume(uint32_t v) override {
    {
      std::lock_guard lock(system_->mutex);
      system_->volume[id_ + 1] = v;
    }
    char b[24];
    std::snprintf(b, sizeof b, "volume %08x", v);
    system_->add(id_, b);
    return kMidiOk;
  }
  MidiResult close() override {
    system_->add(id_, "close");
    return kMidiOk;
  }

 private:
  RecordingSystem* system_;
  int id_;
  MidiShortMessage decoder_;
};

}  // namespace

Stream& Stream::shortMsg(uint32_t delta, uint32_t message, bool portB, bool marker) {
  uint8_t flags = kRecShort | deltaCode(delta) | (portB ? kRecPortB : 0) | (marker ? kRecMarker : 0);
  return raw((message & 0xFFFFFF) | uint32_t{flags} << 24, delta);
}

Stream& Stream::tempo(uint32_t delta, uint32_t us, bool marker) {
  uint8_t flags = kRecTempo | deltaCode(delta) | (marker ? kRecMarker : 0);
  return raw((us & 0xFFFFFF) | uint32_t{flags} << 24, delta);
}

Stream& Stream::nop(uint32_t delta, bool marker) {
  uint8_t flags = kRecNop | deltaCode(delta) | (marker ? kRecMarker : 0);
  return raw(uint32_t{flags} << 24, delta);
}

Stream& Stream::longMsg(uint32_t delta, const Bytes& payload, bool portB) {
  uint8_t flags = kRecLong | deltaCode(delta) | (portB ? kRecPortB : 0);
  return raw(static_cast<uint32_t>(payload.size()) | uint32_t{flags} << 24, delta, payload);
}

Stream& Stream::raw(uint32_t word0, uint32_t deltaWord, const Bytes& payload) {
  putWord(bytes, word0);
  if (((word0 >> 24) & kRecDeltaMask) == kRecDeltaWord) putWord(bytes, deltaWord);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  while (bytes.size() % 4) bytes.push_back(0);
  return *this;
}

std::string RecordingSystem::productName(int id) {
  return id >= -1 && id < 4 ? "recording " + std::to_string(id) : "";
}

bool RecordingSystem::supportsVolume(int id) {
  for (int v : volumeDevices)
    if (v == id) return true;
  return false;
}

MidiResult RecordingSystem::open(int id, std::unique_ptr<MidiOutPort>* port) {
  if (id < -1 || id >= 4) return kMidiBadDevice;
  ++opens;
  *port = std::make_unique<RecordingPort>(this, id);
  return kMidiOk;
}

void RecordingSystem::add(int id, const std::string& what) {
  int64_t t = clock_.nowMicroseconds();
  std::lock_guard lock(mutex);
  logs_[id + 1].push_back({t, what});
}

std::vector<Received> RecordingSystem::log(int id) {
  std::lock_guard lock(mutex);
  return logs_[id + 1];
}

std::vector<std::string> RecordingSystem::messages(int id) {
  std::vector<std::string> out;
  for (const Received& r : log(id))
    if (r.what != "reset" && r.what != "close" && r.what.rfind("volume", 0) != 0) out.push_back(r.what);
  return out;
}

void RecordingSystem::clear() {
  std::lock_guard lock(mutex);
  for (auto& l : logs_) l.clear();
}

std::string Hex(uint32_t m) {
  MidiShortMessage d;
  d.decode(m);
  return MidiHex(d.data(), static_cast<size_t>(d.size()));
}

void PlayerTest::playerOpened(bool) {
  std::lock_guard lock(notifiedMutex);
  notified.push_back(kQDNotifyOpen);
}

void PlayerTest::playerDone() {
  {
    std::lock_guard lock(notifiedMutex);
    notified.push_back(kQDNotifyDone);
  }
  done = 1;
}

void PlayerTest::playerClosed(MidiResult) {
  std::lock_guard lock(notifiedMutex);
  notified.push_back(kQDNotifyClosed);
}

void PlayerTest::playerProgress(int32_t ms) {
  std::lock_guard lock(notifiedMutex);
  progress.push_back(ms);
}

void PlayerTest::playerWrdStep(uint32_t nowMs) {
  std::lock_guard lock(notifiedMutex);
  wrdSteps.push_back(nowMs);
}

std::vector<int32_t> PlayerTest::Progress() {
  std::lock_guard lock(notifiedMutex);
  return progress;
}

std::vector<uint32_t> PlayerTest::WrdSteps() {
  std::lock_guard lock(notifiedMutex);
  return wrdSteps;
}

void PlayerTest::SetUp() {
  qtest::StartTrace(dir);
  player.setListener(this);
}

void PlayerTest::TearDown() {
  player.close();
  player.setListener(nullptr);
}

void PlayerTest::PlayOn(Player& p, const Stream& s, int32_t division) {
  played = s;
  if (!p.currentHandle()) {
    ASSERT_TRUE(p.open());
  }
  PackedSong song = PackedSongOf(played.bytes.data(), static_cast<uint32_t>(played.bytes.size()),
                                 played.table.empty() ? nullptr : played.table.data(),
                                 static_cast<uint32_t>(played.table.size()), division);
  ASSERT_TRUE(p.take(std::move(song)));
  ASSERT_TRUE(p.start());
  ASSERT_TRUE(p.release());
}

bool PlayerTest::RunToEnd(uint32_t limitMs) {
  for (uint32_t t = 0; t < limitMs && !done.load(); t += 10) timer.advance(10);
  return done.load() != 0;
}

int64_t PlayerTest::PlayTime(uint32_t tick, int64_t tickLengthFx, int32_t periodMs) const {
  int64_t start = player.state().startUs.load();
  int64_t p = int64_t{periodMs} * 1000;
  // The first grid point after the start whose elapsed time holds the tick.
  int64_t k = (static_cast<int64_t>(tick) * tickLengthFx + (p << 16) - 1) / (p << 16);
  if (k < 1) k = 1;
  return start + k * p;
}

std::vector<int32_t> PlayerTest::Notified() {
  std::lock_guard lock(notifiedMutex);
  return notified;
}

}  // namespace playertest
