// Helpers shared by the song reader's source files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/song/rcp_converter.h"

// Call-site tags of the song reader's tracked allocations.
constexpr int32_t kTagSongHead = 200;     // header reads of QGmstTitle/Cm6/Hyosi
constexpr int32_t kTagSongFile = 201;     // the song file while converting
constexpr int32_t kTagTrackState = 210;
constexpr int32_t kTagTrackData = 211;
constexpr int32_t kTagLongData = 213;
// kTagStreamBuffer (214) and kTagTimeTable (215): engine/song/packed_song.h.

// The Recomposer layout of a song whose first bytes are data[0, size): the
// one its signature gives, else v2 for a Recomposer name (".RCP", ".R36",
// ".G36", ".G18", any case: a damaged signature is refused when the song is
// converted), else none.
RcpLayout SongRecomposerLayout(const uint8_t* data, size_t size, const std::string& path);

inline uint32_t LoadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}
