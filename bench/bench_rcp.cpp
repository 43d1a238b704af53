// Recomposer songs converted per second: a large generated song whose tracks
// are loops of measures and repeated measures, as full as the output limit
// of a track allows.
#include <benchmark/benchmark.h>

#include "engine/song/rcp_converter.h"
#include "tests/song/rcp_builder.h"
#include "tests/song/smf_reader.h"

namespace {

std::vector<uint8_t> LargeSong() {
  qtest::RcpSong song;
  for (int t = 0; t < 18; ++t) {
    qtest::RcpTrack track;
    track.channel = static_cast<uint8_t>(t % 16);
    // 150 blocks: ten measures of eight notes played twice by a loop, then
    // each of them once more as a repeated measure.
    for (int block = 0; block < 150; ++block) {
      track.Ev(0xF9, 0);
      for (int m = 0; m < 10; ++m) {
        for (int n = 0; n < 8; ++n) track.Ev(static_cast<uint8_t>(48 + (block + m + n * 3) % 40), 12, 10, 100);
        track.Ev(0xFD, 0);
      }
      track.Ev(0xF8, 2);
      // Measure numbers count 0xFD and 0xFC from the track start: 20 per block.
      for (int m = 0; m < 10; ++m) {
        int measure = block * 20 + m;
        track.Ev(0xFC, static_cast<uint8_t>(measure), static_cast<uint8_t>(measure >> 8));
      }
    }
    song.tracks.push_back(track.End());
  }
  return song.Build();
}

void BM_RcpToSmfImage(benchmark::State& state) {
  const std::vector<uint8_t> rcp = LargeSong();
  std::vector<uint8_t> image;
  RcpToSmfImage(rcp.data(), rcp.size(), false, &image);
  int64_t notes = 0;
  for (const auto& track : qtest::ReadSmf(image).tracks)
    for (const auto& e : track.events) notes += e.IsNoteOn();
  for (auto _ : state) {
    RcpToSmfImage(rcp.data(), rcp.size(), false, &image);
    benchmark::DoNotOptimize(image.data());
  }
  state.SetItemsProcessed(state.iterations() * notes);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(rcp.size()));
  state.counters["notes_per_song"] = static_cast<double>(notes);
}
BENCHMARK(BM_RcpToSmfImage)->Unit(benchmark::kMillisecond);

}  // namespace
