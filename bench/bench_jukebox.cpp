// The jukebox's costs with the real engine: loading a 1024-entry play list
// (the song information of each entry read through the control and the
// engine), adding 1,000 songs from the command line and by a drop (to a
// shown list, and the window's answers while their titles are read), and
// the status display while a song plays. Run it on a session
// bus of its own, as the tests do:
//
//   dbus-run-session -- build/bench/bench_jukebox
//
// The engine is registered with that bus and started by it, on capture
// devices and the offscreen platform.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
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
  for (int b = 0; b < beats; ++b)
    track += std::string(b == 0 ? "\x00" : "\x30", 1) + std::string("\x90\x3c\x64\x30\x80\x3c\x00", 7);
  track += std::string("\x00\xff\x2f\x00", 4);
  std::string smf("MThd\0\0\0\x06\0\0\0\x01\0\x60MTrk", 18);
  for (int shift : {24, 16, 8, 0}) smf += char((track.size() >> shift) & 0xFF);
  std::ofstream(path.toStdString(), std::ios::binary) << smf << track;
}

bool StartEngine(const QTemporaryDir& dir) {
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

// The round trip of single control members, for the breakdown of a load.
template <class F>
void TimeCalls(const char* what, F call) {
  const int n = 1000;
  QElapsedTimer wall;
  wall.start();
  for (int i = 0; i < n; ++i) call();
  std::printf("  %-28s %.0f us per call\n", what, wall.nsecsElapsed() / 1e3 / n);
}

void CallBreakdown(TForm1& form, const QString& song) {
  TQMIDICTLX* c = form.control();
  c->setMIDIFILENAME(song);
  TimeCalls("MIDIFILENAME put", [&] { c->setMIDIFILENAME(song); });
  TimeCalls("STATUS", [&] { c->STATUS(); });
  TimeCalls("MIDITITLE get", [&] { (void)c->MIDITITLE(); });
  TimeCalls("OUTSTATUSCH put", [&] { c->setOUTSTATUSCH(1002); });
  TimeCalls("OUTSTATUSID get", [&] { (void)c->OUTSTATUSID(); });
}

// Stores 1024 songs as list `library`, spread over `folders` folders.
void StoreLongList(TForm1& form, const QTemporaryDir& dir, int library, int folders) {
  QSettings store(form.settings().filePath(), QSettings::IniFormat);
  for (int i = 0; i < TPlayList::kMaxEntries; ++i) {
    const QString folder = dir.filePath(QStringLiteral("L%1/F%2").arg(library).arg(i % folders));
    QDir().mkpath(folder);
    const QString song = folder + QStringLiteral("/S%1.MID").arg(i, 4, 10, QLatin1Char('0'));
    WriteSong(song, 4 + i % 8);
    store.setValue(PlayListValueName(library, i), song);
  }
  store.sync();
}

void LoadLongList(TForm1& form, const QTemporaryDir& dir) {
  for (int folders : {1, 64}) {
    const int library = folders == 1 ? 1 : 2;
    StoreLongList(form, dir, library, folders);
    for (int run = 0; run < 2; ++run) {
      QElapsedTimer wall;
      const double cpu = CpuSeconds();
      wall.start();
      form.loadPlayList(library);
      std::printf("load 1024-entry list from %d folder(s), run %d: %.3f s wall, %.3f s jukebox CPU (%d entries)\n",
                  folders, run + 1, wall.nsecsElapsed() / 1e9, CpuSeconds() - cpu, form.entryCount());
    }
  }
  std::printf("the engine's answers for one song of the 1024-song folder:\n");
  CallBreakdown(form, dir.filePath(QStringLiteral("L1/F0/S0000.MID")));
  std::printf("the same for a song in a folder of 16:\n");
  CallBreakdown(form, dir.filePath(QStringLiteral("L2/F0/S0000.MID")));
}

// How long the window's event loop went without turning while `work` ran:
// a 5 ms timer notes the longest gap between its turns.
struct TAnswering {
  QTimer tick;
  QElapsedTimer since;
  qint64 longestMs = 0;
  TAnswering() {
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [this] {
      longestMs = std::max(longestMs, since.restart());
    });
    since.start();
    tick.start();
  }
};

// 1,000 songs added to an empty list: the list shown (rows there and drawn),
// then every title read from the engine, the window answering meanwhile.
void AddThousand(TForm1& form, const QTemporaryDir& dir, const char* how, int library,
                 const std::function<void(const QString& folder)>& add) {
  const QString folder = dir.filePath(QStringLiteral("added-%1").arg(library));
  QDir().mkpath(folder);
  for (int i = 0; i < 1000; ++i) WriteSong(folder + QStringLiteral("/T%1.MID").arg(i, 4, 10, QLatin1Char('0')), 4);
  QTest::qWait(2500);  // the engine lists a folder written just now afresh every time
  form.loadPlayList(library);  // empty
  QSignalSpy read(&form, &TForm1::rowsRead);
  TAnswering answering;
  QElapsedTimer wall;
  wall.start();
  add(folder);
  QCoreApplication::processEvents();  // the rows drawn
  const double shown = wall.nsecsElapsed() / 1e9;
  read.wait(60000);
  std::printf("add 1,000 songs %s: list shown after %.3f s (%d entries), every title read after %.2f s; "
              "longest wait of the window meanwhile %lld ms\n",
              how, shown, form.entryCount(), wall.nsecsElapsed() / 1e9, answering.longestMs);
}

void AddSongs(TForm1& form, const QTemporaryDir& dir) {
  AddThousand(form, dir, "from the command line (a folder)", 20, [&](const QString& folder) {
    form.addSongs({folder}, false);
  });
  AddThousand(form, dir, "by a drop (1,000 files)", 21, [&](const QString& folder) {
    QList<QUrl> urls;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
      urls << QUrl::fromLocalFile(folder + QLatin1Char('/') + name);
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 200), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&form, &enter);
    QDropEvent drop(QPointF(10, 200), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&form, &drop);
  });
}

// CPU of the jukebox over `seconds` of wall time, as a share of one core.
double CpuShare(double seconds) {
  const double cpu = CpuSeconds();
  QTest::qWait(int(seconds * 1000));
  return (CpuSeconds() - cpu) / seconds * 100;
}

void MeasureDisplay(TForm1& form, const QTemporaryDir& dir) {
  // One report, one refresh and the repaint of the labels that changed, as
  // every 32 ms while a song plays (the time, the position and the level
  // change at each step).
  const int n = 2000;
  const double cpu = CpuSeconds();
  for (int i = 0; i < n; ++i) {
    emit form.control()->OnStatus(1000 + 32 * i, 10000 * (i / 64) + 31 * (i % 64), 120, 3000 + (i * 97) % 9000);
    form.statusDisplay().refresh();
    QCoreApplication::processEvents();
  }
  const double perRefresh = (CpuSeconds() - cpu) / n;
  std::printf("one report and refresh, changed labels repainted: %.1f us CPU; every 32 ms: %.2f %% of a core\n",
              perRefresh * 1e6, perRefresh * (1000.0 / TStatusDisplay::kPeriodMs) * 100);

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
  if (!QDBusConnection::sessionBus().isConnected() || qEnvironmentVariableIsEmpty("XDG_DATA_HOME")) {
    std::fprintf(stderr, "bench_jukebox: run it as XDG_DATA_HOME=$(mktemp -d) dbus-run-session -- %s\n", argv[0]);
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
  AddSongs(form, dir);
  MeasureDisplay(form, dir);
  return 0;
}
