// Conversion throughput: MB of song per second and events per second, on
// the shared Standard MIDI Files and on a large generated many-track song.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "engine/player/midi_player.h"
#include "engine/song/song_reader.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<Bytes> SharedSongs() {
  std::vector<Bytes> songs;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(fs::path(QMIDI_TESTDATA_DIR) / "smf", ec))
    if (e.is_regular_file() && e.path().extension() == ".mid") songs.push_back(ReadFile(e.path()));
  return songs;
}

void PutVlq(Bytes& b, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = 0x80 | (v & 0x7F);
  while (n) b.push_back(tmp[--n]);
}

void PutBe32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// 32 tracks of notes (running status), controllers and pitch bends, with
// tempo changes and a few system exclusive messages: a little over 5 MB.
Bytes LargeSong() {
  std::mt19937 rng(12345);
  const int tracks = 32;
  Bytes song{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, tracks, 0x01, 0xE0};
  for (int t = 0; t < tracks; ++t) {
    Bytes tr;
    uint8_t ch = static_cast<uint8_t>(t & 15);
    PutVlq(tr, 0);
    tr.insert(tr.end(), {static_cast<uint8_t>(0xC0 | ch), static_cast<uint8_t>(t * 3)});
    while (tr.size() < 165000) {
      uint32_t r = rng();
      if (t == 0 && r % 97 == 0) {  // tempo change
        PutVlq(tr, r % 5);
        uint32_t tempo = 300000 + r % 400000;
        tr.insert(tr.end(), {0xFF, 0x51, 0x03, static_cast<uint8_t>(tempo >> 16),
                             static_cast<uint8_t>(tempo >> 8), static_cast<uint8_t>(tempo)});
      } else if (r % 211 == 0) {  // a GS parameter message
        PutVlq(tr, 0);
        tr.insert(tr.end(), {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x02, 0x0D, 0xF7});
      } else if (r % 13 == 0) {
        PutVlq(tr, r % 3);
        tr.insert(tr.end(), {static_cast<uint8_t>(0xE0 | ch), static_cast<uint8_t>(r >> 8 & 0x7F),
                             static_cast<uint8_t>(r >> 16 & 0x7F)});
      } else {
        uint8_t key = static_cast<uint8_t>(36 + (r >> 8) % 48);
        PutVlq(tr, (r >> 4) % 60);
        tr.insert(tr.end(), {static_cast<uint8_t>(0x90 | ch), key, static_cast<uint8_t>(40 + r % 80)});
        PutVlq(tr, 30 + (r >> 16) % 90);
        tr.insert(tr.end(), {key, 0});  // running status, velocity 0
      }
    }
    tr.insert(tr.end(), {0x00, 0xFF, 0x2F, 0x00});
    song.insert(song.end(), {'M', 'T', 'r', 'k'});
    PutBe32(song, static_cast<uint32_t>(tr.size()));
    song.insert(song.end(), tr.begin(), tr.end());
  }
  return song;
}

// Converts one song as a song start does; the bytes packed (the song is let go).
uint32_t ConvertOnce(TQUORMSTR& song, const Bytes& image) {
  song.ResetConverterState(3);
  if (song.ConverterInitImage(image.data(), image.size())) song.ConvertToBuffer(1);
  song.ConverterCleanUp();
  const uint32_t written = song.StreamBytesWritten();
  PackedSong packed;
  song.TakeConverted(&packed);
  return written;
}

// Events packed from a song (records other than no-operations).
int64_t CountEvents(TQUORMSTR& song, const Bytes& image) {
  song.ResetConverterState(3);
  int64_t events = 0;
  if (song.ConverterInitImage(image.data(), image.size()) && song.ConvertToBuffer(1) == 0) {
    PackedSong packed;
    song.TakeConverted(&packed);
    StreamRecordView r;
    for (uint32_t at = 0; DecodeStreamRecord(packed.data(), packed.length, at, &r); at += r.size)
      events += r.kind() != kRecNop;
  }
  song.ConverterCleanUp();
  return events;
}

void Run(benchmark::State& state, const std::vector<Bytes>& songs) {
  ResultCode result;
  TQUORMSTR song(result);
  int64_t bytes = 0, events = 0;
  for (const Bytes& s : songs) {
    bytes += static_cast<int64_t>(s.size());
    events += CountEvents(song, s);
  }
  for (auto _ : state) {
    for (const Bytes& s : songs) {
      benchmark::DoNotOptimize(ConvertOnce(song, s));
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["events/s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["song MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_ConvertSharedSongs(benchmark::State& state) {
  static const std::vector<Bytes> songs = SharedSongs();
  Run(state, songs);
}
BENCHMARK(BM_ConvertSharedSongs)->Unit(benchmark::kMillisecond);

void BM_ConvertLargeSong(benchmark::State& state) {
  static const std::vector<Bytes> songs{LargeSong()};
  Run(state, songs);
}
BENCHMARK(BM_ConvertLargeSong)->Unit(benchmark::kMillisecond);

}  // namespace
