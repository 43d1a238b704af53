// The jukebox's costs with the real engine: loading a 1024-entry play list
// (the song information of each entry read through the control and the
// engine), and the status display while a song plays. Run it on a session
// bus of its own, as the tests do:
//
//   dbus-run-session -- build/bench/bench_jukebox
//
// The engine is registered with that bus and started by it, on capture
// devices and the offscreen platform.
#include <sys/resource.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fstream>

#include "QMIDICTLXControl.h"
#include "jukebox/form1.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool BusCall(const QString& method, const QVariantList& args = {}) {
  QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), method);
  m.setArguments(args);
  return QDBusConnection::sessionBus().call(m).type() == QDBusMessage::ReplyMessage;
}

// A song of `beats` quarter notes at 120 beats a minute, division 96.
void WriteSong(const QString& path, int beats) {
  std::string track;
  for (int b = 0; b < beats; ++b) track += std::string(b == 0 ? "\x00" : "\x30", 1) + "\x90\x3c\x64" + "\x30\x80\x3c\x00";
  track += std::string("\x00\xff\x2f\x00", 4);
  std::string smf("MThd\0\0\0\x06\0\0\0\x01\0\x60MTrk", 18);
  for (int shift : {24, 16, 8, 0}) smf += char((track.size() >> shift) & 0xFF);
  std::ofstream(path.toStdString(), std::ios::binary) << smf << track;
}

bool StartEngine(const QTemporaryDir& dir) {
  qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
  QProcess reg;
  reg.start(QStringLiteral(QMIDIEXE_PATH), {QStringLiteral("-REGSERVER")});
  if (!reg.waitForFinished(30000) || reg.exitCode() != 0 || !BusCall(QStringLiteral("ReloadConfig"))) return false;
  qDBusRegisterMetaType<QMap<QString, QString>>();
  QMap<QString, QString> env{{QStringLiteral("QMIDI_CAPTURE"), dir.filePath(QStringLiteral("capture"))},
                             {QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("engine-config"))},
                             {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")},
                             {QStringLiteral("QMIDI_FRAMES"), QString()}};
  return BusCall(QStringLiteral("UpdateActivationEnvironment"), {QVariant::fromValue(env)});
}

void LoadLongList(TForm1& form, const QTemporaryDir& dir) {
  QSettings store(form.settings().filePath(), QSettings::IniFormat);
  for (int i = 0; i < TPlayList::kMaxEntries; ++i) {
    const QString song = dir.filePath(QStringLiteral("S%1.MID").arg(i, 4, 10, QLatin1Char('0')));
    WriteSong(song, 4 + i % 8);
    store.setValue(PlayListValueName(1, i), song);
  }
  store.sync();
  for (int run = 0; run < 3; ++run) {
    QElapsedTimer wall;
    const double cpu = CpuSeconds();
    wall.start();
    form.loadPlayList(1);
    std::printf("load 1024-entry list, run %d: %.3f s wall, %.3f s jukebox CPU (%d entries)\n", run + 1,
                wall.nsecsElapsed() / 1e9, CpuSeconds() - cpu, form.entryCount());
  }
}

// CPU of the jukebox over `seconds` of wall time, as a share of one core.
double CpuShare(double seconds) {
  const double cpu = CpuSeconds();
  QTest::qWait(int(seconds * 1000));
  return (CpuSeconds() - cpu) / seconds * 100;
}

void MeasureDisplay(TForm1& form, const QTemporaryDir& dir) {
  // One report and one refresh, the label repaints included.
  const int n = 2000;
  const double cpu = CpuSeconds();
  for (int i = 0; i < n; ++i) {
    emit form.control()->OnStatus(1000 + 37 * i, 10000 * (i / 40) + 25 * i % 1000, 120 + i % 3, (i * 97) % 16129);
    form.statusDisplay().refresh();
    form.repaint();
  }
  const double perRefresh = (CpuSeconds() - cpu) / n;
  std::printf("one report and refresh with repaint: %.1f us CPU; at 32 ms: %.2f %% of a core\n", perRefresh * 1e6,
              perRefresh * (1000.0 / TStatusDisplay::kPeriodMs) * 100);

  const QString song = dir.filePath(QStringLiteral("LONG.MID"));
  WriteSong(song, 60);
  std::printf("jukebox idle, window shown: %.2f %% of a core\n", CpuShare(5));
  form.openSong(song);
  QTest::qWait(1500);  // past the start
  std::printf("jukebox while the engine plays (reports every 32 ms, labels refreshed): %.2f %% of a core\n", CpuShare(10));
  form.MN_FILESTOPClick();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (!QDBusConnection::sessionBus().isConnected()) {
    std::fprintf(stderr, "bench_jukebox: no session bus; run it as dbus-run-session -- %s\n", argv[0]);
    return 2;
  }
  QTemporaryDir dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(QStringLiteral("config")));
  if (!StartEngine(dir)) {
    std::fprintf(stderr, "bench_jukebox: could not register the engine\n");
    return 2;
  }
  TForm1 form;
  if (form.control()->engineError() != 0) {
    std::fprintf(stderr, "bench_jukebox: the bus did not start the engine\n");
    return 2;
  }
  form.show();
  LoadLongList(form, dir);
  MeasureDisplay(form, dir);
  return 0;
}
