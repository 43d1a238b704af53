#include "control/qmidictl.h"

#include <QMouseEvent>

#include <atomic>
#include <utility>

namespace {

std::atomic<int> g_nextSink{1};

}  // namespace

TStatusSinkObject::TStatusSinkObject(QDBusConnection bus) : bus_(std::move(bus)) {
  path_ = QStringLiteral("/QMIDICTLXControl/Sink%1").arg(g_nextSink++);
  if (bus_.isConnected())
    exported_ = bus_.registerObject(path_, this, QDBusConnection::ExportAllSlots);
}

TStatusSinkObject::~TStatusSinkObject() {
  if (exported_) bus_.unregisterObject(path_);
}

TSinkAddress TStatusSinkObject::address() const {
  if (!exported_) return {};
  return TSinkAddress{bus_.baseService(), path_};
}

void TStatusSinkObject::OnClick() {}
void TStatusSinkObject::OnDblClick() {}
void TStatusSinkObject::OnStatus(int value1, int value2, int value3, int value4) {
  emit status(value1, value2, value3, value4);
}

TQMIDICTL::TQMIDICTL(QWidget* parent)
    : QLabel(parent),
      engine_(std::make_unique<TEngineLink>(QDBusConnection::sessionBus())),
      sink_(std::make_unique<TStatusSinkObject>(QDBusConnection::sessionBus())) {
  if (!engine_->create()) engineError_ = kEngineErrorNoEngine;
}

TQMIDICTL::~TQMIDICTL() = default;

void TQMIDICTL::connectSink() {
  const TSinkAddress address = sink_->address();
  if (address.isNull()) return;  // not on the bus: no events, the engine's sink stays
  sinkStored_ = true;
  engine_->putSink(address);
}

void TQMIDICTL::resendSink() { engine_->putSink(sinkStored_ ? sink_->address() : TSinkAddress{}); }

void TQMIDICTL::clearSink() {
  sinkStored_ = false;
  engine_->putSink(TSinkAddress{});
}

void TQMIDICTL::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  const bool second = std::exchange(doubleClicked_, false);
  if (event->button() == Qt::LeftButton && !second && rect().contains(event->position().toPoint()))
    emit clicked();
}

void TQMIDICTL::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  doubleClicked_ = event->button() == Qt::LeftButton;
}
