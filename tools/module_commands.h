// The commands that open MIDI devices, fonts or displays. Their code and the
// libraries behind it (the soft synth's audio stack, ALSA, FreeType, ...)
// live in a module that qmidi-tool loads only when one of them runs, so that
// the per-file commands (convert, info, stream, wrd, image) start fast.
// The module's commands take their summaries from here, which is what the
// command list shows without loading it.
#pragma once

#include <string>
#include <string_view>

struct ModuleCommand {
  const char* name;
  const char* summary;
};

inline constexpr ModuleCommand kModuleCommands[] = {
    {"devices", "list the MIDI output devices by number (-1 the mapper), with their names and volume support"},
    {"play", "play a song through the player on the MIDI outputs, printing its progress once a second"},
    {"render-audio", "render a song through the soft synth into a WAV, FLAC or Ogg (Vorbis, Opus) file, faster than real time"},
    {"render-video", "render a song with its WRD screen into an MP4, WebM or MKV video, faster than real time"},
    {"render-wrd", "run a song's WRD script without sound and write the screen as PNG frames"},
    {"text", "draw a line of WRD text (Shift-JIS or UTF-8) with the machine's font and write it as PNG"},
};

// The summary of a module command ("" for another name).
inline const char* ModuleCommandSummary(std::string_view name) {
  for (const ModuleCommand& c : kModuleCommands)
    if (name == c.name) return c.summary;
  return "";
}

// Loads the module once (beside the program, else in the installed library
// folder). False with *error set when it cannot be loaded.
bool LoadToolModule(std::string* error);
