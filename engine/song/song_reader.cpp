// TQUORMSTR: the current song, its metadata, and the hand-over of the
// converted song to the player.
#include "engine/song/song_reader.h"

#include "engine/song/rcp_converter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/song/song_internal.h"
#include "engine/song/song_lyrics.h"
#include "support/cp932.h"
#include "support/dos_names.h"
#include "support/file_record.h"
#include "support/guard.h"
#include "support/result_code.h"
#include "support/tracked_memory.h"

namespace {

constexpr uint32_t kTitleHeadBytes = 1280;
constexpr uint32_t kTitleScanStart = 20;
constexpr uint32_t kRcpHeaderBytes = 1414;
constexpr uint32_t kRcpTitleOffset = 0x20;
constexpr uint32_t kRcpTitleBytes = 64;
constexpr uint32_t kRcpMemoOffset = 0x60;
constexpr uint32_t kRcpMemoBlock = 56;
constexpr int kRcpMemoBlocks = 5;
constexpr uint32_t kRcpCm6Offset = 0x1C6;
constexpr uint32_t kRcpGsdOffset = kRcpCm6Offset + 12 + 4;
constexpr uint32_t kSetupNameBytes = 12;
// RCP 3.0: memo lines, set-up names, the fields the metre comes from.
constexpr uint32_t kRcp3MemoOffset = 0xA0;
constexpr uint32_t kRcp3MemoLine = 30;
constexpr int kRcp3MemoLines = 12;
constexpr uint32_t kRcp3GsdOffset = 0x298;
constexpr uint32_t kRcp3GsdBOffset = 0x2A8;
constexpr uint32_t kRcp3Cm6Offset = 0x2B8;
constexpr uint32_t kRcp3TimeBase = 0x20A;
constexpr uint32_t kRcp3Numerator = 0x20E;
constexpr uint32_t kRcp3Fields = 0x2C8;
// QGmstHyosi reads at most this much of a MIDI file: the header search, the
// header and 64 meta events of the first track fit well inside.
constexpr uint32_t kHyosiHeadBytes = 65536;

bool isBlankOrControl(uint8_t b) { return b <= 0x20 || b == 0x7F; }

// Cut at the first zero byte, then trim blanks and control characters.
std::string fieldText(const uint8_t* p, size_t n) {
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
  if (end) n = static_cast<size_t>(end - p);
  size_t a = 0, b = n;
  while (a < b && isBlankOrControl(p[a])) ++a;
  while (b > a && isBlankOrControl(p[b - 1])) --b;
  return std::string(reinterpret_cast<const char*>(p + a), b - a);
}

std::string zeroTerminated(const uint8_t* p, size_t n) {
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(p, 0, n));
  return std::string(reinterpret_cast<const char*>(p), end ? static_cast<size_t>(end - p) : n);
}

std::string baseName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

bool isRegularFile(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int32_t beatsFromHyosi(uint32_t word) {
  int32_t beats = static_cast<int32_t>(word >> 24);
  if (((word >> 16) & 0xFF) == 3) beats /= 2;
  return beats < 2 ? 4 : beats;
}

// The song file, read into memory and released at the end of the scope.
struct OpenSong {
  QGFILE* file = nullptr;
  ~OpenSong() { QGCloseFile(kTagSongHead, file); }
  const uint8_t* data() const { return file->data; }
  uint32_t size() const { return file->dataSize; }
};

}  // namespace

RcpLayout SongRecomposerLayout(const uint8_t* data, size_t size, const std::string& path) {
  const RcpLayout layout = RcpLayoutOf(data, size);
  if (layout != RcpLayout::kNone) return layout;
  return RcpIsSongName(path) ? RcpLayout::kV2 : RcpLayout::kNone;
}

bool TQUORMSTR::fail(const char* routine, int32_t code) {
  result_.set(code);
  QGTrText(routine);
  return false;
}

TQUORMSTR::TQUORMSTR(ResultCode& result) : result_(result), rcpBuilder_(&RcpBuildImage) {}

// A reader may be destroyed at program end, after the thread's guard
// bookkeeping is gone: everything is released here without guarded calls.
TQUORMSTR::~TQUORMSTR() {
  if (hasHeld_) freeEventData(&held_);
  freeTracks();
  if (file_) {
    if (file_->data) QGGlobalFreePtr(kTagSongFile, file_->data);
    QGGlobalFreePtr(kTagSongFile, file_);
  }
  freeOutput();
}

void TQUORMSTR::setRcpImageBuilder(QGmstRcpImageBuilder builder) {
  rcpBuilder_ = builder ? builder : &RcpBuildImage;
}

const TrackState* TQUORMSTR::Track(int track) const {
  return track >= 0 && track < trackCount_ ? tracks_[track] : nullptr;
}

// --- Properties -----------------------------------------------------------

std::string TQUORMSTR::getinFileName() {
  return QGuard("TQUORMSTR.getinFileName", std::string(), [&] { return fileName_; });
}

void TQUORMSTR::setinFileName(const std::string& path) {
  QGuardVoid("TQUORMSTR.setinFileName", [&] {
    if (path.empty()) return;
    // Song names may come from DOS-era lists: any letter case finds the file.
    std::string found = QGFindFileNoCase(path);
    if (!found.empty() && isRegularFile(found)) fileName_ = found;
  });
}

std::string TQUORMSTR::getinFileTitle() {
  return QGuard("TQUORMSTR.getinFileTitle", std::string(), [&] {
    if (fileName_.empty()) return std::string();
    QGmstTitle();
    return title_;
  });
}

std::string TQUORMSTR::getinFileMemo() {
  return QGuard("TQUORMSTR.getinFileMemo", std::string(), [&] {
    if (fileName_.empty()) return std::string();
    QGmstTitle();
    return memo_;
  });
}

std::string TQUORMSTR::getinFileCm6() {
  return QGuard("TQUORMSTR.getinFileCm6", std::string(), [&] {
    if (fileName_.empty()) return std::string();
    QGmstCm6();
    return cm6_;
  });
}

std::string TQUORMSTR::getinFileGsd() {
  return QGuard("TQUORMSTR.getinFileGsd", std::string(), [&] {
    if (fileName_.empty()) return std::string();
    QGmstCm6();
    return gsd_;
  });
}

std::string TQUORMSTR::getinFileGsdB() {
  return QGuard("TQUORMSTR.getinFileGsdB", std::string(), [&] {
    if (fileName_.empty()) return std::string();
    QGmstCm6();
    return gsdB_;
  });
}

uint32_t TQUORMSTR::getdwHyosi() {
  return QGuard("TQUORMSTR.getdwHyosi", uint32_t{0}, [&] {
    if (!fileName_.empty()) QGmstHyosi();
    return hyosi_;
  });
}

std::string TQUORMSTR::getWRDFileName() {
  return QGuard("TQUORMSTR.getWRDFileName", std::string(), [&]() -> std::string {
    if (fileName_.empty()) return {};
    std::filesystem::path song(fileName_);
    std::string name = song.filename().string();
    name = name.substr(0, name.find('.')) + ".wrd";
    // The exact name first, then any letter case ("SONG.MID" finds "song.wrd").
    std::string found = QGFindFileNoCase((song.parent_path() / name).string());
    return !found.empty() && isRegularFile(found) ? found : std::string();
  });
}

std::string TQUORMSTR::getMIDITITLE() {
  return QGuard("TQUORMSTR.getMIDITITLE", std::string(), [] { return std::string(); });
}

std::string TQUORMSTR::getMIDIMEMO() {
  return QGuard("TQUORMSTR.getMIDIMEMO", std::string(), [] { return std::string(); });
}

std::string TQUORMSTR::getOUTSTATUSMEMO() {
  return QGuard("TQUORMSTR.getOUTSTATUSMEMO", std::string(), [] { return std::string(); });
}

// --- Metadata ---------------------------------------------------------------

bool TQUORMSTR::QGmstTitle() {
  title_.clear();
  memo_.clear();
  return QGuard("TQUORMSTR.QGmstTitle", false, [&] {
    if (fileName_.empty()) return false;
    OpenSong song{QGOpenFile(fileName_, QG_GENERIC_READ, kTitleHeadBytes)};
    if (!song.file) return false;
    const uint8_t* p = song.data();
    uint32_t n = std::min(song.size(), kTitleHeadBytes);

    bool trackNamed = false;     // the song's own name (the first track's) gave the title
    bool titleFromText = false;  // a text event gave it
    const RcpLayout layout = SongRecomposerLayout(p, n, fileName_);
    if (layout != RcpLayout::kNone) {
      trackNamed = true;
      if (n > kRcpTitleOffset)
        title_ = fieldText(p + kRcpTitleOffset, std::min(kRcpTitleBytes, n - kRcpTitleOffset));
      if (layout == RcpLayout::kV3) {
        for (int i = 0; i < kRcp3MemoLines; ++i) {
          uint32_t at = kRcp3MemoOffset + i * kRcp3MemoLine;
          if (at >= n) break;
          std::string line = fieldText(p + at, std::min(kRcp3MemoLine, n - at));
          if (!line.empty()) memo_ += line + "  ";
        }
      } else {
        for (int i = 0; i < kRcpMemoBlocks; ++i) {
          uint32_t at = kRcpMemoOffset + i * kRcpMemoBlock;
          if (at >= n) break;
          memo_ += fieldText(p + at, std::min(kRcpMemoBlock, n - at)) + "  ";
        }
      }
    } else {
      bool titleSeen = false;   // an event has given the title
      bool trackName = false;   // the first track name has been taken
      bool laterTrack = false;  // the scan has left the first track
      for (uint32_t i = kTitleScanStart; i < n;) {
        const bool chunk = n - i >= 4 && std::memcmp(p + i, "MTrk", 4) == 0;
        if (chunk && titleSeen && !title_.empty() && !memo_.empty()) break;
        laterTrack = laterTrack || chunk;
        if (p[i] == 0xFF && n - i >= 3) {
          uint8_t type = p[i + 1];
          if (type == 0x01 || type == 0x03 || type == 0x04) {
            uint32_t end = std::min<uint32_t>(n, i + 3 + p[i + 2]);
            std::string text = fieldText(p + i + 3, end - (i + 3));
            if (type == 0x03) {
              if (!trackName) {
                trackName = true;
                trackNamed = !text.empty() && !laterTrack;
                titleFromText = false;
                memo_ += title_ + "  ";
                title_ = text;
                titleSeen = true;
              } else {
                memo_ += text + "  ";
              }
            } else if (type == 0x01) {
              // A karaoke header ("@KMIDI KARAOKE FILE") names no title.
              if (title_.empty() && text.rfind('@', 0) != 0) {
                title_ = text;
                titleSeen = true;
                titleFromText = true;
              }
              memo_ += text + "  ";
            } else if (title_.empty()) {
              title_ = text;
              titleSeen = true;
            }
            i = end;
            continue;
          }
        }
        ++i;
      }
    }
    // Without a name in its first track, a karaoke song's title ("@T")
    // comes before a later track's name ("Words"), a comment in a text
    // event and the file's name; a karaoke file's text events are its
    // syllables, never its title.
    if (!trackNamed) {
      const TSongLyrics lyrics = ReadSongLyrics(fileName_);
      if (!lyrics.title.empty())
        title_ = Utf8ToCp932(lyrics.title);
      else if (lyrics.fromTextEvents && titleFromText)
        title_.clear();  // the text event was a syllable
    }
    if (title_.empty()) title_ = baseName(fileName_);
    return true;
  });
}

bool TQUORMSTR::QGmstCm6() {
  cm6_.clear();
  gsd_.clear();
  gsdB_.clear();
  return QGuard("TQUORMSTR.QGmstCm6", false, [&] {
    if (fileName_.empty()) return false;
    OpenSong song{QGOpenFile(fileName_, QG_GENERIC_READ, kRcpHeaderBytes)};
    if (!song.file) return false;
    const RcpLayout layout = SongRecomposerLayout(song.data(), song.size(), fileName_);
    if (layout == RcpLayout::kV3) {
      if (song.size() < kRcp3Fields) return false;
      cm6_ = zeroTerminated(song.data() + kRcp3Cm6Offset, kSetupNameBytes);
      gsd_ = zeroTerminated(song.data() + kRcp3GsdOffset, kSetupNameBytes);
      gsdB_ = zeroTerminated(song.data() + kRcp3GsdBOffset, kSetupNameBytes);
      return true;
    }
    if (layout == RcpLayout::kNone || song.size() < kRcpCm6Offset + kSetupNameBytes) return false;
    cm6_ = zeroTerminated(song.data() + kRcpCm6Offset, kSetupNameBytes);
    if (song.size() >= kRcpGsdOffset + kSetupNameBytes)
      gsd_ = zeroTerminated(song.data() + kRcpGsdOffset, kSetupNameBytes);
    return true;
  });
}

void TQUORMSTR::setTimeSignature(uint32_t word) {
  hyosi_ = word;
  beatsPerBar_ = beatsFromHyosi(word);
}

bool TQUORMSTR::QGmstHyosi() {
  hyosi_ = kDefaultHyosi;
  beatsPerBar_ = 4;
  return QGuard("TQUORMSTR.QGmstHyosi", false, [&]() -> bool {
    if (fileName_.empty()) return false;
    OpenSong song{QGOpenFile(fileName_, QG_GENERIC_READ, kHyosiHeadBytes)};
    if (!song.file) return false;
    const RcpLayout layout = SongRecomposerLayout(song.data(), song.size(), fileName_);
    if (layout != RcpLayout::kNone) {
      const bool v3 = layout == RcpLayout::kV3;
      if (song.size() < (v3 ? kRcp3Fields : kRcpHeaderBytes)) return false;
      const uint8_t* h = song.data();
      const uint32_t at = v3 ? kRcp3Numerator : 0x1C2;
      const int timeBase = v3 ? (h[kRcp3TimeBase] | h[kRcp3TimeBase + 1] << 8) : RcpTimeBase(h);
      uint32_t power = h[at + 1] == 2 ? 1 : h[at + 1] == 8 ? 3 : 2;
      setTimeSignature(static_cast<uint32_t>(h[at]) << 24 | power << 16 |
                       static_cast<uint32_t>(timeBase / 2 & 0xFF) << 8 | 8);
      return true;
    }
    const uint8_t* p = song.data();
    const uint32_t n = song.size();
    uint32_t at = 0;
    auto have = [&](uint32_t k) { return at <= n && n - at >= k; };
    bool found = false;
    for (int i = 0; i < 256 && have(4); ++i, at += 4) {
      if (std::memcmp(p + at, "MThd", 4) == 0) {
        found = true;
        break;
      }
    }
    if (!found) return false;
    at += 4;
    if (!have(4)) return false;
    uint32_t headerLength = LoadBe32(p + at);
    at += 4;
    if (headerLength < 6 || !have(headerLength)) return false;
    at += headerLength;
    if (!have(8) || std::memcmp(p + at, "MTrk", 4) != 0) return false;
    at += 8;
    for (int i = 0; i < 64; ++i) {
      if (!have(1)) return false;
      if (p[at++] != 0) continue;  // not a zero delta: try the next byte
      if (!have(1) || p[at++] != 0xFF) return false;
      if (!have(2)) return false;
      uint8_t type = p[at++];
      uint8_t length = p[at++];
      if (type != 0x58) {
        at += length;
        continue;
      }
      uint32_t word = 0;
      for (uint32_t k = 0; k < 4 && k < length && have(1); ++k)
        word |= static_cast<uint32_t>(p[at++]) << (24 - 8 * k);
      setTimeSignature(word);
      return true;
    }
    return false;
  });
}

// --- Conversion ---------------------------------------------------------------

bool TQUORMSTR::Convert(int32_t mode, int32_t playMode, PackedSong* song) {
  return QGuard("TQUORMSTR.QGmstPreHeader", false, [&]() -> bool {
    constexpr const char* kName = "TQUORMSTR.QGmstPreHeader";
    *song = PackedSong();
    ResetConverterState(mode, playMode);
    auto failed = [&](int32_t code) {
      fail(kName, code);
      maxTimeIdx_ = static_cast<int32_t>(markers_);
      maxTempo_ = 0;
      ConverterCleanUp();
      freeOutput();
      return false;
    };
    if (!ConverterInit()) return failed(9105);
    started_ = true;
    if (ConvertToBuffer(1) != 0) return failed(9103);
    if (dataLength_ == 0) dataLength_ = written_;  // a song cut on a full buffer
    if (bufferLength_ == 0) bufferLength_ = bufferSize_;
    if (written_ == 0) return failed(9103);
    maxTimeIdx_ = static_cast<int32_t>(markers_);
    ConverterCleanUp();
    TakeConverted(song);
    maxTempo_ = song->endPosition();
    return true;
  });
}

void TQUORMSTR::TakeConverted(PackedSong* song) {
  song->stream.reset(buffer_);
  song->length = dataLength_ ? dataLength_ : written_;
  song->bufferLength = bufferLength_ ? bufferLength_ : song->length + 1024;
  song->table.reset(table_);
  song->entries = markers_;
  song->division = static_cast<int32_t>(division_);
  song->tickDivision = normDivision_;
  song->longMessageMax = longMax_;
  song->detectedSetup = detected_;
  song->beatsPerBar = beatsPerBar_;
  buffer_ = nullptr;
  table_ = nullptr;
  bufferSize_ = bufferLimit_ = written_ = dataLength_ = bufferLength_ = 0;
  tableCapacity_ = markers_ = 0;
}

void TQUORMSTR::freeOutput() {
  if (buffer_) QGGlobalFreePtr(kTagStreamBuffer, buffer_);
  if (table_) QGGlobalFreePtr(kTagTimeTable, table_);
  buffer_ = nullptr;
  table_ = nullptr;
  bufferSize_ = bufferLimit_ = written_ = dataLength_ = bufferLength_ = 0;
  tableCapacity_ = markers_ = 0;
}
