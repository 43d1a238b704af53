#include "engine/host/command_line.h"

#include <cctype>

namespace {

struct OptionEntry {
  const char* text;
  bool resetMode;  // else WRD delay
  int32_t value;
};

// In the order the options are compared.
constexpr OptionEntry kOptions[] = {
    {"/M1", true, 1},    {"/M2", true, 2},    {"/M3", true, 3},    {"/M5", true, 5},
    {"/M8", true, 8},    {"/DA", false, 3},   {"/DJ", false, 0},   {"/DS", false, 192},
    {"/D6", false, 3},   {"/D3", false, 6},   {"/D1", false, 12},  {"/D8", false, 24},
    {"/D4", false, 48},  {"/D2", false, 96},  {"/DT", false, 384}, {"/DB", false, -3},
    {"/DC", false, -6},  {"/DD", false, -12}, {"/DE", false, -24}, {"/DF", false, -48},
    {"/DG", false, -96}, {"/DH", false, -192},
};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsOptionWord(const std::string& arg) {
  if (arg.empty() || (arg[0] != '/' && arg[0] != '-')) return false;
  return arg.find_first_of("/.", 1) == std::string::npos;
}

void ApplySwitch(const std::string& arg, TCommandLine& r) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return;
  std::string word = Upper(arg.substr(1));
  if (word == "REGSERVER") r.regServer = true;
  else if (word == "UNREGSERVER") r.unregServer = true;
  else if (word == "AUTOMATION") r.automation = true;
  else if (word == "EMBEDDING") r.embedding = true;
}

}  // namespace

TCommandLine QHParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine r;
  for (const std::string& a : args) ApplySwitch(a, r);
  if (args.empty() || args[0].empty() || IsOptionWord(args[0])) return r;
  r.songName = args[0];

  std::string rest;
  for (size_t i = 1; i < args.size(); ++i) {
    if (i > 1) rest += ' ';
    rest += args[i];
  }
  size_t slash = rest.find('/');
  if (slash == std::string::npos) return r;
  std::string text = Upper(rest.substr(slash));
  std::string first = text, second;
  if (text.size() == 5) {
    first = text.substr(0, 3);
    second = "/" + text.substr(3, 2);
  }
  for (const OptionEntry& e : kOptions) {
    if (first == e.text || second == e.text)
      (e.resetMode ? r.resetMode : r.wrdDelay) = e.value;
  }
  return r;
}
