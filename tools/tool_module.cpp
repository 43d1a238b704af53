#include <dlfcn.h>

#include <filesystem>

#include "support/dos_names.h"
#include "tools/module_commands.h"

#ifndef QMIDI_TOOL_MODULE_NAME
#define QMIDI_TOOL_MODULE_NAME "qmidi-tool-backends.so"
#endif
#ifndef QMIDI_TOOL_MODULE_INSTALLED
#define QMIDI_TOOL_MODULE_INSTALLED "../lib/qmidi"
#endif

bool LoadToolModule(std::string* error) {
  static void* handle = nullptr;
  if (handle) return true;
  namespace fs = std::filesystem;
  const fs::path bin = fs::path(QGProgramPath()).parent_path();
  std::string why;
  // Beside the program in a build folder, in the library folder once installed.
  for (const fs::path& candidate :
       {bin / QMIDI_TOOL_MODULE_NAME, bin / QMIDI_TOOL_MODULE_INSTALLED / QMIDI_TOOL_MODULE_NAME}) {
    std::error_code ec;
    if (!fs::exists(candidate, ec)) continue;
    // Its commands register themselves while it loads.
    handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (handle) return true;
    const char* message = dlerror();
    why = message ? message : candidate.string();
  }
  if (error)
    *error = why.empty() ? std::string("the module ") + QMIDI_TOOL_MODULE_NAME + " is not beside " +
                               bin.string() + " nor in " + (bin / QMIDI_TOOL_MODULE_INSTALLED).string()
                         : why;
  return false;
}
