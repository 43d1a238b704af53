// Recomposer songs turned into a format-1 Standard MIDI File image in
// memory, which the song reader then reads exactly like a ".MID" file.
// Two layouts are read, told apart by their signature whatever the file is
// called: v2 (".RCP" with 18 tracks, ".R36" with 36; 4-byte events) and
// RCP 3.0 (".G18", ".G36"; 6-byte events, 16-bit steps and gates). Nothing
// is written to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/result_code.h"

// Result codes the conversion sets (into the result code it is given, last one wins).
constexpr int32_t kRcpErrNoNoteSounding = 9107;  // time passed with no note sounding; not fatal
constexpr int32_t kRcpErrNotRecomposer = 9110;   // refused: no Recomposer signature
constexpr int32_t kRcpErrNotVersion2 = kRcpErrNotRecomposer;
constexpr int32_t kRcpErrHeaderNotRead = 9117;   // the song header is not all there
constexpr int32_t kRcpErrCut = 9119;             // the song breaks off; what is there converts; not fatal

constexpr size_t kRcpHeaderSize = 1414;   // v2
constexpr size_t kRcp3HeaderSize = 0xC98;  // RCP 3.0: the first track follows
constexpr char kRcpSignature[] = "RCM-PC98V2.0(C)COME ON MUSIC";
constexpr char kRcp3Signature[] = "COME ON MUSIC RECOMPOSER RCP3.0";

enum class RcpLayout { kNone, kV2, kV3 };

// The layout the song's first bytes announce; kNone for anything else
// (a damaged signature included).
RcpLayout RcpLayoutOf(const uint8_t* data, size_t size);

// Ticks per quarter note of a v2 song whose 1414-byte header is at header:
// the byte at 0x1C0, with the high byte at 0x1E7 that later Recomposer
// versions write for time bases above 255 (480 is stored as 0xE0 and 0x01).
int RcpTimeBase(const uint8_t* header);

// Track count a name gives: 18 for ".rcp" and ".g18", 36 for ".r36" and
// ".g36" (any letter case), else 0.
int RcpKindOfName(const std::string& name);
// True for the four Recomposer song extensions, any letter case.
bool RcpIsSongName(const std::string& name);

// What a song's header says, without converting it.
struct RcpHeader {
  RcpLayout layout = RcpLayout::kNone;
  int trackCount = 18;   // v3: from the header (1-36, else 36); v2: see RcpReadHeader
  int timeBase = 48;
  int tempo = 120;       // quarter notes per minute as written (0 means 120)
  uint8_t numerator = 4, denominator = 4, key = 0;
  int8_t playBias = 0;   // semitones added to every track that is not a rhythm track
  // Set-up files as the song names them (up to 12 characters, cut at the
  // first zero, trailing blanks removed); gsdB is port B's (RCP 3.0 only).
  std::string cm6, gsd, gsdB;
};

// Reads the header of the song in data[0, size). v2 songs have 18 tracks,
// or 36 when the name ends in ".r36" (or, for a name of another kind, when
// the header's track count byte says 36). False when the signature is not
// a Recomposer one or the header is cut short.
bool RcpReadHeader(const uint8_t* data, size_t size, const std::string& name, RcpHeader* header);

// One message that prepares the sound module before the song: a whole
// system exclusive message (F0 ... F7), the port it goes to (0 A, 1 B) and
// how long the module needs before the next message, from its start.
struct RcpSetupMessage {
  std::vector<uint8_t> bytes;
  uint32_t waitMs = 0;
  uint8_t port = 0;
};

struct RcpImageRequest {
  const uint8_t* data = nullptr;
  size_t size = 0;
  int v2Tracks = 18;  // track count of a v2 song (the name's, RcpReadHeader)
  // Sent in a set-up measure before the music (null or empty: none).
  const std::vector<RcpSetupMessage>* setup = nullptr;
  ResultCode* result = nullptr;  // where result codes go (none: not kept)
};

struct RcpImage {
  std::vector<uint8_t> smf;
  // Ticks of the set-up measure before the song's own tick 0 (0 without a
  // set-up). Its tempo is chosen so that every message gets its wait.
  uint32_t leadInTicks = 0;
};

// Builds the SMF image of the song. The set-up messages go into the first
// track, each at its time, and every track starts after them. Returns
// false, with an empty image, a result code and the trace entry
// "TQUORMSTR.ConverterInit", when the song is refused (no Recomposer
// signature, header cut short). A song that breaks off later gives an image
// with the tracks converted up to there, and the result code kRcpErrCut.
bool RcpBuildImage(const RcpImageRequest& request, RcpImage* image);

// The image of a song without set-up: v2 songs with 18 tracks, or 36 when
// r36; RCP 3.0 songs with their own count.
bool RcpToSmfImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf,
                   ResultCode* result = nullptr);
