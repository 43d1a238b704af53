// The engine's command line: a song to play once, optionally followed by a
// play option ("/M3") or a pair of them in five characters ("/M1D4"), and
// the automation switches. Std-only, so that it is tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TCommandLine {
  std::string songName;              // "" when no song is named
  std::optional<int32_t> resetMode;  // RESETMODE from "/M1" .. "/M8"
  std::optional<int32_t> wrdDelay;   // WRDDELAY from "/DA" .. "/DH"
  bool regServer = false;            // "-REGSERVER" / "/REGSERVER"
  bool unregServer = false;          // "-UNREGSERVER" / "/UNREGSERVER"
  bool automation = false;           // "-AUTOMATION" / "/AUTOMATION"
  bool embedding = false;            // "-EMBEDDING" / "/EMBEDDING"
};

// args are the arguments after the program name. The first is the song
// unless it is an option word (it starts with "/" or "-" and holds no
// further "/" and no "."), which names no song and no options. The
// arguments after the song are joined with blanks; the option text runs
// from their first "/" to the end: exactly five characters are two options
// ("/" + 2nd and 3rd, "/" + 4th and 5th), anything else is one. Options are
// upper-cased and applied in the table's order, so the later table entry
// wins. The automation switches count wherever they stand.
TCommandLine QHParseCommandLine(const std::vector<std::string>& args);
