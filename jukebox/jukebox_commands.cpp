#include "jukebox/jukebox_commands.h"

#include "jukebox/quor_commands.h"
#include "support/settings/quor_settings.h"

// The list editor, the file commands, the reopen history and sort.
std::unique_ptr<TJukeboxCommands> createJukeboxCommands(TJukeboxHost& host) {
  return createQuorCommands(host, QGSettingsAccess(host.settings()));
}
