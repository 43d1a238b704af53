// What the Recomposer converter tests share: song images and what they
// sound (note-ons paired with note-offs, events of a kind).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "engine/song/rcp_converter.h"
#include "tests/song/rcp_builder.h"
#include "tests/song/smf_reader.h"

namespace rcptest {

using qtest::RcpSong;
using qtest::RcpTrack;
using qtest::Smf;
using qtest::SmfEvent;
using qtest::SmfTrack;
using Bytes = std::vector<uint8_t>;

inline RcpTrack Track(uint8_t channel = 0) {
  RcpTrack t;
  t.channel = channel;
  return t;
}

inline std::vector<uint8_t> Image(const std::vector<uint8_t>& rcp, bool r36 = false, ResultCode* result = nullptr) {
  std::vector<uint8_t> image;
  EXPECT_TRUE(RcpToSmfImage(rcp.data(), rcp.size(), r36, &image, result));
  return image;
}

inline Smf Convert(const RcpSong& song, int tracks = 18, ResultCode* result = nullptr) {
  return qtest::ReadSmf(Image(song.Build(tracks), tracks == 36, result));
}

struct Note {
  uint32_t on, off;
  int channel, key, velocity;
  bool operator==(const Note&) const = default;
};

inline std::ostream& operator<<(std::ostream& o, const Note& n) {
  return o << "{" << n.on << "-" << n.off << " ch" << n.channel << " key " << n.key << " vel "
           << n.velocity << "}";
}

// Note-ons paired with their note-offs, in note-on order.
inline std::vector<Note> Notes(const SmfTrack& track) {
  std::vector<Note> notes;
  for (const SmfEvent& e : track.events) {
    if (e.IsNoteOn()) {
      notes.push_back({e.tick, UINT32_MAX, e.Channel(), e.data[0], e.data[1]});
    } else if (e.IsNoteOff()) {
      for (Note& n : notes)
        if (n.off == UINT32_MAX && n.channel == e.Channel() && n.key == e.data[0]) {
          n.off = e.tick;
          break;
        }
    }
  }
  return notes;
}

inline std::vector<uint32_t> OnTicks(const SmfTrack& track) {
  std::vector<uint32_t> ticks;
  for (const Note& n : Notes(track)) ticks.push_back(n.on);
  return ticks;
}

inline std::vector<const SmfEvent*> Find(const SmfTrack& track, bool (*match)(const SmfEvent&)) {
  std::vector<const SmfEvent*> found;
  for (const SmfEvent& e : track.events)
    if (match(e)) found.push_back(&e);
  return found;
}

inline bool IsSysEx(const SmfEvent& e) { return e.status == 0xF0; }
inline bool IsChannelMessage(const SmfEvent& e) { return e.status < 0xF0; }
inline bool IsTempo(const SmfEvent& e) { return e.IsMeta(0x51); }
inline bool IsPort(const SmfEvent& e) { return e.IsMeta(0x21); }

inline uint32_t Micros(const SmfEvent& e) {
  return uint32_t{e.data[0]} << 16 | e.data[1] << 8 | e.data[2];
}

}  // namespace rcptest
