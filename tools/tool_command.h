// qmidi-tool's subcommands: each file registers one command with its usage;
// the front parses the arguments the same way for all of them.
#pragma once

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

struct ToolCommand {
  std::string name;
  std::string summary;                  // one line for the command list
  std::string usage;                    // arguments after the name
  std::vector<std::string> valueOptions;  // options that take a value
  std::function<int(const ToolArgs&)> run;  // exit status
};

void RegisterToolCommand(ToolCommand command);
const std::vector<ToolCommand>& ToolCommands();

// Registers a command at start-up: QMIDI_TOOL_COMMAND(info, { ... });
#define QMIDI_TOOL_COMMAND(id, ...)                           \
  namespace {                                                 \
  const bool registered_##id = [] {                           \
    RegisterToolCommand(ToolCommand __VA_ARGS__);             \
    return true;                                              \
  }();                                                        \
  }
