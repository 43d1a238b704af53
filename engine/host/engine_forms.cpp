#include "engine/host/engine_forms.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "engine/host/option_dialogs.h"
#include "engine/host/qt_keys.h"
#include "engine/host/settings_store.h"
#include "engine/host/x11_hot_keys.h"
#include "platform/presenter.h"
#include "support/dos_names.h"
#include "support/guard.h"
#include "support/trace.h"

#include <X11/keysym.h>  // key names only; no Xlib macros

namespace {

// A command-line song starts this long after the window's first paint (ten
// rounds of 20 ms and nine more): a timer, so that the window thread keeps
// answering (automation calls among them) meanwhile.
constexpr int kAutoStartDelayMs = 19 * 20;

// The engine's settings from the values the settings store, the command line
// and the dialogs keep.
EngineSettings SettingsOf(const TEngineValues& v) {
  EngineSettings s;
  for (size_t i = 0; i < v.devices.size(); ++i) s.devices[i] = v.devices[i];
  s.timerMidi = v.timerMidi;
  s.resetMode = v.resetMode;
  s.wrdDelay = v.wrdDelay;
  s.wrdVisible = v.wrdVisible;
  s.xyMode = (v.optionWord & 1) != 0;
  s.font.face = v.wrdFont.family().toStdString();
  const int px = v.wrdFont.pixelSize() > 0 ? v.wrdFont.pixelSize() : (v.wrdFont.pointSize() * 96 + 36) / 72;
  s.font.height = -px;
  if (v.wrdFont.pointSize() > 0) s.font.size = v.wrdFont.pointSize();
  s.font.bold = v.wrdFont.bold();
  return s;
}

}  // namespace

// ---------------------------------------------------------------- TForm2

TForm2::TForm2(std::unique_ptr<Presenter> presenter, std::function<QWidget*()> window)
    : presenter_(std::move(presenter)), window_(std::move(window)) {
  if (qApp) qApp->installEventFilter(this);
}

TForm2::~TForm2() {
  if (qApp) qApp->removeEventFilter(this);
}

QWidget* TForm2::window() const { return window_ ? window_() : nullptr; }

bool TForm2::isVisible() const { return presenter_->isVisible(); }

void TForm2::hide() { presenter_->setVisible(false); }

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  QWidget* w = window();
  if (!w || watched != w || !form1_) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      form1_->keys().mouseDownForm2(e->button() == Qt::RightButton ? TMouseButton::Right
                                    : e->button() == Qt::LeftButton ? TMouseButton::Left
                                                                    : TMouseButton::Middle);
      return true;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      // The WRD window hands its keys to the control window.
      auto* e = static_cast<QKeyEvent*>(event);
      uint32_t shift = QHShiftState(e->modifiers(), QGuiApplication::mouseButtons());
      int key = QHVirtualKey(e->key());
      if (event->type() == QEvent::KeyPress) {
        int hot = QHHotKeyId(key, shift);
        if (hot) form1_->keys().hotKey(hot);
        else form1_->keys().keyDown(key, shift);
      } else {
        form1_->keys().keyUp(key, shift, e->isAutoRepeat());
      }
      return true;
    }
    case QEvent::Close:
      // The picture window is the program's main window: closing it ends the program.
      if (event->spontaneous()) QCoreApplication::quit();
      return false;
    default:
      return false;
  }
}

// ---------------------------------------------------------------- TForm1

TForm1::TForm1(Engine& engine, TForm2* form2, TOKBottomDlg1* dlg1, TOkBottomDlg2* dlg2, Options options)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::Tool),
      engine_(engine),
      seq_(engine, [this](std::function<void()> f) { queued(std::move(f)); },
           [this](int32_t status, const void* owner) { onSongEnded(status, owner); }),
      form2_(form2),
      dlg1_(dlg1),
      dlg2_(dlg2),
      options_(std::move(options)) {
  if (form2_) form2_->setForm1(this);
  seq_.setStarted([this] { onSongStarted(); });
  engine_.setListener(this);
  setWindowTitle(QString::fromUtf8(kForm1Caption));
  setGeometry(1, 1, 164, 1);
  QPalette desk = palette();
  desk.setColor(QPalette::Window, desk.color(QPalette::Base));
  setPalette(desk);
  setFocusPolicy(Qt::StrongFocus);

  THostKeyActions a;
  a.timeDivisionBase = [this] { return engine_.player().state().baseDivision.load(); };
  a.setTimeDivision = [this](int32_t d) { engine_.player().setTimeDivision(d); };
  a.wrdOffset = [this] { return wrdOffset_; };
  a.setWrdOffset = [this](int32_t v) { wrdOffset_ = v; };
  a.stopOption = [this] { return seq_.stopOption(); };
  a.wrdLoaded = [this] { return engine_.wrdLoaded(); };
  a.clickGuard = [this] { return engine_.wrd().getClickGuard() != 0; };
  a.clearClickGuard = [this] { engine_.wrd().setClickGuard(0); };
  a.raiseStatus = [this](int32_t v1, int32_t v2, int32_t v3, int32_t v4) { raiseStatus(v1, v2, v3, v4); };
  a.fileStop = [this] { MN_FILESTOPClick(); };
  a.fileStart = [this] { MN_FILESTARTClick(); };
  a.fileNext = [this] { MN_FILENEXTClick(); };
  a.fileClose = [this] { MN_FILECLOSEClick(); };
  a.filePause = [this] { MN_FILEPAUSEClick(); };
  a.hotKeyStop = [this] { seq_.stop(StopKind::StopQuiet); };
  a.seekBy = [this](int32_t ms) { seekTo(engine_.positionMs() + ms); };
  keys_ = std::make_unique<THostKeys>(state_, std::move(a));
  FormCreate();
}

TForm1::~TForm1() {
  FormDestroy();
  engine_.setListener(nullptr);
}

void TForm1::queued(std::function<void()> f) {
  QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void TForm1::FormCreate() {
  QGuardVoid("TForm1.FormCreate", [&] {
    // Trace log, settings store and the palette captured from it.
    QGTrOpen(QGProgramPath());
    QGTrStart();
    QICreate();
    {
      uint8_t table[256 * 4] = {};
      if (QIPaletteTable(table)) {
        std::array<TWRDPalEntry, 256> sys{};
        for (size_t i = 0; i < sys.size(); ++i)
          sys[i] = TWRDPalEntry{table[i * 4], table[i * 4 + 1], table[i * 4 + 2], table[i * 4 + 3]};
        engine_.wrd().setSystemPalette(sys);
      }
    }
    state_.SavedTitle = kProgramTitle;
    state_.reset();
    setWrdEndFlag(-1);
    values_.wrdVisible = false;
    engine_.wrd().state().inputs.beatsPerBar = 4;

    QHWriteHandle(qint64(winId()));
    resize(1, 1);

    QHReadFontSettings(values_);
    // Shift+Delete, Shift+End, Shift+Page Up, Shift+Page Down: grabbed on the
    // X11 root window where there is one (they act whatever has the focus),
    // else application-wide shortcuts.
    x11HotKeys_ = std::make_unique<TX11HotKeys>(
        std::vector<TX11HotKeys::Key>{{kHotKeyShiftDelete, XK_Delete},
                                      {kHotKeyShiftEnd, XK_End},
                                      {kHotKeyShiftPageUp, XK_Page_Up},
                                      {kHotKeyShiftPageDown, XK_Page_Down}},
        [this](int id) { queued([this, id] { keys_->hotKey(id); }); });
    const std::pair<QKeySequence, int> hotKeys[] = {
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), kHotKeyShiftDelete},
        {QKeySequence(Qt::SHIFT | Qt::Key_End), kHotKeyShiftEnd},
        {QKeySequence(Qt::SHIFT | Qt::Key_PageUp), kHotKeyShiftPageUp},
        {QKeySequence(Qt::SHIFT | Qt::Key_PageDown), kHotKeyShiftPageDown}};
    for (const auto& [seq, id] : hotKeys) {
      if (x11HotKeys_->active()) break;
      auto* s = new QShortcut(seq, this);
      s->setContext(Qt::ApplicationShortcut);
      const int hotId = id;
      connect(s, &QShortcut::activated, this, [this, hotId] { keys_->hotKey(hotId); });
    }
    QHReadPlaySettings(values_);

    commandLine_ = QHParseCommandLine(options_.arguments);
    if (commandLine_.resetMode) values_.resetMode = *commandLine_.resetMode;
    if (commandLine_.wrdDelay) values_.wrdDelay = *commandLine_.wrdDelay;
    subCMDExec();
    pushValues();
    buildMenus();
    hide();
  });
}

void TForm1::subCMDExec() {
  const std::string& song = commandLine_.songName;
  if (song.empty()) return;
  std::error_code ec;
  // Only a song that exists is taken (the reader keeps no name otherwise).
  if (!std::filesystem::is_regular_file(song, ec)) {
    if (std::filesystem::is_directory(song, ec))
      std::fprintf(stderr, "qmidiexe: %s is a folder\n", song.c_str());
    else
      std::fprintf(stderr, "qmidiexe: no such song file: %s\n", song.c_str());
    QGTrText("TForm1.subCMDExec");
    return;
  }
  engine_.song().setinFileName(song);
  state_.CommandLineMode = -1;
  state_.AutoStartPending = -1;
  values_.wrdVisible = true;
  setStopOption(0);
}

void TForm1::buildMenus() {
  menu_ = new QMenu(this);
  auto add = [&](const char* text, const char* shortcut, auto fn) {
    QAction* act = menu_->addAction(QString::fromUtf8(text));
    if (shortcut) act->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
    act->setShortcutVisibleInContextMenu(true);
    connect(act, &QAction::triggered, this, fn);
  };
  add("一時停止(P&ause)", "F6", [this] { MN_FILEPAUSEClick(); });
  add("演奏開始(&Start)", "F8", [this] { MN_FILESTARTClick(); });
  add("演奏停止(Sto&p)", "F7", [this] { MN_FILESTOPClick(); });
  add("前の曲(&Back)", "F9", [this] { keys_->menuCommand(THostCommand::Back); });
  add("次の曲(&Next)", "F10", [this] { keys_->menuCommand(THostCommand::Next); });
  menu_->addSeparator();
  add("MIDI出力ﾎﾟｰﾄの設定...", nullptr, [this] { subOLEDeviceSet(); });
  add("演奏ｵﾌﾟｼｮﾝ設定...", nullptr, [this] { subOLEOptionSet(); });
  menu_->addSeparator();
  add("終了(&End)", "F3", [this] { MN_FILECLOSEClick(); });
  add("QMIDIEXEを閉じる(&Quit)", nullptr, [] { QCoreApplication::quit(); });
  if (options_.trayMenu && QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_ = new QSystemTrayIcon(this);
    tray_->setToolTip(QString::fromUtf8(kProgramTitle));
    tray_->setIcon(QApplication::windowIcon().isNull()
                       ? style()->standardIcon(QStyle::SP_MediaPlay)
                       : QApplication::windowIcon());
    tray_->setContextMenu(menu_);
    tray_->show();
  }
}

bool TForm1::hasMenu() const { return tray_ != nullptr; }

QMenu* TForm1::menu() const { return menu_; }

void TForm1::pushValues() {
  QGuardVoid("TForm1.pushValues", [&] { engine_.apply(SettingsOf(values_)); });
}

void TForm1::pullValues() {
  QGuardVoid("TForm1.pullValues", [&] {
    const EngineSettings s = engine_.settings();
    for (size_t i = 0; i < values_.devices.size(); ++i) values_.devices[i] = s.devices[i];
    values_.resetMode = s.resetMode;
    values_.optionWord = (values_.optionWord & ~1) | (s.xyMode ? 1 : 0);
  });
}

// ---------------------------------------------------------------- status

void TForm1::setStatusSink(TStatusSink* sink) {
  sink_ = sink;
  engine_.player().setStatusSink(sink != nullptr);
}

void TForm1::raiseStatus(int32_t v1, int32_t v2, int32_t v3, int32_t v4) {
  if (sink_) sink_->OnStatus(v1, v2, v3, v4);
}

// The display values of the progress report (Value1 > 0 only).
void TForm1::sendProgress() {
  QGuardVoid("TForm1.OnUserPar6", [&] {
    if (!sink_) return;
    Player& p = engine_.player();
    const int32_t v1 = p.displayValue(1);
    if (v1 > 0) raiseStatus(v1, p.displayValue(2), p.displayValue(3), p.displayValue(4));
  });
}

void TForm1::engineOpened(bool ok) { queued([this, ok] { seq_.opened(ok); }); }
void TForm1::engineDone() { queued([this] { seq_.done(); }); }
void TForm1::engineClosed(MidiResult result) { queued([this, result] { seq_.closed(result); }); }
void TForm1::engineProgress(int32_t) { queued([this] { sendProgress(); }); }

// ---------------------------------------------------------------- events

void TForm1::paintEvent(QPaintEvent*) { firstPaint(); }

void TForm1::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Platforms that never expose a 1-pixel window still start the song.
  QTimer::singleShot(50, this, [this] { firstPaint(); });
}

// The window is shown once after creation: a command-line song starts a
// while after its first paint; otherwise the window hides again.
void TForm1::firstPaint() {
  if (!state_.FirstPaint) return;
  state_.FirstPaint = 0;
  QTimer::singleShot(state_.AutoStartPending ? kAutoStartDelayMs : 20, Qt::PreciseTimer, this, [this] {
    hide();
    if (state_.AutoStartPending) commandLineStart();
  });
}

void TForm1::keyPressEvent(QKeyEvent* e) {
  uint32_t shift = QHShiftState(e->modifiers(), QGuiApplication::mouseButtons());
  keys_->keyDown(QHVirtualKey(e->key()), shift);
}

void TForm1::keyReleaseEvent(QKeyEvent* e) {
  uint32_t shift = QHShiftState(e->modifiers(), QGuiApplication::mouseButtons());
  keys_->keyUp(QHVirtualKey(e->key()), shift, e->isAutoRepeat());
}

void TForm1::mousePressEvent(QMouseEvent* e) {
  keys_->mouseDownForm1(e->button() == Qt::RightButton  ? TMouseButton::Right
                        : e->button() == Qt::LeftButton ? TMouseButton::Left
                                                        : TMouseButton::Middle);
}

// ---------------------------------------------------------------- commands

void TForm1::closeForm1() {
  hide();
  // A command-line run ends with its song unless the WRD window still shows.
  if (state_.CommandLineMode && !(form2_ && form2_->isVisible())) QCoreApplication::quit();
}

bool TForm1::portAMissing() { return engine_.player().state().DEVICEID1A.load() == kMidiNoDevice; }

void TForm1::commandLineStart() {
  if (portAMissing()) {
    engine_.result().set(kErrNoPortA);
    if (form2_ && form2_->onScreen()) subOLEDeviceSet();
    if (portAMissing()) {
      failed_ = true;
      closeForm1();
      return;
    }
  }
  if (!play(nullptr)) {
    failed_ = true;
    closeForm1();
  }
}

bool TForm1::play(const void* owner) {
  wrdOffset_ = 0;  // F11 / F12 count from each song's start
  return seq_.play(owner);
}

void TForm1::onSongStarted() {
  // A script that could not be loaded is said once, where the user looks.
  const std::string& problem = engine_.wrd().problem();
  if (problem.empty() || problem == problemSaid_) return;
  problemSaid_ = problem;
  if (state_.CommandLineMode) std::fprintf(stderr, "qmidiexe: the WRD script was not loaded: %s\n", problem.c_str());
}

void TForm1::onSongEnded(int32_t status, const void*) {
  const bool failed = seq_.startFailed();
  // With a status sink the end is reported (a song that could not start as
  // a stopped one) and the owner released; without one the owner stays
  // until CLOSE.
  if (sink_) {
    seq_.setOwner(nullptr);
    raiseStatus(failed ? kStatusEndedStop : status, 0, 0, 0);
  }
  if (failed && state_.CommandLineMode) {
    failed_ = true;
    closeForm1();
  } else if (!failed && status == kStatusEndedStop && state_.CommandLineMode) {
    closeForm1();
  }
}

void TForm1::MN_FILESTARTClick() {
  QGuardVoid("TForm1.MN_FILEStartClick", [&] {
    if (portAMissing()) {
      engine_.result().set(kErrNoPortA);
      subOLEDeviceSet();
    } else {
      subFileStart();
    }
  });
}

void TForm1::MN_FILESTOPClick() {
  QGuardVoid("TForm1.MN_FILEStopClick", [&] {
    if (seq_.songOpen() || state_.AutomationMode) seq_.stop(StopKind::Stop);
    else closeForm1();
  });
}

void TForm1::MN_FILENEXTClick() {
  QGuardVoid("TForm1.MN_FILENextClick", [&] { seq_.stop(StopKind::Next); });
}

void TForm1::MN_FILECLOSEClick() {
  QGuardVoid("TForm1.MN_FILECloseClick", [&] {
    if (seq_.songOpen()) seq_.stop(StopKind::Close);
    else if (state_.AutomationMode) MN_FILESTOPClick();
    else closeForm1();
  });
}

void TForm1::MN_FILEPAUSEClick() {
  QGuardVoid("TForm1.MN_FILEPauseClick", [&] {
    if (seq_.paused()) subOLEReStart();
    else subOLEPause();
  });
}

void TForm1::subFileStart() {
  QGuardVoid("TForm1.subFileStart", [&] { play(nullptr); });
}

// ---------------------------------------------------------------- automation side

void TForm1::requestPlay(const void* owner) {
  playWanted_ = true;
  queued([this, owner] {
    if (!playWanted_) return;  // stopped before it could start
    playWanted_ = false;
    subOLEPlay(owner);
  });
}

// The client hears of a PLAY that will never sound as of a stopped song,
// instead of waiting for an end that cannot come.
void TForm1::answerUnstartedPlay() {
  playWanted_ = false;
  if (!sink_) return;
  if (!seq_.songOpen()) seq_.setOwner(nullptr);
  raiseStatus(kStatusEndedStop, 0, 0, 0);
}

void TForm1::subOLEPlay(const void* owner) {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEPlay", [&] {
    if (portAMissing()) {
      engine_.result().set(kErrNoPortA);
      subOLEDeviceSet();
      answerUnstartedPlay();
      return;
    }
    state_.AutomationMode = -1;
    // Refused while a song is open and not stopping (its end answers this
    // PLAY too); with nothing open, nothing could be opened.
    if (!play(owner) && !seq_.songOpen()) answerUnstartedPlay();
  });
}

void TForm1::subOLEClose() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEClose", [&] {
    // A PLAY not started yet must not start after this stop.
    if (playWanted_ || seq_.cancelPendingPlay()) answerUnstartedPlay();
    seq_.stop(StopKind::Stop);
  });
}

void TForm1::subOLEStop() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEStop", [&] {
    if (playWanted_ || seq_.cancelPendingPlay()) answerUnstartedPlay();
    const bool wasPlaying = seq_.playing();
    seq_.stop(StopKind::Stop);
    if (!wasPlaying && engine_.wrdLoaded()) engine_.wrdStop();
  });
}

void TForm1::subOLEDeviceSet() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEDeviceSet", [&] {
    if (!dlg1_) return;
    if (!QHDialogsCanShow()) return engine_.result().set(kErrNoDialogDisplay);  // nobody could close it
    pullValues();
    if (dlg1_->run(values_)) pushValues();
  });
}

void TForm1::subOLEOptionSet() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEOptionSet", [&] {
    if (!dlg2_) return;
    if (!QHDialogsCanShow()) return engine_.result().set(kErrNoDialogDisplay);
    pullValues();
    if (dlg2_->run(values_)) pushValues();
  });
}

void TForm1::subOLEPause() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEPause", [&] { seq_.pause(); });
}

void TForm1::subOLEReStart() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEReStart", [&] { seq_.resume(); });
}

void TForm1::subOLEStep() { std::this_thread::yield(); }

bool TForm1::seekTo(int32_t ms) {
  return QGuard("TForm1.subSeek", false, [&] {
    if (seq_.state() != PlaySequence::State::Playing && seq_.state() != PlaySequence::State::Paused) return false;
    if (!engine_.seek(std::clamp(ms, 0, engine_.lengthMs()))) return false;
    if (sink_) sendProgress();
    return true;
  });
}

void TForm1::subOLEStatus() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEStatus", [&] { engine_.song().QGmstTitle(); });
}

// ---------------------------------------------------------------- shutdown

void TForm1::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    engine_.wrdStop();
    if (engine_.display().exists()) engine_.display().free();
    if (seq_.songOpen()) {
      engine_.player().stop();
      engine_.player().close();
    }
    x11HotKeys_.reset();  // the hot keys are given back
    pullValues();
    QHWriteEngineSettings(values_, state_.CommandLineMode != 0);
    QIFreePalette();
  } catch (...) {
    // Shutdown goes on whatever failed.
  }
}
