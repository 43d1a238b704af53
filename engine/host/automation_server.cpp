#include "engine/host/automation_server.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>
#include <algorithm>

#include "engine/host/automation_sink.h"
#include "engine/host/engine_forms.h"
#include "support/trace.h"

namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString kPeer = QStringLiteral("org.freedesktop.DBus.Peer");

QString Latin(const char* s) { return QString::fromLatin1(s); }

const char* DBusType(TOleType t) {
  switch (t) {
    case TOleType::I4: return "i";
    case TOleType::BOOL: return "b";
    case TOleType::BSTR: return "s";
    case TOleType::Unknown: return "(so)";
    case TOleType::Method: return "";
  }
  return "";
}

const char* AutomationType(TOleType t) {
  switch (t) {
    case TOleType::I4: return "I4";
    case TOleType::BOOL: return "BOOL";
    case TOleType::BSTR: return "BSTR";
    case TOleType::Unknown: return "IUnknown";
    case TOleType::Method: return "method";
  }
  return "";
}

QString XmlEscape(const QString& s) { return s.toHtmlEscaped(); }

// --- the interface descriptions -------------------------------------------------

void Annotation(QString& x, const QString& indent, const char* name, const QString& value) {
  x += indent + QStringLiteral("<annotation name=\"%1\" value=\"%2\"/>\n").arg(Latin(name), XmlEscape(value));
}

void Comment(QString& x, const QString& indent, bool document, const QString& text) {
  if (document) x += indent + QStringLiteral("<!-- %1 -->\n").arg(XmlEscape(text).replace(QLatin1String("--"), QLatin1String("- -")));
}

QString ObjectInterfaceXml(bool document) {
  QString x;
  const QString i1 = QStringLiteral("  "), i2 = QStringLiteral("    "), i3 = QStringLiteral("      ");
  Comment(x, i1, document,
          QStringLiteral("The engine's automation object (coclass QMIDIOLE, dual interface IQMIDIOLE of "
                         "type library Qmidiexe): one per CreateObject, all sharing the engine's one player. "
                         "Properties and methods carry their dispatch numbers; GetIDsOfNames and Invoke reach "
                         "the same members by number (Invoke flags: 1 method, 2 get, 4 put; methods and puts "
                         "return the variant i 0). A guarded put changes nothing, and succeeds, while another "
                         "object owns playback. Texts are UTF-8, at most 255 characters."));
  x += i1 + QStringLiteral("<interface name=\"%1\">\n").arg(Latin(kObjectInterface));
  Annotation(x, i2, "org.freedesktop.DBus.Property.EmitsChangedSignal", QStringLiteral("false"));
  Annotation(x, i2, "Qmidiexe.Uuid", Latin(kOleInterfaceGuid));
  Annotation(x, i2, "Qmidiexe.CoClass", QStringLiteral("QMIDIOLE %1").arg(Latin(kOleClassGuid)));
  Annotation(x, i2, "Qmidiexe.TypeLibrary",
             QStringLiteral("%1 1.0 %2 \"%3\"").arg(Latin(kOleLibraryName), Latin(kOleLibraryGuid),
                                                     Latin(kOleLibraryHelp)));
  for (const TOleMember& m : QHOleMembers()) {
    Comment(x, i2, document, QStringLiteral("%1 (dispid %2). %3").arg(Latin(m.name)).arg(m.dispid).arg(QString::fromUtf8(m.doc)));
    if (m.type == TOleType::Method) {
      x += i2 + QStringLiteral("<method name=\"%1\">\n").arg(Latin(m.name));
    } else {
      const char* access = m.get && m.put ? "readwrite" : m.put ? "write" : "read";
      x += i2 + QStringLiteral("<property name=\"%1\" type=\"%2\" access=\"%3\">\n")
                    .arg(Latin(m.name), Latin(DBusType(m.type)), Latin(access));
    }
    Annotation(x, i3, "Qmidiexe.DispId", QString::number(m.dispid));
    Annotation(x, i3, "Qmidiexe.AutomationType", Latin(AutomationType(m.type)));
    if (m.type != TOleType::Method)  // the engine-wide values change without signals
      Annotation(x, i3, "org.freedesktop.DBus.Property.EmitsChangedSignal", QStringLiteral("false"));
    if (m.guarded) Annotation(x, i3, "Qmidiexe.GuardedPut", QStringLiteral("true"));
    if (m.type == TOleType::Unknown) Annotation(x, i3, "Qmidiexe.SinkInterface", Latin(kSinkInterface));
    x += i2 + (m.type == TOleType::Method ? QStringLiteral("</method>\n") : QStringLiteral("</property>\n"));
  }
  Comment(x, i2, document,
          QStringLiteral("Release: the client gives its object back (playback, owner and sink stay). "
                         "An object whose creator leaves the bus after having called it is released too; "
                         "one its creator never called (a one-shot command's) stays until a Release "
                         "from anyone, or ten minutes without a call."));
  x += i2 + QStringLiteral("<method name=\"Release\"/>\n");
  Comment(x, i2, document,
          QStringLiteral("GetIDsOfNames: the dispatch numbers of member names (letter case ignored); -1 for "
                         "a name that is not a member."));
  x += i2 + QStringLiteral("<method name=\"GetIDsOfNames\">\n");
  x += i3 + QStringLiteral("<arg name=\"names\" type=\"as\" direction=\"in\"/>\n");
  x += i3 + QStringLiteral("<arg name=\"dispids\" type=\"ai\" direction=\"out\"/>\n");
  x += i2 + QStringLiteral("</method>\n");
  Comment(x, i2, document,
          QStringLiteral("Invoke: a member by dispatch number. flags 1 calls a method, 2 reads a property, "
                         "4 writes args[0] into it; the result is the value read, else i 0."));
  x += i2 + QStringLiteral("<method name=\"Invoke\">\n");
  x += i3 + QStringLiteral("<arg name=\"dispid\" type=\"i\" direction=\"in\"/>\n");
  x += i3 + QStringLiteral("<arg name=\"flags\" type=\"i\" direction=\"in\"/>\n");
  x += i3 + QStringLiteral("<arg name=\"args\" type=\"av\" direction=\"in\"/>\n");
  x += i3 + QStringLiteral("<arg name=\"result\" type=\"v\" direction=\"out\"/>\n");
  x += i2 + QStringLiteral("</method>\n");
  x += i1 + QStringLiteral("</interface>\n");
  return x;
}

QString FactoryInterfaceXml(bool document) {
  QString x;
  Comment(x, QStringLiteral("  "), document,
          QStringLiteral("The class factory of QMIDIOLE (multiple use): every call makes a new automation "
                         "object for its caller at /Qmidiexe/QMIDIOLE/<n> (empty strings, ERRORCODE 0)."));
  x += QStringLiteral("  <interface name=\"%1\">\n").arg(Latin(kFactoryInterface));
  Annotation(x, QStringLiteral("    "), "Qmidiexe.Uuid", Latin(kOleClassGuid));
  x += QStringLiteral("    <method name=\"CreateObject\">\n"
                      "      <arg name=\"object\" type=\"o\" direction=\"out\"/>\n"
                      "    </method>\n"
                      "  </interface>\n");
  return x;
}

QString SinkInterfaceXml(bool document) {
  QString x;
  Comment(x, QStringLiteral("  "), document,
          QStringLiteral("The status sink a client exports and names in OnStatusDisp. The engine calls "
                         "OnStatus(Value1..Value4) with no reply expected: Value1 > 0 progress (the four "
                         "status values, every TIMERWRD ms), -1 ended and stop, -2 ended and continue, "
                         "-3 key down / -4 key up (Value2 virtual-key code, Value3 modifier code)."));
  x += QStringLiteral("  <interface name=\"%1\">\n").arg(Latin(kSinkInterface));
  Annotation(x, QStringLiteral("    "), "Qmidiexe.Uuid", Latin(kOleEventsGuid));
  x += QStringLiteral(
      "    <method name=\"OnClick\">\n"
      "      <annotation name=\"Qmidiexe.DispId\" value=\"1\"/>\n"
      "      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n"
      "    </method>\n"
      "    <method name=\"OnDblClick\">\n"
      "      <annotation name=\"Qmidiexe.DispId\" value=\"2\"/>\n"
      "      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n"
      "    </method>\n"
      "    <method name=\"OnStatus\">\n"
      "      <arg name=\"Value1\" type=\"i\" direction=\"in\"/>\n"
      "      <arg name=\"Value2\" type=\"i\" direction=\"in\"/>\n"
      "      <arg name=\"Value3\" type=\"i\" direction=\"in\"/>\n"
      "      <arg name=\"Value4\" type=\"i\" direction=\"in\"/>\n"
      "      <annotation name=\"Qmidiexe.DispId\" value=\"3\"/>\n"
      "      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n"
      "    </method>\n"
      "  </interface>\n");
  return x;
}

// --- values ------------------------------------------------------------------------

// A number from any numeric or boolean variant (true is -1).
std::optional<int32_t> ToNumber(const QVariant& v) {
  bool ok = false;
  switch (v.metaType().id()) {
    case QMetaType::Bool: return v.toBool() ? -1 : 0;
    case QMetaType::Double: {
      const double d = std::nearbyint(v.toDouble());
      if (!(d >= -2147483648.0 && d <= 2147483647.0)) return std::nullopt;
      return static_cast<int32_t>(d);
    }
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
      const qlonglong n = v.toLongLong(&ok);
      if (v.metaType().id() == QMetaType::ULongLong && v.toULongLong() > 0xFFFFFFFFull) return std::nullopt;
      // Unsigned 32-bit values keep their bits (0xFFFFFFFF is -1).
      if (!ok || n < -2147483648LL || n > 4294967295LL) return std::nullopt;
      return static_cast<int32_t>(static_cast<uint32_t>(n));
    }
    default: return std::nullopt;
  }
}

// (bus name, object path) from a put of OnStatusDisp.
bool ToSink(const QVariant& v, QString* service, QString* path) {
  if (v.metaType() != QMetaType::fromType<QDBusArgument>()) return false;
  const QDBusArgument arg = v.value<QDBusArgument>();
  if (arg.currentSignature() != QLatin1String("(so)")) return false;
  QDBusObjectPath p;
  arg.beginStructure();
  arg >> *service >> p;
  arg.endStructure();
  *path = p.path();
  return true;
}

QVariant SinkVariant(const QString& service, const QString& path) {
  QDBusArgument a;
  a.beginStructure();
  a << service << QDBusObjectPath(path);
  a.endStructure();
  return QVariant::fromValue(a);
}

// The arguments of Invoke (av) as a list of plain values.
QVariantList ToList(const QVariant& v) {
  QVariantList in;
  if (v.metaType() == QMetaType::fromType<QVariantList>()) in = v.toList();
  else if (v.metaType() == QMetaType::fromType<QDBusArgument>()) v.value<QDBusArgument>() >> in;
  QVariantList out;
  for (const QVariant& e : in)
    out << (e.metaType() == QMetaType::fromType<QDBusVariant>() ? e.value<QDBusVariant>().variant() : e);
  return out;
}

QVariant Wrapped(const QVariant& v) { return QVariant::fromValue(QDBusVariant(v)); }

// The object number of a path below the factory's; 0 for any other path.
uint64_t ObjectNumber(const QString& path) {
  const QString prefix = Latin(kFactoryPath) + QLatin1Char('/');
  if (!path.startsWith(prefix)) return 0;
  bool ok = false;
  const uint64_t n = path.mid(prefix.size()).toULongLong(&ok, 10);
  return ok && QString::number(n) == path.mid(prefix.size()) ? n : 0;
}

QString ObjectPath(uint64_t n) { return Latin(kFactoryPath) + QLatin1Char('/') + QString::number(n); }

// The first object number of an engine whose connection is uniqueName: the
// bus never gives a unique name twice, and its last element counts up.
uint64_t FirstObjectNumber(const QString& uniqueName) {
  bool ok = false;
  const uint64_t serial = uniqueName.mid(uniqueName.lastIndexOf(QLatin1Char('.')) + 1).toULongLong(&ok, 10);
  if (ok && serial < UINT64_MAX / kObjectNumberSpan) return serial * kObjectNumberSpan + 1;
  return 1;  // a bus with other names: numbers are still unique in this engine
}

// [A-Za-z0-9_], and '-' in bus names.
bool NameCharacter(QChar c, bool busName) {
  const char16_t u = c.unicode();
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
         (busName && u == '-');
}

bool NameElementsValid(const QStringList& elements, bool unique) {
  if (elements.size() < 2) return false;
  for (const QString& e : elements) {
    if (e.isEmpty() || (!unique && e.front().isDigit())) return false;
    for (QChar c : e)
      if (!NameCharacter(c, true)) return false;
  }
  return true;
}

// One line on standard error and the same text in the trace log.
void Say(const QString& text) {
  const QByteArray t = text.toUtf8();
  std::fprintf(stderr, "qmidiexe: %s\n", t.constData());
  QGTrText("TAutomationServer " + t.toStdString());
}

}  // namespace

bool QHValidBusName(const QString& name) {
  if (name.isEmpty() || name.size() > 255) return false;
  const bool unique = name.front() == QLatin1Char(':');
  return NameElementsValid((unique ? name.mid(1) : name).split(QLatin1Char('.')), unique);
}

bool QHValidObjectPath(const QString& path) {
  if (path == QLatin1String("/")) return true;
  if (!path.startsWith(QLatin1Char('/'))) return false;
  for (const QString& e : path.mid(1).split(QLatin1Char('/'))) {
    if (e.isEmpty()) return false;
    for (QChar c : e)
      if (!NameCharacter(c, false)) return false;
  }
  return true;
}

QString QHAutomationXml(const QString& interfaceName, bool document) {
  QString body;
  if (interfaceName == Latin(kObjectInterface)) body = ObjectInterfaceXml(document);
  else if (interfaceName == Latin(kFactoryInterface)) body = FactoryInterfaceXml(document);
  else if (interfaceName == Latin(kSinkInterface)) body = SinkInterfaceXml(document);
  if (!document || body.isEmpty()) return body;
  return QStringLiteral(
             "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n"
             "<!-- Written by qmidiexe -REGSERVER: the automation interface of the QMIDI engine\n"
             "     (bus name Qmidiexe.QMIDIOLE). Annotations Qmidiexe.DispId give each member's\n"
             "     dispatch number, Qmidiexe.Uuid the GUIDs of the type library. -->\n"
             "<node>\n") +
         body + QStringLiteral("</node>\n");
}

bool QHRegisterAutomation(bool doRegister, const QString& programPath) {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
  const QString services = data + QStringLiteral("/dbus-1/services");
  const QString interfaces = data + QStringLiteral("/dbus-1/interfaces");
  const QString serviceFile = services + QLatin1Char('/') + Latin(kBusName) + QStringLiteral(".service");
  const QStringList names = {Latin(kObjectInterface), Latin(kFactoryInterface), Latin(kSinkInterface)};
  bool ok = true;
  auto write = [&](const QString& path, const QString& text) {
    QSaveFile f(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !f.open(QIODevice::WriteOnly) ||
        f.write(text.toUtf8()) < 0 || !f.commit()) {
      std::fprintf(stderr, "qmidiexe: cannot write %s\n", path.toUtf8().constData());
      QGTrText("QHRegisterAutomation");
      ok = false;
      return;
    }
    std::printf("qmidiexe: wrote %s\n", path.toUtf8().constData());
  };
  auto remove = [&](const QString& path) {
    if (!QFile::exists(path)) return;
    if (QFile::remove(path)) {
      std::printf("qmidiexe: removed %s\n", path.toUtf8().constData());
    } else {
      std::fprintf(stderr, "qmidiexe: cannot remove %s\n", path.toUtf8().constData());
      ok = false;
    }
  };
  if (doRegister) {
    // The bus splits Exec like a shell: quote a path that needs it.
    QString exec = QFileInfo(programPath).absoluteFilePath();
    if (exec.contains(QRegularExpression(QStringLiteral("[^A-Za-z0-9_./+-]")))) {
      exec.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
      exec = QLatin1Char('"') + exec + QLatin1Char('"');
    }
    write(serviceFile, QStringLiteral("# Written by qmidiexe -REGSERVER: the session bus starts the engine\n"
                                      "# when a client calls %1 (removed by -UNREGSERVER).\n"
                                      "[D-BUS Service]\nName=%1\nExec=%2 -AUTOMATION\n")
                           .arg(Latin(kBusName), exec));
    for (const QString& n : names) write(interfaces + QLatin1Char('/') + n + QStringLiteral(".xml"), QHAutomationXml(n, true));
  } else {
    remove(serviceFile);
    for (const QString& n : names) remove(interfaces + QLatin1Char('/') + n + QStringLiteral(".xml"));
  }
  std::fflush(stdout);
  // A running session bus reads its service folders again (one that did not
  // exist when it started is seen only then).
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QDBusMessage reload = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReloadConfig"));
    bus.call(reload, QDBus::Block, 5000);
  }
  return ok;
}

// ---------------------------------------------------------------- the server

TAutomationServer::TAutomationServer(TForm1& form, Options options)
    : form_(form), options_(options), connection_(QStringLiteral("qmidiexe-none")) {
  baseSink_ = form_.statusSink();
  clock_.start();
}

TAutomationServer::~TAutomationServer() {
  if (form_.statusSink() == sink_.get()) form_.setStatusSink(baseSink_);
  if (active_) {
    connection_.unregisterService(Latin(kBusName));
    connection_.unregisterObject(Latin(kFactoryPath), QDBusConnection::UnregisterTree);
  }
}

bool TAutomationServer::start() {
  connection_ = QDBusConnection::sessionBus();
  if (!connection_.isConnected()) {
    // The bus library's own words ("Unable to autolaunch a dbus-daemon
    // without a $DISPLAY for X11") go to the trace log only.
    QGTrText("TAutomationServer.start " + connection_.lastError().message().toStdString());
    Say(QStringLiteral("no session bus, so other programs cannot drive this engine (automation is off)"));
    return false;
  }
  if (!connection_.registerVirtualObject(Latin(kFactoryPath), this, QDBusConnection::SubPath)) {
    Say(QStringLiteral("cannot publish %1 on the session bus; automation is off").arg(Latin(kFactoryPath)));
    return false;
  }
  if (!connection_.registerService(Latin(kBusName))) {
    connection_.unregisterObject(Latin(kFactoryPath), QDBusConnection::UnregisterTree);
    const QString why = connection_.lastError().message();
    Say(QStringLiteral("the bus name %1 is taken (another engine serves it)%2; automation is off")
            .arg(Latin(kBusName), why.isEmpty() ? QString() : QStringLiteral(": %1").arg(why)));
    return false;
  }
  next_ = FirstObjectNumber(connection_.baseService());
  last_ = next_ + kObjectNumberSpan - 2;
  busCheck_ = new QTimer(this);
  connect(busCheck_, &QTimer::timeout, this, [this] {
    if (!connection_.isConnected()) busLost();
  });
  busCheck_->start(kBusCheckMs);
  clients_ = new QDBusServiceWatcher(QString(), connection_, QDBusServiceWatcher::WatchForUnregistration, this);
  connect(clients_, &QDBusServiceWatcher::serviceUnregistered, this,
          [this](const QString& name) { releaseClient(name); });
  sinkOwner_ = new QDBusServiceWatcher(QString(), connection_, QDBusServiceWatcher::WatchForOwnerChange, this);
  connect(sinkOwner_, &QDBusServiceWatcher::serviceOwnerChanged, this,
          [this](const QString& name, const QString&, const QString& owner) {
            if (sink_ && sink_->service() == name) sink_->setPresent(!owner.isEmpty());
          });
  active_ = true;
  return true;
}

QString TAutomationServer::introspect(const QString& path) const {
  if (path == Latin(kFactoryPath)) {
    QString x = QHAutomationXml(Latin(kFactoryInterface), false);
    for (const auto& [n, e] : objects_) x += QStringLiteral("  <node name=\"%1\"/>\n").arg(n);
    return x;
  }
  if (objects_.count(ObjectNumber(path))) return QHAutomationXml(Latin(kObjectInterface), false);
  return {};
}

bool TAutomationServer::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  const QString iface = message.interface();
  // Introspection and Peer are the bus library's (introspect() above gives our part).
  if (message.path() == Latin(kFactoryPath)) {
    if (iface == kIntrospectable || iface == kPeer) return false;
    if (iface.isEmpty() && message.member() == QLatin1String("Introspect")) return false;
    handleFactory(message);
    return true;
  }
  auto it = objects_.find(ObjectNumber(message.path()));
  if (it != objects_.end()) {
    // Any call of its creator ties an object to the creator's connection.
    if (message.service() == it->second.client) it->second.claimed = true;
    it->second.lastUse = clock_.elapsed();
  }
  if (iface == kIntrospectable || iface == kPeer) return false;
  if (iface.isEmpty() && message.member() == QLatin1String("Introspect")) return false;
  if (it == objects_.end()) {
    fail(message, QDBusError::errorString(QDBusError::UnknownObject),
         QStringLiteral("No such object path '%1'").arg(message.path()));
    return true;
  }
  if (iface == kProperties) handleProperties(message, it->second.object);
  else if (iface.isEmpty() || iface == Latin(kObjectInterface)) handleObject(message, it->second.object);
  else
    fail(message, QDBusError::errorString(QDBusError::UnknownInterface),
         QStringLiteral("No such interface '%1' at object path '%2'").arg(iface, message.path()));
  return true;
}

void TAutomationServer::reply(const QDBusMessage& message, const QVariantList& values) {
  if (!message.isReplyRequired()) return;
  connection_.send(message.createReply(values));
}

void TAutomationServer::fail(const QDBusMessage& message, const QString& name, const QString& text) {
  if (!message.isReplyRequired()) return;
  connection_.send(message.createErrorReply(name, text));
}

// ---------------------------------------------------------------- factory

void TAutomationServer::handleFactory(const QDBusMessage& message) {
  const QString iface = message.interface();
  if (iface == kProperties) {
    // The factory has no properties.
    if (message.member() == QLatin1String("GetAll")) reply(message, {QVariant::fromValue(QVariantMap())});
    else fail(message, QDBusError::errorString(QDBusError::UnknownProperty), QStringLiteral("The factory has no properties"));
    return;
  }
  if ((iface.isEmpty() || iface == Latin(kFactoryInterface)) && message.member() == QLatin1String("CreateObject") &&
      message.signature().isEmpty()) {
    if (ending_) {
      fail(message, Latin(kErrorFailed), QStringLiteral("The engine is ending"));
      return;
    }
    const QString client = message.service();
    if (objectsOf(client) >= kMaxObjectsPerClient) {
      fail(message, Latin(kErrorLimitsExceeded),
           QStringLiteral("This connection holds %1 objects, the most one client may; Release() one first")
               .arg(kMaxObjectsPerClient));
      return;
    }
    if (next_ > last_) {
      fail(message, Latin(kErrorLimitsExceeded), QStringLiteral("This engine has given out all its object numbers"));
      return;
    }
    const uint64_t n = next_++;
    objects_[n] = Entry{std::make_shared<TQMIDIOLE>(form_, n), client, false, clock_.elapsed()};
    watchClient(client);
    reply(message, {QVariant::fromValue(QDBusObjectPath(ObjectPath(n)))});
    return;
  }
  fail(message, QDBusError::errorString(iface.isEmpty() || iface == Latin(kFactoryInterface) ? QDBusError::UnknownMethod
                                                                                             : QDBusError::UnknownInterface),
       QStringLiteral("No method %1.%2(%3) at %4").arg(iface, message.member(), message.signature(), message.path()));
}

// ---------------------------------------------------------------- objects

void TAutomationServer::handleObject(const QDBusMessage& message, std::shared_ptr<TQMIDIOLE> object) {
  const QString member = message.member();
  const QString sig = message.signature();
  if (member == QLatin1String("Release") && sig.isEmpty()) {
    reply(message);
    release(object->number());
    return;
  }
  if (member == QLatin1String("GetIDsOfNames") && sig == QLatin1String("as")) {
    QList<int> ids;
    for (const QString& name : message.arguments().value(0).toStringList()) {
      const TOleMember* m = QHOleMemberNamed(name.toStdString());
      ids << (m ? m->dispid : kOleDispUnknown);
    }
    reply(message, {QVariant::fromValue(ids)});
    return;
  }
  if (member == QLatin1String("Invoke") && sig == QLatin1String("iiav")) {
    invoke(message, object);
    return;
  }
  const QByteArray name = member.toLatin1();
  for (const TOleMember& m : QHOleMembers()) {
    if (m.type != TOleType::Method || name != m.name) continue;
    if (!sig.isEmpty()) break;
    try {
      object->call(m.dispid);
      reply(message);
    } catch (const TOleFailure& f) {
      QGTrText(std::string("TQMIDIOLE.") + m.name);
      fail(message, Latin(kErrorFailed), QString::fromStdString(f.text));
    } catch (const std::exception& e) {
      QGTrText(std::string("TQMIDIOLE.") + m.name);
      fail(message, Latin(kErrorFailed), QString::fromUtf8(e.what()));
    }
    return;
  }
  fail(message, QDBusError::errorString(QDBusError::UnknownMethod),
       QStringLiteral("No method %1(%2) in %3").arg(member, sig, Latin(kObjectInterface)));
}

QVariant TAutomationServer::read(TQMIDIOLE& object, const TOleMember& m) {
  switch (m.type) {
    case TOleType::I4: return object.getNumber(m.dispid);
    case TOleType::BOOL: return object.getNumber(m.dispid) != 0;
    case TOleType::BSTR: return QString::fromStdString(object.getText(m.dispid));
    case TOleType::Unknown: return sinkValue();
    case TOleType::Method: break;
  }
  throw TOleFailure{std::string(m.name) + " is a method"};
}

void TAutomationServer::write(const QDBusMessage& message, TQMIDIOLE& object, const TOleMember& m, const QVariant& value,
                              const QVariant& answer) {
  const QString invalid = QDBusError::errorString(QDBusError::InvalidArgs);
  switch (m.type) {
    case TOleType::I4:
    case TOleType::BOOL: {
      const std::optional<int32_t> n = ToNumber(value);
      if (!n) {
        fail(message, invalid,
             QStringLiteral("%1 takes a number (%2), not %3").arg(Latin(m.name), Latin(DBusType(m.type)), Latin(value.typeName())));
        return;
      }
      try {
        object.putNumber(m.dispid, *n);
      } catch (const TOleInvalidValue& e) {
        fail(message, invalid, QString::fromStdString(e.text));
        return;
      }
      break;
    }
    case TOleType::BSTR:
      if (value.metaType() != QMetaType::fromType<QString>()) {
        fail(message, invalid, QStringLiteral("%1 takes a string (s)").arg(Latin(m.name)));
        return;
      }
      try {
        object.putText(m.dispid, value.toString().toStdString());
      } catch (const TOleInvalidValue& e) {
        fail(message, invalid, QString::fromStdString(e.text));
        return;
      }
      break;
    case TOleType::Unknown: putSink(message, value, answer); return;
    case TOleType::Method: fail(message, invalid, QStringLiteral("%1 is a method").arg(Latin(m.name))); return;
  }
  reply(message, answer.isValid() ? QVariantList{answer} : QVariantList{});
}

void TAutomationServer::handleProperties(const QDBusMessage& message, std::shared_ptr<TQMIDIOLE> object) {
  const QString member = message.member();
  const QString sig = message.signature();
  const QVariantList args = message.arguments();
  const QString iface = args.value(0).toString();
  if (!iface.isEmpty() && iface != Latin(kObjectInterface)) {
    fail(message, QDBusError::errorString(QDBusError::UnknownInterface),
         QStringLiteral("No interface %1 at %2").arg(iface, message.path()));
    return;
  }
  auto find = [&](const QString& name) -> const TOleMember* {
    const QByteArray n = name.toLatin1();
    for (const TOleMember& m : QHOleMembers())
      if (m.type != TOleType::Method && n == m.name) return &m;
    fail(message, QDBusError::errorString(QDBusError::UnknownProperty),
         QStringLiteral("No property %1 in %2").arg(name, Latin(kObjectInterface)));
    return nullptr;
  };
  try {
    if (member == QLatin1String("Get") && sig == QLatin1String("ss")) {
      const TOleMember* m = find(args.value(1).toString());
      if (!m) return;
      reply(message, {Wrapped(read(*object, *m))});
    } else if (member == QLatin1String("Set") && sig == QLatin1String("ssv")) {
      const TOleMember* m = find(args.value(1).toString());
      if (!m) return;
      if (!m->put) {
        fail(message, QDBusError::errorString(QDBusError::PropertyReadOnly),
             QStringLiteral("Property %1 is read-only").arg(Latin(m->name)));
        return;
      }
      write(message, *object, *m, args.value(2).value<QDBusVariant>().variant(), QVariant());
    } else if (member == QLatin1String("GetAll") && sig == QLatin1String("s")) {
      QVariantMap all;
      for (const TOleMember& m : QHOleMembers())
        if (m.type != TOleType::Method && m.get) all.insert(Latin(m.name), read(*object, m));
      reply(message, {QVariant::fromValue(all)});
    } else {
      fail(message, QDBusError::errorString(QDBusError::UnknownMethod),
           QStringLiteral("No method %1(%2) in %3").arg(member, sig, kProperties));
    }
  } catch (const TOleFailure& f) {
    QGTrText("TQMIDIOLE." + args.value(1).toString().toStdString());
    fail(message, Latin(kErrorFailed), QString::fromStdString(f.text));
  } catch (const std::exception& e) {
    QGTrText("TQMIDIOLE." + args.value(1).toString().toStdString());
    fail(message, Latin(kErrorFailed), QString::fromUtf8(e.what()));
  }
}

void TAutomationServer::invoke(const QDBusMessage& message, std::shared_ptr<TQMIDIOLE> object) {
  const QVariantList args = message.arguments();
  const int32_t dispid = args.value(0).toInt();
  const int32_t flags = args.value(1).toInt();
  const QVariantList params = ToList(args.value(2));
  const TOleMember* m = QHOleMember(dispid);
  if (!m) {
    fail(message, Latin(kErrorMemberNotFound), QStringLiteral("No member with dispatch number %1").arg(dispid));
    return;
  }
  const QVariant none = Wrapped(0);
  try {
    if (m->type == TOleType::Method) {
      if (!(flags & 1)) {
        fail(message, Latin(kErrorMemberNotFound), QStringLiteral("%1 is a method (flags 1)").arg(Latin(m->name)));
        return;
      }
      object->call(dispid);
      reply(message, {none});
    } else if (flags & (4 | 8)) {
      if (!m->put) {
        fail(message, QDBusError::errorString(QDBusError::PropertyReadOnly),
             QStringLiteral("Property %1 is read-only").arg(Latin(m->name)));
        return;
      }
      if (params.isEmpty()) {
        fail(message, QDBusError::errorString(QDBusError::InvalidArgs),
             QStringLiteral("A put of %1 needs its value in args").arg(Latin(m->name)));
        return;
      }
      write(message, *object, *m, params.front(), none);
    } else if (flags & 2) {
      if (!m->get) {
        fail(message, Latin(kErrorMemberNotFound), QStringLiteral("%1 cannot be read").arg(Latin(m->name)));
        return;
      }
      reply(message, {Wrapped(read(*object, *m))});
    } else {
      fail(message, Latin(kErrorMemberNotFound),
           QStringLiteral("%1 is a property (flags 2 get, 4 put)").arg(Latin(m->name)));
    }
  } catch (const TOleFailure& f) {
    QGTrText(std::string("TQMIDIOLE.") + m->name);
    fail(message, Latin(kErrorFailed), QString::fromStdString(f.text));
  } catch (const std::exception& e) {
    QGTrText(std::string("TQMIDIOLE.") + m->name);
    fail(message, Latin(kErrorFailed), QString::fromUtf8(e.what()));
  }
}

// ---------------------------------------------------------------- the status sink

QVariant TAutomationServer::sinkValue() const {
  return sink_ ? SinkVariant(sink_->service(), sink_->path()) : SinkVariant(QString(), QStringLiteral("/"));
}

void TAutomationServer::putSink(const QDBusMessage& message, const QVariant& value, const QVariant& answer) {
  QString service, path;
  if (!ToSink(value, &service, &path)) {
    fail(message, QDBusError::errorString(QDBusError::InvalidArgs),
         QStringLiteral("OnStatusDisp takes (so): the sink's bus name and object path (\"\", \"/\") for none"));
    return;
  }
  // (libdbus aborts the process on a call to a malformed name: checked first.)
  if (!service.isEmpty() && (!QHValidBusName(service) || !QHValidObjectPath(path))) {
    fail(message, QDBusError::errorString(QDBusError::InvalidArgs),
         QStringLiteral("OnStatusDisp: (\"%1\", \"%2\") is no bus name and object path; a bus name is a unique "
                        "name (\":1.42\") or two or more elements joined by dots (\"org.example.Client\")")
             .arg(service, path));
    return;
  }
  const uint64_t sequence = ++sinkPuts_;
  const QVariantList answered = answer.isValid() ? QVariantList{answer} : QVariantList{};
  if (service.isEmpty()) {  // null: no sink
    installSink(QString(), QString(), sequence);
    reply(message, answered);
    return;
  }
  // Does the object provide the event interface? Asked without waiting: the
  // put is answered when the client's introspection comes back.
  QDBusMessage ask = QDBusMessage::createMethodCall(service, path, kIntrospectable, QStringLiteral("Introspect"));
  ask.setAutoStartService(false);
  auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(ask, kSinkCheckTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, message, service, path, sequence, answered](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusMessage r = w->reply();
            if (r.type() != QDBusMessage::ReplyMessage) {
              fail(message, Latin(kErrorNoInterface),
                   QStringLiteral("The sink %1 %2 did not answer: %3").arg(service, path, r.errorMessage()));
              return;
            }
            if (!QHIntrospectionHasInterface(r.arguments().value(0).toString(), Latin(kSinkInterface))) {
              fail(message, Latin(kErrorNoInterface),
                   QStringLiteral("The object %1 %2 lacks the interface %3").arg(service, path, Latin(kSinkInterface)));
              return;
            }
            installSink(service, path, sequence);
            reply(message, answered);
          });
}

void TAutomationServer::installSink(const QString& service, const QString& path, uint64_t sequence) {
  if (sequence < sinkInstalled_) return;  // a later put has decided already
  sinkInstalled_ = sequence;
  if (sink_ && sinkOwner_) sinkOwner_->removeWatchedService(sink_->service());
  if (service.isEmpty()) {
    form_.setStatusSink(baseSink_);
    sink_.reset();
    return;
  }
  auto sink = std::make_unique<TBusStatusSink>(connection_, service, path);
  form_.setStatusSink(sink.get());
  sink_ = std::move(sink);
  if (sinkOwner_) sinkOwner_->addWatchedService(service);
}

// ---------------------------------------------------------------- life

void TAutomationServer::watchClient(const QString& client) {
  if (!clients_ || client.isEmpty() || clients_->watchedServices().contains(client)) return;
  clients_->addWatchedService(client);
  // A client that left before the watch began is found out by asking.
  QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
  ask << client;
  auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(ask), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, client](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    const QDBusMessage r = w->reply();
    if (r.type() == QDBusMessage::ReplyMessage && !r.arguments().value(0).toBool()) releaseClient(client);
  });
}

size_t TAutomationServer::objectsOf(const QString& client) const {
  size_t n = 0;
  for (const auto& [number, e] : objects_) n += e.client == client;
  return n;
}

void TAutomationServer::release(uint64_t number) {
  auto it = objects_.find(number);
  if (it == objects_.end()) return;
  const QString client = it->second.client;
  objects_.erase(it);
  bool more = false;
  for (const auto& [n, e] : objects_) more = more || e.client == client;
  if (!more && clients_) clients_->removeWatchedService(client);
  endIfDone();
}

void TAutomationServer::releaseClient(const QString& client) {
  for (auto it = objects_.begin(); it != objects_.end();) {
    if (it->second.client != client) {
      ++it;
    } else if (it->second.claimed) {
      it = objects_.erase(it);
    } else {
      it->second.client.clear();  // never used by its creator: kept until a Release()
      it->second.lastUse = clock_.elapsed();
      ++it;
      if (!orphans_) {
        orphans_ = new QTimer(this);
        orphans_->setInterval(kOrphanIdleMs / 10);
        connect(orphans_, &QTimer::timeout, this, [this] { releaseIdleOrphans(); });
      }
      orphans_->start();
    }
  }
  if (clients_) clients_->removeWatchedService(client);
  releaseOldestOrphans();
  endIfDone();
}

void TAutomationServer::releaseOldestOrphans() {
  std::vector<std::pair<qint64, uint64_t>> orphans;  // (last use, number)
  for (const auto& [n, e] : objects_)
    if (e.client.isEmpty()) orphans.emplace_back(e.lastUse, n);
  if (orphans.size() <= kMaxOrphans) return;
  std::sort(orphans.begin(), orphans.end());
  for (size_t i = 0; i < orphans.size() - kMaxOrphans; ++i) objects_.erase(orphans[i].second);
}

// The bus went away (its daemon ended: the session is over). An engine the
// bus started has nobody left to serve; one playing the song it was
// started with plays it to its end.
void TAutomationServer::busLost() {
  busCheck_->stop();
  active_ = false;
  const bool ends = options_.activated && !form_.state().CommandLineMode;
  Say(ends ? QStringLiteral("the session bus has gone; the engine ends")
           : QStringLiteral("the session bus has gone; automation is off"));
  if (!ends || ending_) return;
  ending_ = true;
  QCoreApplication::quit();
}

void TAutomationServer::releaseIdleOrphans() {
  bool left = false;
  for (auto it = objects_.begin(); it != objects_.end();) {
    const bool orphan = it->second.client.isEmpty();
    if (orphan && clock_.elapsed() - it->second.lastUse >= kOrphanIdleMs) {
      it = objects_.erase(it);
    } else {
      left = left || orphan;
      ++it;
    }
  }
  if (!left && orphans_) orphans_->stop();
  endIfDone();
}

void TAutomationServer::endIfDone() {
  if (!options_.activated || !objects_.empty() || ending_) return;
  // After the reply that released the last object has gone out.
  QTimer::singleShot(0, this, [this] {
    if (!objects_.empty() || ending_) return;
    ending_ = true;
    // New clients start a new engine from here on.
    connection_.unregisterService(Latin(kBusName));
    QCoreApplication::quit();
  });
}
