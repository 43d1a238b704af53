// qmidi-tool's subcommands: each file registers one command with its usage;
// the front parses the arguments the same way for all of them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// A wrong command line: printed with the command's usage, exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct ToolArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // "--mode" -> "3"
  std::set<std::string> flags;                // "--json"

  bool json() const { return flag("--json"); }
  bool flag(const std::string& name) const { return flags.count(name) != 0; }
  bool has(const std::string& name) const { return values.count(name) != 0; }
  std::string get(const std::string& name, const std::string& fallback = "") const;
  // Integer option; a non-number is a UsageError.
  long getInt(const std::string& name, long fallback) const;
  // Positional argument i, or a UsageError naming what is missing.
  const std::string& arg(size_t i, const char* what) const;
};

// A command: its arguments are the words of its usage up to the first
// option ("SONG OUT [--mode N]" takes two); --json and --help go with every
// command, and any option it does not list is refused (exit status 2).
struct ToolCommand {
  std::string name;
  std::string summary;                  // one line for the command list
  std::string usage;                    // arguments after the name
  std::vector<std::string> valueOptions;  // options that take a value
  std::function<int(const ToolArgs&)> run;  // exit status
  std::vector<std::string> flagOptions = {};  // options without a value ("--silent")
};

void RegisterToolCommand(ToolCommand command);

// Messages about a named file, as every command gives them on standard
// error: "PATH: the song could not be converted: <words> (code)".
std::string SongFailure(const std::string& path, int32_t code);
// Says, as a warning, a result code that left the work done ("the
// Recomposer song is cut short ..."); nothing for 0.
void WarnOfCode(const std::string& command, const std::string& path, int32_t code);
const std::vector<ToolCommand>& ToolCommands();

// Registers a command at start-up: QMIDI_TOOL_COMMAND(info, { ... });
#define QMIDI_TOOL_COMMAND(id, ...)                           \
  namespace {                                                 \
  const bool registered_##id = [] {                           \
    RegisterToolCommand(ToolCommand __VA_ARGS__);             \
    return true;                                              \
  }();                                                        \
  }
