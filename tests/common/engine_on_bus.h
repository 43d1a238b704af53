// The engine as the bus starts it, for tests of its clients: registered with
// this test's private session bus (-REGSERVER into XDG_DATA_HOME, which the
// bus was started with), started on the first request for its name with the
// environment given here (capture devices, offscreen), and killed at the end.
#pragma once

#include <signal.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QMap>
#include <QProcess>
#include <QString>

#include <string>

namespace qtest {

inline QDBusMessage BusDaemonCall(const QString& method, const QVariantList& args = {}) {
  QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), method);
  m.setArguments(args);
  return QDBusConnection::sessionBus().call(m);
}

// The engine's process id while it owns its name, else 0.
inline qint64 EnginePid() {
  QDBusMessage r = BusDaemonCall(QStringLiteral("GetConnectionUnixProcessID"), {QStringLiteral("Qmidiexe.QMIDIOLE")});
  return r.type() == QDBusMessage::ReplyMessage ? r.arguments().first().toLongLong() : 0;
}

inline void KillEngine() {
  if (qint64 pid = EnginePid()) ::kill(static_cast<pid_t>(pid), SIGKILL);
}

// Registers the engine (program path) so that the bus starts it with env.
// Returns "" or what went wrong.
inline std::string RegisterEngineWithBus(const QString& program, const QMap<QString, QString>& env) {
  if (!QDBusConnection::sessionBus().isConnected()) return "no session bus";
  if (qEnvironmentVariableIsEmpty("XDG_DATA_HOME")) return "XDG_DATA_HOME is not set for the bus";
  QProcess reg;
  reg.start(program, {QStringLiteral("-REGSERVER")});
  if (!reg.waitForFinished(30000) || reg.exitCode() != 0)
    return "-REGSERVER failed: " + reg.readAllStandardError().toStdString();
  if (BusDaemonCall(QStringLiteral("ReloadConfig")).type() != QDBusMessage::ReplyMessage) return "ReloadConfig failed";
  qDBusRegisterMetaType<QMap<QString, QString>>();
  if (BusDaemonCall(QStringLiteral("UpdateActivationEnvironment"), {QVariant::fromValue(env)}).type() !=
      QDBusMessage::ReplyMessage)
    return "UpdateActivationEnvironment failed";
  return {};
}

}  // namespace qtest
