// The control's line to the engine: one engine object on the session bus,
// created at start (the bus starts the engine when it is registered and not
// running), reached by its owner's unique name so that a restarted engine is
// never mistaken for the old one. Every call is bounded; a failed call says
// so and the caller falls back. When the engine has gone and another one
// owns the name, the next call creates a new object there.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>

#include <optional>

inline constexpr const char* kEngineService = "Qmidiexe.QMIDIOLE";
inline constexpr const char* kEngineFactoryPath = "/Qmidiexe/QMIDIOLE";
inline constexpr const char* kEngineFactoryInterface = "Qmidiexe.QMIDIOLEFactory";
inline constexpr const char* kEngineInterface = "Qmidiexe.IQMIDIOLE";

// How long calls may take before the engine counts as unreachable.
inline constexpr int kEnginePropertyTimeoutMs = 1000;
inline constexpr int kEngineMethodTimeoutMs = 5000;
// Starting the engine through the bus (a cold start of a Qt program).
inline constexpr int kEngineActivationTimeoutMs = 15000;
// A sink put waits for the engine to look at the sink object.
inline constexpr int kEngineSinkTimeoutMs = 6000;
// The port and option dialogs are modal in the engine: wait for the user,
// but not for ever (an engine without a display refuses them at once; one
// whose dialog nobody closes must not hold the container's call).
inline constexpr int kEngineDialogTimeoutMs = 10 * 60 * 1000;

// A status sink as the engine's OnStatusDisp takes it: bus name and object
// path; ("", "/") is none.
struct TSinkAddress {
  QString service;
  QString path = QStringLiteral("/");
  bool isNull() const { return service.isEmpty(); }
};

class TEngineLink {
 public:
  explicit TEngineLink(QDBusConnection bus);
  ~TEngineLink();
  TEngineLink(const TEngineLink&) = delete;
  TEngineLink& operator=(const TEngineLink&) = delete;

  // Creates the engine object, starting the engine if needed. False when
  // no engine could be reached.
  bool create();
  bool connected() const { return !path_.isEmpty(); }

  std::optional<QVariant> get(const char* property);
  bool put(const char* property, const QVariant& value);
  bool putSink(const TSinkAddress& sink);
  // A method without arguments; waitForUser keeps the container's events
  // running while the engine shows a dialog.
  bool call(const char* method, bool waitForUser = false);
  // Gives the object back (Release), without waiting for the engine.
  void release();

 private:
  QDBusMessage send(QDBusMessage message, int timeoutMs, bool serving = false);
  // After an error: forgets the object when the engine or the object is gone.
  void forgetIfGone(const QString& error);
  bool ensureObject();
  bool createObject(bool startEngine);
  QString currentOwner() const;

  QDBusConnection bus_;
  QString owner_;  // unique name of the engine that holds our object
  QString path_;   // our object there; empty when none
};
