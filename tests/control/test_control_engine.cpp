// The control against the real engine. The engine is registered with the
// private session bus of this test (-REGSERVER into XDG_DATA_HOME, then the
// bus reloads its configuration) and started by the bus when the first
// control is created, on capture devices and the offscreen platform.
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

#include "QMIDICTLXControl.h"
#include "control/engine_link.h"
#include "tests/common/engine_on_bus.h"
#include "tests/common/test_files.h"
#include "tests/song/song_fixture.h"

namespace {

using songtest::Smf;
using songtest::Track;

// Notes for about `seconds` at 120 beats a minute (division 96).
std::string WriteSong(const qtest::TempDir& dir, const std::string& name, int seconds) {
  Track t;
  t.tempo(0, 500000);
  for (int beat = 0; beat < seconds * 2; ++beat)
    t.at(beat == 0 ? 0 : 48, {0x90, static_cast<uint8_t>(60 + beat % 12), 100}).at(48, {0x80, static_cast<uint8_t>(60 + beat % 12), 0});
  t.end();
  return dir.write(name, Smf(96, {t}));
}

using qtest::EnginePid;

class ControlWithEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string problem = qtest::RegisterEngineWithBus(
        QStringLiteral(QMIDIEXE_PATH),
        {{QStringLiteral("QMIDI_CAPTURE"), QString::fromStdString(dir.file("capture"))},
         {QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.file("config"))},
         {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")},
         {QStringLiteral("QMIDI_FRAMES"), QString()}});
    ASSERT_EQ(problem, "");
  }

  void TearDown() override { qtest::KillEngine(); }

  // Waits for a status report with value1 == wanted (or any progress for 1).
  static bool WaitFor(QSignalSpy& spy, int wanted, int ms) {
    QElapsedTimer t;
    t.start();
    for (;;) {
      for (const auto& args : spy)
        if (wanted == 1 ? args.at(0).toInt() > 0 : args.at(0).toInt() == wanted) return true;
      if (t.elapsed() >= ms) return false;
      spy.wait(50);
    }
  }

  static int Count(const QSignalSpy& spy, int value1) {
    int n = 0;
    for (const auto& args : spy) n += args.at(0).toInt() == value1;
    return n;
  }

  qtest::TempDir dir;
};

}  // namespace

TEST_F(ControlWithEngine, ASongPlaysToItsEndAndTheContainerHearsOfItOnce) {
  TQMIDICTLX c;
  ASSERT_EQ(c.engineError(), 0) << "the bus did not start the engine";
  QSignalSpy status(&c, &TQMIDICTLX::OnStatus);
  EXPECT_TRUE(c.hasStatusSink());
  c.setMIDIDISABLE(0);
  for (int stopOption : {0, 1}) {
    status.clear();
    c.setSTOPOPTION(stopOption);
    EXPECT_EQ(c.STOPOPTION(), stopOption);
    c.setTIMERWRD(16);
    c.setMIDIFILENAME(QString::fromStdString(WriteSong(dir, "song.mid", 1)));
    c.PLAY();
    const int end = stopOption == 0 ? -1 : -2;
    ASSERT_TRUE(WaitFor(status, end, 20000)) << "no end report";
    EXPECT_TRUE(WaitFor(status, 1, 0)) << "no progress before the end";
    int lastProgress = -1, endAt = -1;
    for (int i = 0; i < status.count(); ++i) {
      if (status.at(i).at(0).toInt() > 0) lastProgress = i;
      if (status.at(i).at(0).toInt() == end) endAt = i;
    }
    EXPECT_LT(lastProgress, endAt);
    status.wait(300);
    EXPECT_EQ(Count(status, end), 1);
  }
}

TEST_F(ControlWithEngine, TheControlThatPlayedLastHearsAndAllCloseSilencesBoth) {
  TQMIDICTLX first, second;
  ASSERT_EQ(first.engineError(), 0);
  QSignalSpy one(&first, &TQMIDICTLX::OnStatus);
  QSignalSpy two(&second, &TQMIDICTLX::OnStatus);  // connected last: the engine's sink now
  first.setTIMERWRD(16);
  first.setMIDIFILENAME(QString::fromStdString(WriteSong(dir, "song.mid", 2)));
  first.PLAY();  // puts the first control's sink back
  ASSERT_TRUE(WaitFor(one, 1, 10000));
  EXPECT_EQ(two.count(), 0);

  // A guarded put by a client that does not own the song changes nothing.
  const int device = second.DEVICEID1A();
  second.setDEVICEID1A(device == 2 ? 3 : 2);
  EXPECT_EQ(second.DEVICEID1A(), device);

  second.ALLCLOSE();  // not the owner: the song goes on, but nobody hears of it
  EXPECT_FALSE(second.hasStatusSink());
  QTest::qWait(200);  // reports the engine sent before it cleared its sink
  for (const auto& args : one) EXPECT_GT(args.at(0).toInt(), 0) << "the song ended too soon";
  one.clear();
  // (A new connection to OnStatus would hand the sink to the engine again.)
  one.wait(3500);  // past the song's end
  EXPECT_EQ(one.count(), 0);
  EXPECT_EQ(two.count(), 0);
}

TEST_F(ControlWithEngine, AKilledEngineGivesFallbacksAndARestartedOneServesAgain) {
  auto c = std::make_unique<TQMIDICTLX>();
  ASSERT_EQ(c->engineError(), 0);
  c->setTIMERMIDI(2);
  EXPECT_EQ(c->TIMERMIDI(), 2);
  c->setMIDIFILENAME(QString::fromStdString(WriteSong(dir, "song.mid", 3)));
  c->PLAY();
  const qint64 pid = EnginePid();
  ASSERT_GT(pid, 0);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  QElapsedTimer gone;
  gone.start();
  while (EnginePid() != 0 && gone.elapsed() < 5000) QCoreApplication::processEvents();

  // Fallbacks, at once, and the container's own events go on meanwhile.
  bool ticked = false;
  QTimer::singleShot(0, [&] { ticked = true; });
  QElapsedTimer calls;
  calls.start();
  EXPECT_EQ(c->TIMERMIDI(), 4);
  EXPECT_EQ(c->SCOREWIDTH(), 400);
  c->STOP();
  c->PLAY();
  EXPECT_LT(calls.elapsed(), 2 * kEngineMethodTimeoutMs);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ticked);

  // Another client starts the engine again; the first control's calls reach it.
  TQMIDICTLX starter;
  ASSERT_EQ(starter.engineError(), 0);
  c->setTIMERMIDI(3);
  EXPECT_EQ(c->TIMERMIDI(), 3);
}

TEST_F(ControlWithEngine, DialogsOfAnEngineNobodyCanSeeAreRefusedAndTheContainerGoesOn) {
  TQMIDICTLX c;
  ASSERT_EQ(c.engineError(), 0);
  bool ticked = false;
  QTimer::singleShot(0, [&] { ticked = true; });
  c.DEVICESET();  // offscreen: refused at once instead of a dialog no one could close
  EXPECT_EQ(c.ERRORCODE(), 8098);
  c.OPTIONSET();
  EXPECT_EQ(c.ERRORCODE(), 8098);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ticked);
  c.setTIMERMIDI(2);
  EXPECT_EQ(c.TIMERMIDI(), 2) << "the engine still serves";
}
