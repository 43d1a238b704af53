// What the benches that talk to an engine over a private session bus share:
// running themselves under dbus-run-session, calls to the engine, and the
// median/p99/max of a set of times.
#pragma once

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace benchbus {

// Without a bus of its own, the program runs itself again under
// dbus-run-session (never returns then); with one, it returns.
inline void RunOnPrivateBus(int argc, char** argv) {
  if (std::getenv("QMIDI_BENCH_BUS")) return;
  setenv("QMIDI_BENCH_BUS", "1", 1);
  std::vector<char*> args = {const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execvp("dbus-run-session", args.data());
  std::perror("dbus-run-session");
  std::exit(1);
}

struct Stats {
  double median = 0, p99 = 0, max = 0;
};

inline Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  Stats s;
  if (v.empty()) return s;
  s.median = v[v.size() / 2];
  s.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
  s.max = v.back();
  return s;
}

// A call to the engine's automation service, waited for (20 s at most).
inline QDBusMessage Call(QDBusConnection& bus, const QString& path, const QString& iface, const QString& member,
                         const QVariantList& args = {}) {
  QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("Qmidiexe.QMIDIOLE"), path, iface, member);
  m.setArguments(args);
  return bus.call(m, QDBus::Block, 20000);
}

// A new automation object of the connection; its path.
inline QString CreateObject(QDBusConnection& bus) {
  return Call(bus, QStringLiteral("/Qmidiexe/QMIDIOLE"), QStringLiteral("Qmidiexe.QMIDIOLEFactory"),
              QStringLiteral("CreateObject"))
      .arguments()
      .value(0)
      .value<QDBusObjectPath>()
      .path();
}

}  // namespace benchbus
