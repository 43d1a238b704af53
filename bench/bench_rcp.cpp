// Recomposer songs converted per second: a large generated song whose tracks
// are loops of measures and repeated measures, as full as the output limit
// of a track allows; and the whole conversion a song start does (file,
// image, packed stream) of a 270 KB song in each layout.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "engine/song/rcp_converter.h"
#include "engine/song/song_reader.h"
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


// A song of about `bytes` bytes in the layout: 18 tracks of measures of
// eight notes, each measure played twice by a loop.
std::vector<uint8_t> SongOfSize(bool v3, size_t bytes) {
  qtest::RcpSong song;
  song.v3 = v3;
  const size_t eventSize = v3 ? 6 : 4, perTrack = bytes / 18 / eventSize;
  for (int t = 0; t < 18; ++t) {
    qtest::RcpTrack track;
    track.channel = static_cast<uint8_t>(t % 16);
    for (size_t n = 0; track.events.size() + 11 < perTrack; ++n) {
      track.Ev(0xF9, 0);
      for (int i = 0; i < 8; ++i) track.Ev(static_cast<uint8_t>(48 + (n + i * 5 + t) % 40), 12, 10, 100);
      track.Ev(0xF8, 2).Ev(0xFD, 0);
    }
    song.tracks.push_back(track.End());
  }
  return song.Build();
}

// What a song start does with the file: read it, build the image, pack the
// stream and its time table.
void BM_ConvertWholeSong(benchmark::State& state) {
  const bool v3 = state.range(0) == 3;
  const std::vector<uint8_t> bytes = SongOfSize(v3, 270 * 1024);
  const std::string path =
      (std::filesystem::temp_directory_path() / (v3 ? "qmidi-bench-270k.g36" : "qmidi-bench-270k.rcp")).string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  ResultCode result;
  TQUORMSTR song(result);
  song.setinFileName(path);
  for (auto _ : state) {
    PackedSong packed;
    if (!song.Convert(3, 0, &packed)) {
      state.SkipWithError("the song did not convert");
      break;
    }
    benchmark::DoNotOptimize(packed.length);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
  state.counters["song_bytes"] = static_cast<double>(bytes.size());
  std::filesystem::remove(path);
}
BENCHMARK(BM_ConvertWholeSong)->Arg(2)->Arg(3)->ArgName("layout")->Unit(benchmark::kMillisecond);

}  // namespace
