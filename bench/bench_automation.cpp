// The engine's automation interface from a client, on a private session bus
// (the program runs itself under dbus-run-session when it has none):
//
//  1. round trip of a property get and a put (median, p99), next to a plain
//     QtDBus round trip to the same engine (Peer.Ping, answered by the bus
//     library without the engine's main thread), and gets while a song starts;
//  2. PLAY to the first MIDI message on a capture device;
//  3. progress reports at TIMERWRD 16 delivered to a sink (10,000 by default,
//     about 160 s; --reports N for fewer), against the time they took, and
//     the engine's resident memory over the run.
//
//    build/bench/bench_automation [--reports N]
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

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

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

struct Stats {
  double median = 0, p99 = 0, max = 0;
};

Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  Stats s;
  if (v.empty()) return s;
  s.median = v[v.size() / 2];
  s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  s.max = v.back();
  return s;
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

// The capture log's last line.
std::string LastLine(const std::string& log) {
  std::ifstream in(log);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}

}  // namespace

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
  if (!std::getenv("QMIDI_BENCH_BUS")) {
    setenv("QMIDI_BENCH_BUS", "1", 1);
    std::vector<char*> args = {const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("dbus-run-session", args.data());
    std::perror("dbus-run-session");
    return 1;
  }
  QCoreApplication app(argc, argv);
  long reportsWanted = 10000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--reports") == 0) reportsWanted = std::atol(argv[i + 1]);

  QTemporaryDir dir;
  const std::string work = dir.path().toStdString();
  std::system(("mkdir -p '" + work + "/config/QUOR'").c_str());
  std::ofstream(work + "/config/QUOR/QMIDIEXE.conf") << "[General]\nMidiId1=1\nMidiId2=257\nMidiId3=257\nMidiId4=257\n";
  const std::string shortSong = work + "/short.mid", longSong = work + "/long.mid";
  WriteSong(shortSong, 8);
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
    QDBusMessage m = QDBusMessage::createMethodCall(kBus, path, iface, member);
    m.setArguments(args);
    return bus.call(m, QDBus::Block, 20000);
  };
  const QString o = call(QStringLiteral("/Qmidiexe/QMIDIOLE"), QStringLiteral("Qmidiexe.QMIDIOLEFactory"),
                         QStringLiteral("CreateObject"))
                        .arguments()
                        .value(0)
                        .value<QDBusObjectPath>()
                        .path();
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
  call(o, kIface, QStringLiteral("Release"));
  engine.waitForFinished(10000);
  return 0;
}

#include "bench_automation.moc"
