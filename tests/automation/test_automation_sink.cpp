// The status sink: what may be put into OnStatusDisp, who receives the
// reports, their values and moments, and the owner at the end of a song.
#include "tests/automation/automation_fixture.h"

using namespace autotest;

class SinkTest : public AutomationTest {};

TEST_F(SinkTest, AnObjectWithoutTheInterfaceIsRefusedAndTheOldSinkStays) {
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  Sink sink;
  NotASink other;
  a.exportObject(QStringLiteral("/sink"), &sink);
  a.exportObject(QStringLiteral("/other"), &other);
  const QString o = a.create();
  const QString me = a.uniqueName();

  QDBusMessage put = a.setSink(o, me, QStringLiteral("/sink"));
  ASSERT_FALSE(IsError(put)) << put.errorMessage().toStdString();
  EXPECT_EQ(ReadSink(a.get(o, QStringLiteral("OnStatusDisp"))), std::make_pair(me, QStringLiteral("/sink")));

  EXPECT_EQ(ErrorName(a.setSink(o, me, QStringLiteral("/other"))), "Qmidiexe.QMIDIOLE.Error.NoInterface");
  EXPECT_EQ(ErrorName(a.setSink(o, me, QStringLiteral("/nothing/here"))), "Qmidiexe.QMIDIOLE.Error.NoInterface");
  EXPECT_EQ(ErrorName(a.setSink(o, QStringLiteral(":1.9999"), QStringLiteral("/sink"))),
            "Qmidiexe.QMIDIOLE.Error.NoInterface")
      << "a bus name nobody owns";
  EXPECT_EQ(ErrorName(a.set(o, QStringLiteral("OnStatusDisp"), 5)), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(ReadSink(a.get(o, QStringLiteral("OnStatusDisp"))), std::make_pair(me, QStringLiteral("/sink")))
      << "the old sink stays";

  // Null clears it.
  ASSERT_FALSE(IsError(a.setSink(o, QString(), QStringLiteral("/"))));
  EXPECT_EQ(ReadSink(a.get(o, QStringLiteral("OnStatusDisp"))), std::make_pair(QString(), QStringLiteral("/")));
}

TEST_F(SinkTest, TheLastSinkTakesEveryReportAndTheEndComesOnceAfterTheProgress) {
  const std::string path = song("four.mid", Song(4));
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  Sink sinkA, sinkB;
  a.exportObject(QStringLiteral("/sink"), &sinkA);
  b.exportObject(QStringLiteral("/events"), &sinkB);
  const QString oa = a.create(), ob = b.create();
  ASSERT_FALSE(IsError(a.setSink(oa, a.uniqueName(), QStringLiteral("/sink"))));
  ASSERT_FALSE(IsError(b.setSink(ob, b.uniqueName(), QStringLiteral("/events"))));
  EXPECT_EQ(ReadSink(a.get(oa, QStringLiteral("OnStatusDisp"))), std::make_pair(b.uniqueName(), QStringLiteral("/events")))
      << "one sink for the whole engine";

  a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  a.set(oa, QStringLiteral("MIDITIMEOPTION1"), 3);  // status value 3: the tempo
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return !sinkB.ends().empty(); }, 20000));
  Spin(500);
  EXPECT_TRUE(sinkA.reports.empty());
  EXPECT_EQ(sinkB.ends(), std::vector<int32_t>{-1}) << "STOPOPTION 0: ended and stop, once";
  ASSERT_GT(sinkB.progress(), 50u) << "every 16 ms through a 2-second song";
  EXPECT_EQ(sinkB.reports.back().v1, -1) << "after every progress report";
  const auto& last = sinkB.reports.back();
  EXPECT_EQ(last.v2, 0);
  EXPECT_EQ(last.v3, 0);
  EXPECT_EQ(last.v4, 0);
  int32_t previous = 0;
  for (const Sink::Report& r : sinkB.reports) {
    if (r.v1 <= 0) continue;
    EXPECT_GE(r.v1, previous) << "progress in milliseconds only grows";
    EXPECT_EQ(r.v3, 120);
    previous = r.v1;
  }
  EXPECT_GT(previous, 1000);

  // The owner was released before the report: guarded puts work again.
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("STOPOPTION"), 1)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("STOPOPTION")), 1);
  // With STOPOPTION other than 0 the end is "ended, continue".
  sinkB.reports.clear();
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return !sinkB.ends().empty(); }, 20000));
  Spin(500);
  EXPECT_EQ(sinkB.ends(), std::vector<int32_t>{-2});
  EXPECT_EQ(sinkB.reports.back().v1, -2);
  // TITLEVISIBLE 1: no progress, the end still comes.
  b.set(ob, QStringLiteral("STOPOPTION"), 0);
  b.set(ob, QStringLiteral("TITLEVISIBLE"), 1);
  sinkB.reports.clear();
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return !sinkB.ends().empty(); }, 20000));
  EXPECT_EQ(sinkB.progress(), 0u);
  EXPECT_EQ(sinkB.ends(), std::vector<int32_t>{-1});
}

TEST_F(SinkTest, StopReportsEndedAndStop) {
  const std::string path = song("long.mid", Song(16));
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  Sink sink;
  a.exportObject(QStringLiteral("/sink"), &sink);
  const QString o = a.create();
  ASSERT_FALSE(IsError(a.setSink(o, a.uniqueName(), QStringLiteral("/sink"))));
  a.set(o, QStringLiteral("STOPOPTION"), 1);
  a.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return sink.progress() > 5; }, 10000));
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("STOP"))));
  ASSERT_TRUE(SpinUntil([&] { return !sink.ends().empty(); }, 10000));
  Spin(300);
  EXPECT_EQ(sink.ends(), std::vector<int32_t>{-1}) << "a stop is reported as -1 whatever STOPOPTION says";
}

TEST_F(SinkTest, WithoutASinkTheOwnerStaysUntilClose) {
  const std::string path = song("two.mid", Song(2));
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  const QString oa = a.create(), ob = b.create();
  a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  // The song ends: its notes, then the devices close.
  ASSERT_TRUE(SpinUntil([&] {
    const auto l = engine.capture();
    return l.size() > 4 && l.back() == "close";
  }, 15000));
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 50)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 16) << "the owner stays: the put is refused";
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("CLOSE"))));
  EXPECT_EQ(a.get_i(oa, QStringLiteral("ERRORCODE")), 0);
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 50)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 50);
}

TEST_F(SinkTest, ASinkWhoseClientLeftCostsNothing) {
  const std::string path = song("four.mid", Song(4));
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  const QString oa = a.create();
  {
    Client gone(QStringLiteral("gone"));
    Sink sink;
    gone.exportObject(QStringLiteral("/sink"), &sink);
    const QString og = gone.create();
    ASSERT_FALSE(IsError(gone.setSink(og, gone.uniqueName(), QStringLiteral("/sink"))));
  }
  // The sink's connection has gone; the engine goes on answering at once and
  // the song ends normally (the owner is released at its end).
  a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] {
    const auto l = engine.capture();
    return l.size() > 4 && l.back() == "close";
  }, 15000));
  Spin(200);
  EXPECT_FALSE(IsError(a.set(oa, QStringLiteral("TIMERWRD"), 20)));
  EXPECT_EQ(a.get_i(oa, QStringLiteral("TIMERWRD")), 20) << "the end with a sink registered released the owner";
}

// A client that stops its song straight after asking for it (a jukebox's
// Next, then Stop) must hear nothing more, whether the stop reaches the
// engine before the song has started or while the song before it closes;
// every PLAY is answered by one end report, also one that never sounds.
TEST_F(SinkTest, AStopBeforeThePlayStartsCancelsItAndEveryPlayHearsItsEnd) {
  const std::string longSong = song("long.mid", HeldNoteSong(32));
  const std::string bad = song("bad.mid", std::vector<uint8_t>{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 9});
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  Sink sink;
  a.exportObject(QStringLiteral("/sink"), &sink);
  const QString o = a.create();
  ASSERT_FALSE(IsError(a.setSink(o, a.uniqueName(), QStringLiteral("/sink"))));
  a.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(longSong));
  auto noteOns = [&] {
    int n = 0;
    for (const auto& [t, m] : Messages(engine.capture())) n += m.size() == 6 && m[0] == '9' && m.substr(4) != "00";
    return n;
  };

  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("PLAY"))));
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("STOP"))));
  ASSERT_TRUE(SpinUntil([&] { return !sink.ends().empty(); }, 10000));
  Spin(2000);  // past the lead-in before the first note
  EXPECT_EQ(noteOns(), 0) << "PLAY and STOP back to back";
  EXPECT_EQ(sink.ends(), std::vector<int32_t>{-1});

  // A song that sounds, then STOP, PLAY, STOP back to back.
  sink.reports.clear();
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return noteOns() > 0; }, 10000));
  for (const char* m : {"STOP", "PLAY", "STOP"}) ASSERT_FALSE(IsError(a.method(o, QString::fromLatin1(m))));
  ASSERT_TRUE(SpinUntil([&] { return sink.ends().size() >= 2; }, 10000));
  const int heard = noteOns();
  Spin(2500);
  EXPECT_EQ(noteOns(), heard) << "the second song must not start after the last STOP";
  EXPECT_EQ(sink.ends(), std::vector<int32_t>({-1, -1}));

  // A song that cannot be read still ends for its client.
  sink.reports.clear();
  a.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(bad));
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return !sink.ends().empty(); }, 10000));
  EXPECT_EQ(sink.ends(), std::vector<int32_t>{-1});
}
