// qmidi-tool find: how the engine resolves a DOS-era file name written in a
// song or script (backslashes, any letter case) inside a folder.
#include <iostream>

#include "support/dos_names.h"
#include "tools/json_writer.h"
#include "tools/tool_command.h"

QMIDI_TOOL_COMMAND(find, {
  "find",
  "resolve a DOS-era name (\\ separators, any case) inside a folder",
  "FOLDER NAME [--json]",
  {},
  [](const ToolArgs& a) {
    std::string found = QGResolveDosName(a.arg(0, "FOLDER"), a.arg(1, "NAME"));
    if (a.json()) {
      JsonWriter(std::cout).beginObject().field("name", a.arg(1, "NAME")).field("path", found).endObject();
    } else if (!found.empty()) {
      std::cout << found << '\n';
    } else {
      std::cerr << "qmidi-tool find: no file matches \"" << a.arg(1, "NAME") << "\"\n";
    }
    return found.empty() ? 1 : 0;
  }})
