// The engine's automation interface from the outside: the real qmidiexe
// runs as a process on capture devices and the offscreen platform, and the
// tests drive it over the session bus that dbus-run-session gives each test
// program, as QtDBus clients on connections of their own.
#pragma once

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/common/test_files.h"

namespace autotest {

inline const QString kBus = QStringLiteral("Qmidiexe.QMIDIOLE");
inline const QString kFactory = QStringLiteral("/Qmidiexe/QMIDIOLE");
inline const QString kFactoryIface = QStringLiteral("Qmidiexe.QMIDIOLEFactory");
inline const QString kIface = QStringLiteral("Qmidiexe.IQMIDIOLE");
inline const QString kSinkIface = QStringLiteral("QMIDICTLXControl.IQMIDICTLXEvents");

// A Standard MIDI File at 120 beats per minute (division 96): `beats`
// quarter notes, each a note-on (key 60 + beat % 12, velocity 100) held for
// an eighth; title and memo as Shift-JIS text events when given.
std::vector<uint8_t> Song(int beats, const std::string& titleSjis = {}, const std::string& memoSjis = {});
// One long note (key 60, velocity 100) held for `beats` quarter notes.
std::vector<uint8_t> HeldNoteSong(int beats);

// Runs the block's event loop for ms milliseconds (sink calls arrive meanwhile).
void Spin(int ms);
// Spins until pred holds or ms have passed; pred's last value.
bool SpinUntil(const std::function<bool()>& pred, int ms);
// Whether the name has an owner on the session bus.
bool HasOwner(const QString& name);

// One qmidiexe process.
class Engine {
 public:
  // Starts qmidiexe with args in the folder's own settings, capture and
  // config, and waits (at most 10 s) until it owns the bus name.
  Engine(const qtest::TempDir& dir, QStringList args = {QStringLiteral("-AUTOMATION")}, bool waitForName = true);
  ~Engine();

  // Waits for the process to end by itself; its exit code, or -1.
  int waitForExit(int ms);
  bool running() const;
  std::string err();
  std::string out();
  qint64 pid() const;
  // Lines of capture device 0's log (port A's first output).
  std::vector<std::string> capture() const;

  static std::string Path();  // the engine program
  // The environment the engine runs in (settings, capture, offscreen).
  static QStringList Environment(const qtest::TempDir& dir);
  // Writes settings that put port A's first output on capture device 0 and nothing else.
  static void WriteSettings(const qtest::TempDir& dir);

 private:
  const qtest::TempDir& dir_;
  std::unique_ptr<QProcess> process_;
};

// The status sink a client exports: records every OnStatus.
class Sink : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "QMIDICTLXControl.IQMIDICTLXEvents")

 public:
  struct Report {
    int32_t v1, v2, v3, v4;
  };
  std::vector<Report> reports;
  int clicks = 0;
  // Progress reports (Value1 > 0) and end reports, as they came.
  size_t progress() const;
  std::vector<int32_t> ends() const;  // the Value1 of every report <= -1 and >= -2

 public Q_SLOTS:
  Q_NOREPLY void OnClick() { ++clicks; }
  Q_NOREPLY void OnDblClick() {}
  Q_NOREPLY void OnStatus(int v1, int v2, int v3, int v4) { reports.push_back({v1, v2, v3, v4}); }
};

// An object that is exported but is no sink.
class NotASink : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "Test.SomethingElse")

 public Q_SLOTS:
  void Hello() {}
};

// A client with a connection of its own (leaving the bus when destroyed).
class Client {
 public:
  explicit Client(const QString& name);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  QDBusConnection& bus() { return bus_; }
  QString uniqueName() const { return bus_.baseService(); }

  // Calls wait for their answer while serving this connection's own objects
  // (the engine introspects a sink while its put is pending).
  QDBusMessage call(const QString& path, const QString& iface, const QString& member,
                    const QVariantList& args = {});
  // CreateObject: the new object's path ("" on failure).
  QString create();
  QVariant get(const QString& path, const QString& property);
  int get_i(const QString& path, const QString& property) { return get(path, property).toInt(); }
  QString get_s(const QString& path, const QString& property) { return get(path, property).toString(); }
  // The reply of a Set (an error message on failure).
  QDBusMessage set(const QString& path, const QString& property, const QVariant& value);
  QDBusMessage method(const QString& path, const QString& name) { return call(path, kIface, name); }
  // Exports a sink / a non-sink at path on this connection.
  void exportObject(const QString& path, QObject* object);
  // Puts (bus name, path) into OnStatusDisp.
  QDBusMessage setSink(const QString& objectPath, const QString& service, const QString& sinkPath);

 private:
  QString name_;
  QDBusConnection bus_;
};

// Sends a call and waits for its answer, serving the connection's own
// objects meanwhile.
QDBusMessage WaitServing(QDBusConnection& bus, const QDBusMessage& message);

// (so) as a property value.
QVariant SinkValue(const QString& service, const QString& path);
// (so) read back.
std::pair<QString, QString> ReadSink(const QVariant& value);

// Every test: a temporary folder with the engine's settings.
class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  std::string song(const std::string& name, const std::vector<uint8_t>& bytes) { return dir_.write(name, bytes); }
  qtest::TempDir dir_;
};

// The number of an object path below the factory (0 for any other path), and back.
uint64_t ObjectNumber(const QString& path);
QString ObjectPathOf(uint64_t number);

// Message-level helpers.
bool IsError(const QDBusMessage& m);
std::string ErrorName(const QDBusMessage& m);
std::vector<std::string> Lines(const std::string& text);
// The messages of a capture log line list: (microseconds, hex bytes).
std::vector<std::pair<int64_t, std::string>> Messages(const std::vector<std::string>& lines);

}  // namespace autotest
