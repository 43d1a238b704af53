#include "jukebox/form1.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
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
#include "jukebox/status_text.h"
#include "jukebox/up_down.h"
#include "support/guard.h"

namespace {

// A press this far from the list's left edge picks the row under it as the
// current entry; nearer, it only selects.
constexpr int kListPickMargin = 105;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QString Flag(bool on) { return on ? QStringLiteral("True") : QStringLiteral("False"); }

// "MIDI|*.MID;*.RCP;*.R36;*.G36;*.G18" as the Qt file dialog writes filters.
QString DialogFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    filters << parts[i] + QStringLiteral(" (") + parts[i + 1].split(QLatin1Char(';')).join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  return filters.join(QStringLiteral(";;"));
}

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
  setWindowTitle(Text(kJukeboxTitle));
  QGuiApplication::setApplicationDisplayName(Text(kJukeboxTitle));
  buildWidgets();
  buildMenus();
  display_ = std::make_unique<TStatusDisplay>(
      status_, TStatusDisplay::Labels{LB_TIMEC, LB_TIMEC2, LB_TIMEC3, LB_CURRENT, LB_TEMPO, Gauge1});
  display_->setVolumeSource([this] { return ScrollBar1->value(); });
  connectWidgets();
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
    const int top = settings_.readInt(QStringLiteral("Form1Top"), INT_MIN);
    const int left = settings_.readInt(QStringLiteral("Form1Left"), INT_MIN);
    if (top != INT_MIN && left != INT_MIN) move(left, top);
    commands_->startUp();

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
  random_ = settings_.read(QStringLiteral("swRandom")) == QStringLiteral("True");
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
    settings_.write(QStringLiteral("Form1Top"), QString::number(y()));
    settings_.write(QStringLiteral("Form1Left"), QString::number(x()));
    settings_.write(QStringLiteral("swRandom"), Flag(random_));
    settings_.write(QStringLiteral("swJidou"), Flag(CB_JIDOU->isChecked()));
    settings_.write(QStringLiteral("swWRD"), Flag(CB_WRD->isChecked()));
    settings_.write(QStringLiteral("LIBNO"), QString::number(UpDown1->position()));
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
  QGuardVoid("TForm1.subStart ", [&] {
    QMIDICTLX1->setMIDIFILENAME(currentFile_);
    readSongInfo(currentFile_, false);
    setWindowTitle(song_.title);
    QGuiApplication::setApplicationDisplayName(QFileInfo(currentFile_).fileName());
    lastStartedFile_ = currentFile_;
    commands_->songStarted(currentFile_);
    if (CB_WRD->isChecked() && song_.hasWrd)
      QMIDICTLX1->setTIMERWRD(16);  // the engine draws the WRD screen; the labels stay
    else
      startStatusForms();
    playing_ = true;
    paused_ = false;
    songLengthMs_ = 0;  // known from the song's first progress report
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
    // The stopped song still reports its end, maybe after the next one began.
    staleEndReports_ = 1;
    QMIDICTLX1->STOP();
    playing_ = false;
    paused_ = false;
    if (restartPending_) {
      restartPending_ = false;
      subStart();
    }
  });
}

void TForm1::MN_FILESTOPClick() {
  endDisplay();
  if (!playing_) return;
  restartPending_ = false;
  subStop();
}

void TForm1::MN_FILEPAUSEClick() {
  if (!playing_) return;
  QMIDICTLX1->PAUSE();
  paused_ = true;
}

void TForm1::resumePaused() {
  if (!isPaused()) return;
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
  connect(&mprisFollow_, &QTimer::timeout, this, [this] { mpris_->changed(); });
  mprisFollow_.start();
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
  if (!song_.title.isEmpty()) return song_.title;
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
    staleEndReports_ = 0;  // the stopped song's end came before this song's progress
    status_.values[0] = value1;
    status_.values[1] = value2;
    status_.values[2] = value3;
    status_.values[3] = value4;
    if (status_.firstPending) firstStatus(value4);
  });
}

void TForm1::endReport(int value1) {
  if (staleEndReports_ > 0) {
    --staleEndReports_;
    if (playing_) return;  // the song started since goes on
    value1 = -1;           // a stop the user asked for never steps on
  }
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

void TForm1::MN_FILEOPENClick() {
  if (playing_) return;
  const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), DialogFilter(Text(kOpenFilter)));
  if (!path.isEmpty()) openSong(path);
}

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
  const bool shown = QFileInfo(help).isFile() && QDesktopServices::openUrl(QUrl::fromLocalFile(help));
  if (!shown) showCaption(Text(kHelpMissing));
}

void TForm1::MN_VERSIONClick() {
  TAboutBox box(this);
  box.exec();
}
