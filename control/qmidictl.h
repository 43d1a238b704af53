// The control's inner pieces: TQMIDICTL, the label the container sees, with
// the engine link and the values of the control itself; and the status sink
// object the control exports on the container's bus connection, through
// which the engine's reports reach the container.
#pragma once

#include <QDBusConnection>
#include <QLabel>
#include <QObject>

#include <memory>

#include "control/cursor_codes.h"
#include "control/engine_link.h"

inline constexpr const char* kSinkInterfaceName = "QMIDICTLXControl.IQMIDICTLXEvents";
inline constexpr int kEngineErrorNoEngine = -999;

// QMIDICTLXControl.IQMIDICTLXEvents, exported at /QMIDICTLXControl/Sink<n>.
// The engine calls OnStatus without waiting for a reply.
class TStatusSinkObject final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "QMIDICTLXControl.IQMIDICTLXEvents")

 public:
  explicit TStatusSinkObject(QDBusConnection bus);
  ~TStatusSinkObject() override;
  TSinkAddress address() const;

 public slots:
  Q_NOREPLY void OnClick();
  Q_NOREPLY void OnDblClick();
  Q_NOREPLY void OnStatus(int Value1, int Value2, int Value3, int Value4);

 signals:
  void status(int value1, int value2, int value3, int value4);

 private:
  QDBusConnection bus_;
  QString path_;
  bool exported_ = false;
};

class TQMIDICTL final : public QLabel {
  Q_OBJECT

 public:
  explicit TQMIDICTL(QWidget* parent);
  ~TQMIDICTL() override;

  TEngineLink& engine() { return *engine_; }
  int engineError() const { return engineError_; }
  int capOption = 0;

  // The label's values that Qt's label does not keep itself.
  struct LabelValues {
    bool autoSize = true;
    QString caption;
    int color = kOleButtonFace;
    short dragCursor = kCursorDrag;
    bool dragAutomatic = false;
    bool showAccelChar = true;
    short cursor = kCursorDefault;
  } label;

  // Connects the control's sink: stored, then handed to the engine.
  void connectSink();
  // Forgets the stored sink (the container let go of the events).
  void forgetSink() { sinkStored_ = false; }
  bool sinkStored() const { return sinkStored_; }
  // Hands the stored sink (or none) to the engine again.
  void resendSink();
  // Stores no sink and clears the engine's.
  void clearSink();
  TStatusSinkObject& sinkObject() { return *sink_; }

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  bool doubleClicked_ = false;  // the release that ends a double click is no click
  std::unique_ptr<TEngineLink> engine_;
  std::unique_ptr<TStatusSinkObject> sink_;
  int engineError_ = 0;
  bool sinkStored_ = false;
};
