// The server's life: objects of a client that leaves the bus, the end of an
// engine started by the bus, registration and activation, an engine without
// a bus or without its name; and the Python example of the README.
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

#include "tests/automation/automation_fixture.h"

using namespace autotest;

class Life : public AutomationTest {};
class Example : public AutomationTest {};

namespace {

QStringList FactoryNodes(Client& c) {
  const QString xml = c.call(kFactory, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                             QStringLiteral("Introspect"))
                          .arguments()
                          .value(0)
                          .toString();
  QStringList nodes;
  for (qsizetype at = xml.indexOf(QLatin1String("<node name=\"")); at >= 0;
       at = xml.indexOf(QLatin1String("<node name=\""), at + 1)) {
    const qsizetype start = at + 12;
    nodes << xml.mid(start, xml.indexOf(QLatin1Char('"'), start) - start);
  }
  return nodes;
}

struct ProcessRun {
  int exitCode = -1;
  std::string out, err;
};

// Runs qmidiexe to its end with the test's environment plus extra.
ProcessRun RunEngine(const qtest::TempDir& dir, const QStringList& args, const QStringList& extraEnv = {},
              const QStringList& removeEnv = {}) {
  QProcess p;
  QStringList env = Engine::Environment(dir);
  for (const QString& r : removeEnv) env.erase(std::remove_if(env.begin(), env.end(), [&](const QString& e) {
                                                 return e.startsWith(r + QLatin1Char('='));
                                               }),
                                               env.end());
  env << extraEnv;
  p.setEnvironment(env);
  p.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  p.start(QString::fromStdString(Engine::Path()), args);
  ProcessRun r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

TEST_F(Life, TheObjectsOfAClientThatLeavesAreReleasedAndPlaybackGoesOn) {
  const std::string path = song("long.mid", Song(16));
  Engine engine(dir_);
  Client b(QStringLiteral("b"));
  const QString ob = b.create();
  const QString first = QString::number(ObjectNumber(ob)), second = QString::number(ObjectNumber(ob) + 1);

  QProcess holder;  // a client that plays and is then killed
  holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-playing"), QString::fromStdString(path)});
  ASSERT_TRUE(holder.waitForStarted(5000));
  ASSERT_TRUE(SpinUntil([&] { return holder.canReadLine() || holder.waitForReadyRead(10); }, 10000));
  const QString line = QString::fromUtf8(holder.readLine()).trimmed();
  ASSERT_EQ(line, QStringLiteral("playing ") + ObjectPathOf(ObjectNumber(ob) + 1));
  ASSERT_TRUE(SpinUntil([&] { return b.get_i(ob, QStringLiteral("MIDICURRENTTIME1")) >= 250; }, 10000));
  EXPECT_EQ(FactoryNodes(b), (QStringList{first, second}));

  ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
  holder.waitForFinished(5000);
  ASSERT_TRUE(SpinUntil([&] { return FactoryNodes(b) == QStringList{first}; }, 5000)) << "its object is released";
  // The song goes on, and the engine serves the other client.
  const int t1 = b.get_i(ob, QStringLiteral("MIDICURRENTTIME1"));
  const size_t lines = engine.capture().size();
  Spin(700);
  EXPECT_GT(b.get_i(ob, QStringLiteral("MIDICURRENTTIME1")), t1);
  EXPECT_GT(engine.capture().size(), lines);
  EXPECT_TRUE(engine.running());
  // The dead object still owns the song: the other client's CLOSE ends it.
  EXPECT_FALSE(IsError(b.method(ob, QStringLiteral("CLOSE"))));
}

TEST_F(Life, AnEngineStartedByTheBusEndsWithItsLastObject) {
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  const QString o1 = a.create(), o2 = a.create();
  ASSERT_FALSE(IsError(a.method(o1, QStringLiteral("Release"))));
  Spin(300);
  EXPECT_TRUE(engine.running());
  ASSERT_FALSE(IsError(a.method(o2, QStringLiteral("Release"))));
  EXPECT_EQ(engine.waitForExit(10000), 0);
  EXPECT_FALSE(HasOwner(kBus));
}

TEST_F(Life, AnObjectItsCreatorNeverUsedStaysForCommandLineToolsUntilReleased) {
  Engine engine(dir_);
  QString o;
  {
    Client oneShot(QStringLiteral("busctl-like"));
    o = oneShot.create();
  }
  Client next(QStringLiteral("next"));
  Spin(300);
  EXPECT_FALSE(IsError(next.set(o, QStringLiteral("EXTOPTION2"), 9)));
  {
    Client another(QStringLiteral("another"));
    EXPECT_EQ(another.get_i(o, QStringLiteral("EXTOPTION2")), 9);
  }
  Spin(300);
  EXPECT_EQ(next.get_i(o, QStringLiteral("EXTOPTION2")), 9) << "callers do not take the object with them";
  ASSERT_FALSE(IsError(next.method(o, QStringLiteral("Release"))));
  EXPECT_EQ(engine.waitForExit(10000), 0);
}

TEST_F(Life, AnEngineStartedByTheBusEndsWhenItsBusGoes) {
  // A bus of this test's own, ended under the engine's feet as a session's
  // end ends its bus.
  QProcess daemon;
  daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                              QStringLiteral("--print-address=1")});
  ASSERT_TRUE(daemon.waitForStarted(5000));
  ASSERT_TRUE(SpinUntil([&] { return daemon.canReadLine() || daemon.waitForReadyRead(10); }, 10000));
  const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
  QProcess engine;
  QStringList env = Engine::Environment(dir_);
  env << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address;
  engine.setEnvironment(env);
  engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  engine.start(QString::fromStdString(Engine::Path()), {QStringLiteral("-AUTOMATION")});
  ASSERT_TRUE(engine.waitForStarted(5000));
  {
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("own-bus"));
    EXPECT_TRUE(SpinUntil([&] { return bus.interface()->isServiceRegistered(kBus).value(); }, 10000));
    QDBusConnection::disconnectFromBus(QStringLiteral("own-bus"));
  }
  daemon.terminate();
  daemon.waitForFinished(5000);
  const bool ended = engine.waitForFinished(15000);
  EXPECT_TRUE(ended) << "the engine outlived its bus";
  if (!ended) {
    engine.kill();
    engine.waitForFinished(5000);
  }
  EXPECT_EQ(engine.exitCode(), 0);
}

TEST_F(Life, RegServerLetsTheBusStartTheEngine) {
  const QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) GTEST_SKIP() << "the bus was started without XDG_DATA_HOME";
  QDir(data + QStringLiteral("/dbus-1")).removeRecursively();
  const QString service = data + QStringLiteral("/dbus-1/services/Qmidiexe.QMIDIOLE.service");
  const QString iface = data + QStringLiteral("/dbus-1/interfaces/Qmidiexe.IQMIDIOLE.xml");

  ProcessRun reg = RunEngine(dir_, {QStringLiteral("-REGSERVER")}, {QStringLiteral("XDG_DATA_HOME=") + data});
  ASSERT_EQ(reg.exitCode, 0) << reg.err;
  EXPECT_NE(reg.out.find("Qmidiexe.QMIDIOLE.service"), std::string::npos) << reg.out;
  const std::string text = qtest::ReadText(service.toStdString());
  EXPECT_NE(text.find("Name=Qmidiexe.QMIDIOLE\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Exec=" + Engine::Path() + " -AUTOMATION\n"), std::string::npos) << text;
  const std::string xml = qtest::ReadText(iface.toStdString());
  EXPECT_NE(xml.find("<interface name=\"Qmidiexe.IQMIDIOLE\">"), std::string::npos);
  EXPECT_NE(xml.find("{2D45E5E0-F4C3-11D0-AC11-444553540000}"), std::string::npos) << "the library's GUID";
  EXPECT_EQ(Count(xml, "\"Qmidiexe.DispId\""), 60);
  EXPECT_TRUE(QFile::exists(data + QStringLiteral("/dbus-1/interfaces/Qmidiexe.QMIDIOLEFactory.xml")));
  EXPECT_TRUE(QFile::exists(data + QStringLiteral("/dbus-1/interfaces/QMIDICTLXControl.IQMIDICTLXEvents.xml")));

  // The activated engine gets the test's settings, capture and platform.
  QDBusMessage env = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("UpdateActivationEnvironment"));
  qDBusRegisterMetaType<QMap<QString, QString>>();
  QMap<QString, QString> vars;
  vars[QStringLiteral("XDG_CONFIG_HOME")] = QString::fromStdString(dir_.file("config"));
  vars[QStringLiteral("QMIDI_CAPTURE")] = QString::fromStdString(dir_.file("capture"));
  vars[QStringLiteral("QT_QPA_PLATFORM")] = QStringLiteral("offscreen");
  env << QVariant::fromValue(vars);
  ASSERT_NE(QDBusConnection::sessionBus().call(env).type(), QDBusMessage::ErrorMessage);

  ASSERT_FALSE(HasOwner(kBus));
  {
    Client a(QStringLiteral("a"));
    const QString o = a.create();  // the bus starts the engine for this call
    ASSERT_GT(ObjectNumber(o), 0u) << o.toStdString();
    EXPECT_TRUE(HasOwner(kBus));
    const uint pid = QDBusConnection::sessionBus().interface()->servicePid(kBus).value();
    const std::string cmdline = qtest::ReadText("/proc/" + std::to_string(pid) + "/cmdline");
    EXPECT_NE(cmdline.find("-AUTOMATION"), std::string::npos) << cmdline;
    EXPECT_EQ(a.get_i(o, QStringLiteral("DEVICEID1A")), 0) << "the test's settings";
    EXPECT_FALSE(IsError(a.method(o, QStringLiteral("Release"))));
  }
  EXPECT_TRUE(SpinUntil([] { return !HasOwner(kBus); }, 10000)) << "it ended with its last object";

  ProcessRun unreg = RunEngine(dir_, {QStringLiteral("-UNREGSERVER")}, {QStringLiteral("XDG_DATA_HOME=") + data});
  EXPECT_EQ(unreg.exitCode, 0) << unreg.err;
  EXPECT_FALSE(QFile::exists(service));
  EXPECT_FALSE(QFile::exists(iface));
}

TEST_F(Life, WithoutABusTheEngineSaysSoOnceAndStillPlays) {
  const std::string path = song("two.mid", Song(2));
  ProcessRun r = RunEngine(dir_, {QString::fromStdString(path)},
                    {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=") + QString::fromStdString(dir_.file("no-bus"))});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Count(r.err, "no session bus"), 1) << r.err;
  EXPECT_EQ(Count(r.err, "automation is off"), 1) << r.err;
  EXPECT_NE(qtest::ReadText(dir_.file("capture/dev0.log")).find(" 903c64"), std::string::npos);
}

TEST_F(Life, WithTheNameTakenASecondEngineSaysSoOnceAndStillPlays) {
  const std::string path = song("two.mid", Song(2));
  Engine first(dir_);
  Client keep(QStringLiteral("keep"));
  const QString o = keep.create();
  qtest::TempDir other;
  Engine::WriteSettings(other);
  ProcessRun r = RunEngine(other, {QString::fromStdString(path)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Count(r.err, "is taken"), 1) << r.err;
  EXPECT_NE(qtest::ReadText(other.file("capture/dev0.log")).find(" 903c64"), std::string::npos);
  // The first engine still serves.
  EXPECT_EQ(keep.get_i(o, QStringLiteral("ERRORCODE")), 0);
}

TEST_F(Example, ThePythonExamplePlaysASongAndReceivesItsReports) {
  if (std::string(QMIDI_PYTHON_DBUS).empty()) GTEST_SKIP() << "no python3 with the dbus and gi modules";
  const std::string path = song("four.mid", Song(4, "\x83\x65\x83\x58\x83\x67"));
  Engine engine(dir_);
  QProcess py;
  py.setProcessChannelMode(QProcess::MergedChannels);
  py.start(QStringLiteral(QMIDI_PYTHON_DBUS), {QStringLiteral(QMIDI_AUTOMATION_EXAMPLE), QString::fromStdString(path)});
  ASSERT_TRUE(py.waitForStarted(5000));
  ASSERT_TRUE(SpinUntil([&] { return py.state() == QProcess::NotRunning || py.waitForFinished(10); }, 60000));
  const std::string out = py.readAll().toStdString();
  EXPECT_EQ(py.exitCode(), 0) << out;
  EXPECT_NE(out.find("title: テスト"), std::string::npos) << out;
  EXPECT_GT(Count(out, "progress "), 10) << out;
  EXPECT_EQ(Count(out, "ended: -1"), 1) << out;
  // The script released its object: the engine started for it ends.
  EXPECT_EQ(engine.waitForExit(10000), 0);
}
