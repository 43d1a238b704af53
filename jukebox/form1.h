// TForm1, the jukebox's main window: the play buttons and menus, the library
// number, the switches for automatic play and WRD display, volume and
// balance, the live status display, and the play list of the library shown.
// It plays through its TQMIDICTLX and follows the engine's reports.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>

#include "jukebox/jukebox_commands.h"
#include "jukebox/play_list.h"
#include "jukebox/status_display.h"
#include "support/settings/quor_settings.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QToolButton;
class QTreeWidget;
class TUpDown;
class TMprisPlayer;
class TMprisService;

using TCommandsFactory = std::function<std::unique_ptr<TJukeboxCommands>(TJukeboxHost&)>;

inline constexpr const char* kJukeboxTitle = "QUORMIDI v1.01";
inline constexpr const char* kNotWhilePlaying = "演奏中は、この機能は利用出来ません";
inline constexpr const char* kHelpMissing = "HELP.HTMﾌｧｲﾙをWebﾌﾞﾗｳｻﾞで表示してください。";
inline constexpr const char* kOpenFilter = "MIDI|*.MID;*.RCP;*.R36;*.G36;*.G18";
inline constexpr const char* kPlayListFilter = "Play lists (*.m3u *.m3u8 *.xspf);;M3U (*.m3u *.m3u8);;XSPF (*.xspf)";

// "MIDI|*.MID;*.RCP;*.R36;*.G36;*.G18" as the Qt file dialog writes filters.
QString DialogFilter(const QString& filter);

class TForm1 : public QMainWindow, public TJukeboxHost {
  Q_OBJECT
 public:
  // Start-up: settings, position, history, the stored play list, switches.
  explicit TForm1(const TCommandsFactory& commands = createJukeboxCommands, QWidget* parent = nullptr);
  // Shutdown: the settings are written and the engine's playback closed.
  ~TForm1() override;

  // TJukeboxHost
  QWidget* hostWindow() override { return this; }
  TQMIDICTLX* control() override { return QMIDICTLX1; }
  TQuorSettings& settings() override { return settings_; }
  bool isPlaying() const override { return playing_; }
  bool isPaused() const { return playing_ && paused_; }
  // The song started last is in the engine and was not stopped: its
  // reports are shown and Pause reaches it.
  bool songSounds() const;
  // Resumes a paused song (the desktop's Play).
  void resumePaused();
  // The automatic step to the next / previous entry (the desktop's Next and
  // Previous); false when automatic play is off or the list is empty.
  bool stepEntry(bool forward);
  // The title of the song started last: what the engine said at its start,
  // else what its row shows (a song started while another still owned the
  // engine's playback could not be asked).
  QString currentTitle() const;
  // The playing song's length in milliseconds (0 until known).
  int songLengthMs() const { return songSounds() ? songLengthMs_ : 0; }
  // How far the playing song is, in milliseconds (0 when stopped).
  int positionMs() const;
  // The volume slider (0 .. 100; the devices' volume follows it).
  int volume() const;
  void setVolume(int volume);
  // Random order on or off (a new order when switched on).
  void switchRandom(bool on);
  bool autoPlayOn() const;
  void showCaption(const QString& text) override;
  QString playListPath(int index) const override { return list_.path(index); }
  void setPlayListPath(int index, const QString& path) override { list_.setPath(index, path); }
  int entryCount() const override { return list_.count(); }
  void setEntryCount(int count) override { list_.setCount(count); }
  int currentIndex() const override { return currentIndex_; }
  void setCurrentIndex(int index) override { currentIndex_ = index; }
  bool randomOn() const override { return random_; }
  void setRandomOn(bool on) override;
  int libraryNumber() const override;
  QTreeWidget* playListView() override { return ListBox1; }
  void clearPlayListView() override;
  void addPlayListRow(const QString& path, const TSongInfo& info) override;
  void selectRow(int row) override;
  void loadPlayList(int library) override;
  void buildShuffleOrder() override { list_.shuffle(); }
  TSongInfo readSongInfo(const QString& path, bool pictureTable) override;
  QString currentFile() const override { return currentFile_; }
  void setCurrentFile(const QString& path) override { currentFile_ = path; }
  QString lastStartedFile() const override { return lastStartedFile_; }
  void startCurrentFile() override { subStart(); }
  void setAutoPlay(bool on) override;
  QAction* reopenItem(int n) override { return reopenItems_[size_t(n)]; }

  // Commands (the menu items and buttons).
  void MN_FILESTARTClick();  // Start: the selected row, the next random entry or the last file
  void MN_FILESTOPClick();
  void MN_FILEPAUSEClick();
  void MN_FILENEXTClick();
  void MN_FILEBACKClick();
  void MN_FILEOPENClick();         // the open dialog, then openSong (several: addSongs)
  void openSong(const QString& path);  // Open's work once a file is chosen
  // Songs, folders and play list files (relative to workingFolder) join the
  // shown list and its stored list, each song once; with start the first of
  // them plays, automatic play on. New rows show their titles once read.
  // The number of songs added.
  int addSongs(const QStringList& arguments, bool start, const QString& workingFolder = QDir::currentPath());
  void MN_FILEIMPORTClick();
  void MN_FILEEXPORTClick();
  // The shown list as M3U (UTF-8) or XSPF (.xspf); false with the reason shown.
  bool exportPlayList(const QString& path);
  // Titles of added rows still to be read from the engine.
  int rowsToRead() const { return int(rowsToRead_.size()); }
  // The artist of the song started last, from its memo.
  QString currentArtist() const { return currentFile_ == lastStartedFile_ ? startedArtist_ : QString(); }
  void MN_HELPClick();
  void MN_VERSIONClick();

  // The control's OnStatus.
  void QMIDICTLX1Status(int value1, int value2, int value3, int value4);

  const TPlayList& playList() const { return list_; }
  const TStatusValues& statusValues() const { return status_; }
  TStatusDisplay& statusDisplay() { return *display_; }
  bool songHasWrd() const { return song_.hasWrd; }
  // The debounce of library changes.
  static constexpr int kLibraryDebounceMs = 20;
  // How long a start waits for the end report of the song stopped before it.
  static constexpr int kEndReportWaitMs = 5000;

 signals:
  // A play list was loaded into the view (after the debounce for changes).
  void playListLoaded(int library);
  // subStart is about to PLAY this file.
  void songStarting(const QString& path);
  // Every added row shows its title.
  void rowsRead();

 protected:
  void hideEvent(QHideEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Building the window (form1_layout.cpp).
  void buildWidgets();
  void buildMenus();
  void buildStatusLabels(QWidget* panel);
  void addToolTips();
  QAction* addCommand(QMenu* menu, const char* name, const QString& text, const QKeySequence& key,
                      std::function<void()> handler);
  // A handler that calls an entry point of the file commands.
  std::function<void()> fileCommand(void (TJukeboxCommands::*entry)());
  void connectWidgets();

  // Start-up and shutdown.
  void startUp();
  void startMediaControls();
  void followEngine();
  void readSwitches();
  void shutDown();
  void restoreColumns();
  void saveColumns();

  // Playback.
  void subFileStart();
  void chooseStartIndex();
  void subStart();
  void startStatusForms();
  void subStop();
  void subFileNaxt();
  void subFileBack();
  void automaticStep(bool forward);
  void startOrRestart();
  void playNow();
  void stopEngineSong();
  void stoppedSongEnded();
  void endDisplay();
  void firstStatus(int value4);
  void endReport(int value1);
  // The path of entry index, "" outside the entries.
  QString entryPath(int index) const;
  void subRandomize() { list_.shuffle(); }

  // Songs from outside the list editor (form1_songs.cpp).
  void reportProblems(const QStringList& problems);
  void startRow(int row);
  void scheduleRowReading();
  void readQueuedRows();
  int rowOfPath(const QString& path) const;
  void showRowInfo(int row, const TSongInfo& info);

  // The play list and the library number.
  void subEdit1Change();
  TSongInfo readRowInfo(const QString& path);
  TSongInfo readInfoNow(const QString& path, bool pictureTable);
  void Edit1Change();
  void OnUserPar3();
  bool UpDown1Changing();
  void listClicked(QPoint pos, bool doubleClick);
  void formClicked(Qt::MouseButton button);
  void selectCurrentRow();
  int selectedRow() const;
  void fitList();

  // Switches and sliders.
  void CB_JIDOUClick();
  void CB_WRDClick();
  void setswMini(bool hidden);
  void MN_SETDEVICEClick();

  TQuorSettings settings_;
  std::unique_ptr<TJukeboxCommands> commands_;

  // Widgets, by their form names.
  std::array<QToolButton*, 7> pictureButtons_{};
  QLineEdit* Edit1 = nullptr;
  TUpDown* UpDown1 = nullptr;
  QCheckBox* CB_JIDOU = nullptr;
  QPushButton* BT_SETAUTO = nullptr;
  QCheckBox* CB_WRD = nullptr;
  QPushButton* BT_SETWRD = nullptr;
  QScrollBar* ScrollBar1 = nullptr;
  QScrollBar* ScrollBar2 = nullptr;
  QLabel* LB_CURRENT = nullptr;
  QLabel* LB_TOTAL = nullptr;
  QLabel* LB_TIMEC = nullptr;
  QLabel* LB_TIMEC2 = nullptr;
  QLabel* LB_TIMEC3 = nullptr;
  QLabel* LB_TIME = nullptr;
  QLabel* LB_TEMPO = nullptr;
  QLabel* LB_HYOSI = nullptr;
  QProgressBar* Gauge1 = nullptr;
  QTreeWidget* ListBox1 = nullptr;
  TQMIDICTLX* QMIDICTLX1 = nullptr;
  std::array<QAction*, 8> reopenItems_{};
  QAction* randomItem_ = nullptr;  // 設定 menu: random order

  // Window state.
  TPlayList list_;
  int currentIndex_ = -1;
  QString currentFile_;
  QString lastStartedFile_;
  bool playing_ = false;
  bool paused_ = false;  // paused by the Pause command while playing
  int songLengthMs_ = 0;  // the playing song's length, once its first report came
  QElapsedTimer playingFor_;  // since the song's PLAY
  bool restartPending_ = false;
  bool reverseStep_ = false;
  bool random_ = false;
  TSongInfo song_;
  TStatusValues status_;
  std::unique_ptr<TStatusDisplay> display_;
  // The engine's side of the play state. At most one song of this window is
  // in the engine: a start waits for the end report of the song stopped
  // before it, so every report belongs to the song it seems to.
  bool endOwed_ = false;   // a song of ours is in the engine; its end report will come
  bool stopSent_ = false;  // that song was stopped: its reports are no longer shown
  bool startDue_ = false;  // subStart runs when the stopped song's end report comes
  QTimer endWait_;         // in case that report never comes (the engine went away)
  QString startedTitle_, startedArtist_;  // of the song started last
  QList<QPair<int, QString>> rowsToRead_;  // added rows (index, path) without their titles yet
  QTimer rowReader_;
  bool readingRows_ = false;  // the control's calls let the reader's timer in again
  int requestedLibrary_ = 0;
  int loadedLibrary_ = 0;
  bool listLoadingAllowed_ = true;
  bool formClickArmed_ = false;
  QTimer libraryDebounce_;
  // The desktop's media controls (MPRIS), following the window's state.
  std::unique_ptr<TMprisService> mpris_;
  std::unique_ptr<TMprisPlayer> mprisPlayer_;
  QTimer mprisFollow_;
  QPoint listPress_;
};
