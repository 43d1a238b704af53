// Copy, move, delete and search from the jukebox's play list, through the
// small dialog TOKBottomDlg whose caption names the operation, and
// TForm1.QGmstTitle2, the song information these need.
#pragma once

#include <QDialog>

#include "jukebox/play_list_edits.h"
#include "jukebox/settings_access.h"
#include "jukebox/song_files.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TJukeboxHost;

class TOKBottomDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit TOKBottomDlg(QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

  // One operation's captions; edit "" hides Edit1 (edit text otherwise).
  void prepare(const QString& caption, const QString& label1, const QString* edit, const QString& label2,
               const QString& label3, const QString& label4);
  // Shows a file as it is handled.
  void showFile(const QString& source, const QString& destination);

 signals:
  void started();
};

// The song's set-up files and, when it has a WRD script, the names of its
// pictures (selector 2000 of the engine's output status). Nothing while a
// song plays.
TSongCompanions QGmstTitle2(TJukeboxHost& host, const QString& path);

class TFileCommands {
 public:
  TFileCommands(TJukeboxHost& host, TSettingsAccess settings);
  ~TFileCommands();

  // Start-up: the search text from "SearchData".
  void startUp();

  void copyFile();
  void moveFile();
  void deleteFile();
  void search();
  // The search step (also "次を検索(&ReSearch)").
  void subKensaku();

  TOKBottomDlg& dialog() { return *dialog_; }
  QString searchText() const { return searchText_; }
  int searchPosition() const { return searchPosition_; }
  QString lastDestination() const { return lastDestination_; }

 private:
  enum class TMode { Copy, Move, Delete, Search };
  bool allowedNow();
  QString selectedPath();
  void open(TMode mode, const char* traceName);
  void start();
  void transfer(bool move);
  void remove();
  bool confirmDeleteForGood();
  // The play list in memory becomes paths, with fresh rows.
  void rebuild(const QStringList& paths);
  QList<TListRow> rows() const;

  TJukeboxHost& host_;
  TSettingsAccess settings_;
  TOKBottomDlg* dialog_;
  TMode mode_ = TMode::Search;
  QString lastDestination_;
  QString searchText_;
  int searchPosition_ = 0;
};
