#include "engine/song/song_lyrics.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>

#include "engine/song/play_mode_edits.h"
#include "engine/song/rcp_converter.h"
#include "engine/song/song_internal.h"
#include "support/file_record.h"
#include "support/guard.h"

namespace {

// As the converter: songs are held whole, larger files are not read.
constexpr uint32_t kMaxSongBytes = 64u << 20;
constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaLyric = 0x05;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;

struct MetaText {
  uint32_t tick = 0;
  uint8_t type = 0;
  int track = 0;
  std::string bytes;  // cut at the first zero byte
};

struct TempoEvent {
  uint32_t tick = 0;
  uint32_t tempo = 0;
  int track = 0;
};

struct SongEvents {
  uint32_t division = 960;
  std::vector<MetaText> texts;  // lyric, text and track-name events in file order
  std::vector<TempoEvent> tempos;
};

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

// Reads bytes of one track with bounds checks.
class TrackCursor {
 public:
  TrackCursor(const uint8_t* data, size_t size) : p_(data), n_(size) {}
  bool atEnd() const { return at_ >= n_; }
  bool byte(uint8_t* b) {
    if (at_ >= n_) return false;
    *b = p_[at_++];
    return true;
  }
  // A variable-length number, wrapping as the converter's reader does.
  bool number(uint32_t* value) {
    uint32_t v = 0;
    uint8_t b;
    do {
      if (!byte(&b)) return false;
      v = (v << 7) + (b & 0x7Fu);
    } while (b & 0x80);
    *value = v;
    return true;
  }
  bool take(uint32_t count, std::string_view* out) {
    if (count > n_ - at_) return false;
    *out = {reinterpret_cast<const char*>(p_ + at_), count};
    at_ += count;
    return true;
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t at_ = 0;
};

bool twoByteMessage(uint8_t status) { return (status & 0xE0) == 0xC0; }

void keepMeta(uint8_t type, std::string_view data, uint32_t tick, int track, SongEvents* out) {
  if (type == kMetaTempo) {
    if (data.size() < 3) return;
    const auto* d = reinterpret_cast<const uint8_t*>(data.data());
    const uint32_t tempo =
        static_cast<uint32_t>(d[0]) << 16 | static_cast<uint32_t>(d[1]) << 8 | d[2];
    if (tempo != 0) out->tempos.push_back({tick, tempo, track});  // a zero tempo changes nothing
    return;
  }
  if (type != kMetaText && type != kMetaTrackName && type != kMetaLyric) return;
  out->texts.push_back({tick, type, track, std::string(data.substr(0, data.find('\0')))});
}

// Walks one track's events; a byte that cannot start an event ends the track
// there, as running out of data does.
void readTrack(const uint8_t* data, size_t size, int track, SongEvents* out) {
  TrackCursor c(data, size);
  uint32_t tick = 0;
  uint8_t running = 0;
  while (!c.atEnd()) {
    uint32_t delta = 0;
    uint8_t b = 0, skip = 0;
    std::string_view payload;
    if (!c.number(&delta) || !c.byte(&b)) return;
    tick += delta;
    if (b < 0x80) {
      if (running == 0) return;
      if (!twoByteMessage(running) && !c.byte(&skip)) return;
    } else if (b < 0xF0) {
      running = b;
      if (!c.byte(&skip) || (!twoByteMessage(b) && !c.byte(&skip))) return;
    } else if (b == 0xF0 || b == 0xF7) {
      uint32_t length = 0;
      if (!c.number(&length) || !c.take(length, &payload)) return;
    } else if (b == 0xFF) {
      uint8_t type = 0;
      uint32_t length = 0;
      if (!c.byte(&type) || !c.number(&length) || !c.take(length, &payload)) return;
      if (type == kMetaEndOfTrack) return;
      keepMeta(type, payload, tick, track, out);
    } else {
      return;
    }
  }
}

// The header and the tracks, found as the converter finds them.
SongEvents readSong(const uint8_t* image, size_t size) {
  SongEvents song;
  if (!image) return song;
  auto has = [&](uint64_t offset, uint64_t count) {
    return offset <= size && count <= size - offset;
  };
  uint64_t header = UINT64_MAX;
  for (uint64_t step = 0; step < 256 && has(step * 4, 4); ++step)
    if (std::memcmp(image + step * 4, "MThd", 4) == 0) {
      header = step * 4;
      break;
    }
  if (header == UINT64_MAX || !has(header + 8, 6)) return song;
  const uint32_t headerLength = LoadBe32(image + header + 4);
  if (headerLength < 6) return song;
  uint32_t tracks = static_cast<uint32_t>(image[header + 10]) << 8 | image[header + 11];
  const uint32_t division = static_cast<uint32_t>(image[header + 12]) << 8 | image[header + 13];
  song.division = division == 0 ? 960 : division;
  tracks = std::min<uint32_t>(tracks, kQGmstMaxTracks);
  uint64_t at = header + 8 + headerLength;
  for (uint32_t i = 0; i < tracks; ++i) {
    if (!has(at, 8) || std::memcmp(image + at, "MTrk", 4) != 0) break;
    const uint64_t start = at + 8;
    const uint64_t length = std::min<uint64_t>(LoadBe32(image + at + 4), size - start);
    readTrack(image + start, length, static_cast<int>(i), &song);
    at = start + length;
  }
  return song;
}

std::vector<TSongLyrics::TempoStep> tempoSteps(std::vector<TempoEvent> tempos) {
  // At one tick the converter packs the highest-numbered track first, so the
  // lowest track's tempo is the one left in force.
  std::stable_sort(tempos.begin(), tempos.end(), [](const TempoEvent& a, const TempoEvent& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.track > b.track;
  });
  std::vector<TSongLyrics::TempoStep> steps{TSongLyrics::TempoStep{}};
  for (const TempoEvent& e : tempos) {
    const TSongLyrics::TempoStep& last = steps.back();
    const uint64_t scaled = saturatingAdd(last.scaledUs, (e.tick - last.tick) * last.tempo);
    steps.push_back({e.tick, e.tempo, scaled});
  }
  return steps;
}

bool startsWithAt(const MetaText& t) {
  return t.type == kMetaText && !t.bytes.empty() && t.bytes[0] == '@';
}

std::string trimmed(std::string_view s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string_view::npos) return {};
  return std::string(s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1));
}

bool isLyricTrackName(std::string name) {
  name = trimmed(name);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "words" || name == "lyrics" || name == "lyric";
}

// The text events that carry a karaoke file's syllables: those of the
// tracks that hold its '@' headers or are named for the words, when there
// are such tracks (other tracks' texts are comments), else all of them.
std::vector<const MetaText*> karaokeSyllables(const SongEvents& song) {
  std::vector<int> lyricTracks;
  for (const MetaText& t : song.texts)
    if (startsWithAt(t) || (t.type == kMetaTrackName && isLyricTrackName(t.bytes)))
      lyricTracks.push_back(t.track);
  std::vector<const MetaText*> out;
  for (const MetaText& t : song.texts)
    if (t.type == kMetaText && !startsWithAt(t) &&
        (lyricTracks.empty() ||
         std::find(lyricTracks.begin(), lyricTracks.end(), t.track) != lyricTracks.end()))
      out.push_back(&t);
  return out;
}

enum class Break { kNone, kLine, kParagraph };

// Builds the lines: each break mark ends the text before it and makes the
// next syllable open a line.
class LineBuilder {
 public:
  explicit LineBuilder(std::vector<LyricLine>* lines) : lines_(lines) {}
  void add(const std::string& utf8, uint32_t tick, uint32_t ms) {
    std::string piece;
    for (char c : utf8) {
      if (c == '/' || c == '\\' || c == '\r' || c == '\n') {
        place(&piece, tick, ms);
        const Break kind = c == '\\' || c == '\n' ? Break::kParagraph : Break::kLine;
        pending_ = std::max(pending_, kind);
      } else if (c == '\t') {
        piece += ' ';
      } else if (static_cast<uint8_t>(c) >= 0x20 && c != 0x7F) {
        piece += c;
      }
    }
    place(&piece, tick, ms);
  }

 private:
  void place(std::string* piece, uint32_t tick, uint32_t ms) {
    if (piece->empty()) return;
    if (lines_->empty() || pending_ != Break::kNone) {
      lines_->emplace_back();
      lines_->back().paragraph = lines_->size() == 1 || pending_ == Break::kParagraph;
      pending_ = Break::kNone;
    }
    lines_->back().syllables.push_back({std::move(*piece), tick, ms});
    piece->clear();
  }
  std::vector<LyricLine>* lines_;
  Break pending_ = Break::kNone;
};

void readHeaders(const std::vector<const MetaText*>& headers, LyricEncoding encoding,
                 TSongLyrics* out) {
  for (const MetaText* h : headers) {
    if (h->bytes.size() < 2) continue;
    LyricHeader header{static_cast<char>(std::toupper(static_cast<unsigned char>(h->bytes[1]))),
                       trimmed(DecodeLyricText(std::string_view(h->bytes).substr(2), encoding))};
    if (header.tag == 'T' && !header.text.empty()) {
      if (out->title.empty())
        out->title = header.text;
      else if (out->artist.empty())
        out->artist = header.text;
    }
    out->headers.push_back(std::move(header));
  }
}

}  // namespace

std::string LyricLine::text() const {
  std::string all;
  for (const LyricSyllable& s : syllables) all += s.text;
  return trimmed(all);
}

void TSongLyrics::setTempoMap(uint32_t division, std::vector<TempoStep> steps) {
  division_ = division == 0 ? 960 : division;
  steps_ = steps.empty() ? std::vector<TempoStep>{TempoStep{}} : std::move(steps);
}

uint32_t TSongLyrics::msAtTick(uint64_t tick) const {
  auto after = std::upper_bound(steps_.begin(), steps_.end(), tick,
                                [](uint64_t t, const TempoStep& s) { return t < s.tick; });
  const TempoStep& s = *(after == steps_.begin() ? after : after - 1);
  const uint64_t ticks = std::min<uint64_t>(tick - std::min(tick, s.tick), UINT32_MAX);
  const uint64_t scaled = saturatingAdd(s.scaledUs, ticks * s.tempo);
  return static_cast<uint32_t>(std::min<uint64_t>(scaled / division_ / 1000, UINT32_MAX));
}

void TSongLyrics::index() {
  order_.clear();
  for (size_t l = 0; l < lines.size(); ++l)
    for (size_t k = 0; k < lines[l].syllables.size(); ++k)
      order_.push_back({lines[l].syllables[k].ms, l, k});
}

LyricPlace TSongLyrics::placeAt(uint32_t ms) const {
  auto after = std::upper_bound(order_.begin(), order_.end(), ms,
                                [](uint32_t t, const Sung& s) { return t < s.ms; });
  if (after == order_.begin()) return {};
  return {(after - 1)->line, (after - 1)->inLine + 1};
}

TSongLyrics ReadLyricsImage(const uint8_t* image, size_t size, bool karaokeName) {
  TSongLyrics lyrics;
  const SongEvents song = readSong(image, size);
  lyrics.setTempoMap(song.division, tempoSteps(song.tempos));

  std::vector<const MetaText*> syllables, headers;
  for (const MetaText& t : song.texts) {
    if (t.type == kMetaLyric) syllables.push_back(&t);
    if (startsWithAt(t)) headers.push_back(&t);
  }
  if (syllables.empty() && (karaokeName || !headers.empty())) {
    syllables = karaokeSyllables(song);
    lyrics.fromTextEvents = !syllables.empty();
  }
  // Tracks sung together (a duet) interleave by time.
  std::stable_sort(syllables.begin(), syllables.end(), [](const MetaText* a, const MetaText* b) {
    return a->tick != b->tick ? a->tick < b->tick : a->track < b->track;
  });

  std::vector<std::string> texts;
  for (const MetaText* t : syllables) texts.push_back(t->bytes);
  for (const MetaText* t : headers) texts.push_back(t->bytes);
  lyrics.encoding = DetectLyricEncoding(texts);
  readHeaders(headers, lyrics.encoding, &lyrics);
  LineBuilder builder(&lyrics.lines);
  for (const MetaText* t : syllables)
    builder.add(DecodeLyricText(t->bytes, lyrics.encoding), t->tick, lyrics.msAtTick(t->tick));
  lyrics.index();
  return lyrics;
}

TSongLyrics ReadSongLyrics(const std::string& path) {
  return QGuard("ReadSongLyrics", TSongLyrics(), [&] {
    std::error_code ec;
    if (RcpKindOfName(path) != 0 || !std::filesystem::is_regular_file(path, ec))
      return TSongLyrics();
    QGFILE* file = QGOpenFile(path, QG_GENERIC_READ, kMaxSongBytes);
    if (!file) return TSongLyrics();
    struct Close {
      QGFILE* f;
      ~Close() { QGCloseFile(kQGFileRecordTag, f); }
    } close{file};
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ReadLyricsImage(file->data, file->dataSize, extension == ".kar");
  });
}
