// The engine as an automation server on the session D-Bus (where the
// original was a COM local server). One running engine serves every client:
//
//   bus name   Qmidiexe.QMIDIOLE
//   factory    /Qmidiexe/QMIDIOLE, interface Qmidiexe.QMIDIOLEFactory,
//              CreateObject() -> o: a new TQMIDIOLE for the caller
//   objects    /Qmidiexe/QMIDIOLE/<n>, interface Qmidiexe.IQMIDIOLE: the 50
//              data members as properties, OnStatusDisp (so), the nine
//              methods, Release(), GetIDsOfNames(as) -> ai and
//              Invoke(i dispid, i flags, av args) -> v (flags 1 method,
//              2 get, 4 put), all on the engine's main thread
//
// Object numbers are never used twice on one bus, not even by a later
// engine: they start at the engine's own connection number times
// kObjectNumberSpan, so that a client's stale path (a Release after the
// engine it knew had gone) can never reach another client's object.
//
// An object belongs to the client (unique bus name) that created it: it goes
// with Release() or when that client leaves the bus after having used it.
// One connection holds at most kMaxObjectsPerClient objects; of objects whose
// creators left without using them at most kMaxOrphans are kept (the oldest
// go first).
// An object whose creator left straight after CreateObject (a one-shot
// command such as busctl) stays until a Release() from anyone, so that
// command-line tools can drive it call by call (such an object that nobody
// calls for kOrphanIdleMs is released too). An engine started by the
// bus (-AUTOMATION, -EMBEDDING) ends when its last object has gone; one
// started by hand keeps running; it also ends when its bus goes away, unless
// it plays a song named on its command line. -REGSERVER writes the user's D-Bus service
// file and the interface descriptions (the type library); -UNREGSERVER
// removes them.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>

#include "engine/host/automation_object.h"

class QDBusServiceWatcher;
class QTimer;
class TBusStatusSink;
class TForm1;
class TStatusSink;

inline constexpr const char* kBusName = "Qmidiexe.QMIDIOLE";
inline constexpr const char* kFactoryPath = "/Qmidiexe/QMIDIOLE";
inline constexpr const char* kFactoryInterface = "Qmidiexe.QMIDIOLEFactory";
inline constexpr const char* kObjectInterface = "Qmidiexe.IQMIDIOLE";
// Errors the members return (besides the bus's own InvalidArgs,
// UnknownProperty, PropertyReadOnly, UnknownMethod, UnknownObject).
inline constexpr const char* kErrorFailed = "Qmidiexe.QMIDIOLE.Error.Failed";
inline constexpr const char* kErrorNoInterface = "Qmidiexe.QMIDIOLE.Error.NoInterface";
inline constexpr const char* kErrorMemberNotFound = "Qmidiexe.QMIDIOLE.Error.MemberNotFound";
inline constexpr const char* kErrorLimitsExceeded = "org.freedesktop.DBus.Error.LimitsExceeded";
// How long a put of OnStatusDisp waits for the sink object's introspection.
constexpr int kSinkCheckTimeoutMs = 5000;
// How long an object whose creator left without using it waits for a call.
constexpr int kOrphanIdleMs = 10 * 60 * 1000;
// Objects one client connection may hold, and objects kept for clients
// that left without using them.
constexpr size_t kMaxObjectsPerClient = 256;
constexpr size_t kMaxOrphans = 256;
// Object numbers of one engine: its connection number times this, plus 1, 2, ...
constexpr uint64_t kObjectNumberSpan = 1000000000;
// How often the engine looks whether its bus connection is still there.
constexpr int kBusCheckMs = 1000;

// Whether a (bus name, object path) pair can be called: a unique name
// (":1.42") or a well-known name of two or more elements, and an object
// path, as the D-Bus specification writes them.
bool QHValidBusName(const QString& name);
bool QHValidObjectPath(const QString& path);

// The description of one interface (kFactoryInterface, kObjectInterface or
// the sink's QMIDICTLXControl.IQMIDICTLXEvents) as introspection XML: every
// member with its dispatch number and automation type, the GUIDs as
// annotations. A whole document (with comments on every member) when
// document is true, else the <interface> element as introspection returns it.
QString QHAutomationXml(const QString& interfaceName, bool document);

// -REGSERVER (doRegister) / -UNREGSERVER: writes or removes
// $XDG_DATA_HOME/dbus-1/services/Qmidiexe.QMIDIOLE.service (Exec = program
// -AUTOMATION) and the three interface files in $XDG_DATA_HOME/dbus-1/interfaces/,
// says what it did on standard output and asks a running session bus to
// read its service folders again. False when a file could not be written.
bool QHRegisterAutomation(bool doRegister, const QString& programPath);

class TAutomationServer final : public QDBusVirtualObject {
  Q_OBJECT

 public:
  struct Options {
    bool activated = false;  // -AUTOMATION / -EMBEDDING: end with the last object
  };

  TAutomationServer(TForm1& form, Options options);
  ~TAutomationServer() override;

  // Connects to the session bus, publishes the factory and takes the bus
  // name. Without a bus, or with the name taken, says so once (standard
  // error and trace log) and returns false: the engine runs without
  // automation.
  bool start();
  bool active() const { return active_; }
  size_t objectCount() const { return objects_.size(); }

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  struct Entry {
    std::shared_ptr<TQMIDIOLE> object;  // kept alive by a call that runs a dialog
    QString client;        // unique bus name of the creator ("" once it has left)
    bool claimed = false;  // the creator has called the object
    qint64 lastUse = 0;    // ms on the server's clock
  };

  void handleFactory(const QDBusMessage& message);
  // (The object is held by the call: a dialog of DEVICESET lets other calls,
  // its own Release() among them, run before the call returns.)
  void handleObject(const QDBusMessage& message, std::shared_ptr<TQMIDIOLE> object);
  void handleProperties(const QDBusMessage& message, std::shared_ptr<TQMIDIOLE> object);
  void invoke(const QDBusMessage& message, std::shared_ptr<TQMIDIOLE> object);

  QVariant read(TQMIDIOLE& object, const TOleMember& member);
  // Writes a property; puts of OnStatusDisp are answered later.
  void write(const QDBusMessage& message, TQMIDIOLE& object, const TOleMember& member, const QVariant& value,
             const QVariant& reply);
  void putSink(const QDBusMessage& message, const QVariant& value, const QVariant& reply);
  void installSink(const QString& service, const QString& path, uint64_t sequence);
  QVariant sinkValue() const;

  void release(uint64_t number);
  size_t objectsOf(const QString& client) const;
  void releaseOldestOrphans();
  void busLost();
  void releaseClient(const QString& client);
  void watchClient(const QString& client);
  void endIfDone();
  void releaseIdleOrphans();

  void reply(const QDBusMessage& message, const QVariantList& values = {});
  void fail(const QDBusMessage& message, const QString& name, const QString& text);

  TForm1& form_;
  Options options_;
  QDBusConnection connection_;
  bool active_ = false;
  std::map<uint64_t, Entry> objects_;
  uint64_t next_ = 1;
  uint64_t last_ = kObjectNumberSpan - 1;  // the last number this engine may give
  QTimer* busCheck_ = nullptr;
  QDBusServiceWatcher* clients_ = nullptr;
  QDBusServiceWatcher* sinkOwner_ = nullptr;
  QTimer* orphans_ = nullptr;
  QElapsedTimer clock_;
  TStatusSink* baseSink_ = nullptr;  // the sink in force before the bus (QMIDI_STATUS_LOG)
  std::unique_ptr<TBusStatusSink> sink_;
  uint64_t sinkPuts_ = 0;       // puts of OnStatusDisp asked for
  uint64_t sinkInstalled_ = 0;  // the put whose sink is in force
  bool ending_ = false;
};
