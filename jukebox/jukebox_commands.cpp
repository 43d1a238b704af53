#include "jukebox/jukebox_commands.h"

namespace {

// Placeholder until the list editor and the file commands are built: the
// menu items and buttons exist and do nothing.
class TNoCommands final : public TJukeboxCommands {
 public:
  void startUp() override {}
  void shutDown() override {}
  void songStarted(const QString&) override {}
  void showListEditor() override {}
  void copyFile() override {}
  void moveFile() override {}
  void deleteFile() override {}
  void search() override {}
  void searchNext() override {}
  void reopen(int) override {}
  void sortByFileName() override {}
  void sortByTitle() override {}
};

}  // namespace

std::unique_ptr<TJukeboxCommands> createJukeboxCommands(TJukeboxHost&) {
  return std::make_unique<TNoCommands>();
}
