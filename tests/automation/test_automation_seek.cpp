// Qmidiexe.Playback on every automation object: Seek on the capture
// devices, Position and Length, the object's other interface untouched.
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>

#include "tests/automation/automation_fixture.h"

using namespace autotest;

class SeekTest : public AutomationTest {};

namespace {

const QString kPlayback = QStringLiteral("Qmidiexe.Playback");
const QString kProps = QStringLiteral("org.freedesktop.DBus.Properties");

int Get(Client& c, const QString& o, const char* name) {
  const QDBusMessage m = c.call(o, kProps, QStringLiteral("Get"), {kPlayback, QLatin1String(name)});
  return m.arguments().value(0).value<QDBusVariant>().variant().toInt();
}

QDBusMessage Seek(Client& c, const QString& o, int ms) { return c.call(o, kPlayback, QStringLiteral("Seek"), {ms}); }

bool IsNoteOn(const std::string& m) { return m.size() == 6 && m[0] == '9' && m.substr(4) != "00"; }

// The first note-on the capture log holds from line `from` on ("" when none).
std::string FirstNoteOn(const std::vector<std::string>& lines, size_t from) {
  for (size_t i = from; i < lines.size(); ++i)
    for (const auto& [us, m] : Messages({lines[i]}))
      if (IsNoteOn(m)) return m;
  return {};
}

}  // namespace

TEST_F(SeekTest, SeekMovesTheCallersSongAndPositionReadsTheTargetAtOnce) {
  const std::string path = song("sixty.mid", Song(60));  // 30 s at 120 beats per minute
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  const QString oa = a.create(), ob = b.create();

  const QString xml =
      a.call(oa, QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"))
          .arguments().value(0).toString();
  EXPECT_TRUE(xml.contains(QStringLiteral("<interface name=\"Qmidiexe.Playback\">")));
  EXPECT_TRUE(xml.contains(QStringLiteral("<property name=\"Position\" type=\"i\" access=\"read\"/>")));
  EXPECT_TRUE(xml.contains(QStringLiteral("<property name=\"Length\" type=\"i\" access=\"read\"/>")));
  const QDBusMessage all = a.call(oa, kProps, QStringLiteral("GetAll"), {kIface});
  ASSERT_FALSE(IsError(all));
  const QVariantMap old = qdbus_cast<QVariantMap>(all.arguments().value(0));
  EXPECT_EQ(old.size(), 51) << "IQMIDIOLE keeps its members";
  EXPECT_FALSE(old.contains(QStringLiteral("Position")));

  EXPECT_EQ(Get(a, oa, "Length"), 0) << "no song yet";
  EXPECT_EQ(Seek(a, oa, 1000).arguments().value(0).toInt(), 9411) << "nothing plays";

  a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return Get(a, oa, "Position") >= 1000; }, 15000));
  const int length = Get(a, oa, "Length");
  EXPECT_GE(length, 29500);
  EXPECT_LE(length, 31500);

  EXPECT_EQ(Seek(b, ob, 20000).arguments().value(0).toInt(), 9411) << "another client's song is not its own";
  EXPECT_EQ(ErrorName(Seek(a, oa, -1)), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(ErrorName(Seek(a, oa, length + 1)), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(ErrorName(a.call(oa, kProps, QStringLiteral("Set"), {kPlayback, QStringLiteral("Position"),
                                                                 QVariant::fromValue(QDBusVariant(5))})),
            "org.freedesktop.DBus.Error.PropertyReadOnly");

  const size_t before = engine.capture().size();
  const QDBusMessage r = Seek(a, oa, 20000);
  ASSERT_FALSE(IsError(r));
  EXPECT_EQ(r.arguments().value(0).toInt(), 0);
  const int at = Get(a, oa, "Position");
  EXPECT_GE(at, 20000);
  EXPECT_LT(at, 21000) << "the position reads the target at once";
  EXPECT_EQ(a.get_i(oa, QStringLiteral("ERRORCODE")), 0);

  // The next note is beat 40's (key 64), not beat 3's: the song went on
  // from the target, and ended there 10 s later.
  ASSERT_TRUE(SpinUntil([&] { return !FirstNoteOn(engine.capture(), before).empty(); }, 5000));
  const std::string first = FirstNoteOn(engine.capture(), before);
  EXPECT_EQ(first, "904064");
  ASSERT_TRUE(SpinUntil([&] { return Get(a, oa, "Position") >= 25000; }, 8000));
}
