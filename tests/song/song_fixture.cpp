#include "tests/song/song_fixture.h"

#include <algorithm>

namespace songtest {

namespace {

void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

void putBe32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void putLe32(Bytes& b, uint32_t v) {
  for (int s = 0; s <= 24; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace

Bytes Vlq(uint32_t value) {
  Bytes out{static_cast<uint8_t>(value & 0x7F)};
  while (value >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
  return out;
}

Track& Track::at(uint32_t delta, std::initializer_list<uint8_t> event) { return at(delta, Bytes(event)); }

Track& Track::at(uint32_t delta, const Bytes& event) {
  append(bytes, Vlq(delta));
  append(bytes, event);
  return *this;
}

Track& Track::meta(uint32_t delta, uint8_t type, const Bytes& data) {
  Bytes e{0xFF, type};
  append(e, Vlq(static_cast<uint32_t>(data.size())));
  append(e, data);
  return at(delta, e);
}

Track& Track::text(uint32_t delta, uint8_t type, const std::string& s) {
  return meta(delta, type, Bytes(s.begin(), s.end()));
}

Track& Track::tempo(uint32_t delta, uint32_t us) {
  return meta(delta, 0x51, {static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)});
}

Track& Track::timeSignature(uint32_t delta, uint8_t numerator, uint8_t power) {
  return meta(delta, 0x58, {numerator, power, 24, 8});
}

Track& Track::sysex(uint32_t delta, const Bytes& dataAfterF0) {
  Bytes e{0xF0};
  append(e, Vlq(static_cast<uint32_t>(dataAfterF0.size())));
  append(e, dataAfterF0);
  return at(delta, e);
}

Track& Track::end(uint32_t delta) { return at(delta, {0xFF, 0x2F, 0x00}); }

Bytes Smf(uint16_t division, const std::vector<Track>& tracks, uint16_t format) {
  Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6};
  auto put16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  };
  put16(format);
  put16(static_cast<uint16_t>(tracks.size()));
  put16(division);
  for (const Track& t : tracks) {
    append(out, {'M', 'T', 'r', 'k'});
    putBe32(out, static_cast<uint32_t>(t.bytes.size()));
    append(out, t.bytes);
  }
  return out;
}

Bytes RiffWrapped(const Bytes& smf) {
  Bytes out{'R', 'I', 'F', 'F'};
  putLe32(out, static_cast<uint32_t>(smf.size() + 12));
  append(out, {'R', 'M', 'I', 'D', 'd', 'a', 't', 'a'});
  putLe32(out, static_cast<uint32_t>(smf.size()));
  append(out, smf);
  if (out.size() % 2) out.push_back(0);
  return out;
}

std::vector<Record> Records(const PackedSong& song) {
  std::vector<Record> out;
  const uint8_t* data = song.data();
  uint32_t length = song.length;
  uint32_t tick = 0;
  int markers = 0;
  StreamRecordView v;
  for (uint32_t at = 0; data && at < length; at += v.size) {
    if (!DecodeStreamRecord(data, length, at, &v)) {
      ADD_FAILURE() << "undecodable record at " << at;
      break;
    }
    Record r;
    r.offset = at;
    r.flags = v.flags;
    r.data = v.data;
    r.delta = v.delta;
    tick += v.delta;
    r.tick = tick;
    if (v.payload) r.payload.assign(v.payload, v.payload + v.payloadSize);
    if (v.marker()) r.marker = markers++;
    out.push_back(r);
  }
  return out;
}

std::vector<Record> ShortMessages(const PackedSong& song) {
  std::vector<Record> all = Records(song), out;
  std::copy_if(all.begin(), all.end(), std::back_inserter(out),
               [](const Record& r) { return r.kind() == kRecShort; });
  return out;
}

void SongTest::SetUp() { qtest::StartTrace(dir); }

bool SongTest::Convert(const Bytes& file, int32_t playMode, const std::string& name) {
  packed = PackedSong();
  song.setinFileName(dir.write(name, file));
  result.clear();
  return song.Convert(3, playMode, &packed);
}

bool SongTest::TraceHas(const std::string& entry) const {
  auto lines = qtest::TraceLines();
  return std::find(lines.begin(), lines.end(), entry) != lines.end();
}

}  // namespace songtest
