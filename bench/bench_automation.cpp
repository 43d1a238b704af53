// The engine's automation interface from a client, on a private session bus
// (the program runs itself under dbus-run-session when it has none):
//
//  1. round trip of a property get and a put (median, p99), next to a plain
//     QtDBus round trip to the same engine (Peer.Ping, answered by the bus
//     library without the engine's main thread), and gets while a song starts;
//  2. PLAY to the first MIDI message on a capture device;
//  3. progress reports at TIMERWRD 16 delivered to a sink (10,000 by default,
//     about 160 s; --reports N for fewer), against the time they took, and
//     the engine's resident memory over the run;
//  4. a bystander's property gets while 20 other clients, each on a
//     connection of its own, PLAY, STOP, PAUSE and RESTART a 2 s song at
//     random for --storm S seconds (30 by default; 0 leaves it out), with
//     the song starts against the end reports the sink received.
//
//    build/bench/bench_automation [--reports N] [--storm S]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <atomic>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_bus.h"

using benchbus::Stats;
using benchbus::Summarise;
using benchbus::Call;
using benchbus::CreateObject;

namespace {

const QString kBus = QStringLiteral("Qmidiexe.QMIDIOLE");
const QString kIface = QStringLiteral("Qmidiexe.IQMIDIOLE");
const QString kProps = QStringLiteral("org.freedesktop.DBus.Properties");

int64_t MonotonicMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

void Spin(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::usleep(500);
  }
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

void Vlq(std::string& b, uint32_t v) {
  char tmp[5];
  int n = 0;
  tmp[n++] = static_cast<char>(v & 0x7F);
  while (v >>= 7) tmp[n++] = static_cast<char>(0x80 | (v & 0x7F));
  while (n) b.push_back(tmp[--n]);
}

// A song at 120 bpm (division 96): one short note every beat for `beats` beats.
void WriteSong(const std::string& path, int beats) {
  std::string t("\x00\xFF\x51\x03\x07\xA1\x20", 7);
  for (int i = 0; i < beats; ++i) {
    Vlq(t, i == 0 ? 0 : 48);
    t += std::string("\x90\x3C\x64", 3);
    Vlq(t, 48);
    t += std::string("\x80\x3C\x40", 3);
  }
  t += std::string("\x30\xFF\x2F\x00", 4);
  std::string s("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk", 18);
  const uint32_t n = static_cast<uint32_t>(t.size());
  s.push_back(static_cast<char>(n >> 24));
  s.push_back(static_cast<char>(n >> 16));
  s.push_back(static_cast<char>(n >> 8));
  s.push_back(static_cast<char>(n));
  std::ofstream(path, std::ios::binary) << s << t;
}

long RssKb(qint64 pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// Send time of the first MIDI message in a capture log at or after since
// (the song's first note: mode 0 sends no reset messages).
int64_t FirstMessageAfter(const std::string& log, int64_t since) {
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    const auto sp = line.find(' ');
    if (sp == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    const int64_t t = std::stoll(line.substr(0, sp));
    if (t >= since) return t;
  }
  return -1;
}

// Lines of the capture log that are exactly `what` ("open": a song's start).
long CountLines(const std::string& log, const std::string& what) {
  std::ifstream in(log);
  std::string line;
  long n = 0;
  while (std::getline(in, line)) n += line == what;
  return n;
}

// The capture log's last line.
std::string LastLine(const std::string& log) {
  std::ifstream in(log);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}

}  // namespace

// One client of the storm: a connection of its own, an object of its own,
// and PLAY / STOP / PAUSE / RESTART at random, 0 to 300 ms apart.
class StormClient {
 public:
  StormClient(int index, const QString& song, std::atomic<bool>& stop, std::atomic<long>& plays)
      : index_(index), song_(song), stop_(stop), plays_(plays) {}
  void run() {
    const QString name = QStringLiteral("storm%1-%2").arg(index_).arg(QUuid::createUuid().toString(QUuid::Id128));
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    auto call = [&](const QString& path, const QString& iface, const QString& member, const QVariantList& args = {}) {
      return Call(bus, path, iface, member, args);
    };
    const QString o = CreateObject(bus);
    call(o, kProps, QStringLiteral("Set"),
         {kIface, QStringLiteral("MIDIFILENAME"), QVariant::fromValue(QDBusVariant(song_))});
    std::mt19937 random(static_cast<unsigned>(index_ * 7919 + 1));
    const char* methods[] = {"PLAY", "STOP", "PAUSE", "RESTART"};
    while (!stop_.load()) {
      const char* m = methods[random() % 4];
      const QDBusMessage reply = call(o, kIface, QLatin1String(m));
      if (std::strcmp(m, "PLAY") == 0 && reply.type() == QDBusMessage::ReplyMessage) ++plays_;
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
    }
    call(o, kIface, QStringLiteral("STOP"));
    call(o, kIface, QStringLiteral("Release"));
    QDBusConnection::disconnectFromBus(name);
  }

 private:
  int index_;
  QString song_;
  std::atomic<bool>& stop_;
  std::atomic<long>& plays_;
};

class CountingSink : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "QMIDICTLXControl.IQMIDICTLXEvents")

 public:
  long progress = 0;
  long ends = 0;
  int64_t firstUs = 0, lastUs = 0;
  std::vector<double> intervalsMs;
  std::function<void(long)> onProgress;

 public Q_SLOTS:
  Q_NOREPLY void OnClick() {}
  Q_NOREPLY void OnDblClick() {}
  Q_NOREPLY void OnStatus(int v1, int, int, int) {
    if (v1 > 0) {
      const int64_t now = MonotonicMicros();
      if (progress == 0) firstUs = now;
      else intervalsMs.push_back((now - lastUs) / 1000.0);
      lastUs = now;
      ++progress;
      if (onProgress) onProgress(progress);
    } else if (v1 == -1 || v1 == -2) {
      ++ends;
    }
  }
};

int main(int argc, char** argv) {
  // A private bus of its own.
  benchbus::RunOnPrivateBus(argc, argv);
  QCoreApplication app(argc, argv);
  long reportsWanted = 10000;
  long stormSeconds = 30;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--reports") == 0) reportsWanted = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--storm") == 0) stormSeconds = std::atol(argv[i + 1]);
  }

  QTemporaryDir dir;
  const std::string work = dir.path().toStdString();
  std::system(("mkdir -p '" + work + "/config/QUOR'").c_str());
  std::ofstream(work + "/config/QUOR/QMIDIEXE.conf") << "[General]\nMidiId1=1\nMidiId2=257\nMidiId3=257\nMidiId4=257\n";
  const std::string shortSong = work + "/short.mid", longSong = work + "/long.mid";
  WriteSong(shortSong, 8);
  const std::string stormSong = work + "/storm.mid";
  WriteSong(stormSong, 4);  // 2 s
  const int longBeats = static_cast<int>(reportsWanted * 16 / 500 + 60);  // the reports, plus room
  WriteSong(longSong, longBeats);

  QProcess engine;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(work + "/config"));
  env.insert(QStringLiteral("QMIDI_CAPTURE"), QString::fromStdString(work + "/capture"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(work));
  engine.setProcessEnvironment(env);
  engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  engine.start(QStringLiteral(QMIDIEXE_PATH), {QStringLiteral("-AUTOMATION")});
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!SpinUntil([&] { return bus.interface()->isServiceRegistered(kBus).value(); }, 10000)) {
    std::fprintf(stderr, "the engine did not come up\n");
    return 1;
  }
  auto call = [&](const QString& path, const QString& iface, const QString& member, const QVariantList& args = {}) {
    return Call(bus, path, iface, member, args);
  };
  const QString o = CreateObject(bus);
  auto get = [&](const char* p) { return call(o, kProps, QStringLiteral("Get"), {kIface, QLatin1String(p)}); };
  auto put = [&](const char* p, int v) {
    return call(o, kProps, QStringLiteral("Set"), {kIface, QLatin1String(p), QVariant::fromValue(QDBusVariant(v))});
  };
  auto timed = [&](int n, const std::function<void(int)>& f) {
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
      const int64_t t0 = MonotonicMicros();
      f(i);
      ms.push_back((MonotonicMicros() - t0) / 1000.0);
    }
    return Summarise(ms);
  };

  // 1. Round trips.
  timed(500, [&](int) { get("EXTOPTION2"); });  // warm up
  const Stats ping = timed(5000, [&](int) { call(o, QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")); });
  const Stats gets = timed(5000, [&](int) { get("EXTOPTION2"); });
  const Stats puts = timed(5000, [&](int i) { put("EXTOPTION2", i); });
  std::printf("round trip (ms)              median    p99     max\n");
  std::printf("  plain QtDBus (Peer.Ping)   %6.3f  %6.3f  %6.3f\n", ping.median, ping.p99, ping.max);
  std::printf("  property get (EXTOPTION2)  %6.3f  %6.3f  %6.3f\n", gets.median, gets.p99, gets.max);
  std::printf("  property put (EXTOPTION2)  %6.3f  %6.3f  %6.3f\n", puts.median, puts.p99, puts.max);
  std::fflush(stdout);

  // 2. PLAY to the first MIDI message, and gets while the song starts.
  put("MIDIDISABLE", 0);
  call(o, kProps, QStringLiteral("Set"), {kIface, QStringLiteral("MIDIFILENAME"),
                                          QVariant::fromValue(QDBusVariant(QString::fromStdString(shortSong)))});
  std::vector<double> firsts, duringStart;
  for (int round = 0; round < 5; ++round) {
    const int64_t t0 = MonotonicMicros();
    call(o, kIface, QStringLiteral("PLAY"));
    int64_t first = -1;
    QElapsedTimer wait;
    wait.start();
    while (first < 0 && wait.elapsed() < 10000) {
      const int64_t g0 = MonotonicMicros();
      get("MIDICURRENTTIME1");
      duringStart.push_back((MonotonicMicros() - g0) / 1000.0);
      first = FirstMessageAfter(work + "/capture/dev0.log", t0);
    }
    if (first > 0) firsts.push_back((first - t0) / 1000.0);
    call(o, kIface, QStringLiteral("CLOSE"));
    // The devices wind down and close before the next round.
    SpinUntil([&] { return LastLine(work + "/capture/dev0.log") == "close"; }, 5000);
  }
  const Stats play = Summarise(firsts);
  const Stats starting = Summarise(duringStart);
  std::printf("PLAY to the first MIDI message: median %.0f ms (min %.0f, max %.0f; the player's lead before tick 0 is 1000 ms)\n",
              play.median, firsts.empty() ? 0.0 : *std::min_element(firsts.begin(), firsts.end()), play.max);
  std::printf("property get while a song starts: median %.3f ms, p99 %.3f ms, max %.3f ms (%zu gets)\n",
              starting.median, starting.p99, starting.max, duringStart.size());
  std::fflush(stdout);

  // 3. Progress reports.
  CountingSink sink;
  bus.registerObject(QStringLiteral("/sink"), &sink, QDBusConnection::ExportAllSlots);
  long rssAt1000 = -1, rssAtEnd = -1, rssStart = RssKb(engine.processId());
  sink.onProgress = [&](long n) {
    if (n == 1000) rssAt1000 = RssKb(engine.processId());
    if (n == reportsWanted) rssAtEnd = RssKb(engine.processId());
  };
  QDBusArgument sinkValue;
  sinkValue.beginStructure();
  sinkValue << bus.baseService() << QDBusObjectPath(QStringLiteral("/sink"));
  sinkValue.endStructure();
  {
    // The engine introspects the sink before it answers: wait serving it.
    QDBusMessage m = QDBusMessage::createMethodCall(kBus, o, kProps, QStringLiteral("Set"));
    m.setArguments({kIface, QStringLiteral("OnStatusDisp"),
                    QVariant::fromValue(QDBusVariant(QVariant::fromValue(sinkValue)))});
    QDBusPendingCallWatcher w(bus.asyncCall(m));
    SpinUntil([&] { return w.isFinished(); }, 10000);
    if (w.isError()) std::fprintf(stderr, "sink refused: %s\n", w.error().message().toUtf8().constData());
  }
  put("TIMERWRD", 16);
  call(o, kProps, QStringLiteral("Set"), {kIface, QStringLiteral("MIDIFILENAME"),
                                          QVariant::fromValue(QDBusVariant(QString::fromStdString(longSong)))});
  call(o, kIface, QStringLiteral("PLAY"));
  SpinUntil([&] { return sink.progress >= reportsWanted; }, static_cast<int>(reportsWanted * 16 * 2 + 30000));
  const double seconds = (sink.lastUs - sink.firstUs) / 1e6;
  const Stats gaps = Summarise(sink.intervalsMs);
  // A report lost on the way would leave a gap of two periods.
  const long wide = std::count_if(sink.intervalsMs.begin(), sink.intervalsMs.end(), [](double g) { return g >= 24.0; });
  std::printf("progress reports: %ld received in %.2f s, one every %.3f ms on average; between two: median %.2f ms, "
              "p99 %.2f ms, max %.2f ms; %ld gaps of 1.5 periods or more\n",
              sink.progress, seconds, sink.progress > 1 ? seconds * 1000 / (sink.progress - 1) : 0.0, gaps.median,
              gaps.p99, gaps.max, wide);
  std::printf("engine resident memory: %ld kB before, %ld kB at report 1000, %ld kB at report %ld\n", rssStart,
              rssAt1000, rssAtEnd, reportsWanted);
  call(o, kIface, QStringLiteral("CLOSE"));
  std::fflush(stdout);

  // 4. A bystander while 20 clients start and stop songs.
  if (stormSeconds > 0) {
    SpinUntil([&] { return LastLine(work + "/capture/dev0.log") == "close"; }, 5000);
    Spin(1000);  // the last song's end report follows its close
    const long endsBefore = sink.ends;
    const long opensBefore = CountLines(work + "/capture/dev0.log", "open");
    std::atomic<bool> stop{false};
    std::atomic<long> plays{0};
    std::vector<std::unique_ptr<StormClient>> clients;
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
      clients.push_back(std::make_unique<StormClient>(i, QString::fromStdString(stormSong), stop, plays));
      threads.emplace_back([c = clients.back().get()] { c->run(); });
    }
    std::vector<double> bystander;
    QElapsedTimer storm;
    storm.start();
    while (storm.elapsed() < stormSeconds * 1000) {
      const int64_t g0 = MonotonicMicros();
      get("TIMERMIDI");
      bystander.push_back((MonotonicMicros() - g0) / 1000.0);
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
      QThread::usleep(2000);
    }
    stop = true;
    for (auto& t : threads) t.join();
    // The songs still open end and report.
    SpinUntil([&] { return LastLine(work + "/capture/dev0.log") == "close"; }, 10000);
    Spin(3000);
    const Stats by = Summarise(bystander);
    std::printf("storm of 20 clients for %ld s: bystander property get median %.3f ms, p99 %.3f ms, max %.3f ms "
                "(%zu gets); %ld PLAY calls, %ld songs started, %ld end reports\n",
                stormSeconds, by.median, by.p99, by.max, bystander.size(), plays.load(),
                CountLines(work + "/capture/dev0.log", "open") - opensBefore, sink.ends - endsBefore);
  }
  call(o, kIface, QStringLiteral("Release"));
  engine.waitForFinished(10000);
  return 0;
}

#include "bench_automation.moc"
