// The control without an engine: every engine member answers with its
// fallback at once, and the control is still a working label (clicks,
// visibility, caption, border, colour, cursor).
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "QMIDICTLXControl.h"
#include "control/cursor_codes.h"
#include "control/engine_link.h"

namespace {

QLabel* Label(TQMIDICTLX& c) { return c.findChild<QLabel*>(); }

}  // namespace

TEST(ControlWithoutEngine, GetsFallBackAndPutsAndMethodsSucceedQuickly) {
  QElapsedTimer created;
  created.start();
  TQMIDICTLX c;
  EXPECT_EQ(c.engineError(), -999);
  EXPECT_EQ(c.TIMERMIDI(), 4);
  EXPECT_EQ(c.SCOREWIDTH(), 400);
  EXPECT_EQ(c.SCOREHEIGHT(), 100);
  EXPECT_EQ(c.WRDDELAY(), -999);
  EXPECT_EQ(c.STEPTIME(), 1);
  EXPECT_TRUE(c.SCOREVISIBLE());
  EXPECT_TRUE(c.WRDVISIBLE());
  EXPECT_TRUE(c.OUTSTATUSENABLE());
  EXPECT_EQ(c.MIDITITLE(), QString());
  EXPECT_EQ(c.DEVICEID1A(), -1);
  EXPECT_EQ(c.SPEED(), -1);
  EXPECT_EQ(c.STATUSCODE(), -1);
  EXPECT_EQ(c.TIMERWRD(), 16);
  EXPECT_EQ(c.TIMEROUTSTATUS(), 32);
  EXPECT_EQ(c.ERRORCODE(), -999);

  // Nothing to reach: each call returns at once rather than waiting out its bound.
  QElapsedTimer calls;
  calls.start();
  c.setMIDIFILENAME(QStringLiteral("/no/such.mid"));
  c.PLAY();
  c.STOP();
  c.ALLCLOSE();
  c.setTIMERMIDI(8);
  EXPECT_EQ(c.TIMERMIDI(), 4);
  EXPECT_LT(calls.elapsed(), kEngineMethodTimeoutMs);
  EXPECT_LT(created.elapsed(), kEngineActivationTimeoutMs);

  // The same through Qt's property system, as a Designer form or a script sees it.
  EXPECT_EQ(c.property("SCOREWIDTH").toInt(), 400);
  EXPECT_TRUE(c.setProperty("MIDIFILENAME", QStringLiteral("x.mid")));
  EXPECT_EQ(c.property("MIDIFILENAME").toString(), QString());
  EXPECT_TRUE(QMetaObject::invokeMethod(&c, "PLAY"));
}

TEST(ControlWithoutEngine, ClickRaisesOnClickOnceAndADoubleClickNeverOnDblClick) {
  TQMIDICTLX c;
  c.resize(36, 20);
  c.show();
  QSignalSpy clicks(&c, &TQMIDICTLX::OnClick);
  QSignalSpy doubles(&c, &TQMIDICTLX::OnDblClick);
  QTest::mouseClick(Label(c), Qt::LeftButton);
  EXPECT_EQ(clicks.count(), 1);
  QTest::mouseClick(Label(c), Qt::RightButton);
  EXPECT_EQ(clicks.count(), 1);
  QTest::mouseDClick(Label(c), Qt::LeftButton);
  EXPECT_EQ(doubles.count(), 0);
  EXPECT_LE(clicks.count(), 2);  // the double click's first click at most
}

TEST(ControlWithoutEngine, VisibleIsTheControlsOwnFlag) {
  TQMIDICTLX c;
  c.show();
  EXPECT_TRUE(c.Visible());
  c.putVisible(false);
  EXPECT_FALSE(Label(c)->isVisible());
  Label(c)->show();  // someone shows the label behind the control's back
  EXPECT_FALSE(c.Visible());
  EXPECT_FALSE(Label(c)->isVisible());
  c.putVisible(true);
  EXPECT_TRUE(Label(c)->isVisible());
}

TEST(ControlWithoutEngine, LabelMembers) {
  TQMIDICTLX c;
  EXPECT_EQ(c.CAPOPTION(), 0);
  c.setCAPOPTION(7);
  EXPECT_EQ(c.CAPOPTION(), 7);

  c.setShowAccelChar(true);
  c.setCaption(QStringLiteral("&Play <now> && more"));
  EXPECT_EQ(c.Caption(), QStringLiteral("&Play <now> && more"));
  EXPECT_EQ(Label(c)->text(), QStringLiteral("<u>P</u>lay &lt;now&gt; &amp; more"));
  c.setShowAccelChar(false);
  EXPECT_EQ(Label(c)->text(), QStringLiteral("&amp;Play &lt;now&gt; &amp;&amp; more"));

  EXPECT_TRUE(c.AutoSize());
  c.setCaption(QStringLiteral("a much longer caption than before"));
  EXPECT_GE(c.width(), Label(c)->sizeHint().width());

  for (auto a : {TQMIDICTLX::taRightJustify, TQMIDICTLX::taCenter, TQMIDICTLX::taLeftJustify}) {
    c.setAlignment(a);
    EXPECT_EQ(c.Alignment(), a);
  }
  for (auto b : {TQMIDICTLX::sbsSingle, TQMIDICTLX::sbsSunken, TQMIDICTLX::sbsNone}) {
    c.setBorderStyle(b);
    EXPECT_EQ(c.BorderStyle(), b);
  }
  EXPECT_TRUE(c.ParentColor());
  c.setColor(0x00FF0000);  // OLE colours are blue-green-red
  EXPECT_FALSE(c.ParentColor());
  EXPECT_EQ(Label(c)->palette().color(QPalette::Window), QColor(0, 0, 255));
  EXPECT_EQ(c.Color(), 0x00FF0000);

  c.putCursor(-21);
  EXPECT_EQ(c.Cursor(), -21);
  EXPECT_EQ(Label(c)->cursor().shape(), Qt::PointingHandCursor);
  c.putEnabled(false);
  EXPECT_FALSE(c.Enabled());
  QFont f = c.Font();
  f.setPointSize(20);
  c.putFont(f);
  EXPECT_EQ(c.Font().pointSize(), 20);
  c.setDragMode(TQMIDICTLX::dmAutomatic);
  EXPECT_EQ(c.DragMode(), TQMIDICTLX::dmAutomatic);
  EXPECT_EQ(c.DragCursor(), kCursorDrag);
}

TEST(ControlWithoutEngine, CursorCodesAndColours) {
  EXPECT_EQ(QMCursorShape(0), Qt::ArrowCursor);
  EXPECT_EQ(QMCursorShape(-4), Qt::IBeamCursor);
  EXPECT_EQ(QMCursorShape(-11), Qt::WaitCursor);
  EXPECT_EQ(QMCursorShape(-22), Qt::SizeAllCursor);
  EXPECT_EQ(QMCursorShape(123), Qt::ArrowCursor);
  QPalette p;
  p.setColor(QPalette::Button, Qt::gray);
  EXPECT_EQ(QMOleColor(kOleButtonFace, p), QColor(Qt::gray));
  EXPECT_EQ(QMOleColor(0x00336699, p), QColor(0x99, 0x66, 0x33));
  EXPECT_EQ(QMDisplayCaption(QStringLiteral("a&"), true), QStringLiteral("a&amp;"));
}
