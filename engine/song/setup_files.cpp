#include "engine/song/setup_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "engine/player/stream_record.h"
#include "support/byte_view.h"
#include "support/dos_names.h"
#include "support/file_record.h"

namespace {

constexpr uint8_t kGsModel = 0x42;
constexpr uint8_t kMt32Model = 0x16;
// Microseconds one byte takes on a MIDI cable (10 bits at 31250 baud).
constexpr uint32_t kByteUs = 320;

// GSD file layout.
constexpr size_t kGsdSize = 0xA71;
constexpr size_t kGsdSystem = 0x20, kGsdReverb = 0x27, kGsdChorus = 0x2E, kGsdParts = 0x36;
constexpr size_t kGsdPartSize = 0x7A;
constexpr size_t kGsdDrums = 0x7D6, kGsdDrumMapSize = 0x148;
constexpr int kGsdDrumNotes = 82;  // notes 27-108, four bytes each
constexpr uint8_t kFirstDrumNote = 27;

// CM6 file layout (the LA part; the PCM part of a CM-64 file is not sent).
constexpr size_t kCm6System = 0x80, kCm6PatchTemp = 0xA0, kCm6Rhythm = 0x130, kCm6Rhythm2 = 0x230;
constexpr size_t kCm6TimbreTemp = 0x284, kCm6PatchMemory = 0xA34, kCm6TimbreMemory = 0xE34,
                 kCm6Size = 0x4E34;
constexpr size_t kMt32TimbreSize = 0xF6;

constexpr uint32_t kMaxSetupFileBytes = 64 * 1024;

bool StartsWith(const uint8_t* data, size_t size, size_t at, const char* text) {
  const size_t n = std::strlen(text);
  return at <= size && n <= size - at && std::memcmp(data + at, text, n) == 0;
}

// A Roland address of three 7-bit bytes from a plain offset.
uint32_t Address(uint8_t high, uint32_t offset) {
  return uint32_t{high} << 16 | (offset >> 7 & 0x7F) << 8 | (offset & 0x7F);
}

// The GS block of MIDI channel ch: block 0 is part 10 (the drum part),
// blocks 1-9 parts 1-9, blocks 10-15 parts 11-16.
uint32_t GsBlock(int ch) {
  return ch == 9 ? 0 : ch < 9 ? static_cast<uint32_t>(ch + 1) : static_cast<uint32_t>(ch);
}

void AddGs(std::vector<RcpSetupMessage>* out, uint32_t address, ByteView bytes, uint8_t port) {
  out->push_back(
      RolandDataSet(kGsModel, address, bytes.data(), bytes.size(), kSetupGsDataMs, port));
}

void AddGsPart(std::vector<RcpSetupMessage>* out, ByteView part, uint32_t block, uint8_t port) {
  const uint32_t base = 0x401000 | block << 8;
  AddGs(out, base, part.sub(0x00, 0x23), port);       // tone number .. reverb send
  AddGs(out, base + 0x30, part.sub(0x23, 8), port);   // tone modify 1-8
  AddGs(out, base + 0x40, part.sub(0x2B, 12), port);  // scale tuning C-B
  for (uint32_t c = 0; c < 6; ++c)                    // modulation .. CC2 controllers
    AddGs(out, 0x402000 | block << 8 | c << 4, part.sub(0x37 + 11 * c, 11), port);
}

void AddGsDrums(std::vector<RcpSetupMessage>* out, ByteView map, uint32_t m, uint8_t port) {
  // Level, pan, reverb and chorus of each note are kept together in the
  // file; the module takes one parameter for a run of notes.
  static constexpr uint32_t kParameter[4] = {2, 4, 5, 6};
  for (uint32_t p = 0; p < 4; ++p) {
    uint8_t values[kGsdDrumNotes];
    for (int n = 0; n < kGsdDrumNotes; ++n) values[n] = map.u8(static_cast<size_t>(n) * 4 + p);
    AddGs(out, 0x410000 | (m << 4 | kParameter[p]) << 8 | kFirstDrumNote,
          ByteView(values, kGsdDrumNotes), port);
  }
}

void AddMt32(std::vector<RcpSetupMessage>* out, uint32_t address, ByteView bytes) {
  out->push_back(
      RolandDataSet(kMt32Model, address, bytes.data(), bytes.size(), kSetupMt32DataMs, 0));
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads one named set-up file and adds its messages; a problem otherwise.
template <class Convert>
void AddFile(const std::string& folder, const std::string& name, const char* kind, SongSetup& setup,
             Convert convert) {
  if (name.empty()) return;
  const std::string path = QGResolveDosName(folder, name);
  if (path.empty() || !IsRegularFile(path)) {
    setup.problems.push_back("the " + std::string(kind) + " set-up file \"" + name +
                             "\" the song names is not beside it; the song plays without it");
    return;
  }
  QGFILE* file = QGOpenFile(path, QG_GENERIC_READ, kMaxSetupFileBytes);
  const bool ok = file && convert(file->data, file->dataSize, &setup.messages);
  QGCloseFile(kQGFileRecordTag, file);
  if (!ok)
    setup.problems.push_back("\"" + path + "\" is not a " + kind +
                             " set-up file; the song plays without it");
}

}  // namespace

RcpSetupMessage RolandDataSet(uint8_t model, uint32_t address, const uint8_t* data, size_t size,
                              uint32_t waitMs, uint8_t port) {
  RcpSetupMessage m;
  m.port = port;
  // A message must fit the player's send buffer (the areas sent are far smaller).
  size = std::min<size_t>(size, kLongMessageMaxBytes - 10);
  const uint8_t head[8] = {0xF0,
                           0x41,
                           0x10,
                           model,
                           0x12,
                           static_cast<uint8_t>(address >> 16),
                           static_cast<uint8_t>(address >> 8),
                           static_cast<uint8_t>(address)};
  m.bytes.resize(size + 10);
  std::memcpy(m.bytes.data(), head, sizeof head);
  if (size > 0) std::memcpy(m.bytes.data() + 8, data, size);
  uint32_t sum = 0;
  for (size_t i = 5; i < size + 8; ++i) sum += m.bytes[i];
  m.bytes[size + 8] = static_cast<uint8_t>((0x80 - (sum & 0x7F)) & 0x7F);
  m.bytes[size + 9] = 0xF7;
  m.waitMs = static_cast<uint32_t>((m.bytes.size() * kByteUs + 999) / 1000) + waitMs;
  return m;
}

bool GsdSetupMessages(const uint8_t* data, size_t size, uint8_t port,
                      std::vector<RcpSetupMessage>* out) {
  if (!data || !out || size < kGsdSize || !StartsWith(data, size, 0, "COME ON MUSIC") ||
      !StartsWith(data, size, 0x0E, "GS CONTROL 1.0"))
    return false;
  ByteView gsd(data, kGsdSize);
  static constexpr uint8_t kReset[1] = {0x00};
  out->push_back(RolandDataSet(kGsModel, 0x40007F, kReset, 1, kSetupGsResetMs, port));
  AddGs(out, 0x400000, gsd.sub(kGsdSystem, 7), port);  // master tune, volume, key shift, pan
  AddGs(out, 0x400130, gsd.sub(kGsdReverb, 7), port);
  AddGs(out, 0x400138, gsd.sub(kGsdChorus, 8), port);
  // The voice reserve (40 01 10) is left out: the player never sends the
  // system parameters 40 01 00-2F, which could leave a module without voices.
  for (int ch = 0; ch < 16; ++ch)
    AddGsPart(out, gsd.sub(kGsdParts + ch * kGsdPartSize, kGsdPartSize), GsBlock(ch), port);
  for (uint32_t m = 0; m < 2; ++m)
    AddGsDrums(out, gsd.sub(kGsdDrums + m * kGsdDrumMapSize, kGsdDrumMapSize), m, port);
  return true;
}

bool Cm6SetupMessages(const uint8_t* data, size_t size, std::vector<RcpSetupMessage>* out) {
  if (!data || !out || size < kCm6Size || !StartsWith(data, size, 0, "COME ON MUSIC") ||
      !StartsWith(data, size, 0x10, "R "))
    return false;
  ByteView cm6(data, kCm6Size);
  static constexpr uint8_t kReset[1] = {0x00};
  out->push_back(RolandDataSet(kMt32Model, 0x7F0000, kReset, 1, kSetupMt32ResetMs, 0));
  AddMt32(out, 0x100000, cm6.sub(kCm6System, 0x17));
  for (uint32_t i = 0; i < 64; ++i)
    AddMt32(out, Address(0x08, i * 0x100), cm6.sub(kCm6TimbreMemory + i * 0x100, 0x100));
  AddMt32(out, 0x030110, cm6.sub(kCm6Rhythm, 64 * 4));   // keys 24-87
  AddMt32(out, 0x030310, cm6.sub(kCm6Rhythm2, 21 * 4));  // keys 88-108
  AddMt32(out, 0x030000, cm6.sub(kCm6PatchTemp, 9 * 0x10));
  for (uint32_t i = 0; i < 8; ++i)
    AddMt32(out, Address(0x04, i * kMt32TimbreSize),
            cm6.sub(kCm6TimbreTemp + i * kMt32TimbreSize, kMt32TimbreSize));
  for (uint32_t i = 0; i < 8; ++i)
    AddMt32(out, Address(0x05, i * 0x80), cm6.sub(kCm6PatchMemory + i * 0x80, 0x80));
  return true;
}

SongSetup LoadSongSetup(const std::string& songPath, const RcpHeader& header) {
  SongSetup setup;
  const std::string folder = std::filesystem::path(songPath).parent_path().string();
  AddFile(folder, header.gsd, "GSD", setup,
          [](const uint8_t* d, size_t n, std::vector<RcpSetupMessage>* out) {
            return GsdSetupMessages(d, n, 0, out);
          });
  AddFile(folder, header.gsdB, "GSD", setup,
          [](const uint8_t* d, size_t n, std::vector<RcpSetupMessage>* out) {
            return GsdSetupMessages(d, n, 1, out);
          });
  AddFile(folder, header.cm6, "CM6", setup, &Cm6SetupMessages);
  return setup;
}
