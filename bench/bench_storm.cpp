// A storm of clients on one engine, on a private session bus (the program
// runs itself under dbus-run-session when it has none), the engine on
// capture devices: 20 clients each play a 2 s song and press PLAY, STOP,
// PAUSE and RESTART at random moments for --seconds (60), while a watcher's
// sink counts the end reports (-1, -2) and a bystander reads a property
// every 10 ms. Afterwards:
//
//  - starts (the devices opened for a song: "open" lines of capture device
//    0) against closes and end reports: every started song must be closed
//    and reported; a PLAY stopped before its song started is reported too,
//    so there are at least as many reports as starts, and no more than PLAYs;
//  - notes still sounding at the end of the capture log (a note-on without
//    its note-off, all-notes-off or reset);
//  - the bystander's answer times (median, p99, max).
//
// Exit status 1 when that does not hold or a note hangs.
//
//    build/bench/bench_storm [--seconds N] [--clients N] [--seed N]
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench_bus.h"

using benchbus::Stats;
using benchbus::Summarise;
using benchbus::Call;

namespace {

const QString kBus = QStringLiteral("Qmidiexe.QMIDIOLE");
const QString kIface = QStringLiteral("Qmidiexe.IQMIDIOLE");
const QString kProps = QStringLiteral("org.freedesktop.DBus.Properties");

int64_t MonotonicMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

bool SpinUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() >= ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(500);
  }
  return true;
}

// A song at 120 bpm (division 96): a held chord of three notes for `beats` beats.
void WriteSong(const std::string& path, int beats) {
  std::string t("\x00\xFF\x51\x03\x07\xA1\x20", 7);
  t += std::string("\x00\x90\x3C\x64\x00\x90\x40\x64\x00\x90\x43\x64", 12);
  const uint32_t length = static_cast<uint32_t>(beats) * 96;
  t.push_back(static_cast<char>(0x80 | (length >> 7)));
  t.push_back(static_cast<char>(length & 0x7F));
  t += std::string("\x80\x3C\x40\x00\x80\x40\x40\x00\x80\x43\x40\x00\xFF\x2F\x00", 15);
  std::string s("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk", 18);
  const uint32_t n = static_cast<uint32_t>(t.size());
  for (int shift : {24, 16, 8, 0}) s.push_back(static_cast<char>(n >> shift));
  std::ofstream(path, std::ios::binary) << s << t;
}

// Opens, and notes sounding at the end, of a capture log.
struct LogCount {
  int opens = 0, closes = 0;
  std::set<int> sounding;  // channel * 128 + key
};

LogCount ReadLog(const std::string& path) {
  LogCount c;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line == "open") ++c.opens;
    if (line == "close") ++c.closes;
    if (line == "reset" || line == "close") c.sounding.clear();
    const auto sp = line.find(' ');
    if (sp == std::string::npos || line.compare(0, 6, "volume") == 0) continue;
    const std::string hex = line.substr(sp + 1);
    if (hex.size() != 6) continue;
    const int status = std::stoi(hex.substr(0, 2), nullptr, 16),
              d1 = std::stoi(hex.substr(2, 2), nullptr, 16),
              d2 = std::stoi(hex.substr(4, 2), nullptr, 16);
    const int ch = status & 0x0F;
    if ((status & 0xF0) == 0x90 && d2 > 0)
      c.sounding.insert(ch * 128 + d1);
    else if ((status & 0xF0) == 0x80 || (status & 0xF0) == 0x90)
      c.sounding.erase(ch * 128 + d1);
    else if ((status & 0xF0) == 0xB0 && (d1 == 120 || d1 == 123))
      for (int k = 0; k < 128; ++k) c.sounding.erase(ch * 128 + k);
  }
  return c;
}

}  // namespace

class EndSink : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "QMIDICTLXControl.IQMIDICTLXEvents")

 public:
  long ends = 0;

 public Q_SLOTS:
  Q_NOREPLY void OnClick() {}
  Q_NOREPLY void OnDblClick() {}
  Q_NOREPLY void OnStatus(int v1, int, int, int) { ends += v1 == -1 || v1 == -2; }
};

namespace {

// One client: a connection of its own, its object, one call in flight at most.
struct StormClient {
  QString name;
  QDBusConnection bus{QString()};
  QString object;
  bool busy = false;
  int64_t nextAt = 0;  // µs
};

void Put(QDBusConnection& bus, const QString& o, const char* property, const QVariant& value) {
  Call(bus, o, kProps, QStringLiteral("Set"),
       {kIface, QLatin1String(property), QVariant::fromValue(QDBusVariant(value))});
}

}  // namespace

int main(int argc, char** argv) {
  benchbus::RunOnPrivateBus(argc, argv);
  QCoreApplication app(argc, argv);
  int seconds = 60, clients = 20;
  unsigned seed = 1;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--clients") == 0) clients = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
  }

  QTemporaryDir dir;
  const std::string work = dir.path().toStdString();
  std::system(("mkdir -p '" + work + "/config/QUOR'").c_str());
  std::ofstream(work + "/config/QUOR/QMIDIEXE.conf")
      << "[General]\nMidiId1=1\nMidiId2=257\nMidiId3=257\nMidiId4=257\n";
  const std::string song = work + "/two-seconds.mid";
  WriteSong(song, 4);

  QProcess engine;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(work + "/config"));
  env.insert(QStringLiteral("QMIDI_CAPTURE"), QString::fromStdString(work + "/capture"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(work));
  engine.setProcessEnvironment(env);
  engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  engine.start(QStringLiteral(QMIDIEXE_PATH), {QStringLiteral("-AUTOMATION")});
  QDBusConnection watcher = QDBusConnection::sessionBus();
  if (!SpinUntil([&] { return watcher.interface()->isServiceRegistered(kBus).value(); }, 10000)) {
    std::fprintf(stderr, "the engine did not come up\n");
    return 1;
  }

  // The watcher's sink takes every end report (the last sink put wins).
  EndSink sink;
  watcher.registerObject(QStringLiteral("/sink"), &sink, QDBusConnection::ExportAllSlots);
  const QString watched = benchbus::CreateObject(watcher);
  {
    QDBusArgument value;
    value.beginStructure();
    value << watcher.baseService() << QDBusObjectPath(QStringLiteral("/sink"));
    value.endStructure();
    QDBusMessage m = QDBusMessage::createMethodCall(kBus, watched, kProps, QStringLiteral("Set"));
    m.setArguments({kIface, QStringLiteral("OnStatusDisp"),
                    QVariant::fromValue(QDBusVariant(QVariant::fromValue(value)))});
    QDBusPendingCallWatcher w(watcher.asyncCall(m));
    SpinUntil([&] { return w.isFinished(); }, 10000);
    if (w.isError()) {
      std::fprintf(stderr, "sink refused: %s\n", w.error().message().toUtf8().constData());
      return 1;
    }
  }
  Put(watcher, watched, "TITLEVISIBLE", 1);  // end reports only

  std::vector<std::unique_ptr<StormClient>> storm;
  for (int i = 0; i < clients; ++i) {
    auto c = std::make_unique<StormClient>();
    c->name = QStringLiteral("storm%1").arg(i);
    c->bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, c->name);
    c->object = benchbus::CreateObject(c->bus);
    Put(c->bus, c->object, "MIDIFILENAME", QString::fromStdString(song));
    storm.push_back(std::move(c));
  }
  QDBusConnection bystander =
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("bystander"));
  const QString seen = benchbus::CreateObject(bystander);

  std::mt19937 random(seed);
  const QString actions[] = {QStringLiteral("PLAY"), QStringLiteral("STOP"),
                             QStringLiteral("PAUSE"), QStringLiteral("RESTART")};
  std::vector<double> answers;
  bool asking = false;
  int64_t nextAsk = 0;
  long calls = 0, plays = 0;
  const int64_t end = MonotonicMicros() + int64_t{seconds} * 1000000;
  while (MonotonicMicros() < end) {
    const int64_t now = MonotonicMicros();
    for (auto& c : storm) {
      if (c->busy || now < c->nextAt) continue;
      c->busy = true;
      ++calls;
      const QString& action = actions[random() % 4];
      plays += action == actions[0];
      QDBusMessage m = QDBusMessage::createMethodCall(kBus, c->object, kIface, action);
      auto* w = new QDBusPendingCallWatcher(c->bus.asyncCall(m, 20000));
      StormClient* client = c.get();
      QObject::connect(w, &QDBusPendingCallWatcher::finished, [client, w, &random] {
        client->busy = false;
        client->nextAt = MonotonicMicros() + static_cast<int64_t>(random() % 400) * 1000;
        w->deleteLater();
      });
    }
    if (!asking && now >= nextAsk) {
      asking = true;
      QDBusMessage m = QDBusMessage::createMethodCall(kBus, seen, kProps, QStringLiteral("Get"));
      m.setArguments({kIface, QStringLiteral("EXTOPTION2")});
      auto* w = new QDBusPendingCallWatcher(bystander.asyncCall(m, 20000));
      QObject::connect(w, &QDBusPendingCallWatcher::finished, [&, w, now] {
        answers.push_back((MonotonicMicros() - now) / 1000.0);
        asking = false;
        nextAsk = now + 10000;
        w->deleteLater();
      });
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    QThread::usleep(500);
  }
  // Every call answered, then the last song stopped and closed.
  SpinUntil(
      [&] {
        return std::none_of(storm.begin(), storm.end(), [](auto& c) { return c->busy; }) && !asking;
      },
      30000);
  Call(watcher, watched, kIface, QStringLiteral("CLOSE"));
  SpinUntil([] { return false; }, 4000);  // the last end report comes in

  const LogCount log = ReadLog(work + "/capture/dev0.log");
  const Stats a = Summarise(answers);
  std::printf("storm: %d clients, %d s, %ld calls, %ld of them PLAY\n", clients, seconds, calls, plays);
  std::printf("  starts (devices opened for a song): %d, closed %d\n", log.opens, log.closes);
  std::printf("  end reports (-1, -2):               %ld\n", sink.ends);
  std::printf("  notes sounding at the end:          %zu\n", log.sounding.size());
  std::printf("  bystander's property get (ms):      median %.3f, p99 %.3f, max %.3f (%zu gets)\n",
              a.median, a.p99, a.max, answers.size());

  for (auto& c : storm) {
    Call(c->bus, c->object, kIface, QStringLiteral("Release"));
    QDBusConnection::disconnectFromBus(c->name);
  }
  Call(bystander, seen, kIface, QStringLiteral("Release"));
  Call(watcher, watched, kIface, QStringLiteral("Release"));
  if (!engine.waitForFinished(10000)) engine.kill();
  engine.waitForFinished(5000);
  const bool sound = log.opens == log.closes && sink.ends >= log.opens && sink.ends <= plays;
  return sound && log.sounding.empty() ? 0 : 1;
}

#include "bench_storm.moc"
