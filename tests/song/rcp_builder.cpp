#include "tests/song/rcp_builder.h"

#include <algorithm>
#include <cstring>

namespace qtest {

std::vector<uint8_t> RcpSong::Build(int trackCount) const {
  std::vector<uint8_t> f(1414, 0);
  std::copy(signature.begin(), signature.begin() + std::min<size_t>(signature.size(), 32), f.begin());
  std::fill(f.begin() + 0x20, f.begin() + 0x60 + 336, ' ');
  std::copy(title.begin(), title.begin() + std::min<size_t>(title.size(), 64), f.begin() + 0x20);
  for (size_t i = 0; i < memo.size() && i < 12; ++i)
    std::copy(memo[i].begin(), memo[i].begin() + std::min<size_t>(memo[i].size(), 28),
              f.begin() + 0x60 + 28 * i);
  f[0x1C0] = timeBase;
  f[0x1C1] = tempo;
  f[0x1C2] = numerator;
  f[0x1C3] = denominator;
  f[0x1C4] = key;
  for (size_t n = 0; n < 8; ++n) {
    size_t at = 0x406 + 48 * n;
    std::fill(f.begin() + at, f.begin() + at + 24, ' ');
    std::fill(f.begin() + at + 24, f.begin() + at + 48, 0xF7);
    const auto& d = userExclusive[n];
    std::copy(d.begin(), d.begin() + std::min<size_t>(d.size(), 24), f.begin() + at + 24);
  }
  for (int t = 0; t < trackCount; ++t) {
    RcpTrack track;
    if (static_cast<size_t>(t) < tracks.size()) {
      track = tracks[t];
    } else {
      track.channel = static_cast<uint8_t>(t < 16 ? t : 0xFF);
      track.End();
    }
    size_t size = 44 + 4 * track.events.size();
    uint16_t field = track.size ? *track.size : static_cast<uint16_t>(size);
    std::vector<uint8_t> h(44, ' ');
    h[0] = static_cast<uint8_t>(field);
    h[1] = static_cast<uint8_t>(field >> 8);
    h[2] = static_cast<uint8_t>(t + 1);
    h[3] = 0;
    h[4] = track.channel;
    h[5] = track.key;
    h[6] = 0;
    h[7] = track.mode;
    f.insert(f.end(), h.begin(), h.end());
    for (const auto& e : track.events) f.insert(f.end(), e.begin(), e.end());
  }
  return f;
}

}  // namespace qtest
