#include "engine/host/engine_forms.h"

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
#include <utility>

#include "engine/graphics/display.h"
#include "engine/host/option_dialogs.h"
#include "engine/host/qt_keys.h"
#include "engine/host/settings_store.h"
#include "engine/host/x11_hot_keys.h"
#include "engine/player/midi_player.h"
#include "engine/player/output_status.h"
#include "engine/player/tmidiexe.h"
#include "engine/song/song_reader.h"
#include "engine/wrd/wrd_compiler.h"
#include "engine/wrd/wrd_display.h"
#include "engine/wrd/wrd_state.h"
#include "platform/presenter.h"
#include "support/dos_names.h"
#include "support/guard.h"
#include "support/result_code.h"
#include "support/trace.h"

#include <X11/keysym.h>  // key names only; no Xlib macros

namespace {

TForm1* g_form1 = nullptr;

// The delayed auto-start's 20 ms between its steps: a timer, so that the
// window thread keeps answering (automation calls among them) meanwhile.
constexpr int kAutoStartStepMs = 20;

void Post(int message, intptr_t wParam = 0) {
  if (TForm1* f = g_form1) QCoreApplication::postEvent(f, new THostMessage(message, wParam));
}

}  // namespace

QEvent::Type QHMessageType(int message) {
  return QEvent::Type(message == kUserPar8 ? kHotKeyEventType : message);
}

THostMessage::THostMessage(int message, intptr_t wParam, intptr_t lParam)
    : QEvent(QHMessageType(message)), message_(message), wParam_(wParam), lParam_(lParam) {}

TForm1* QHForm1() { return g_form1; }

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

TForm1::TForm1(TForm2* form2, TOKBottomDlg1* dlg1, TOkBottomDlg2* dlg2, Options options)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::Tool),
      form2_(form2),
      dlg1_(dlg1),
      dlg2_(dlg2),
      options_(std::move(options)) {
  g_form1 = this;
  if (form2_) form2_->setForm1(this);
  setWindowTitle(QString::fromUtf8(kForm1Caption));
  setGeometry(1, 1, 164, 1);
  QPalette desk = palette();
  desk.setColor(QPalette::Window, desk.color(QPalette::Base));
  setPalette(desk);
  setFocusPolicy(Qt::StrongFocus);

  THostKeyActions a;
  a.timeDivisionBase = [] { return QDPlayer().baseDivision.load(); };
  a.setTimeDivision = [](int32_t d) { QDSetTimeDiv(d); };
  a.wrdOffset = [this] { return wrdOffset_; };
  a.setWrdOffset = [this](int32_t v) { wrdOffset_ = v; };
  a.stopOption = [this] { return stopOption_; };
  a.wrdLoaded = [this] { return wrdLoaded(); };
  a.clickGuard = [] { return WRDState().clickGuard.load() != 0; };
  a.clearClickGuard = [] { WRDState().clickGuard = 0; };
  a.raiseStatus = [this](int32_t v1, int32_t v2, int32_t v3, int32_t v4) { raiseStatus(v1, v2, v3, v4); };
  a.fileStop = [this] { MN_FILESTOPClick(); };
  a.fileStart = [this] { MN_FILESTARTClick(); };
  a.fileNext = [this] { MN_FILENEXTClick(); };
  a.fileClose = [this] { MN_FILECLOSEClick(); };
  a.filePause = [this] { MN_FILEPAUSEClick(); };
  a.hotKeyStop = [this] {
    requestStop();
    if (state_.Playing) {
      setWrdEndFlag(-1);
      subStop();
    }
  };
  keys_ = std::make_unique<THostKeys>(state_, std::move(a));
  FormCreate();
}

TForm1::~TForm1() {
  FormDestroy();
  if (g_form1 == this) g_form1 = nullptr;
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
        auto& sys = WRDState().systemPalette;
        for (size_t i = 0; i < sys.size(); ++i)
          sys[i] = TWRDPalEntry{table[i * 4], table[i * 4 + 1], table[i * 4 + 2], table[i * 4 + 3]};
      }
    }
    state_.SavedTitle = kProgramTitle;
    state_.reset();
    setWrdEndFlag(-1);
    values_.wrdVisible = false;
    WRDState().inputs.beatsPerBar = 4;

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
        [](int id) { Post(kUserPar8, id); });
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
      connect(s, &QShortcut::activated, this, [hotId] { Post(kUserPar8, hotId); });
    }
    QHReadPlaySettings(values_);

    commandLine_ = QHParseCommandLine(options_.arguments);
    if (commandLine_.resetMode) values_.resetMode = *commandLine_.resetMode;
    if (commandLine_.wrdDelay) values_.wrdDelay = *commandLine_.wrdDelay;
    subCMDExec();
    pushValues();
    QDSetStatusProc(&TForm1::StatusProc);
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
  QGSongReader().setinFileName(song);
  state_.CommandLineMode = -1;
  state_.AutoStartPending = -1;
  values_.wrdVisible = true;
  stopOption_ = 0;
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
  QGuardVoid("TForm1.pushValues", [&] {
    TMIDIEXE& p = QDMidiExe();
    p.setDEVICEID1A(values_.devices[kHostPortAFirst]);
    p.setDEVICEID2A(values_.devices[kHostPortBFirst]);
    p.setDEVICEID1B(values_.devices[kHostPortASecond]);
    p.setDEVICEID2B(values_.devices[kHostPortBSecond]);
    p.setTIMERMIDI(values_.timerMidi);
    p.setRESETMODE(values_.resetMode);
    p.setEXTOPTION4((p.getEXTOPTION4() & ~1) | (values_.optionWord & 1));
    QDSetWrdDisplay(values_.wrdVisible);
    WRDState().inputs.displayOffset = values_.wrdDelay;
    WRDState().inputs.xyMode = (values_.optionWord & 1) != 0;
  });
}

void TForm1::pullValues() {
  QGuardVoid("TForm1.pullValues", [&] {
    TMIDIEXE& p = QDMidiExe();
    values_.devices[kHostPortAFirst] = p.getDEVICEID1A();
    values_.devices[kHostPortBFirst] = p.getDEVICEID2A();
    values_.devices[kHostPortASecond] = p.getDEVICEID1B();
    values_.devices[kHostPortBSecond] = p.getDEVICEID2B();
    values_.resetMode = p.getRESETMODE();
    values_.optionWord = (values_.optionWord & ~1) | (p.getEXTOPTION4() & 1);
  });
}

// ---------------------------------------------------------------- status

void TForm1::setStatusSink(TStatusSink* sink) {
  sink_ = sink;
  QDSetStatusSink(sink != nullptr);
}

void TForm1::raiseStatus(int32_t v1, int32_t v2, int32_t v3, int32_t v4) {
  if (sink_) sink_->OnStatus(v1, v2, v3, v4);
}


void TForm1::NotifyProc(int32_t code) { Post(kUserPar1, code); }
void TForm1::postMessage(int message, intptr_t wParam) { Post(message, wParam); }
void TForm1::StatusProc(int32_t msSinceStart) { Post(kUserPar6, msSinceStart); }

// ---------------------------------------------------------------- events

bool TForm1::event(QEvent* e) {
  if (auto* m = dynamic_cast<THostMessage*>(e)) {
    switch (m->message()) {
      case kUserPar1: OnUserPar1(m->wParam()); break;
      case kUserPar2: OnUserPar2(); break;
      case kUserPar3: OnUserPar3(); break;
      case kUserPar4: OnUserPar4(); break;
      case kUserPar5: OnUserPar5(); break;
      case kUserPar6: OnUserPar6(); break;
      case kUserPar7: OnUserPar7(); break;
      case kUserPar8: OnUserPar8(m->wParam()); break;
      default: break;
    }
    return true;
  }
  return QWidget::event(e);
}

void TForm1::paintEvent(QPaintEvent*) { firstPaint(); }

void TForm1::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  // Platforms that never expose a 1-pixel window still start the song.
  QTimer::singleShot(50, this, [this] { firstPaint(); });
}

void TForm1::firstPaint() {
  if (!state_.FirstPaint) return;
  state_.FirstPaint = 0;
  Post(kUserPar3);
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

void TForm1::OnUserPar1(intptr_t code) {
  QGuardVoid("TForm1.OnUserPar1", [&] {
    switch (code) {
      case kQDNotifyOpen:
        state_.StartedByOpen = -1;
        subStart();
        break;
      case kQDNotifyClosed: OnMOMClose(); break;
      case kQDNotifyDone: OnMomDone(); break;
      default: break;
    }
  });
}

void TForm1::OnUserPar2() {
  QGuardVoid("TForm1.OnUserPar2", [&] {
    // A play asked for while the previous song is still being stopped (a
    // client's STOP and PLAY back to back, as a jukebox's Next does) would
    // be lost: it waits for that song's close and starts then, for the
    // client that asked.
    if (!playWanted_) return;  // stopped before it could start
    if (state_.SongOpen && QDPlayer().stopFlag1.load() != 0) {
      playPending_ = true;
      pendingPlayOwner_ = QGSongReader().getOlePlayPointer();
      return;
    }
    playWanted_ = false;
    setWrdEndFlag(stopOption_ == 0 ? -1 : 0);
    subFileStart();
    // Nothing opened (no song named): no close will ever report.
    if (!state_.SongOpen && !QDPlayer().streamOpen.load()) answerUnstartedPlay();
    else if (!state_.SongOpen) starting_ = true;  // subStart follows the open report
  });
}

void TForm1::OnUserPar3() {
  QGuardVoid("TForm1.OnUserPar3", [&] {
    if (state_.AutoStartPending) {
      state_.StartRetryCount += 1;
      QTimer::singleShot(kAutoStartStepMs, Qt::PreciseTimer, this, [this] { autoStartRound(); });
    } else {
      QTimer::singleShot(kAutoStartStepMs, Qt::PreciseTimer, this, [this] { hide(); });
    }
  });
}

void TForm1::autoStartRound() {
  QGuardVoid("TForm1.OnUserPar3", [&] {
    if (state_.StartRetryCount == 10) {
      hide();
      commandLineStart();
    }
    if (state_.StartRetryCount < 10) Post(kUserPar4);
  });
}

void TForm1::OnUserPar4() {
  QGuardVoid("TForm1.OnUserPar4", [&] {
    if (state_.AutoStartPending)
      QTimer::singleShot(kAutoStartStepMs, Qt::PreciseTimer, this, [] { Post(kUserPar3); });
  });
}

void TForm1::OnUserPar5() { state_.AlternateDisplay = state_.AlternateDisplay ? 0 : 1; }

void TForm1::OnUserPar6() {
  QGuardVoid("TForm1.OnUserPar6", [&] {
    if (!sink_) return;
    int32_t v1 = QDDisplayValue(1);
    if (v1 > 0) raiseStatus(v1, QDDisplayValue(2), QDDisplayValue(3), QDDisplayValue(4));
  });
}

void TForm1::OnUserPar7() { subOLEPlay(); }

void TForm1::OnUserPar8(intptr_t id) { keys_->hotKey(int(id)); }

// ---------------------------------------------------------------- commands

void TForm1::requestStop() {
  QDPlayer().stopFlag1 = -1;
  QDPlayer().stopFlag2 = -1;
}

void TForm1::closeForm1() {
  hide();
  // A command-line run ends with its song unless the WRD window still shows.
  if (state_.CommandLineMode && !(form2_ && form2_->isVisible())) QCoreApplication::quit();
}

void TForm1::commandLineStart() {
  if (QDPlayer().DEVICEID1A.load() == kMidiNoDevice) {
    QGSetErrorCode(kErrNoPortA);
    if (form2_ && form2_->onScreen()) subOLEDeviceSet();
    if (QDPlayer().DEVICEID1A.load() == kMidiNoDevice) {
      failed_ = true;
      closeForm1();
      return;
    }
  }
  if (!subOpen()) {
    failed_ = true;
    closeForm1();
  }
}

void TForm1::MN_FILESTARTClick() {
  QGuardVoid("TForm1.MN_FILEStartClick", [&] {
    if (QDPlayer().DEVICEID1A.load() == kMidiNoDevice) {
      QGSetErrorCode(kErrNoPortA);
      subOLEDeviceSet();
    } else {
      subFileStart();
    }
  });
}

void TForm1::MN_FILESTOPClick() {
  QGuardVoid("TForm1.MN_FILEStopClick", [&] {
    if (state_.SongOpen || state_.AutomationMode) {
      requestStop();
      if (state_.Playing) {
        setWrdEndFlag(-1);
        state_.StopPending = 0;
        wrdStopMsgOut();
        subStop();
      }
    } else {
      closeForm1();
    }
  });
}

void TForm1::MN_FILENEXTClick() {
  QGuardVoid("TForm1.MN_FILENextClick", [&] {
    requestStop();
    if (state_.Playing) {
      setWrdEndFlag(0);
      state_.StopPending = 0;
      subStop();
    }
  });
}

void TForm1::MN_FILECLOSEClick() {
  QGuardVoid("TForm1.MN_FILECloseClick", [&] {
    if (state_.SongOpen) requestStop();
    else if (state_.AutomationMode) MN_FILESTOPClick();
    else closeForm1();
  });
}

// ---------------------------------------------------------------- automation side

void TForm1::requestPlay() {
  playWanted_ = true;
  postMessage(kUserPar7);
}

// The client hears of a PLAY that will never sound as of a stopped song,
// instead of waiting for an end that cannot come.
void TForm1::answerUnstartedPlay() {
  playWanted_ = false;
  playPending_ = false;
  if (sink_) raiseStatus(kStatusEndedStop, 0, 0, 0);
}

void TForm1::subOLEPlay() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEPlay", [&] {
    if (QDPlayer().DEVICEID1A.load() == kMidiNoDevice) {
      QGSetErrorCode(kErrNoPortA);
      subOLEDeviceSet();
      if (playWanted_) answerUnstartedPlay();
    } else {
      state_.AutomationMode = -1;
      Post(kUserPar2);
    }
  });
}

void TForm1::subOLEClose() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEClose", [&] {
    // A PLAY not started yet (or waiting for the close of the song stopped
    // before it) must not start after this stop; one whose devices are
    // opening stops as soon as it starts, and its close reports it.
    if (playWanted_) answerUnstartedPlay();
    if (starting_) stopAtStart_ = true;
    requestStop();
    if (state_.Playing) {
      setWrdEndFlag(-1);
      state_.StopPending = 0;
      wrdStopMsgOut();
      subStop();
    }
  });
}

void TForm1::subOLEStop() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEStop", [&] {
    bool wasPlaying = state_.Playing != 0;
    subOLEClose();
    if (!wasPlaying && wrdLoaded()) wrdStop();
  });
}

void TForm1::subOLEDeviceSet() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEDeviceSet", [&] {
    if (!dlg1_) return;
    if (!QHDialogsCanShow()) return QGSetErrorCode(kErrNoDialogDisplay);  // nobody could close it
    pullValues();
    if (dlg1_->run(values_)) pushValues();
  });
}

void TForm1::subOLEOptionSet() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEOptionSet", [&] {
    if (!dlg2_) return;
    if (!QHDialogsCanShow()) return QGSetErrorCode(kErrNoDialogDisplay);
    pullValues();
    if (dlg2_->run(values_)) pushValues();
  });
}

void TForm1::subOLEPause() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEPause", [&] {
    if (state_.Playing && state_.Running) QDStreamPause();
  });
}

void TForm1::subOLEReStart() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEReStart", [&] {
    if (state_.Playing) QDStreamResume();
  });
}

void TForm1::subOLEStep() { std::this_thread::yield(); }

void TForm1::MN_FILEPAUSEClick() {
  QGuardVoid("TForm1.MN_FILEPauseClick", [&] {
    if (QDStreamPaused()) subOLEReStart();
    else subOLEPause();
  });
}

void TForm1::subOLEStatus() {
  std::this_thread::yield();
  QGuardVoid("TForm1.subOLEStatus", [&] { QGSongReader().QGmstTitle(); });
}

// ---------------------------------------------------------------- play sequence

void TForm1::subFileStart() {
  QGuardVoid("TForm1.subFileStart", [&] {
    if (state_.SongOpen) return;
    QGSongReader().QGmstTitle();
    subOpen();
  });
}

bool TForm1::subOpen() {
  bool ok = QGuard("TForm1.subOpen", false, [&] {
    std::string name = QGSongReader().getinFileName();
    if (name.empty()) return false;
    wrdOffset_ = 0;
    wrdSetFileName(name);
    QDSetNotifyProc(&TForm1::NotifyProc);
    QDPlayer().currentHandle.store(nullptr);
    return QDStreamOpen();
  });
  if (!ok) QGSetErrorCode(kErrOpen);
  return ok;
}

void TForm1::subStart() {
  const bool stopNow = std::exchange(stopAtStart_, false);
  starting_ = false;
  QGuardVoid("TForm1.subStart", [&] {
    if (state_.StartedByOpen && state_.Playing) return;
    TQUORMSTR& song = QGSongReader();
    wrdLoadMsgOut();
    if (!song.QGmstPreHeader(3)) {
      QGSetErrorCode(kErrPreHeader);
      startFailed();
      return;
    }
    if (!wrdLoad()) QGSetErrorCode(kErrWrdLoad);
    song.setdwTitleIdx(0);
    state_.AlternateDisplay = 0;
    int32_t beats = int32_t(song.getdwHyosi() >> 24);
    if (beats == 0) beats = 4;
    wrdSetBeatsPerBar(beats);
    QDSetSongInfo(song.getdwTickDivision(), song.getdwHyosi());
    if (values_.wrdVisible && wrdDisplayExists() && wrdLoaded()) {
      wrdKaisiMsgOut();
      subWRDTableCalc();
    }
    state_.SongOpen = -1;
    WRDState().running = 0;
    QDSetTimeDiv(int32_t(song.getdwTimeDivision()));
    WRDState().running = -1;
    state_.Playing = QDStreamOut() == -1 ? -1 : 0;
    state_.Running = 0;
    if (state_.Playing) {
      subReStart();
      state_.FastForwardHeld = 0;
      state_.SavedTimeDivision = 0;
      if (stopNow) {  // stopped while its devices opened: ends in its reset phase
        setWrdEndFlag(-1);
        requestStop();
        subStop();
      }
    } else {
      QGSetErrorCode(kErrStreamOut);
      startFailed();
    }
  });
}

void TForm1::startFailed() {
  // A command-line run whose song cannot play would otherwise wait forever
  // with its devices open: close them, and the close notification ends it.
  // A client is told that its song ended.
  if (!state_.CommandLineMode) {
    if (sink_) raiseStatus(kStatusEndedStop, 0, 0, 0);
    return;
  }
  failed_ = true;
  if (state_.SongOpen) {
    subStop();
  } else {
    QGSongReader().QGmstFreeBuf();
    QDStreamClose();
    QGSongReader().QGmstFreeBuf2();
  }
}

void TForm1::subReStart() {
  QGuardVoid("TForm1.subReStart", [&] {
    if ((state_.SongOpen && state_.Playing && state_.Running) || !QDCurrentHandle()) return;
    if (QDStreamReStart() == 0) {
      state_.Running = -1;
    } else {
      state_.Running = 0;
      QGSetErrorCode(kErrRestart);
    }
  });
}

void TForm1::subStop() {
  QGuardVoid("TForm1.subStop", [&] {
    WRDState().running = 0;
    if (!state_.SongOpen) return;
    QGuiApplication::setApplicationDisplayName(QString::fromUtf8(state_.SavedTitle));
    if (state_.Playing) {
      if (QDStreamStop() == -1) {
        state_.StopPending = -1;
        return;
      }
      QGSetErrorCode(kErrStreamStop);
    }
    TQUORMSTR& song = QGSongReader();
    song.QGmstFreeBuf();
    MidiResult closed = QDStreamClose();
    song.QGmstFreeBuf2();
    if (closed != kMidiOk) QGSetErrorCode(kErrStreamClose);
  });
}

void TForm1::OnMomDone() {
  QGuardVoid("TForm1.OnMomDone", [&] {
    state_.Playing = 0;
    state_.Running = 0;
    state_.StopPending = 0;
    subStop();
  });
}

void TForm1::OnMOMClose() {
  QGuardVoid("TForm1.OnMOMClose", [&] {
    state_.Playing = 0;
    state_.Running = 0;
    state_.SongOpen = 0;
    state_.StartedByOpen = 0;
    if (wrdLoaded() && (stopOption_ == 0 || !values_.wrdVisible)) wrdStop();
    if (wrdEndFlag()) {
      if (wrdLoaded() && values_.wrdVisible && stopOption_ == 1) wrdStop();
      if (sink_) {
        QGSongReader().setOlePlayPointer(nullptr);
        raiseStatus(kStatusEndedStop, 0, 0, 0);
      }
      if (state_.CommandLineMode) closeForm1();
    } else {
      setWrdEndFlag(-1);
      if (sink_) {
        QGSongReader().setOlePlayPointer(nullptr);
        raiseStatus(kStatusEndedContinue, 0, 0, 0);
      }
    }
    if (playPending_) {
      playPending_ = false;
      QGSongReader().setOlePlayPointer(pendingPlayOwner_);
      Post(kUserPar2);
    }
  });
}

// ---------------------------------------------------------------- shutdown

void TForm1::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    wrdStop();
    if (QDDisplayExists()) QDFree();
    if (state_.SongOpen) {
      if (state_.Playing) QDStreamStop();
      QGSongReader().QGmstFreeBuf();
      QDStreamClose();
      QGSongReader().QGmstFreeBuf2();
    }
    QDSetNotifyProc(nullptr);
    QDSetStatusProc(nullptr);
    x11HotKeys_.reset();  // the hot keys are given back
    pullValues();
    QHWriteEngineSettings(values_, state_.CommandLineMode != 0);
    QIFreePalette();
  } catch (...) {
    // Shutdown goes on whatever failed.
  }
}

// ---------------------------------------------------------------- WRD side

namespace {

// The player's status thread hands the executor its tick with the song position.
void HostWrdTick(uint32_t) {
  if (TWRDTickHook hook = WRDPlayerHook().load()) {
    int32_t code = 0;
    QDStreamPosition(&code);
    QDPresenter().setSongPosition(code);  // recorded frames carry the position
    hook(code);
  }
}

}  // namespace

void TForm1::wrdSetFileName(const std::string& name) { WRDControl().setWRDFileName(name); }
void TForm1::wrdSetBeatsPerBar(int32_t beats) { WRDControl().setBeatsPerBar(beats); }
void TForm1::wrdLoadMsgOut() { WRDControl().subWRDLoadMsgOut(); }

bool TForm1::wrdLoad() {
  TWRDCRE& w = WRDControl();
  w.setVisible(values_.wrdVisible ? -1 : 0);
  w.setWRDDelay(values_.wrdDelay);
  QDFont font;
  font.face = values_.wrdFont.family().toStdString();
  int px = values_.wrdFont.pixelSize() > 0 ? values_.wrdFont.pixelSize()
                                           : (values_.wrdFont.pointSize() * 96 + 36) / 72;
  font.height = -px;
  font.size = values_.wrdFont.pointSize() > 0 ? values_.wrdFont.pointSize() : font.size;
  font.bold = values_.wrdFont.bold();
  w.font = font;
  bool ok = w.subWRDLoad();
  QDSetWrdHook(WRDPlayerHook().load() ? &HostWrdTick : nullptr);
  return ok;
}

void TForm1::wrdKaisiMsgOut() { WRDControl().subWRDKaisiMsgOut(); }
void TForm1::wrdStopMsgOut() { WRDControl().subWRDStopMsgOut(); }

void TForm1::wrdStop() {
  QDSetWrdHook(nullptr);
  WRDControl().subWRDStop();
}

bool TForm1::wrdLoaded() const { return WRDControl().getWRDLoaded() != 0; }
bool TForm1::wrdDisplayExists() const { return WRDState().displayExists.load() != 0; }
int32_t TForm1::wrdEndFlag() const { return WRDControl().getWRDEnd(); }
void TForm1::setWrdEndFlag(int32_t flag) { WRDControl().setWRDEnd(flag); }
