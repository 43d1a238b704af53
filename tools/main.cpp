// qmidi-tool: command-line access to the engine's parts, for people and tests.
#include <algorithm>
#include <cstring>
#include <iostream>

#include "support/dos_names.h"
#include "support/trace.h"
#include "tools/module_commands.h"
#include "tools/tool_command.h"

namespace {

void printCommandList(std::ostream& out) {
  out << "Usage: qmidi-tool COMMAND [ARGS] [--json] [--help]\n\n"
         "Commands:\n";
  auto commands = ToolCommands();
  // The module's commands are listed from their table, without loading it.
  for (const ModuleCommand& m : kModuleCommands)
    if (std::none_of(commands.begin(), commands.end(), [&](const ToolCommand& c) { return c.name == m.name; }))
      commands.push_back(ToolCommand{m.name, m.summary, "", {}, nullptr});
  std::sort(commands.begin(), commands.end(),
            [](const ToolCommand& a, const ToolCommand& b) { return a.name < b.name; });
  for (const ToolCommand& c : commands) {
    std::string head = "  " + c.name;
    head.resize(std::max<size_t>(head.size() + 1, 14), ' ');
    out << head << c.summary << '\n';
  }
  out << "\nEvery command takes --help; --json prints a machine-readable result.\n"
         "Failures of the engine's routines are listed in the trace log "
      << (QGTrFilePath().empty() ? "QUORTRC.LOG" : QGTrFilePath()) << ".\n";
}

void printUsage(const ToolCommand& c, std::ostream& out) {
  out << "Usage: qmidi-tool " << c.name << ' ' << c.usage << "\n  " << c.summary << '\n';
}

bool listed(const std::vector<std::string>& options, const std::string& name) {
  return std::find(options.begin(), options.end(), name) != options.end();
}

// The number of arguments a command takes: the words of its usage before
// the first option.
size_t positionalCount(const ToolCommand& c) {
  size_t n = 0;
  for (size_t at = 0; at < c.usage.size();) {
    size_t end = c.usage.find_first_of(" \n", at);
    if (end == std::string::npos) end = c.usage.size();
    if (end > at) {
      if (c.usage[at] == '[' || c.usage[at] == '-') break;
      ++n;
    }
    at = end + 1;
  }
  return n;
}

ToolArgs parse(const ToolCommand& c, int argc, char** argv) {
  ToolArgs args;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a, value;
      bool inlineValue = false;
      if (auto eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
      if (listed(c.valueOptions, name)) {
        if (!inlineValue) {
          if (i + 1 >= argc) throw UsageError(name + " needs a value");
          value = argv[++i];
        }
        args.values[name] = value;
      } else if ((name == "--json" || name == "--help" || listed(c.flagOptions, name)) && !inlineValue) {
        args.flags.insert(name);
      } else {
        throw UsageError("unknown option " + name);
      }
    } else {
      args.positional.push_back(a);
    }
  }
  if (args.positional.size() > positionalCount(c) && !args.flag("--help"))
    throw UsageError("too many arguments: \"" + args.positional[positionalCount(c)] + "\" is not expected");
  return args;
}

const ToolCommand* findCommand(const std::string& name) {
  const auto& commands = ToolCommands();
  auto it = std::find_if(commands.begin(), commands.end(),
                         [&](const ToolCommand& c) { return c.name == name; });
  return it == commands.end() ? nullptr : &*it;
}

}  // namespace

int main(int argc, char** argv) {
  QGInstallUserExceptionHandler();
  QGTrOpen(QGProgramPath());
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    printCommandList(std::cout);
    return argc < 2 ? 2 : 0;
  }
  const ToolCommand* it = findCommand(argv[1]);
  if (!it && *ModuleCommandSummary(argv[1])) {
    std::string error;
    if (!LoadToolModule(&error)) {
      std::cerr << "qmidi-tool " << argv[1] << ": cannot load the device and display commands: " << error
                << "\n";
      return 1;
    }
    it = findCommand(argv[1]);
  }
  if (!it) {
    std::cerr << "qmidi-tool: unknown command \"" << argv[1] << "\"\n\n";
    printCommandList(std::cerr);
    return 2;
  }
  try {
    ToolArgs args = parse(*it, argc, argv);
    if (args.flag("--help")) {
      printUsage(*it, std::cout);
      return 0;
    }
    return it->run(args);
  } catch (const UsageError& e) {
    std::cerr << "qmidi-tool " << it->name << ": " << e.what() << "\n";
    printUsage(*it, std::cerr);
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "qmidi-tool " << it->name << ": " << e.what() << "\n";
    return 1;
  }
}
