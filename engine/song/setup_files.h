// The set-up files a Recomposer song names for its sound modules: a GSD file
// (a GS module's system, effect, part and drum set-up) and a CM6 file (an
// MT-32 / CM-64 memory image). Each becomes the data-set messages that put
// the module in that state, preceded by the module's reset and paced as the
// module needs; the song reader sends them in a set-up measure before the
// song.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/song/rcp_converter.h"

// What a module needs after a message before it takes the next one, on top
// of the message's own transfer time at MIDI's 31250 baud.
constexpr uint32_t kSetupGsResetMs = 50;
constexpr uint32_t kSetupGsDataMs = 20;
constexpr uint32_t kSetupMt32ResetMs = 420;
constexpr uint32_t kSetupMt32DataMs = 40;

// GS reset, then the GSD's system parameters, reverb, chorus, the 16 parts (tone, receive switches, level, pan, sends, tone modify,
// scale tuning, controllers) and both drum maps (level, pan, reverb and
// chorus of notes 27-108), all for port `port`. False, with nothing added,
// when data is not a GSD file.
bool GsdSetupMessages(const uint8_t* data, size_t size, uint8_t port,
                      std::vector<RcpSetupMessage>* out);

// MT-32 reset, then the CM6's system area, timbre memory, rhythm set-up,
// patch and timbre temporary areas and patch memory, for port A. False, with
// nothing added, when data is not a CM6 file.
bool Cm6SetupMessages(const uint8_t* data, size_t size, std::vector<RcpSetupMessage>* out);

// One Roland data-set message (F0 41 10 model 12 address data checksum F7)
// with its wait: transfer time plus waitMs.
RcpSetupMessage RolandDataSet(uint8_t model, uint32_t address, const uint8_t* data, size_t size,
                              uint32_t waitMs, uint8_t port);

struct SongSetup {
  std::vector<RcpSetupMessage> messages;  // port A's GSD, port B's GSD, the CM6
  std::vector<std::string> problems;      // one sentence per file named but not usable
};

// The set-up files the header names, found beside the song in any letter
// case (DOS folders allowed in the names), read and turned into messages.
SongSetup LoadSongSetup(const std::string& songPath, const RcpHeader& header);
