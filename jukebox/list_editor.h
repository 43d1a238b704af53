// TAUTOF, the auto-play list editor: browse mounted file systems, folders
// and song files, build the play list, and store it under the main window's
// list number. Shown without blocking the main window; it keeps its list
// (confirmed or not) between showings.
#pragma once

#include <QDialog>
#include <QStringList>

#include <array>

#include "jukebox/settings_access.h"

class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class TJukeboxHost;

// The file systems a user keeps files on: the root, the home folder, and
// mounts under /media, /mnt, /run/media and /home.
QStringList QGUserVolumes();
// The play-file masks: "*.MID;*.RCP;*.R36;*.G36;*.G18" as a list.
QStringList QGSplitMask(const QString& mask);

class TAUTOF final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kStoredEntries = 1024;

  TAUTOF(TJukeboxHost& host, TSettingsAccess settings, QWidget* parent = nullptr);
  ~TAUTOF() override;

  QComboBox* DriveComboBox1 = nullptr;
  QListWidget* DirectoryListBox1 = nullptr;
  QComboBox* FilterComboBox1 = nullptr;
  QListWidget* FileListBox1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QCheckBox* CB_RANDOM = nullptr;
  QPushButton* Button1 = nullptr;  // OK
  QPushButton* Button2 = nullptr;  // CANCEL
  QPushButton* Button3 = nullptr;  // add
  QPushButton* Button4 = nullptr;  // remove
  QPushButton* Button5 = nullptr;  // add all
  QPushButton* Button6 = nullptr;  // remove all
  QPushButton* ButtonUp = nullptr;    // the chosen entry one place up
  QPushButton* ButtonDown = nullptr;  // one place down

  // The folder the file list shows, and moving to another one.
  QString folder() const { return folder_; }
  void setFolder(const QString& folder);
  // The stored folder of entry i ("" past the 1024 stored entries).
  QString entryFolder(int i) const;
  // The next showing takes the main window's list afresh.
  void forgetList();

  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void Button6Click();
  // Moves the current entry (with its folder) by one place: -1 up, +1 down.
  void moveEntry(int step);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void buildLayout();
  void fillFolderList();
  void fillFileList();
  void appendFile(const QString& name);
  bool listed(const QString& folder, const QString& name) const;
  void storeList(int library);

  TJukeboxHost& host_;
  TSettingsAccess settings_;
  QString folder_;
  std::array<QString, kStoredEntries> folders_;
};
