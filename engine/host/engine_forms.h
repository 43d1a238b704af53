// The engine program's two windows around its engine. TForm1 is the control
// window and the command-line host: it holds the engine's play sequence and
// drives it from the menus, keys, the command line and the automation side;
// the engine's reports reach the sequence as queued calls on this window's
// thread. TForm2 is the WRD picture window: the engine's presenter, whose
// mouse and key input it hands to TForm1.
#pragma once

#include <QObject>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/core/engine.h"
#include "engine/core/play_sequence.h"
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

class TForm1 final : public QWidget, private EngineListener {
  Q_OBJECT

 public:
  struct Options {
    std::vector<std::string> arguments;  // after the program name
    bool trayMenu = true;                // offer the menu in the system tray when there is one
  };

  TForm1(Engine& engine, TForm2* form2, TOKBottomDlg1* dlg1, TOkBottomDlg2* dlg2, Options options);
  ~TForm1() override;

  Engine& engine() { return engine_; }
  PlaySequence& sequence() { return seq_; }
  const PlaySequence& sequence() const { return seq_; }
  // Window-thread state, for tests and the automation side.
  const TForm1State& state() const { return state_; }
  TForm2* form2() const { return form2_; }
  const TCommandLine& commandLine() const { return commandLine_; }
  TEngineValues& values() { return values_; }
  int32_t wrdOffset() const { return wrdOffset_; }
  int32_t stopOption() const { return seq_.stopOption(); }
  void setStopOption(int32_t value) { seq_.setStopOption(value); }
  int32_t wrdEndFlag() const { return seq_.endFlag(); }
  void setWrdEndFlag(int32_t flag) { seq_.setEndFlag(flag); }

  // The status sink (null: none; not owned).
  void setStatusSink(TStatusSink* sink);
  TStatusSink* statusSink() const { return sink_; }
  void raiseStatus(int32_t v1, int32_t v2, int32_t v3, int32_t v4);

  // Operations of the automation side. PLAY starts the current song for
  // owner (the automation object, also the playback owner).
  // PLAY for owner: the song starts when the window takes the request, or
  // at the close of a song still being stopped. Every PLAY that is wanted
  // is answered by one end report: its song's end, or -1 when it is stopped
  // before it starts or cannot start.
  void requestPlay(const void* owner);
  void subOLEPlay(const void* owner);
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
  // Moves the song that plays (or is paused) to ms, kept within the song;
  // false when no song plays.
  bool seekTo(int32_t ms);

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

  // The settings now in force copied to the engine, and back.
  void pushValues();
  void pullValues();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // EngineListener: any thread; each report goes to the window thread.
  void engineOpened(bool ok) override;
  void engineDone() override;
  void engineClosed(MidiResult result) override;
  void engineProgress(int32_t msSinceStart) override;

  void FormCreate();
  void firstPaint();
  void subCMDExec();
  void subFileStart();
  bool play(const void* owner);
  void onSongStarted();
  void onSongEnded(int32_t status, const void* owner);
  void answerUnstartedPlay();
  void sendProgress();
  void closeForm1();
  void buildMenus();
  void commandLineStart();
  bool portAMissing();
  // Runs f on the window thread, after what is queued there.
  void queued(std::function<void()> f);

  Engine& engine_;
  PlaySequence seq_;
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
  bool destroyed_ = false;
  bool failed_ = false;
  bool playWanted_ = false;  // a PLAY asked for that has not been taken yet
  std::string problemSaid_;  // the WRD script problem already said
  QMenu* menu_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
};
