#include "tests/song/smf_reader.h"

#include <stdexcept>

namespace qtest {
namespace {

struct Cursor {
  const std::vector<uint8_t>& b;
  size_t pos;
  size_t end;
  uint8_t u8() {
    if (pos >= end) throw std::runtime_error("data runs past its chunk");
    return b[pos++];
  }
  uint32_t be(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | u8();
    return v;
  }
  uint32_t vlq() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t c = u8();
      v = v << 7 | (c & 0x7F);
      if (!(c & 0x80)) return v;
    }
    throw std::runtime_error("variable-length quantity longer than 4 bytes");
  }
};

}  // namespace

Smf ReadSmf(const std::vector<uint8_t>& bytes) {
  Smf smf;
  Cursor c{bytes, 0, bytes.size()};
  if (c.be(4) != 0x4D546864) throw std::runtime_error("no MThd");
  if (c.be(4) != 6) throw std::runtime_error("header length not 6");
  smf.format = static_cast<uint16_t>(c.be(2));
  smf.trackCount = static_cast<uint16_t>(c.be(2));
  smf.division = static_cast<uint16_t>(c.be(2));
  for (int t = 0; t < smf.trackCount; ++t) {
    if (c.be(4) != 0x4D54726B) throw std::runtime_error("no MTrk where a track must start");
    SmfTrack track;
    track.length = c.be(4);
    if (track.length > bytes.size() - c.pos) throw std::runtime_error("track length past the file");
    Cursor tc{bytes, c.pos, c.pos + track.length};
    uint32_t tick = 0;
    uint8_t running = 0;
    bool ended = false;
    while (tc.pos < tc.end) {
      if (ended) throw std::runtime_error("bytes after the end of track");
      SmfEvent e;
      tick += tc.vlq();
      e.tick = tick;
      uint8_t first = tc.u8();
      if (first < 0x80) {
        if (!running) throw std::runtime_error("data byte with no running status");
        e.status = running;
        e.running = true;
        --tc.pos;
      } else {
        e.status = first;
      }
      if (e.status == 0xFF) {
        e.metaType = tc.u8();
        uint32_t n = tc.vlq();
        for (uint32_t i = 0; i < n; ++i) e.data.push_back(tc.u8());
        if (e.metaType == 0x2F) ended = true;
        running = 0;
      } else if (e.status == 0xF0 || e.status == 0xF7) {
        uint32_t n = tc.vlq();
        for (uint32_t i = 0; i < n; ++i) e.data.push_back(tc.u8());
        running = 0;
      } else if (e.status >= 0xF1) {
        throw std::runtime_error("system message in a track");
      } else {
        int n = ((e.status & 0xF0) == 0xC0 || (e.status & 0xF0) == 0xD0) ? 1 : 2;
        for (int i = 0; i < n; ++i) {
          uint8_t d = tc.u8();
          if (d & 0x80) throw std::runtime_error("status byte where a data byte must be");
          e.data.push_back(d);
        }
        running = e.status;
      }
      track.events.push_back(std::move(e));
    }
    if (!ended) throw std::runtime_error("track without end of track");
    c.pos = tc.end;
    smf.tracks.push_back(std::move(track));
  }
  if (c.pos != bytes.size()) throw std::runtime_error("bytes after the last track");
  return smf;
}

}  // namespace qtest
