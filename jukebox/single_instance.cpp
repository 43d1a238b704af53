#include "jukebox/single_instance.h"

#include <QDBusMessage>
#include <QTimer>

#include "jukebox/form1.h"

namespace {

constexpr int kHandOverTimeoutMs = 5000;

}  // namespace

TJukeboxInstance::TJukeboxInstance(TForm1& form)
    : form_(form), bus_(QStringLiteral("quormidi-no-instance-bus")) {}

TJukeboxInstance::~TJukeboxInstance() {
  if (!started_) return;
  bus_.unregisterObject(QString::fromLatin1(kPath));
  bus_.unregisterService(QString::fromLatin1(kBusName));
}

bool TJukeboxInstance::start(QDBusConnection bus) {
  bus_ = bus;
  if (!bus_.isConnected()) return false;
  if (!bus_.registerObject(QString::fromLatin1(kPath), this, QDBusConnection::ExportAllSlots)) return false;
  if (!bus_.registerService(QString::fromLatin1(kBusName))) {
    bus_.unregisterObject(QString::fromLatin1(kPath));
    return false;
  }
  started_ = true;
  return true;
}

void TJukeboxInstance::AddSongs(const QStringList& paths, bool start) {
  // Answered at once: the second program ends while the list grows.
  QTimer::singleShot(0, &form_, [form = &form_, paths, start] {
    if (!paths.isEmpty()) form->addSongs(paths, start, QStringLiteral("/"));
    form->showNormal();
    form->raise();
    form->activateWindow();
  });
}

bool QGHandToRunningJukebox(const QStringList& paths, bool start, QDBusConnection bus) {
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(TJukeboxInstance::kBusName),
                                                     QString::fromLatin1(TJukeboxInstance::kPath),
                                                     QStringLiteral("org.quor.Quormidi"), QStringLiteral("AddSongs"));
  call.setAutoStartService(false);
  call << paths << start;
  return bus.call(call, QDBus::Block, kHandOverTimeoutMs).type() == QDBusMessage::ReplyMessage;
}
