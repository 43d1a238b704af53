#include "control/engine_link.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

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

QDBusMessage TEngineLink::send(QDBusMessage message, int timeoutMs, bool waitForUser) {
  message.setAutoStartService(false);
  QDBusMessage reply = bus_.call(message, waitForUser ? QDBus::BlockWithGui : QDBus::Block, timeoutMs);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    const QString error = reply.errorName();
    // The engine (or our object in it) is gone: look again at the next call.
    if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
        error == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
        error == QLatin1String("org.freedesktop.DBus.Error.NoReply")) {
      if (error != QLatin1String("org.freedesktop.DBus.Error.NoReply") || currentOwner() != owner_) {
        path_.clear();
        owner_.clear();
      }
    }
  }
  return reply;
}

std::optional<QVariant> TEngineLink::get(const char* property) {
  if (!ensureObject()) return std::nullopt;
  QDBusMessage m = QDBusMessage::createMethodCall(owner_, path_, kPropertiesInterface, QStringLiteral("Get"));
  m << QString::fromLatin1(kEngineInterface) << QString::fromLatin1(property);
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

bool TEngineLink::putSink(const TSinkAddress& sink) {
  QDBusArgument address;
  address.beginStructure();
  address << sink.service << QDBusObjectPath(sink.path.isEmpty() ? QStringLiteral("/") : sink.path);
  address.endStructure();
  return put("OnStatusDisp", QVariant::fromValue(address));
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
