// The status sink a client registers through OnStatusDisp: an object the
// client exports on its own bus connection with the interface
// QMIDICTLXControl.IQMIDICTLXEvents (methods OnClick(), OnDblClick(),
// OnStatus(iiii)). Every report is one OnStatus call sent with no reply
// expected and without starting a service, so the engine never waits for
// the client; while the sink's bus name has no owner nothing is sent.
#pragma once

#include <QDBusConnection>
#include <QString>

#include "engine/host/status_sink.h"

inline constexpr const char* kSinkInterface = "QMIDICTLXControl.IQMIDICTLXEvents";

class TBusStatusSink final : public TStatusSink {
 public:
  TBusStatusSink(QDBusConnection connection, QString service, QString path);

  const QString& service() const { return service_; }
  const QString& path() const { return path_; }
  // Whether the sink's bus name has an owner (the server follows it).
  void setPresent(bool present) { present_ = present; }
  bool present() const { return present_; }
  // Reports sent (for tests and the benchmark).
  uint64_t sent() const { return sent_; }

  void OnStatus(int32_t value1, int32_t value2, int32_t value3, int32_t value4) override;

 private:
  QDBusConnection connection_;
  QString service_;
  QString path_;
  bool present_ = true;
  uint64_t sent_ = 0;
};

// Whether introspection data names the interface on its object (the
// interfaces of the top node, not of child nodes).
bool QHIntrospectionHasInterface(const QString& xml, const QString& interfaceName);
