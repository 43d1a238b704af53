#include "jukebox/form1.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <climits>

#include "QMIDICTLXControl.h"
#include "jukebox/about_box.h"
#include "jukebox/form1_mpris.h"
#include "jukebox/mpris.h"
#include "jukebox/song_sources.h"
#include "jukebox/status_text.h"
#include "jukebox/up_down.h"
#include "support/guard.h"

namespace {

// A press this far from the list's left edge picks the row under it as the
// current entry; nearer, it only selects.
constexpr int kListPickMargin = 105;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QString Flag(bool on) { return on ? QStringLiteral("True") : QStringLiteral("False"); }

// The WRD script beside a song: its folder, its name up to the first ".", ".wrd".
bool WrdScriptExists(const QString& song) {
  const QFileInfo info(song);
  const QString base = info.fileName().section(QLatin1Char('.'), 0, 0);
  return QFileInfo(info.dir().filePath(base + QStringLiteral(".wrd"))).isFile() ||
         QFileInfo(info.dir().filePath(base + QStringLiteral(".WRD"))).isFile();
}

int AtLeastTwo(int value) { return value < 2 ? 4 : value; }

}  // namespace

TForm1::TForm1(const TCommandsFactory& commands, QWidget* parent)
    : QMainWindow(parent), settings_(QStringLiteral("QUORMIDI")) {
  setObjectName(QStringLiteral("Form1"));
  // The caption alone names the window: a display name set for the program
  // would be appended to every window's and dialog's title.
  setWindowTitle(Text(kJukeboxTitle));
  buildWidgets();
  buildMenus();
  display_ = std::make_unique<TStatusDisplay>(
      status_, TStatusDisplay::Labels{LB_TIMEC, LB_TIMEC2, LB_TIMEC3, LB_CURRENT, LB_TEMPO, Gauge1});
  display_->setVolumeSource([this] { return ScrollBar1->value(); });
  connectWidgets();
  // A stopped song closes within a fraction of a second; an engine that
  // went away never reports it.
  endWait_.setSingleShot(true);
  endWait_.setInterval(kEndReportWaitMs);
  connect(&endWait_, &QTimer::timeout, this, [this] {
    endOwed_ = false;
    stoppedSongEnded();
  });
  rowReader_.setInterval(0);
  connect(&rowReader_, &QTimer::timeout, this, [this] { readQueuedRows(); });
  setAcceptDrops(true);
  commands_ = commands(*this);
  startUp();
  startMediaControls();
}

TForm1::~TForm1() {
  mprisFollow_.stop();
  mpris_.reset();
  shutDown();
  commands_.reset();
}

// ---- start-up and shutdown

void TForm1::startUp() {
  QGuardVoid("TForm1.FormCreate ", [&] {
    settings_.write(QStringLiteral("Handle"), QString::number(quint64(winId())));
    // The place of the window's inside, not of its frame: the frame is not
    // known before the window manager has drawn it, and a window placed by
    // its frame would creep by the title bar's height at every start.
    const int top = settings_.readInt(QStringLiteral("Form1Top"), INT_MIN);
    const int left = settings_.readInt(QStringLiteral("Form1Left"), INT_MIN);
    if (top != INT_MIN && left != INT_MIN) setGeometry(QRect(QPoint(left, top), size()));
    commands_->startUp();

    // Random order first: without it the loaded list starts at its first row.
    setRandomOn(settings_.read(QStringLiteral("swRandom")) == QStringLiteral("True"));
    restoreColumns();
    const int library = std::clamp(settings_.readInt(QStringLiteral("LIBNO"), 0), 0, 255);
    requestedLibrary_ = loadedLibrary_ = library;
    UpDown1->setPosition(library);
    subEdit1Change();
    loadedLibrary_ = 256;  // the next change always loads
    readSwitches();
    ScrollBar1->setValue(QMIDICTLX1->DEVVOLUME());
    ScrollBar2->setValue(QMIDICTLX1->DEVBALANCE());
    status_.levelScaled = ScrollBar1->value() != 0;
  });
}

void TForm1::readSwitches() {
  setAutoPlay(settings_.read(QStringLiteral("swJidou")) == QStringLiteral("True"));
  {
    const QSignalBlocker quiet(CB_WRD);
    CB_WRD->setChecked(settings_.read(QStringLiteral("swWRD")) == QStringLiteral("True"));
  }
  CB_WRDClick();
  if (list_.count() == 0) setAutoPlay(false);
}

void TForm1::shutDown() {
  QGuardVoid("TForm1.FormDestroy ", [&] {
    endDisplay();
    settings_.write(QStringLiteral("Form1Top"), QString::number(geometry().y()));
    settings_.write(QStringLiteral("Form1Left"), QString::number(geometry().x()));
    settings_.write(QStringLiteral("swRandom"), Flag(random_));
    settings_.write(QStringLiteral("swJidou"), Flag(CB_JIDOU->isChecked()));
    settings_.write(QStringLiteral("swWRD"), Flag(CB_WRD->isChecked()));
    settings_.write(QStringLiteral("LIBNO"), QString::number(UpDown1->position()));
    saveColumns();
    commands_->shutDown();
    QMIDICTLX1->ALLCLOSE();
  });
}

// ---- the host side of the file commands

void TForm1::showCaption(const QString& text) { setWindowTitle(text); }

int TForm1::libraryNumber() const { return UpDown1->position(); }

void TForm1::clearPlayListView() {
  ListBox1->setCurrentItem(nullptr);
  ListBox1->clearSelection();
  ListBox1->clear();
}

void TForm1::addPlayListRow(const QString& path, const TSongInfo& info) {
  ListBox1->addTopLevelItem(new QTreeWidgetItem(
      {QFileInfo(path).fileName(), info.hasWrd ? QStringLiteral("(W) ") : QStringLiteral("     "), info.title}));
}

void TForm1::selectRow(int row) {
  QTreeWidgetItem* item = ListBox1->topLevelItem(row);
  if (!item) return;
  ListBox1->clearSelection();
  ListBox1->setCurrentItem(item);
  item->setSelected(true);
  ListBox1->scrollToItem(item);
}

int TForm1::selectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListBox1->selectedItems();
  return selected.isEmpty() ? -1 : ListBox1->indexOfTopLevelItem(selected.front());
}

void TForm1::selectCurrentRow() {
  if (currentIndex_ >= 0 && currentIndex_ < ListBox1->topLevelItemCount()) selectRow(currentIndex_);
}

QString TForm1::entryPath(int index) const { return index >= 0 && index < list_.count() ? list_.path(index) : QString(); }

void TForm1::setAutoPlay(bool on) {
  {
    const QSignalBlocker quiet(CB_JIDOU);
    CB_JIDOU->setChecked(on);
  }
  CB_JIDOUClick();
}

TSongInfo TForm1::readSongInfo(const QString& path, bool pictureTable) {
  if (playing_) return song_;
  return readInfoNow(path, pictureTable);
}

TSongInfo TForm1::readInfoNow(const QString& path, bool pictureTable) {
  QGuardVoid(pictureTable ? "TForm1.QGmstTitle2 " : "TForm1.QGmstTitle ", [&] {
    TQMIDICTLX* c = QMIDICTLX1;
    if (pictureTable) c->setOUTSTATUSCH(2000);
    c->setMIDIFILENAME(path);
    c->STATUS();
    TSongInfo info;
    info.title = c->MIDITITLE();
    c->setOUTSTATUSCH(1000);
    info.cm6Path = c->OUTSTATUSMEMO();
    info.beats = AtLeastTwo(c->OUTSTATUSID());
    c->setOUTSTATUSCH(1001);
    info.gsdPath = c->OUTSTATUSMEMO();
    info.beatUnit = AtLeastTwo(c->OUTSTATUSID());
    c->setOUTSTATUSCH(1002);
    info.hasWrd = c->OUTSTATUSID() == 1;
    c->setOUTSTATUSCH(1003);
    info.gsdBPath = c->OUTSTATUSMEMO();
    song_ = info;
  });
  return song_;
}

// What a row shows, with the fewest calls to the engine: the set-up file
// names and the time signature are read again when the song starts.
TSongInfo TForm1::readRowInfo(const QString& path) {
  if (playing_) return song_;
  QGuardVoid("TForm1.QGmstTitle ", [&] {
    TQMIDICTLX* c = QMIDICTLX1;
    c->setMIDIFILENAME(path);
    c->STATUS();
    song_ = TSongInfo{};
    song_.title = c->MIDITITLE();
    c->setOUTSTATUSCH(1002);
    song_.hasWrd = c->OUTSTATUSID() == 1;
  });
  return song_;
}

// ---- play lists and the library number

void TForm1::loadPlayList(int library) {
  QGuardVoid("TForm1.subEdit1Change ", [&] {
    clearPlayListView();
    list_.clear();
    // The rows are drawn once, when all are there.
    ListBox1->setUpdatesEnabled(false);
    for (const QString& path : ReadStoredPlayList(settings_, library)) {
      list_.append(path);
      addPlayListRow(path, readRowInfo(path));
    }
    if (list_.count() > 0) subRandomize();
    // Start (F8) has a song to play: the first row, until the user picks one.
    if (list_.count() > 0 && currentIndex_ < 0 && !random_) selectRow(0);
  });
  ListBox1->setUpdatesEnabled(true);
  emit playListLoaded(library);
}

void TForm1::subEdit1Change() { loadPlayList(UpDown1->position()); }

bool TForm1::UpDown1Changing() {
  if (!listLoadingAllowed_) return false;
  if (playing_) {
    showCaption(Text(kNotWhilePlaying));
    return false;
  }
  return true;
}

void TForm1::Edit1Change() {
  const int requested = Edit1->text().toInt();
  if (requested == requestedLibrary_) return;
  requestedLibrary_ = requested;
  // A fast run of changes loads only the last number.
  libraryDebounce_.start();
}

void TForm1::OnUserPar3() {
  QGuardVoid("TForm1.OnUserPar3 ", [&] {
    if (requestedLibrary_ == loadedLibrary_) return;
    listLoadingAllowed_ = false;
    subEdit1Change();
    listLoadingAllowed_ = true;
  });
  listLoadingAllowed_ = true;
}

// ---- starting and stopping

void TForm1::MN_FILESTARTClick() { subFileStart(); }

void TForm1::subFileStart() {
  if (playing_) return;
  QGuardVoid("TForm1.subFileStart ", [&] {
    chooseStartIndex();
    currentFile_ = currentIndex_ >= 0 ? entryPath(currentIndex_) : lastStartedFile_;
    if (!currentFile_.isEmpty()) startOrRestart();
  });
}

void TForm1::chooseStartIndex() {
  const int selected = selectedRow();
  const bool clamp = selected >= 0 || currentIndex_ >= 0;
  if (selected >= 0)
    currentIndex_ = selected;
  else if (currentIndex_ < 0 && random_)
    currentIndex_ = list_.nextShuffled();
  if (clamp) currentIndex_ = std::min(std::max(currentIndex_, 0), list_.count() - 1);
  selectCurrentRow();
}

void TForm1::startOrRestart() {
  if (playing_) {
    restartPending_ = true;
    subStop();
  } else {
    subStart();
  }
}

void TForm1::subStart() {
  if (playing_) return;
  if (!endOwed_) return playNow();
  // The song stopped before has not closed yet: its end report starts this one.
  startDue_ = true;
  playing_ = true;
  paused_ = false;
}

// Every call to the control lets other events run (reports, the user's
// commands, timers): the song is ours from the first call on, and a stop
// that comes meanwhile is taken as this song's stop.
void TForm1::playNow() {
  playing_ = true;
  paused_ = false;
  endOwed_ = true;
  stopSent_ = false;
  QGuardVoid("TForm1.subStart ", [&] {
    QMIDICTLX1->setMIDIFILENAME(currentFile_);
    readInfoNow(currentFile_, false);
    setWindowTitle(song_.title);
    setWindowFilePath(currentFile_);
    lastStartedFile_ = currentFile_;
    startedTitle_ = song_.title;
    startedArtist_ = QGArtistOfMemo(QMIDICTLX1->MIDIMEMO());
    if (entryPath(currentIndex_) == currentFile_) showRowInfo(currentIndex_, song_);
    commands_->songStarted(currentFile_);
    if (CB_WRD->isChecked() && song_.hasWrd) {
      endDisplay();
      QMIDICTLX1->setMIDICURRENTTIME1(0);  // milliseconds, asked for by the media controls
      QMIDICTLX1->setTIMERWRD(16);  // the engine draws the WRD screen; the labels stay
    } else {
      startStatusForms();
    }
    songLengthMs_ = 0;  // known from the song's first progress report
    playingFor_.start();
    if (stopSent_) {  // stopped (or stepped on) while this start was prepared
      endOwed_ = false;
      return stoppedSongEnded();
    }
    emit songStarting(currentFile_);
    QMIDICTLX1->PLAY();
  });
}

void TForm1::startStatusForms() {
  TQMIDICTLX* c = QMIDICTLX1;
  c->setMIDICURRENTTIME1(0);  // milliseconds
  c->setMIDICURRENTTIME2(1);  // bar position
  c->setMIDITIMEOPTION1(3);   // tempo
  c->setMIDITIMEOPTION2(4);   // time signature, then the level
  status_ = TStatusValues{{0, 0, 120, 4004}, true, status_.levelScaled};
  song_.beats = song_.beatUnit = 4;
  c->setTIMERWRD(32);
  display_->start();
}

void TForm1::subStop() {
  if (!playing_) return;
  QGuardVoid("TForm1.subStop ", [&] {
    if (restartPending_) QMIDICTLX1->setSTOPOPTION(WrdScriptExists(currentFile_) && song_.hasWrd ? 1 : 0);
    stopEngineSong();
    playing_ = false;
    paused_ = false;
    startDue_ = false;
    if (restartPending_) {
      restartPending_ = false;
      subStart();
    }
  });
}

// The engine is told to stop whatever the window believes: a STOP of a song
// that has ended already changes nothing there.
void TForm1::stopEngineSong() {
  if (endOwed_ && !stopSent_) {
    stopSent_ = true;
    endWait_.start();
  }
  QMIDICTLX1->STOP();
}

void TForm1::MN_FILESTOPClick() {
  endDisplay();
  restartPending_ = false;
  QGuardVoid("TForm1.subStop ", [&] { stopEngineSong(); });
  playing_ = false;
  paused_ = false;
  startDue_ = false;
}

bool TForm1::songSounds() const { return playing_ && endOwed_ && !stopSent_; }

void TForm1::MN_FILEPAUSEClick() {
  if (!songSounds()) return;
  QMIDICTLX1->PAUSE();
  paused_ = true;
}

void TForm1::resumePaused() {
  if (!isPaused() || !songSounds()) return;
  QMIDICTLX1->RESTART();
  paused_ = false;
}

// The desktop's media keys and player widget: Play, Pause, Stop, Next and
// Previous are the window's own commands; the state is looked at twice a
// second, so every change (ends included) reaches the desktop.
void TForm1::startMediaControls() {
  mprisPlayer_ = std::make_unique<TForm1Mpris>(*this);
  mpris_ = std::make_unique<TMprisService>(*mprisPlayer_);
  if (!mpris_->start()) return;  // no bus or another jukebox has the name
  mprisFollow_.setInterval(500);
  connect(&mprisFollow_, &QTimer::timeout, this, [this] {
    followEngine();
    mpris_->changed();
  });
  mprisFollow_.start();
}

// A song showing its WRD script sends no progress reports: its length is
// asked for once the engine has read it (past the start's lead-in).
void TForm1::followEngine() {
  constexpr int kReadAfterMs = 1500;
  if (songLengthMs_ > 0 || !songSounds() || playingFor_.elapsed() < kReadAfterMs) return;
  songLengthMs_ = std::max(0, QMIDICTLX1->MIDITOTALTIME1());
}

int TForm1::positionMs() const {
  if (!songSounds()) return 0;
  if (display_->running()) return status_.values[0];
  return std::max(0, QMIDICTLX1->MIDICURRENTTIME1());  // no reports: asked
}

int TForm1::volume() const { return ScrollBar1->value(); }
void TForm1::setVolume(int volume) { ScrollBar1->setValue(volume); }
bool TForm1::autoPlayOn() const { return CB_JIDOU->isChecked(); }

void TForm1::setRandomOn(bool on) {
  random_ = on;
  if (randomItem_) {
    const QSignalBlocker quiet(randomItem_);
    randomItem_->setChecked(on);
  }
}

void TForm1::switchRandom(bool on) {
  if (on && !random_) subRandomize();
  setRandomOn(on);
  commands_->randomChanged();
}

void TForm1::MN_FILENEXTClick() {
  if (!playing_) return subFileNaxt();
  reverseStep_ = false;
  restartPending_ = true;
  subStop();
}

void TForm1::MN_FILEBACKClick() {
  if (!playing_) return subFileBack();
  reverseStep_ = true;
  restartPending_ = true;
  subStop();
}

QString TForm1::currentTitle() const {
  if (currentFile_ == lastStartedFile_ && !startedTitle_.isEmpty()) return startedTitle_;
  const QTreeWidgetItem* row = currentIndex_ >= 0 ? ListBox1->topLevelItem(currentIndex_) : nullptr;
  return row && entryPath(currentIndex_) == currentFile_ ? row->text(2) : QString();
}

bool TForm1::stepEntry(bool forward) {
  if (!CB_JIDOU->isChecked() || list_.count() == 0) return false;
  automaticStep(forward);
  return true;
}

void TForm1::subFileNaxt() { automaticStep(true); }

void TForm1::subFileBack() { automaticStep(false); }

void TForm1::automaticStep(bool forward) {
  const int count = list_.count();
  if (!CB_JIDOU->isChecked() || count == 0) return;
  QGuardVoid(forward ? "TForm1.subFileNaxt " : "TForm1.subFileBack ", [&] {
    if (random_)
      currentIndex_ = list_.nextShuffled();
    else if (forward)
      currentIndex_ = currentIndex_ + 1 > count - 1 ? 0 : currentIndex_ + 1;
    else
      currentIndex_ = currentIndex_ - 1 < 0 ? count - 1 : std::min(currentIndex_ - 1, count - 1);
    if (!song_.hasWrd) selectRow(currentIndex_);
    currentFile_ = entryPath(currentIndex_);
    if (!currentFile_.isEmpty()) startOrRestart();
  });
}

void TForm1::endDisplay() { display_->end(); }

// ---- the engine's reports

void TForm1::QMIDICTLX1Status(int value1, int value2, int value3, int value4) {
  QGuardVoid("TForm1.QMIDICTLX1Status ", [&] {
    if (value1 == -3 || value1 == -4) return;
    if (value1 == -1 || value1 == -2) return endReport(value1);
    if (!songSounds()) return;  // from a song stopped before, or not ours
    status_.values[0] = value1;
    status_.values[1] = value2;
    status_.values[2] = value3;
    status_.values[3] = value4;
    if (status_.firstPending) firstStatus(value4);
  });
}

void TForm1::endReport(int value1) {
  if (!endOwed_) return;  // no song of ours is in the engine
  endOwed_ = false;
  if (stopSent_) return stoppedSongEnded();
  scheduleRowReading();
  playing_ = false;
  paused_ = false;
  endDisplay();
  if (value1 == -1) {
    if (!song_.hasWrd) selectCurrentRow();
    return;
  }
  if (!CB_JIDOU->isChecked()) return;
  if (reverseStep_) {
    reverseStep_ = false;
    subFileBack();
  } else {
    subFileNaxt();
  }
}

// The song this window stopped has closed: what waited for it starts now.
void TForm1::stoppedSongEnded() {
  stopSent_ = false;
  endWait_.stop();
  if (!startDue_) return scheduleRowReading();
  startDue_ = false;
  playing_ = false;
  playNow();
}

void TForm1::firstStatus(int value4) {
  TQMIDICTLX* c = QMIDICTLX1;
  if (!song_.hasWrd) selectCurrentRow();
  songLengthMs_ = c->MIDITOTALTIME1();
  LB_TIME->setText(TotalTimeText(songLengthMs_));
  LB_HYOSI->setText(TimeSignatureText({song_.beats, song_.beatUnit}));
  LB_TOTAL->setText(BarPositionText(c->MIDITOTALTIME2()));
  Gauge1->setRange(0, kLevelMaximum);
  Gauge1->setValue(0);
  c->setMIDITIMEOPTION2(5);  // value 4 carries the output level from now on
  const TTimeSignature signature = DecodeTimeSignature(value4);
  song_.beats = signature.beats;
  song_.beatUnit = signature.beatUnit;
  LB_HYOSI->setText(TimeSignatureText(signature));
  status_.firstPending = false;
}

// ---- mouse

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) fitList();
  if (watched == centralWidget() && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (!centralWidget()->childAt(mouse->position().toPoint())) formClicked(mouse->button());
  }
  if (watched == ListBox1->viewport()) {
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (type == QEvent::MouseButtonPress) listPress_ = mouse->position().toPoint();
      if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) listClicked(listPress_, false);
      if (type == QEvent::MouseButtonDblClick) {
        listClicked(mouse->position().toPoint(), true);
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::listClicked(QPoint pos, bool doubleClick) {
  QGuardVoid("TForm1.ListBox1Click ", [&] {
    if (doubleClick && selectedRow() >= 0) return subFileStart();
    // The list's own hit test: rows have the height the desktop's font gives them.
    const bool pick = pos.x() + ListBox1->viewport()->x() > kListPickMargin;
    QTreeWidgetItem* item = pick ? ListBox1->itemAt(pos) : nullptr;
    if (!doubleClick) currentIndex_ = -1;
    if (!item) return;
    currentIndex_ = ListBox1->indexOfTopLevelItem(item);
    selectRow(currentIndex_);
    if (doubleClick) subFileStart();
  });
}

void TForm1::formClicked(Qt::MouseButton button) {
  if (!song_.hasWrd) return;
  if (!formClickArmed_) {
    formClickArmed_ = true;
    return;
  }
  if (button == Qt::LeftButton) MN_FILENEXTClick();
  if (button == Qt::RightButton) MN_FILESTOPClick();
}

void TForm1::fitList() {
  const QSize area = centralWidget()->size();
  ListBox1->setGeometry(0, ListBox1->y(), area.width() - 3, area.height() - ListBox1->y() - 3);
}

// ---- switches, sliders, window state

void TForm1::CB_JIDOUClick() { QMIDICTLX1->setSTOPOPTION(CB_JIDOU->isChecked() ? 1 : 0); }

void TForm1::CB_WRDClick() { QMIDICTLX1->setWRDVISIBLE(CB_WRD->isChecked()); }

void TForm1::MN_SETDEVICEClick() {
  QMIDICTLX1->DEVICESET();
  ScrollBar1->setValue(QMIDICTLX1->DEVVOLUME());
  ScrollBar2->setValue(QMIDICTLX1->DEVBALANCE());
}

void TForm1::setswMini(bool hidden) {
  QGuardVoid("TForm1.setswMini ", [&] {
    QMIDICTLX1->setTITLEVISIBLE(hidden ? 1 : 0);
    if (hidden)
      display_->suspend();
    else
      display_->resume();
  });
}

void TForm1::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  setswMini(true);
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  setswMini(isMinimized());
}

void TForm1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) setswMini(isMinimized());
}

// ---- open, help, version

void TForm1::openSong(const QString& path) {
  if (playing_) return;
  QGuardVoid("TForm1.MN_FILEOPENClick ", [&] {
    setAutoPlay(false);
    currentFile_ = path;
    setWindowTitle(path);
    subStart();  // Open plays the chosen song, as the reopen items do
  });
}

void TForm1::MN_HELPClick() {
  // Beside the program in a build folder, in the shared data folder once installed.
  const QString bin = QCoreApplication::applicationDirPath();
  QString help = bin + QStringLiteral("/HELP.HTM");
  if (!QFileInfo(help).isFile()) help = bin + QStringLiteral("/../share/qmidi/HELP.HTM");
  const bool found = QFileInfo(help).isFile();
  if (found && QDesktopServices::openUrl(QUrl::fromLocalFile(help))) return;
  // No browser: where the page is, in full, for the user to open it.
  auto* box = new QMessageBox(QMessageBox::Information, Text(kJukeboxTitle),
                              found ? Text(kHelpMissing) : QStringLiteral("HELP.HTM was not found."), QMessageBox::Ok,
                              this);
  box->setObjectName(QStringLiteral("HelpBox"));
  box->setInformativeText(QDir::cleanPath(help));
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TForm1::MN_VERSIONClick() {
  TAboutBox box(this);
  box.exec();
}
