// The device options shared by the commands that open MIDI devices:
// --soundfont FILE, --gain G (the soft synth's level) and --raw PATH;PATH,
// the same values the engine reads from its settings.
#pragma once

#include "platform/mididevices/machine_midi.h"
#include "tools/tool_command.h"

inline const char* const kDeviceOptionsUsage = "[--soundfont FILE] [--gain G] [--raw PATH[;PATH...]]";

// Fills config from the options; a wrong value is a UsageError.
inline void ApplyDeviceOptions(const ToolArgs& a, MidiDeviceConfig& config) {
  auto problems = ApplyMidiDeviceSettings(config, a.get("--soundfont"), a.get("--gain"), a.get("--raw"));
  if (!problems.empty()) throw UsageError(problems.front());
}
