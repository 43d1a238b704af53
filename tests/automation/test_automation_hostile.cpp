// What a careless or hostile client sends: names libdbus would abort on,
// stale paths of an earlier engine, objects and texts without end, values
// the player cannot take, dialogs on an engine nobody can see.
#include <QDBusVariant>

#include <fstream>

#include "tests/automation/automation_fixture.h"

using namespace autotest;

class Hostile : public AutomationTest {};

namespace {

// The engine's resident memory in kB (/proc), 0 when it cannot be read.
long ResidentKb(qint64 pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

QDBusMessage InvokePut(Client& c, const QString& o, int dispid, const QVariant& value) {
  const QVariantList args{QVariant::fromValue(QDBusVariant(value))};
  return c.call(o, kIface, QStringLiteral("Invoke"), {dispid, 4, QVariant::fromValue(args)});
}

}  // namespace

TEST_F(Hostile, ASinkNameTheBusCannotCallIsRefusedAndTheOldSinkStays) {
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  Sink sink;
  a.exportObject(QStringLiteral("/sink"), &sink);
  const QString o = a.create();
  ASSERT_FALSE(IsError(a.setSink(o, a.uniqueName(), QStringLiteral("/sink"))));
  for (const char* name : {"x", ":1", "a..b", "1a.b", "a.b.", ".a.b", "a.b c"}) {
    SCOPED_TRACE(name);
    QDBusMessage r = a.setSink(o, QLatin1String(name), QStringLiteral("/sink"));
    EXPECT_EQ(ErrorName(r), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_NE(r.errorMessage().indexOf(QLatin1String("bus name")), -1)
        << r.errorMessage().toStdString();
  }
  EXPECT_TRUE(engine.running());
  EXPECT_EQ(ReadSink(a.get(o, QStringLiteral("OnStatusDisp"))),
            std::make_pair(a.uniqueName(), QStringLiteral("/sink")));
  EXPECT_FALSE(IsError(a.method(o, QStringLiteral("Release"))));
}

TEST_F(Hostile, AStalePathOfAnEarlierEngineReachesNoObjectOfALaterOne) {
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  QString stale;
  {
    Engine first(dir_);
    stale = a.create();
    ASSERT_FALSE(IsError(a.method(stale, QStringLiteral("Release"))));
    ASSERT_EQ(first.waitForExit(10000), 0);
  }
  Engine second(dir_);
  const QString ob = b.create();
  EXPECT_NE(ob, stale) << "a number of the first engine came back";
  EXPECT_EQ(ErrorName(a.method(stale, QStringLiteral("Release"))),
            "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("EXTOPTION2"), 4)))
      << "the later client's object is still there";
  EXPECT_FALSE(IsError(b.method(ob, QStringLiteral("Release"))));
}

TEST_F(Hostile, AClientHoldsABoundedNumberOfObjectsAndLeftOnesAreBoundedToo) {
  Engine engine(dir_);
  Client greedy(QStringLiteral("greedy")), other(QStringLiteral("other"));
  QStringList made;
  QDBusMessage refused;
  for (int i = 0; i < 400; ++i) {
    QDBusMessage r = greedy.call(kFactory, kFactoryIface, QStringLiteral("CreateObject"));
    if (IsError(r)) {
      refused = r;
      break;
    }
    made << r.arguments().value(0).value<QDBusObjectPath>().path();
  }
  EXPECT_EQ(made.size(), 256);
  EXPECT_EQ(ErrorName(refused), "org.freedesktop.DBus.Error.LimitsExceeded")
      << refused.errorMessage().toStdString();
  const QString mine = other.create();
  EXPECT_FALSE(mine.isEmpty()) << "another client is not held back";
  ASSERT_FALSE(IsError(greedy.method(made.front(), QStringLiteral("Release"))));
  EXPECT_FALSE(greedy.create().isEmpty()) << "a released object makes room";

  // Clients that leave straight after CreateObject (their objects are kept
  // for command-line tools) cannot pile objects up either.
  for (int i = 0; i < 300; ++i) {
    Client oneShot(QStringLiteral("one-shot"));
    oneShot.call(kFactory, kFactoryIface, QStringLiteral("CreateObject"));
  }
  Spin(500);
  const QString xml = other
                          .call(kFactory, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                QStringLiteral("Introspect"))
                          .arguments()
                          .value(0)
                          .toString();
  QStringList nodes;
  for (qsizetype at = xml.indexOf(QLatin1String("<node name=\"")); at >= 0;
       at = xml.indexOf(QLatin1String("<node name=\""), at + 1))
    nodes << xml.mid(at + 12, xml.indexOf(QLatin1Char('"'), at + 12) - at - 12);
  EXPECT_EQ(nodes.size(), 256 + 1 + 256) << "greedy's, other's and the 256 newest left behind";
  for (const QString& n : nodes)
    other.method(ObjectPathOf(n.toULongLong()), QStringLiteral("Release"));
}

TEST_F(Hostile, TextsAreKeptOnlyAsFarAsAGetReturnsThem) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  QStringList objects;
  for (int i = 0; i < 100; ++i) objects << c.create();
  const QString big(400 * 1024, QLatin1Char('m'));
  EXPECT_EQ(ErrorName(c.set(objects.front(), QStringLiteral("MIDIFILENAME"), big)),
            "org.freedesktop.DBus.Error.InvalidArgs")
      << "a path the system cannot open";
  const long before = ResidentKb(engine.pid());
  for (const QString& o : objects) {
    ASSERT_FALSE(IsError(c.set(o, QStringLiteral("MIDITITLE"), big)));
    ASSERT_FALSE(IsError(c.set(o, QStringLiteral("MIDIMEMO"), big)));
  }
  const long after = ResidentKb(engine.pid());
  ASSERT_GT(before, 0);
  // 100 objects x 2 x 400 kB would be 80 MB kept.
  EXPECT_LT(after - before, 24 * 1024) << before << " kB before, " << after << " kB after";
  EXPECT_EQ(c.get_s(objects.back(), QStringLiteral("MIDIMEMO")), big.left(255));
  for (const QString& o : objects) c.method(o, QStringLiteral("Release"));
}

TEST_F(Hostile, DialogsWithoutADisplayFailAtOnceWithTheirResultCode) {
  Engine engine(dir_);  // offscreen
  Client c(QStringLiteral("a"));
  const QString o = c.create();
  for (const char* m : {"DEVICESET", "OPTIONSET"}) {
    SCOPED_TRACE(m);
    QDBusMessage r = c.method(o, QLatin1String(m));
    EXPECT_EQ(ErrorName(r), "Qmidiexe.QMIDIOLE.Error.Failed");
    EXPECT_NE(r.errorMessage().indexOf(QLatin1String("display")), -1)
        << r.errorMessage().toStdString();
    EXPECT_EQ(c.get_i(o, QStringLiteral("ERRORCODE")), 8098);
  }
  // A PLAY with no device on port A would open the port dialog: it fails too.
  ASSERT_FALSE(IsError(c.set(o, QStringLiteral("DEVICEID1A"), 256)));
  ASSERT_FALSE(IsError(
      c.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(song("s.mid", Song(2))))));
  ASSERT_FALSE(IsError(c.method(o, QStringLiteral("PLAY"))));
  Spin(300);
  EXPECT_FALSE(IsError(c.method(o, QStringLiteral("CLOSE"))));
  EXPECT_EQ(c.get_i(o, QStringLiteral("ERRORCODE")), 0) << "the engine still answers";
  EXPECT_FALSE(IsError(c.method(o, QStringLiteral("Release"))));
}

TEST_F(Hostile, ValuesThePlayerCannotTakeAreRefusedNamingTheirRange) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  const QString o = c.create();
  struct Case {
    const char* property;
    int dispid, bad, good;
    const char* range;
  };
  const Case cases[] = {
      {"TIMERMIDI", 45, 2147483647, 16, "1 to 16"},
      {"SPEED", 13, 2147483647, 512, "0 to 4096"},
      {"TIMERWRD", 48, 1001, 1000, "0 to 1000"},
      {"RESETMODE", 7, 4, 8, "0, 1, 2, 3, 5 or 8"},
      {"WRDDELAY", 15, -385, -384, "-384 to 384"},
      {"DEVVOLUME", 21, 101, 0, "0 to 100"},
      {"DEVBALANCE", 20, -1, 50, "0 to 100"},
      {"DEVICEID2A", 3, 257, -1, "256"},
      {"DEVICEID1B", 2, -2, 256, "256"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.property);
    const QString p = QLatin1String(k.property);
    const int before = c.get_i(o, p);
    for (const QDBusMessage& r : {c.set(o, p, k.bad), InvokePut(c, o, k.dispid, k.bad)}) {
      EXPECT_EQ(ErrorName(r), "org.freedesktop.DBus.Error.InvalidArgs");
      EXPECT_NE(r.errorMessage().indexOf(QLatin1String(k.range)), -1)
          << r.errorMessage().toStdString();
    }
    EXPECT_EQ(c.get_i(o, p), before);
    EXPECT_FALSE(IsError(c.set(o, p, k.good)));
    EXPECT_EQ(c.get_i(o, p), k.good);
  }
  EXPECT_FALSE(IsError(c.method(o, QStringLiteral("Release"))));
}
