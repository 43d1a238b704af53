#include "QMIDICTLXControl.h"

#include <QCoreApplication>

#include <algorithm>
#include <QMetaMethod>
#include <QResizeEvent>
#include <QThread>
#include <QVBoxLayout>

#include "control/cursor_codes.h"
#include "control/qmidictl.h"

TQMIDICTLX::TQMIDICTLX(QWidget* parent) : QWidget(parent), inner_(std::make_unique<TQMIDICTL>(this)) {
  inner_->setGeometry(rect());
  setParentColor(true);
  connect(inner_.get(), &TQMIDICTL::clicked, this, &TQMIDICTLX::OnClick);
  connect(&inner_->sinkObject(), &TStatusSinkObject::status, this, &TQMIDICTLX::OnStatus);
  setAutoSize(true);
}

// The inner label (and with it the engine object and the sink) goes first;
// playback is left alone.
TQMIDICTLX::~TQMIDICTLX() { inner_.reset(); }

int TQMIDICTLX::engineError() const { return inner_->engineError(); }
bool TQMIDICTLX::hasStatusSink() const { return inner_->sinkStored(); }

// ---- forwarding: gets fall back, puts and methods swallow failures

namespace {

// Lets the container repaint and take input before a call that may wait
// for the engine, as the original control did.
void Preamble() {
  QCoreApplication::processEvents();
  QThread::yieldCurrentThread();
}

int AsInt(const std::optional<QVariant>& v, int fallback) {
  bool ok = false;
  int value = v ? v->toInt(&ok) : 0;
  return ok ? value : fallback;
}

bool AsBool(const std::optional<QVariant>& v, bool fallback) {
  return v && v->canConvert<bool>() ? v->toBool() : fallback;
}

QString AsString(const std::optional<QVariant>& v) { return v ? v->toString() : QString(); }

}  // namespace

#define QMIDICTLX_INT(name, fallback, writable)                                              \
  int TQMIDICTLX::name() const { return AsInt(inner_->engine().get(#name), fallback); }      \
  QMIDICTLX_PUT_##writable(name, int, value)
#define QMIDICTLX_BOOL(name, fallback, writable)                                              \
  bool TQMIDICTLX::name() const { return AsBool(inner_->engine().get(#name), fallback); }    \
  QMIDICTLX_PUT_##writable(name, bool, value)
#define QMIDICTLX_STRING(name, writable)                                                      \
  QString TQMIDICTLX::name() const { return AsString(inner_->engine().get(#name)); }         \
  QMIDICTLX_PUT_##writable(name, const QString&, value)
#define QMIDICTLX_PUT_true(name, type, value) \
  void TQMIDICTLX::set##name(type value) { inner_->engine().put(#name, QVariant::fromValue(value)); }
#define QMIDICTLX_PUT_false(name, type, value)

QMIDICTLX_INT(DEVICEID1A, -1, true)
QMIDICTLX_INT(DEVICEID1B, -1, true)
QMIDICTLX_INT(DEVICEID2A, -1, true)
QMIDICTLX_INT(DEVICEID2B, -1, true)
QMIDICTLX_INT(ERRORCODE, -999, false)
QMIDICTLX_STRING(MIDIFILENAME, true)
QMIDICTLX_INT(RESETMODE, -1, true)
QMIDICTLX_INT(SCOREHEIGHT, 100, true)
QMIDICTLX_INT(SCORELEFT, 0, true)
QMIDICTLX_INT(SCORETOP, 0, true)
QMIDICTLX_BOOL(SCOREVISIBLE, true, true)
QMIDICTLX_INT(SCOREWIDTH, 400, true)
QMIDICTLX_INT(SPEED, -1, true)
QMIDICTLX_INT(STATUSCODE, -1, false)
QMIDICTLX_INT(WRDDELAY, -999, true)
QMIDICTLX_BOOL(WRDFULLSCREEN, true, true)
QMIDICTLX_INT(WRDLEFT, 0, true)
QMIDICTLX_INT(WRDTOP, 0, true)
QMIDICTLX_BOOL(WRDVISIBLE, true, true)
QMIDICTLX_INT(DEVBALANCE, 0, true)
QMIDICTLX_INT(DEVVOLUME, 0, true)
QMIDICTLX_INT(EXTOPTION1, 0, true)
QMIDICTLX_INT(EXTOPTION2, 0, true)
QMIDICTLX_INT(EXTOPTION3, 0, true)
QMIDICTLX_INT(EXTOPTION4, 0, true)
QMIDICTLX_INT(MIDICURRENTTIME1, 0, true)
QMIDICTLX_INT(MIDICURRENTTIME2, 0, true)
QMIDICTLX_INT(MIDIDISABLE, 0, true)
QMIDICTLX_STRING(MIDIMEMO, true)
QMIDICTLX_INT(MIDITIMEOPTION1, 0, true)
QMIDICTLX_INT(MIDITIMEOPTION2, 0, true)
QMIDICTLX_STRING(MIDITITLE, true)
QMIDICTLX_INT(MIDITOTALTIME1, 0, false)
QMIDICTLX_INT(MIDITOTALTIME2, 0, false)
QMIDICTLX_INT(OUTSTATUSBNK, 0, false)
QMIDICTLX_INT(OUTSTATUSCH, 0, true)
QMIDICTLX_BOOL(OUTSTATUSENABLE, true, true)
QMIDICTLX_INT(OUTSTATUSID, 0, false)
QMIDICTLX_INT(OUTSTATUSLEVEL, 0, false)
QMIDICTLX_STRING(OUTSTATUSMEMO, false)
QMIDICTLX_INT(SCORECH, 0, true)
QMIDICTLX_INT(SCOREOPTION, 0, true)
QMIDICTLX_INT(STEPTIME, 1, true)
QMIDICTLX_INT(STOPOPTION, 0, true)
QMIDICTLX_INT(TIMERMIDI, 4, true)
QMIDICTLX_INT(TIMEROUTSTATUS, 32, true)
QMIDICTLX_INT(TIMERSCORE, 32, true)
QMIDICTLX_INT(TIMERWRD, 16, true)
QMIDICTLX_INT(TITLEVISIBLE, 0, true)
QMIDICTLX_INT(WINDOWSTATUS, 0, true)

void TQMIDICTLX::DEVICESET() {
  Preamble();
  inner_->engine().call("DEVICESET", true);
}

void TQMIDICTLX::OPTIONSET() {
  Preamble();
  inner_->engine().call("OPTIONSET", true);
}

#define QMIDICTLX_METHOD(name) \
  void TQMIDICTLX::name() {    \
    Preamble();                \
    inner_->engine().call(#name); \
  }
QMIDICTLX_METHOD(PAUSE)
QMIDICTLX_METHOD(RESTART)
QMIDICTLX_METHOD(STATUS)
QMIDICTLX_METHOD(STEP)
QMIDICTLX_METHOD(STOP)

void TQMIDICTLX::SEEK(int ms) {
  Preamble();
  const int length = LENGTH();
  inner_->engine().seek(std::clamp(ms, 0, length > 0 ? length : std::max(ms, 0)));
}

int TQMIDICTLX::POSITION() const { return AsInt(inner_->engine().getPlayback("Position"), 0); }
int TQMIDICTLX::LENGTH() const { return AsInt(inner_->engine().getPlayback("Length"), 0); }

// The control that asks to play receives the engine's reports.
void TQMIDICTLX::PLAY() {
  Preamble();
  inner_->resendSink();
  inner_->engine().call("PLAY");
}

void TQMIDICTLX::ALLCLOSE() {
  Preamble();
  inner_->engine().call("STOP");
  inner_->clearSink();
}

// ---- the status sink follows the container's connections to OnStatus

void TQMIDICTLX::connectNotify(const QMetaMethod& signal) {
  if (signal == QMetaMethod::fromSignal(&TQMIDICTLX::OnStatus)) inner_->connectSink();
}

void TQMIDICTLX::disconnectNotify(const QMetaMethod& signal) {
  // An invalid method: everything was disconnected at once.
  if ((!signal.isValid() || signal == QMetaMethod::fromSignal(&TQMIDICTLX::OnStatus)) &&
      !isSignalConnected(QMetaMethod::fromSignal(&TQMIDICTLX::OnStatus)))
    inner_->forgetSink();
}

// ---- the label

int TQMIDICTLX::CAPOPTION() const { return inner_->capOption; }
void TQMIDICTLX::setCAPOPTION(int value) { inner_->capOption = value; }

TQMIDICTLX::TxAlignment TQMIDICTLX::Alignment() const {
  Qt::Alignment a = inner_->alignment() & Qt::AlignHorizontal_Mask;
  return a & Qt::AlignRight ? taRightJustify : a & Qt::AlignHCenter ? taCenter : taLeftJustify;
}

void TQMIDICTLX::setAlignment(TxAlignment value) {
  const Qt::Alignment h = value == taRightJustify ? Qt::AlignRight : value == taCenter ? Qt::AlignHCenter : Qt::AlignLeft;
  inner_->setAlignment(h | Qt::AlignTop);
}

bool TQMIDICTLX::AutoSize() const { return inner_->label.autoSize; }

void TQMIDICTLX::setAutoSize(bool value) {
  inner_->label.autoSize = value;
  if (value) resize(inner_->sizeHint().expandedTo(QSize(1, 1)));
}

TQMIDICTLX::TxStaticBorderStyle TQMIDICTLX::BorderStyle() const {
  if (inner_->frameShape() == QFrame::NoFrame) return sbsNone;
  return inner_->frameShadow() == QFrame::Sunken ? sbsSunken : sbsSingle;
}

void TQMIDICTLX::setBorderStyle(TxStaticBorderStyle value) {
  inner_->setFrameShape(value == sbsNone ? QFrame::NoFrame : value == sbsSingle ? QFrame::Box : QFrame::Panel);
  inner_->setFrameShadow(value == sbsSunken ? QFrame::Sunken : QFrame::Plain);
  if (AutoSize()) setAutoSize(true);
}

QString TQMIDICTLX::Caption() const { return inner_->label.caption; }

void TQMIDICTLX::setCaption(const QString& value) {
  inner_->label.caption = value;
  inner_->setText(QMDisplayCaption(value, ShowAccelChar()));
  if (AutoSize()) setAutoSize(true);
}

int TQMIDICTLX::Color() const { return inner_->label.color; }

void TQMIDICTLX::setColor(int value) {
  inner_->label.color = value;
  setParentColor(false);
}

short TQMIDICTLX::DragCursor() const { return inner_->label.dragCursor; }
void TQMIDICTLX::setDragCursor(short value) { inner_->label.dragCursor = value; }

TQMIDICTLX::TxDragMode TQMIDICTLX::DragMode() const {
  return inner_->label.dragAutomatic ? dmAutomatic : dmManual;
}
void TQMIDICTLX::setDragMode(TxDragMode value) { inner_->label.dragAutomatic = value == dmAutomatic; }

bool TQMIDICTLX::Enabled() const { return inner_->isEnabled(); }
void TQMIDICTLX::putEnabled(bool value) { inner_->setEnabled(value); }

QFont TQMIDICTLX::Font() const { return inner_->font(); }

void TQMIDICTLX::putFont(const QFont& value) {
  inner_->setFont(value);
  if (AutoSize()) setAutoSize(true);
}

bool TQMIDICTLX::ParentColor() const { return !inner_->autoFillBackground(); }

void TQMIDICTLX::setParentColor(bool value) {
  inner_->setAutoFillBackground(!value);
  if (value) return;
  QPalette p = inner_->palette();
  p.setColor(QPalette::Window, QMOleColor(Color(), palette()));
  inner_->setPalette(p);
}

bool TQMIDICTLX::ShowAccelChar() const { return inner_->label.showAccelChar; }

void TQMIDICTLX::setShowAccelChar(bool value) {
  inner_->label.showAccelChar = value;
  setCaption(Caption());
}

bool TQMIDICTLX::Visible() {
  inner_->setVisible(visible_);
  return visible_;
}

void TQMIDICTLX::putVisible(bool value) {
  visible_ = value;
  inner_->setVisible(value);
}

short TQMIDICTLX::Cursor() const { return inner_->label.cursor; }

void TQMIDICTLX::putCursor(short value) {
  inner_->label.cursor = value;
  inner_->setCursor(QMCursorShape(value));
}

void TQMIDICTLX::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  inner_->setGeometry(rect());
}
