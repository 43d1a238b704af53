// Recomposer songs (".RCP" with 18 tracks, ".R36" with 36) turned into a
// format-1 Standard MIDI File image in memory, which the song reader then
// reads exactly like a ".MID" file. Nothing is written to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/result_code.h"

// Result codes the conversion sets (into the result code it is given, last one wins).
constexpr int32_t kRcpErrNoNoteSounding = 9107;  // time passed with no note sounding; not fatal
constexpr int32_t kRcpErrNotVersion2 = 9110;     // refused: not a Recomposer v2 song
constexpr int32_t kRcpErrHeaderNotRead = 9117;   // the song header is not all there
constexpr int32_t kRcpErrCut = 9119;             // the song breaks off; what is there converts; not fatal

constexpr size_t kRcpHeaderSize = 1414;
// The first bytes of every song this converter reads; the newer "RCP3.0"
// layout and anything else is refused rather than read as garbage notes.
constexpr char kRcpSignature[] = "RCM-PC98V2.0(C)COME ON MUSIC";

// Ticks per quarter note of a song whose 1414-byte header is at header: the
// byte at 0x1C0, with the high byte at 0x1E7 that later Recomposer versions
// write for time bases above 255 (480 is stored as 0xE0 and 0x01).
int RcpTimeBase(const uint8_t* header);

// 18 for a name ending in ".rcp", 36 for ".r36" (any letter case), else 0.
int RcpKindOfName(const std::string& name);

// Builds the SMF image of a Recomposer v2 song held in data[0, size): the
// 1414-byte header, then 18 tracks, or 36 when r36. Returns false, with an
// empty image, a result code (into result, when given) and the trace entry
// "TQUORMSTR.ConverterInit", when the song is refused (wrong signature, header
// cut short). A song that breaks off later gives an image with the tracks
// converted up to there, and the result code kRcpErrCut.
bool RcpToSmfImage(const uint8_t* data, size_t size, bool r36, std::vector<uint8_t>* smf,
                   ResultCode* result = nullptr);
