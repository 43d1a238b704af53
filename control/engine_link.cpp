#include "control/engine_link.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>

namespace {

const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

TEngineLink::TEngineLink(QDBusConnection bus) : bus_(std::move(bus)) {}

TEngineLink::~TEngineLink() { release(); }

QString TEngineLink::currentOwner() const {
  if (!bus_.isConnected() || !bus_.interface()) return {};
  QDBusReply<QString> owner = bus_.interface()->serviceOwner(QString::fromLatin1(kEngineService));
  return owner.isValid() ? owner.value() : QString();
}

bool TEngineLink::create() { return createObject(true); }

bool TEngineLink::createObject(bool startEngine) {
  path_.clear();
  owner_.clear();
  if (!bus_.isConnected()) return false;
  QDBusMessage m = QDBusMessage::createMethodCall(QString::fromLatin1(kEngineService),
                                                  QString::fromLatin1(kEngineFactoryPath),
                                                  QString::fromLatin1(kEngineFactoryInterface),
                                                  QStringLiteral("CreateObject"));
  m.setAutoStartService(startEngine);
  QDBusMessage reply = bus_.call(m, QDBus::Block, startEngine ? kEngineActivationTimeoutMs : kEngineMethodTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  const QString path = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
  const QString owner = reply.service();  // the unique name that answered
  if (path.isEmpty() || owner.isEmpty()) return false;
  path_ = path;
  owner_ = owner;
  return true;
}

// Our object is there while its engine runs. After the engine went, a new
// engine owning the name gets a new object; without one, nothing is started.
bool TEngineLink::ensureObject() {
  if (connected()) return true;
  if (currentOwner().isEmpty()) return false;
  return createObject(false);
}

// serving: the container's events (and the calls its bus objects receive)
// keep running while the engine is busy with this call.
QDBusMessage TEngineLink::send(QDBusMessage message, int timeoutMs, bool serving) {
  message.setAutoStartService(false);
  QDBusMessage reply;
  if (serving) {
    QDBusPendingCall pending = bus_.asyncCall(message, timeoutMs);
    QDBusPendingCallWatcher watcher(pending);
    QEventLoop loop;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
    if (!pending.isFinished()) loop.exec();
    reply = pending.reply();
  } else {
    reply = bus_.call(message, QDBus::Block, timeoutMs);
  }
  if (reply.type() == QDBusMessage::ErrorMessage) forgetIfGone(reply.errorName());
  return reply;
}

void TEngineLink::forgetIfGone(const QString& error) {
  const QString prefix = QStringLiteral("org.freedesktop.DBus.Error.");
  const bool gone = error == prefix + QLatin1String("ServiceUnknown") ||
                    error == prefix + QLatin1String("NameHasNoOwner") ||
                    error == prefix + QLatin1String("UnknownObject") ||
                    error == prefix + QLatin1String("Disconnected");
  // No reply in time: gone only when another engine (or none) owns the name now.
  const bool silent = error == prefix + QLatin1String("NoReply") && currentOwner() != owner_;
  if (!gone && !silent) return;
  path_.clear();
  owner_.clear();
}

std::optional<QVariant> TEngineLink::get(const char* property) { return getOf(kEngineInterface, property); }

std::optional<QVariant> TEngineLink::getPlayback(const char* property) {
  return getOf(kPlaybackInterface, property);
}

std::optional<int> TEngineLink::seek(int ms) {
  if (!ensureObject()) return std::nullopt;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, QString::fromLatin1(kPlaybackInterface),
                                                  QStringLiteral("Seek"));
  m << ms;
  QDBusMessage reply = send(m, kEngineMethodTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
  return reply.arguments().first().toInt();
}

std::optional<QVariant> TEngineLink::getOf(const char* interface, const char* property) {
  if (!ensureObject()) return std::nullopt;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, kPropertiesInterface, QStringLiteral("Get"));
  m << QString::fromLatin1(interface) << QString::fromLatin1(property);
  QDBusMessage reply = send(m, kEnginePropertyTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
  return qvariant_cast<QDBusVariant>(reply.arguments().first()).variant();
}

bool TEngineLink::put(const char* property, const QVariant& value) {
  if (!ensureObject()) return false;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, kPropertiesInterface, QStringLiteral("Set"));
  m << QString::fromLatin1(kEngineInterface) << QString::fromLatin1(property)
    << QVariant::fromValue(QDBusVariant(value));
  return send(m, kEnginePropertyTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

// The engine answers this put only after it has asked the sink object, on
// this very connection, which interface it has: the container's events
// must keep running meanwhile, or both sides wait for each other.
// The engine answers this put only after it has asked the sink object, on
// this very connection, which interface it has: the container's events
// must keep running meanwhile, or both sides wait for each other.
bool TEngineLink::putSink(const TSinkAddress& sink) {
  if (!ensureObject()) return false;
  QDBusArgument address;
  address.beginStructure();
  address << sink.service << QDBusObjectPath(sink.path.isEmpty() ? QStringLiteral("/") : sink.path);
  address.endStructure();
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, kPropertiesInterface, QStringLiteral("Set"));
  m << QString::fromLatin1(kEngineInterface) << QStringLiteral("OnStatusDisp")
    << QVariant::fromValue(QDBusVariant(QVariant::fromValue(address)));
  return send(m, kEngineSinkTimeoutMs, true).type() == QDBusMessage::ReplyMessage;
}

bool TEngineLink::call(const char* method, bool waitForUser) {
  if (!ensureObject()) return false;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, QString::fromLatin1(kEngineInterface),
                                                  QString::fromLatin1(method));
  const int timeout = waitForUser ? kEngineDialogTimeoutMs : kEngineMethodTimeoutMs;
  return send(m, timeout, waitForUser).type() == QDBusMessage::ReplyMessage;
}

void TEngineLink::release() {
  if (!connected() || !bus_.isConnected()) return;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, QString::fromLatin1(kEngineInterface),
                                                  QStringLiteral("Release"));
  m.setAutoStartService(false);
  bus_.send(m);  // no waiting: a gone engine must not hold up the container
  path_.clear();
  owner_.clear();
}
