// Helpers shared by the song reader's source files.
#pragma once

#include <cstdint>
#include <string>

// Call-site tags of the song reader's tracked allocations.
constexpr int32_t kTagSongHead = 200;     // header reads of QGmstTitle/Cm6/Hyosi
constexpr int32_t kTagSongFile = 201;     // the song file while converting
constexpr int32_t kTagTrackState = 210;
constexpr int32_t kTagTrackData = 211;
constexpr int32_t kTagLongData = 213;
// kTagStreamBuffer (214) and kTagTimeTable (215): engine/song/packed_song.h.

// ".RCP" or ".R36", any letter case.
bool SongIsRecomposer(const std::string& path);
bool SongIsR36(const std::string& path);

inline uint32_t LoadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}
