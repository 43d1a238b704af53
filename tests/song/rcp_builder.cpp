#include "tests/song/rcp_builder.h"

#include <algorithm>
#include <cstring>

namespace qtest {

namespace {

void Put(std::vector<uint8_t>& f, size_t at, const std::string& text, size_t max) {
  std::copy(text.begin(), text.begin() + std::min(text.size(), max), f.begin() + at);
}

void Le(std::vector<uint8_t>& f, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> RcpSong::Build(int trackCount) const {
  const size_t headerSize = v3 ? 0xC98 : 1414;
  const size_t memoAt = v3 ? 0xA0 : 0x60, memoLine = v3 ? 30 : 28;
  const size_t userAt = v3 ? 0xB18 : 0x406, userName = v3 ? 23 : 24;
  const size_t trackHeader = v3 ? 46 : 44, eventSize = v3 ? 6 : 4;
  std::vector<uint8_t> f(headerSize, 0);
  const std::string sig =
      !signature.empty() ? signature : v3 ? std::string("COME ON MUSIC RECOMPOSER RCP3.0") : "RCM-PC98V2.0(C)COME ON MUSIC\r\n";
  Put(f, 0, sig, 32);
  std::fill(f.begin() + 0x20, f.begin() + memoAt + 12 * memoLine, ' ');
  Put(f, 0x20, title, 64);
  for (size_t i = 0; i < memo.size() && i < 12; ++i) Put(f, memoAt + memoLine * i, memo[i], memoLine);
  if (v3) {
    Le(f, 0x208, static_cast<uint32_t>(trackCount), 2);
    Le(f, 0x20A, timeBase, 2);
    Le(f, 0x20C, tempo, 2);
    f[0x20E] = numerator;
    f[0x20F] = denominator;
    f[0x210] = key;
    f[0x211] = static_cast<uint8_t>(playBias);
    Put(f, 0x298, gsd, 12);
    Put(f, 0x2A8, gsdB, 12);
    Put(f, 0x2B8, cm6, 12);
  } else {
    f[0x1C0] = static_cast<uint8_t>(timeBase);
    f[0x1E7] = static_cast<uint8_t>(timeBase >> 8);
    f[0x1C1] = static_cast<uint8_t>(tempo);
    f[0x1C2] = numerator;
    f[0x1C3] = denominator;
    f[0x1C4] = key;
    f[0x1C5] = static_cast<uint8_t>(playBias);
    Put(f, 0x1C6, cm6, 12);
    Put(f, 0x1D6, gsd, 12);
  }
  for (size_t n = 0; n < 8; ++n) {
    size_t at = userAt + 48 * n;
    std::fill(f.begin() + at, f.begin() + at + userName, ' ');
    std::fill(f.begin() + at + userName, f.begin() + at + 48, 0xF7);
    const auto& d = userExclusive[n];
    std::copy(d.begin(), d.begin() + std::min<size_t>(d.size(), 48 - userName), f.begin() + at + userName);
  }
  for (int t = 0; t < trackCount; ++t) {
    RcpTrack track;
    if (static_cast<size_t>(t) < tracks.size()) {
      track = tracks[t];
    } else {
      track.channel = static_cast<uint8_t>(t < 16 ? t : 0xFF);
      track.End();
    }
    const size_t size = trackHeader + eventSize * track.events.size();
    std::vector<uint8_t> h(trackHeader, ' ');
    const size_t at = v3 ? 4 : 2;
    Le(h, 0, track.size ? *track.size : static_cast<uint32_t>(size), v3 ? 4 : 2);
    h[at] = static_cast<uint8_t>(t + 1);
    h[at + 1] = 0;
    h[at + 2] = track.channel;
    h[at + 3] = track.key;
    h[at + 4] = 0;
    h[at + 5] = track.mode;
    f.insert(f.end(), h.begin(), h.end());
    for (const RcpEvent& e : track.events) {
      if (!v3) {
        f.insert(f.end(), {e.code, static_cast<uint8_t>(e.step), static_cast<uint8_t>(e.gg), e.ee});
      } else if (e.raw) {
        f.push_back(e.code);
        f.insert(f.end(), e.raw->begin(), e.raw->end());
      } else {
        f.insert(f.end(), {e.code, e.ee, static_cast<uint8_t>(e.step), static_cast<uint8_t>(e.step >> 8),
                           static_cast<uint8_t>(e.gg), static_cast<uint8_t>(e.gg >> 8)});
      }
    }
  }
  return f;
}

}  // namespace qtest
