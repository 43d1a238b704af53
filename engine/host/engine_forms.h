// The engine program's two windows. TForm1 is the control window: it owns
// the play sequence and receives every message the player threads, the
// automation side and the engine itself post (as Qt events of the message
// numbers). TForm2 is the WRD picture window: the installed presenter, whose
// mouse and key input it hands to TForm1.
#pragma once

#include <QEvent>
#include <QObject>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/host/command_line.h"
#include "engine/host/engine_values.h"
#include "engine/host/host_state.h"
#include "engine/host/key_control.h"
#include "engine/host/status_sink.h"
#include "platform/presenter.h"

class QAction;
class QMenu;
class TX11HotKeys;
class QSystemTrayIcon;
class TForm1;
class TOKBottomDlg1;
class TOkBottomDlg2;

// A posted window message: type = the message number (786, the hot-key
// message, lies below Qt's user range and travels as kHotKeyEventType).
constexpr int kHotKeyEventType = QEvent::User + kUserPar8;

class THostMessage final : public QEvent {
 public:
  THostMessage(int message, intptr_t wParam, intptr_t lParam = 0);
  int message() const { return message_; }
  intptr_t wParam() const { return wParam_; }
  intptr_t lParam() const { return lParam_; }

 private:
  int message_;
  intptr_t wParam_;
  intptr_t lParam_;
};

// The Qt event type a message number travels as.
QEvent::Type QHMessageType(int message);

class TForm2 final : public QObject {
  Q_OBJECT

 public:
  // Takes the presenter this session shows the WRD picture with, and the
  // window it shows it in (none when headless).
  explicit TForm2(std::unique_ptr<Presenter> presenter, std::function<QWidget*()> window = {});
  ~TForm2() override;

  Presenter& presenter() { return *presenter_; }
  // The WRD picture is on view (a headless picture counts while shown).
  bool isVisible() const;
  // The picture is in a window on a screen, where a user can see and click it.
  bool onScreen() const { return static_cast<bool>(window_); }
  // Hides the picture window.
  void hide();
  void setForm1(TForm1* form1) { form1_ = form1; }
  // The window the WRD picture is shown in (null headless or before it exists).
  QWidget* pictureWindow() const { return window(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window() const;

  std::unique_ptr<Presenter> presenter_;
  std::function<QWidget*()> window_;
  TForm1* form1_ = nullptr;
};

class TForm1 final : public QWidget {
  Q_OBJECT

 public:
  struct Options {
    std::vector<std::string> arguments;  // after the program name
    bool trayMenu = true;                // offer the menu in the system tray when there is one
  };

  TForm1(TForm2* form2, TOKBottomDlg1* dlg1, TOkBottomDlg2* dlg2, Options options);
  ~TForm1() override;

  // Window-thread state, for tests and the automation side.
  const TForm1State& state() const { return state_; }
  TForm2* form2() const { return form2_; }
  const TCommandLine& commandLine() const { return commandLine_; }
  TEngineValues& values() { return values_; }
  int32_t wrdOffset() const { return wrdOffset_; }
  int32_t stopOption() const { return stopOption_; }
  void setStopOption(int32_t value) { stopOption_ = value; }
  int32_t wrdEndFlag() const;
  void setWrdEndFlag(int32_t flag);

  // The status sink (null: none; not owned).
  void setStatusSink(TStatusSink* sink);
  TStatusSink* statusSink() const { return sink_; }
  void raiseStatus(int32_t v1, int32_t v2, int32_t v3, int32_t v4);

  // Operations of the automation side.
  // PLAY: the song starts when the window takes the request (1890, then
  // 1885), or at the close of a song still being stopped. Every PLAY that
  // is wanted is answered by one end report: its song's end, or -1 when it
  // is stopped before it starts or cannot start.
  void requestPlay();
  void subOLEPlay();
  void subOLEClose();
  void subOLEStop();
  void subOLEDeviceSet();
  void subOLEOptionSet();
  void subOLEStatus();
  // PAUSE holds the song (notes released, time and WRD screen still), a
  // second PAUSE does nothing; RESTART goes on from where it stood; STEP
  // does nothing.
  void subOLEPause();
  void subOLEReStart();
  void subOLEStep();

  // Menu commands.
  void MN_FILESTARTClick();
  void MN_FILESTOPClick();
  void MN_FILENEXTClick();
  void MN_FILECLOSEClick();
  // F6: pauses a playing song, or lets a paused one go on.
  void MN_FILEPAUSEClick();

  // A command-line run's song could not be played.
  bool failed() const { return failed_; }
  // The window menu (also the tray's when the desktop has a tray).
  QMenu* menu() const;
  bool hasMenu() const;

  // Input handed over by TForm2.
  THostKeys& keys() { return *keys_; }

  // Ends the program's work (FormDestroy): stops a song, frees the display,
  // writes the settings. Runs once; the destructor calls it too.
  void FormDestroy();

  // The settings now in force copied to the player and the WRD side, and back.
  void pushValues();
  void pullValues();

  // The player's notification procedure: posts message 1884 (any thread).
  static void NotifyProc(int32_t code);
  // The player's progress procedure: posts message 1889 (any thread).
  static void StatusProc(int32_t msSinceStart);
  // Posts a message to the control window (any thread).
  static void postMessage(int message, intptr_t wParam = 0);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void FormCreate();
  void firstPaint();
  void subCMDExec();
  void subFileStart();
  bool subOpen();
  void subStart();
  void subReStart();
  void subStop();
  void OnMomDone();
  void OnMOMClose();
  void requestStop();
  void closeForm1();
  void buildMenus();
  void commandLineStart();
  void startFailed();
  void answerUnstartedPlay();

  // Message handlers.
  void OnUserPar1(intptr_t code);
  void OnUserPar2();
  void OnUserPar3();
  void autoStartRound();  // the end of an OnUserPar3 round, 20 ms later
  void OnUserPar4();
  void OnUserPar5();
  void OnUserPar6();
  void OnUserPar7();
  void OnUserPar8(intptr_t id);

  // The WRD side of the play sequence.
  void wrdLoadMsgOut();
  bool wrdLoad();
  void wrdKaisiMsgOut();
  void wrdStopMsgOut();
  void wrdStop();
  bool wrdLoaded() const;
  bool wrdDisplayExists() const;
  void wrdSetFileName(const std::string& name);
  void wrdSetBeatsPerBar(int32_t beats);

  TForm2* form2_;
  TOKBottomDlg1* dlg1_;
  TOkBottomDlg2* dlg2_;
  Options options_;
  TForm1State state_;
  TCommandLine commandLine_;
  TEngineValues values_;
  std::unique_ptr<THostKeys> keys_;
  std::unique_ptr<TX11HotKeys> x11HotKeys_;  // released before the window goes
  TStatusSink* sink_ = nullptr;
  int32_t wrdOffset_ = 0;
  int32_t stopOption_ = 0;
  bool destroyed_ = false;
  bool playPending_ = false;                  // a PLAY waits for the previous song's close
  const void* pendingPlayOwner_ = nullptr;    // the client it was asked by
  bool playWanted_ = false;                   // a PLAY asked for that has not started yet
  bool starting_ = false;                     // its devices are open, subStart has not run
  bool stopAtStart_ = false;                  // stopped meanwhile: it ends as it starts
  bool failed_ = false;
  QMenu* menu_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
};

// The one control window of the process (null outside a run).
TForm1* QHForm1();
