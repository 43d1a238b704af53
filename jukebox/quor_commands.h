// The jukebox's list and file commands behind TJukeboxCommands: the list
// editor, copy, move, delete, search, the reopen history and sort.
#pragma once

#include <memory>

#include "jukebox/file_commands.h"
#include "jukebox/history.h"
#include "jukebox/jukebox_commands.h"
#include "jukebox/play_list_edits.h"
#include "jukebox/settings_access.h"

class TAUTOF;

class TQuorCommands final : public TJukeboxCommands {
 public:
  TQuorCommands(TJukeboxHost& host, TSettingsAccess settings);
  ~TQuorCommands() override;

  void startUp() override;
  void shutDown() override;
  void songStarted(const QString& path) override;
  void playListChanged() override;
  void randomChanged() override;
  void showListEditor() override;
  void copyFile() override { files_.copyFile(); }
  void moveFile() override { files_.moveFile(); }
  void deleteFile() override { files_.deleteFile(); }
  void search() override { files_.search(); }
  void searchNext() override;
  void reopen(int n) override;
  void sortByFileName() override { sort(TSortKey::FileName, "TForm1.MN_FILESORTNAMEClick "); }
  void sortByTitle() override { sort(TSortKey::Title, "TForm1.MN_FILESORTTITLEClick "); }

  TAUTOF* listEditor() { return editor_.get(); }
  TFileCommands& files() { return files_; }
  const TReopenHistory& history() const { return history_; }

 private:
  bool allowedNow();
  void showHistory();
  void sort(TSortKey key, const char* traceName);

  TJukeboxHost& host_;
  TSettingsAccess settings_;
  TFileCommands files_;
  TReopenHistory history_;
  std::unique_ptr<TAUTOF> editor_;
};

std::unique_ptr<TJukeboxCommands> createQuorCommands(TJukeboxHost& host, TSettingsAccess settings);
