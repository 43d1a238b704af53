// qmidiexe: the engine program. With a song on its command line it plays the
// song once (with its WRD script when one lies beside it) and ends.
//
// Devices: the soft synth as the MIDI mapper (a WAV file when no audio output
// opens), ALSA sequencer ports and raw MIDI files; QMIDI_CAPTURE=<folder>
// replaces them by capture devices. Picture: a Qt window, or without a
// display the headless presenter (PNG frames into $QMIDI_FRAMES).
// QMIDI_STATUS_LOG=<file> registers a status sink that logs every
// notification.
#include <QApplication>
#include <QSystemTrayIcon>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/host/automation_server.h"
#include "engine/host/engine_forms.h"
#include "engine/host/option_dialogs.h"
#include "engine/host/qt_messages.h"
#include "engine/host/settings_store.h"
#include "engine/song/song_reader.h"
#include "platform/freetype/freetype_glyphs.h"
#include "platform/mididevices/machine_midi.h"
#include "platform/qt/choose_presenter.h"
#include "platform/realtimer/real_timer.h"
#include "support/trace.h"

namespace {

// The devices as the settings describe them; a wrong value is said once and
// its default used.
std::unique_ptr<MidiOutSystem> DevicesFromSettings() {
  QICreate();
  MidiDeviceConfig devices;
  auto value = [](const char* name) { return QIReadValue(QString::fromLatin1(name)).toStdString(); };
  for (const std::string& problem : ApplyMidiDeviceSettings(
           devices, value("SoundFont"), value("SynthGain"), value("RawMidiDevices"))) {
    std::fprintf(stderr, "qmidiexe: setting in %s: %s\n", QIFilePath().toLocal8Bit().constData(),
                 problem.c_str());
    QGTrText("QMIDIEXE settings " + problem);
  }
  return MakeMachineMidiDevices(devices);
}

// "SetupFiles": a Recomposer song's set-up files are sent before it unless
// this is FALSE (or 0).
void ApplySongSettings(Engine& engine) {
  const QString setup = QIReadValue(QStringLiteral("SetupFiles")).trimmed();
  engine.song().setSetupFiles(setup.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) != 0 &&
                               setup != QLatin1String("0"));
}

// A command-line run's result code, in words with the code in brackets: a
// warning when the song played all the same, else an error and exit status 1.
int SayResult(const std::string& song, int32_t code, int rc) {
  if (code == 0 || (rc == 0 && QGResultIsQuiet(code))) return rc;
  const bool warning = rc == 0 && QGResultIsWarning(code);
  std::fprintf(stderr, "qmidiexe: %s%s: %s (%d)\n", warning ? "warning: " : "", song.c_str(), QGResultCodeText(code), code);
  return warning ? rc : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QGInstallUserExceptionHandler();
  // Without a window system Qt draws offscreen and the picture goes headless.
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  if ((!qpa || !*qpa) && QDChoosePresenterKind() == PresenterKind::Headless)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

  std::vector<std::string> arguments(argv + 1, argv + argc);
  QHInstallQtMessageHandler();  // platform warnings go to the trace log, not the terminal
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setApplicationDisplayName(QString::fromUtf8(kProgramTitle));

  // The engine's services: the real timer, the machine's devices, FreeType
  // glyphs and the picture window's presenter.
  RealTimer timer;
  std::unique_ptr<MidiOutSystem> devices = DevicesFromSettings();
  FreeTypeGlyphSystem glyphs;

  // Created in this order: the picture window, the engine, the two dialogs,
  // the control window.
  ChosenPresenter chosen = QDMakeChosenPresenter();
  auto form2 = std::make_unique<TForm2>(std::move(chosen.presenter), std::move(chosen.window));
  auto engine = std::make_unique<Engine>(EngineServices{devices.get(), &timer, &form2->presenter(), &glyphs});
  ApplySongSettings(*engine);
  auto dlg1 = std::make_unique<TOKBottomDlg1>(*devices, engine->result());
  auto dlg2 = std::make_unique<TOkBottomDlg2>();
  TForm1::Options options;
  options.arguments = arguments;
  auto form1 = std::make_unique<TForm1>(*engine, form2.get(), dlg1.get(), dlg2.get(), options);

  std::unique_ptr<TStatusFileSink> statusLog;
  if (const char* path = std::getenv("QMIDI_STATUS_LOG"); path && *path) {
    statusLog = std::make_unique<TStatusFileSink>(path);
    if (statusLog->isOpen()) form1->setStatusSink(statusLog.get());
  }

  const TCommandLine& cl = form1->commandLine();
  // What is left of the windows and the engine goes in the reverse order.
  auto end = [&](int rc) {
    form1->FormDestroy();
    form1->setStatusSink(nullptr);
    form1.reset();
    dlg2.reset();
    dlg1.reset();
    engine.reset();
    form2.reset();
    return rc;
  };
  if (cl.regServer || cl.unregServer) {
    // The D-Bus service file and the interface descriptions.
    return end(QHRegisterAutomation(cl.regServer, QCoreApplication::applicationFilePath()) ? 0 : 1);
  }
  const bool automation = cl.automation || cl.embedding;
  if (!cl.songName.empty() && !form1->state().CommandLineMode) {
    // The song named cannot be played (the window said why).
    return end(1);
  }
  if (!form1->state().CommandLineMode && !automation && !form1->hasMenu()) {
    std::fprintf(stderr,
                 "usage: qmidiexe <song> [/M1|/M2|/M3|/M5|/M8][/DA|/DJ|/D1 ...]\n"
                 "(without a song the engine waits in the system tray, which this desktop lacks)\n");
    return end(cl.songName.empty() ? 2 : 1);
  }

  if (!form2->onScreen()) {
    const char* frames = std::getenv("QMIDI_FRAMES");
    if (frames && *frames)
      std::fprintf(stderr, "qmidiexe: no display; WRD frames go to %s\n", frames);
    else
      std::fprintf(stderr, "qmidiexe: no display; set QMIDI_FRAMES=<folder> to keep the WRD frames\n");
  }

  // The automation server on the session bus.
  TAutomationServer::Options serverOptions;
  serverOptions.activated = automation;
  auto server = std::make_unique<TAutomationServer>(*form1, serverOptions);
  server->start();

  // Shown once, so that its first paint starts the delayed song start.
  form1->show();
  int rc = app.exec();
  server.reset();
  form1->FormDestroy();
  if (form1->failed()) rc = 1;
  if (form1->state().CommandLineMode) rc = SayResult(cl.songName, engine->result().get(), rc);
  return end(rc);
}
