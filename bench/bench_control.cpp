// The control library against the engine, on a private session bus (the
// program runs itself under dbus-run-session when it has none), the engine
// started by hand on capture devices:
//
//  1. a property get through TQMIDICTLX (TIMERMIDI) against the same get as
//     a direct D-Bus call to the engine, interleaved in one run (median, p99);
//  2. creating a control while the engine runs (median, max of 50).
//
//    build/bench/bench_control [--gets N]
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_bus.h"
#include "QMIDICTLXControl.h"

namespace {

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

bool WaitForEngine(QDBusConnection& bus) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 15000) {
    if (bus.interface()->isServiceRegistered(QStringLiteral("Qmidiexe.QMIDIOLE")).value()) return true;
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  benchbus::RunOnPrivateBus(argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  long gets = 5000;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--gets") == 0) gets = std::atol(argv[i + 1]);

  QTemporaryDir dir;
  QProcess engine;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
  env.insert(QStringLiteral("QMIDI_CAPTURE"), dir.path() + QStringLiteral("/capture"));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  engine.setProcessEnvironment(env);
  engine.start(QStringLiteral(QMIDIEXE_PATH), {QStringLiteral("-AUTOMATION")});
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!WaitForEngine(bus)) {
    std::fprintf(stderr, "the engine did not come up\n");
    return 1;
  }

  TQMIDICTLX control;
  if (control.engineError() != 0) {
    std::fprintf(stderr, "the control reached no engine\n");
    return 1;
  }
  QDBusMessage create = QDBusMessage::createMethodCall(
      QStringLiteral("Qmidiexe.QMIDIOLE"), QStringLiteral("/Qmidiexe/QMIDIOLE"),
      QStringLiteral("Qmidiexe.QMIDIOLEFactory"), QStringLiteral("CreateObject"));
  const QString path = bus.call(create).arguments().value(0).value<QDBusObjectPath>().path();
  QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("Qmidiexe.QMIDIOLE"), path,
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
  get << QStringLiteral("Qmidiexe.IQMIDIOLE") << QStringLiteral("TIMERMIDI");

  std::vector<double> direct, through;
  QElapsedTimer t;
  for (long i = 0; i < gets; ++i) {
    t.start();
    bus.call(get);
    direct.push_back(t.nsecsElapsed() / 1e6);
    t.start();
    volatile int v = control.TIMERMIDI();
    (void)v;
    through.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf("property get, %ld each, interleaved:\n", gets);
  std::printf("  direct D-Bus      median %.3f ms  p99 %.3f ms\n", Percentile(direct, 0.5), Percentile(direct, 0.99));
  std::printf("  through TQMIDICTLX median %.3f ms  p99 %.3f ms  (median +%.1f %%)\n", Percentile(through, 0.5),
              Percentile(through, 0.99), (Percentile(through, 0.5) / Percentile(direct, 0.5) - 1) * 100);

  std::vector<double> creations;
  for (int i = 0; i < 50; ++i) {
    t.start();
    auto c = std::make_unique<TQMIDICTLX>();
    creations.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf("creating a control with the engine running: median %.2f ms, max %.2f ms\n",
              Percentile(creations, 0.5), Percentile(creations, 1.0));
  engine.kill();
  engine.waitForFinished();
  return 0;
}
