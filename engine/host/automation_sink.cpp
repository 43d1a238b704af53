#include "engine/host/automation_sink.h"

#include <QDBusMessage>
#include <QXmlStreamReader>

TBusStatusSink::TBusStatusSink(QDBusConnection connection, QString service, QString path)
    : connection_(std::move(connection)), service_(std::move(service)), path_(std::move(path)) {}

void TBusStatusSink::OnStatus(int32_t v1, int32_t v2, int32_t v3, int32_t v4) {
  if (!present_) return;  // the client has left the bus: costs nothing
  QDBusMessage call = QDBusMessage::createMethodCall(service_, path_, QString::fromLatin1(kSinkInterface),
                                                     QStringLiteral("OnStatus"));
  call << v1 << v2 << v3 << v4;
  call.setAutoStartService(false);
  // QDBusConnection::send marks a call "no reply expected" and only queues
  // it for the connection's own thread: the engine never waits here.
  if (connection_.send(call)) ++sent_;
}

bool QHIntrospectionHasInterface(const QString& xml, const QString& interfaceName) {
  QXmlStreamReader r(xml);
  int depth = 0;
  while (!r.atEnd()) {
    switch (r.readNext()) {
      case QXmlStreamReader::StartElement:
        ++depth;
        // <node> is depth 1; its own interfaces are depth 2.
        if (depth == 2 && r.name() == QLatin1String("interface") &&
            r.attributes().value(QLatin1String("name")) == interfaceName)
          return true;
        break;
      case QXmlStreamReader::EndElement: --depth; break;
      default: break;
    }
  }
  return false;
}
