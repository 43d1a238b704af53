#include "tools/tool_command.h"

#include <charconv>
#include <iostream>

#include "support/result_code.h"

namespace {
std::vector<ToolCommand>& registry() {
  static std::vector<ToolCommand> commands;
  return commands;
}
}  // namespace

void RegisterToolCommand(ToolCommand command) { registry().push_back(std::move(command)); }
const std::vector<ToolCommand>& ToolCommands() { return registry(); }

std::string ToolArgs::get(const std::string& name, const std::string& fallback) const {
  auto it = values.find(name);
  return it == values.end() ? fallback : it->second;
}

long ToolArgs::getInt(const std::string& name, long fallback) const {
  auto it = values.find(name);
  if (it == values.end()) return fallback;
  const std::string& s = it->second;
  long v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size())
    throw UsageError(name + " needs a whole number, not \"" + s + "\"");
  return v;
}

const std::string& ToolArgs::arg(size_t i, const char* what) const {
  if (i >= positional.size()) throw UsageError(std::string("missing ") + what);
  return positional[i];
}

std::string SongFailure(const std::string& path, int32_t code) {
  return path + ": the song could not be converted: " + QGResultCodeText(code) + " (" + std::to_string(code) + ")";
}

void WarnOfCode(const std::string& command, const std::string& path, int32_t code) {
  if (code == 0 || QGResultIsQuiet(code)) return;
  std::cerr << "qmidi-tool " << command << ": warning: " << path << ": " << QGResultCodeText(code) << " (" << code
            << ")\n";
}
