#include "tests/automation/automation_fixture.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcessEnvironment>
#include <QThread>
#include <QTimer>

#include <fstream>
#include <sstream>

namespace autotest {

namespace {

void Vlq(std::vector<uint8_t>& b, uint32_t v) {
  uint8_t tmp[5];
  int n = 0;
  tmp[n++] = v & 0x7F;
  while (v >>= 7) tmp[n++] = static_cast<uint8_t>(0x80 | (v & 0x7F));
  while (n) b.push_back(tmp[--n]);
}

void Meta(std::vector<uint8_t>& t, uint8_t type, const std::string& text) {
  t.push_back(0);
  t.push_back(0xFF);
  t.push_back(type);
  Vlq(t, static_cast<uint32_t>(text.size()));
  t.insert(t.end(), text.begin(), text.end());
}

std::vector<uint8_t> Smf(const std::vector<uint8_t>& track) {
  std::vector<uint8_t> s = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96, 'M', 'T', 'r', 'k'};
  const uint32_t n = static_cast<uint32_t>(track.size());
  s.push_back(static_cast<uint8_t>(n >> 24));
  s.push_back(static_cast<uint8_t>(n >> 16));
  s.push_back(static_cast<uint8_t>(n >> 8));
  s.push_back(static_cast<uint8_t>(n));
  s.insert(s.end(), track.begin(), track.end());
  return s;
}

std::atomic<int> g_connections{0};

}  // namespace

std::vector<uint8_t> Song(int beats, const std::string& titleSjis, const std::string& memoSjis) {
  std::vector<uint8_t> t;
  if (!titleSjis.empty()) Meta(t, 0x03, titleSjis);
  if (!memoSjis.empty()) Meta(t, 0x01, memoSjis);
  t.insert(t.end(), {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});  // 500000 us per quarter
  for (int i = 0; i < beats; ++i) {
    const uint8_t key = static_cast<uint8_t>(60 + i % 12);
    t.insert(t.end(), {static_cast<uint8_t>(i == 0 ? 0 : 48), 0x90, key, 100});  // on the beat
    t.insert(t.end(), {48, 0x80, key, 64});                                       // off after an eighth
  }
  t.insert(t.end(), {48, 0xFF, 0x2F, 0x00});
  return Smf(t);
}

std::vector<uint8_t> HeldNoteSong(int beats) {
  std::vector<uint8_t> t = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0x90, 60, 100};
  Vlq(t, static_cast<uint32_t>(beats) * 96);
  t.insert(t.end(), {0x80, 60, 64, 0x00, 0xFF, 0x2F, 0x00});
  return Smf(t);
}

void Spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool SpinUntil(const std::function<bool()>& pred, int ms) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() >= ms) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

bool HasOwner(const QString& name) {
  QDBusConnectionInterface* i = QDBusConnection::sessionBus().interface();
  return i && i->isServiceRegistered(name).value();
}

// ---------------------------------------------------------------- Engine

std::string Engine::Path() { return QMIDIEXE_PATH; }

QStringList Engine::Environment(const qtest::TempDir& dir) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.file("config")));
  env.insert(QStringLiteral("QMIDI_CAPTURE"), QString::fromStdString(dir.file("capture")));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QMIDI_FRAMES"), QString());
  env.remove(QStringLiteral("QMIDI_STATUS_LOG"));
  return env.toStringList();
}

void Engine::WriteSettings(const qtest::TempDir& dir) {
  std::filesystem::create_directories(dir.file("config/QUOR"));
  std::ofstream(dir.file("config/QUOR/QMIDIEXE.conf"))
      << "[General]\nMidiId1=1\nMidiId2=257\nMidiId3=257\nMidiId4=257\n";
}

Engine::Engine(const qtest::TempDir& dir, QStringList args, bool waitForName)
    : dir_(dir), process_(std::make_unique<QProcess>()) {
  process_->setEnvironment(Environment(dir));
  process_->setWorkingDirectory(QString::fromStdString(dir.path().string()));
  process_->setStandardOutputFile(QString::fromStdString(dir.file("engine.out")));
  process_->setStandardErrorFile(QString::fromStdString(dir.file("engine.err")));
  process_->start(QString::fromStdString(Path()), args);
  EXPECT_TRUE(process_->waitForStarted(10000));
  if (waitForName) {
    EXPECT_TRUE(SpinUntil([] { return HasOwner(kBus); }, 10000)) << "the engine took no bus name";
  }
}

Engine::~Engine() {
  if (process_->state() != QProcess::NotRunning && !process_->waitForFinished(10000)) {
    ADD_FAILURE() << "the engine did not end by itself";
    process_->kill();
    process_->waitForFinished(5000);
  }
  // The next engine must find the name free.
  SpinUntil([] { return !HasOwner(kBus); }, 5000);
}

int Engine::waitForExit(int ms) {
  QElapsedTimer t;
  t.start();
  while (process_->state() != QProcess::NotRunning && t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    process_->waitForFinished(10);
  }
  if (process_->state() != QProcess::NotRunning) return -1;
  return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}

bool Engine::running() const { return process_->state() != QProcess::NotRunning; }
std::string Engine::err() { return qtest::ReadText(dir_.file("engine.err")); }
std::string Engine::out() { return qtest::ReadText(dir_.file("engine.out")); }
qint64 Engine::pid() const { return process_->processId(); }

std::vector<std::string> Engine::capture() const { return Lines(qtest::ReadText(dir_.file("capture/dev0.log"))); }

// ---------------------------------------------------------------- Sink

size_t Sink::progress() const {
  size_t n = 0;
  for (const Report& r : reports) n += r.v1 > 0;
  return n;
}

std::vector<int32_t> Sink::ends() const {
  std::vector<int32_t> out;
  for (const Report& r : reports)
    if (r.v1 == -1 || r.v1 == -2) out.push_back(r.v1);
  return out;
}

// ---------------------------------------------------------------- Client

Client::Client(const QString& name)
    : name_(name + QString::number(++g_connections)),
      bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)) {
  EXPECT_TRUE(bus_.isConnected()) << bus_.lastError().message().toStdString();
}

Client::~Client() { QDBusConnection::disconnectFromBus(name_); }

QDBusMessage Client::call(const QString& path, const QString& iface, const QString& member, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(kBus, path, iface, member);
  m.setArguments(args);
  return WaitServing(bus_, m);
}

QDBusMessage WaitServing(QDBusConnection& bus, const QDBusMessage& message) {
  // (QDBus::BlockWithGui would do, but Qt 6.4's can miss a reply that comes
  // back before it starts waiting, and then waits forever.)
  QDBusPendingCallWatcher watcher(bus.asyncCall(message, 20000));
  if (!watcher.isFinished()) {
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(25000, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return watcher.reply();
}

QString Client::create() {
  QDBusMessage r = call(kFactory, kFactoryIface, QStringLiteral("CreateObject"));
  if (r.type() != QDBusMessage::ReplyMessage) {
    ADD_FAILURE() << "CreateObject: " << r.errorMessage().toStdString();
    return {};
  }
  return r.arguments().value(0).value<QDBusObjectPath>().path();
}

QVariant Client::get(const QString& path, const QString& property) {
  QDBusMessage r = call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), {kIface, property});
  if (r.type() != QDBusMessage::ReplyMessage) {
    ADD_FAILURE() << "Get " << property.toStdString() << ": " << r.errorMessage().toStdString();
    return {};
  }
  return r.arguments().value(0).value<QDBusVariant>().variant();
}

QDBusMessage Client::set(const QString& path, const QString& property, const QVariant& value) {
  return call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
              {kIface, property, QVariant::fromValue(QDBusVariant(value))});
}

void Client::exportObject(const QString& path, QObject* object) {
  EXPECT_TRUE(bus_.registerObject(path, object, QDBusConnection::ExportAllSlots));
}

QDBusMessage Client::setSink(const QString& objectPath, const QString& service, const QString& sinkPath) {
  return set(objectPath, QStringLiteral("OnStatusDisp"), SinkValue(service, sinkPath));
}

QVariant SinkValue(const QString& service, const QString& path) {
  QDBusArgument a;
  a.beginStructure();
  a << service << QDBusObjectPath(path);
  a.endStructure();
  return QVariant::fromValue(a);
}

std::pair<QString, QString> ReadSink(const QVariant& value) {
  const QDBusArgument a = value.value<QDBusArgument>();
  QString s;
  QDBusObjectPath p;
  a.beginStructure();
  a >> s >> p;
  a.endStructure();
  return {s, p.path()};
}

// ---------------------------------------------------------------- helpers

void AutomationTest::SetUp() { Engine::WriteSettings(dir_); }

uint64_t ObjectNumber(const QString& path) {
  const QString prefix = kFactory + QLatin1Char('/');
  return path.startsWith(prefix) ? path.mid(prefix.size()).toULongLong() : 0;
}

QString ObjectPathOf(uint64_t number) { return kFactory + QLatin1Char('/') + QString::number(number); }

bool IsError(const QDBusMessage& m) { return m.type() == QDBusMessage::ErrorMessage; }
std::string ErrorName(const QDBusMessage& m) { return m.errorName().toStdString(); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::vector<std::pair<int64_t, std::string>> Messages(const std::vector<std::string>& lines) {
  std::vector<std::pair<int64_t, std::string>> out;
  for (const std::string& l : lines) {
    const size_t sp = l.find(' ');
    if (sp == std::string::npos || l.compare(0, 6, "volume") == 0) continue;
    out.emplace_back(std::stoll(l.substr(0, sp)), l.substr(sp + 1));
  }
  return out;
}

}  // namespace autotest
