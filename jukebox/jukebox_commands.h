// The seam between the jukebox's main window (TForm1: play lists, playback,
// status display) and the commands that act on files and on the stored list:
// the list editor TAUTOF, copy, move, delete, search, the reopen history and
// sort. The window implements TJukeboxHost; the commands implement
// TJukeboxCommands and are created once by createJukeboxCommands.
//
// Everything runs on the window's thread. Commands that must not run while a
// song plays check host.isPlaying() themselves and then call
// host.showCaption("演奏中は、この機能は利用出来ません").
#pragma once

#include <QString>

#include <memory>

class QAction;
class QTreeWidget;
class QWidget;
class TQMIDICTLX;
class TQuorSettings;

// What the window reads about a song through the control.
struct TSongInfo {
  QString title;    // MIDITITLE
  QString cm6Path;  // OUTSTATUSMEMO for OUTSTATUSCH 1000
  QString gsdPath;  // OUTSTATUSMEMO for OUTSTATUSCH 1001
  QString gsdBPath; // OUTSTATUSMEMO for OUTSTATUSCH 1003 (port B's GSD)
  bool hasWrd = false;  // OUTSTATUSID = 1 for OUTSTATUSCH 1002
  int beats = 4;        // OUTSTATUSID for 1000, 4 when below 2
  int beatUnit = 4;     // OUTSTATUSID for 1001, 4 when below 2
};

// The main window as the commands see it.
class TJukeboxHost {
 public:
  virtual ~TJukeboxHost() = default;

  // Parent for dialogs and the list editor.
  virtual QWidget* hostWindow() = 0;
  // The engine connection (OUTSTATUSCH, EXTOPTION1, ... for file commands).
  virtual TQMIDICTLX* control() = 0;
  // The jukebox's settings store ("QUOR"/"QUORMIDI").
  virtual TQuorSettings& settings() = 0;

  // A PLAY was issued and no stop or end report has been handled since.
  virtual bool isPlaying() const = 0;
  // Sets the window caption (messages such as "ファイルの複写完了").
  virtual void showCaption(const QString& text) = 0;

  // The play list in memory: 1024 path slots, entry count, current index
  // (-1 = none), random flag, and the library number shown (0..255).
  static constexpr int kMaxEntries = 1024;
  virtual QString playListPath(int index) const = 0;
  virtual void setPlayListPath(int index, const QString& path) = 0;
  virtual int entryCount() const = 0;
  virtual void setEntryCount(int count) = 0;
  virtual int currentIndex() const = 0;
  virtual void setCurrentIndex(int index) = 0;
  virtual bool randomOn() const = 0;
  virtual void setRandomOn(bool on) = 0;
  virtual int libraryNumber() const = 0;

  // The list view ListBox1 (columns "File", "WRD", "タイトル"), read-only for
  // the user; row i shows entry i.
  virtual QTreeWidget* playListView() = 0;
  // Unfocuses and deselects the selected row, then deletes every row.
  virtual void clearPlayListView() = 0;
  // Appends a row: file name without folder, "(W) " or five blanks, title.
  virtual void addPlayListRow(const QString& path, const TSongInfo& info) = 0;
  // Makes row the only selected row and scrolls it into view.
  virtual void selectRow(int row) = 0;

  // Loads stored play list `library` into memory and the view (the list
  // loading of the window, TForm1.subEdit1Change), whatever library is shown.
  virtual void loadPlayList(int library) = 0;
  // Builds a new shuffle order over the entry count (TForm1.subRandomize).
  virtual void buildShuffleOrder() = 0;
  // Song information through the control (TForm1.QGmstTitle); with
  // pictureTable the engine also fills its WRD picture table first
  // (OUTSTATUSCH 2000, TForm1.QGmstTitle2). Does nothing while playing and
  // then returns the information read last. Also becomes the window's
  // "song has WRD" and title state.
  virtual TSongInfo readSongInfo(const QString& path, bool pictureTable) = 0;

  // The song being started or played, and the one last started.
  virtual QString currentFile() const = 0;
  virtual void setCurrentFile(const QString& path) = 0;
  virtual QString lastStartedFile() const = 0;
  // Starts the current file (TForm1.subStart); nothing while playing.
  virtual void startCurrentFile() = 0;
  // Switches the automatic-play box (STOPOPTION follows it).
  virtual void setAutoPlay(bool on) = 0;

  // The eight reopen menu items "(&0)" .. "(&7)", hidden at first; the
  // history sets their texts and visibility. Triggering item n calls
  // TJukeboxCommands::reopen(n).
  virtual QAction* reopenItem(int n) = 0;
};

// The commands; every entry point catches its own failures and traces them.
class TJukeboxCommands {
 public:
  virtual ~TJukeboxCommands() = default;

  // Start-up, after the window has its position and before the play list is
  // loaded: read "SearchData" and the history ("CurrentFile" ..
  // "CurrentFile7"), create the list editor (position "AutofTop"/"AutofLeft").
  virtual void startUp() = 0;
  // Shutdown, before ALLCLOSE: write the history and the editor's position.
  virtual void shutDown() = 0;
  // A song is being started (TForm1.subOpen): put `path` first in the history.
  // The window has already made it the last started file.
  virtual void songStarted(const QString& path) = 0;

  // Songs joined the shown list from outside the editor: a hidden editor
  // takes the list afresh the next time it is shown.
  virtual void playListChanged() = 0;
  // The main window's random flag changed from outside the editor.
  virtual void randomChanged() = 0;
  // "演奏曲設定(&S)" and the button "自動演奏": show the list editor, not modal.
  virtual void showListEditor() = 0;
  // "ﾌｧｲﾙの複写(&Copy)", "ﾌｧｲﾙの移動(&Move)", "ﾌｧｲﾙの削除(&Delete)".
  virtual void copyFile() = 0;
  virtual void moveFile() = 0;
  virtual void deleteFile() = 0;
  // "演奏曲の検索(Searc&h)" (dialog) and "次を検索(&ReSearch)" (next match).
  virtual void search() = 0;
  virtual void searchNext() = 0;
  // Reopen item n (0..7): automatic play off, start that file.
  virtual void reopen(int n) = 0;
  // "ﾌｧｲﾙ名でｿｰﾄ(S&ort)" and "ﾀｲﾄﾙでｿｰﾄ(Sor&t)".
  virtual void sortByFileName() = 0;
  virtual void sortByTitle() = 0;
};

// Creates the commands for a window. Defined in jukebox_commands.cpp; until
// the file commands exist it returns commands that do nothing.
std::unique_ptr<TJukeboxCommands> createJukeboxCommands(TJukeboxHost& host);
