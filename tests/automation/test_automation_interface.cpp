// The interface itself: the factory and its objects, the members with their
// types, access and dispatch numbers, late binding, texts; then the rules of
// the shared player (ownership, guarded puts, PLAY and STATUS, time forms,
// output status).
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>

#include "tests/automation/automation_fixture.h"

using namespace autotest;

namespace {

const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");

struct Described {
  QString type, access;
  int dispid = 0;
  bool guarded = false;
};

// Properties and methods of one interface in an introspection document.
struct Description {
  std::map<QString, Described> properties, methods;
  std::map<QString, QString> annotations;  // of the interface
  QStringList nodes;
};

Description Describe(const QString& xml, const QString& iface) {
  Description d;
  QXmlStreamReader r(xml);
  bool inside = false;
  Described* current = nullptr;
  int depth = 0;
  while (!r.atEnd()) {
    auto token = r.readNext();
    if (token == QXmlStreamReader::StartElement) {
      ++depth;
      const auto a = r.attributes();
      const QString name = a.value(QStringLiteral("name")).toString();
      if (r.name() == QLatin1String("interface")) inside = name == iface;
      else if (r.name() == QLatin1String("node") && depth == 2) d.nodes << name;
      else if (inside && r.name() == QLatin1String("property")) {
        current = &d.properties[name];
        current->type = a.value(QStringLiteral("type")).toString();
        current->access = a.value(QStringLiteral("access")).toString();
      } else if (inside && r.name() == QLatin1String("method")) {
        current = &d.methods[name];
      } else if (inside && r.name() == QLatin1String("annotation")) {
        const QString value = a.value(QStringLiteral("value")).toString();
        if (!current) d.annotations[name] = value;
        else if (name == QLatin1String("Qmidiexe.DispId")) current->dispid = value.toInt();
        else if (name == QLatin1String("Qmidiexe.GuardedPut")) current->guarded = value == QLatin1String("true");
      }
    } else if (token == QXmlStreamReader::EndElement) {
      --depth;
      if (r.name() == QLatin1String("property") || r.name() == QLatin1String("method")) current = nullptr;
      if (r.name() == QLatin1String("interface")) inside = false;
    }
  }
  return d;
}

QString Introspect(Client& c, const QString& path) {
  return c.call(path, kIntrospectable, QStringLiteral("Introspect")).arguments().value(0).toString();
}

QDBusMessage Invoke(Client& c, const QString& o, int dispid, int flags, const QVariantList& args = {}) {
  QVariantList wrapped;
  for (const QVariant& a : args) wrapped << QVariant::fromValue(QDBusVariant(a));
  return c.call(o, kIface, QStringLiteral("Invoke"), {dispid, flags, QVariant::fromValue(wrapped)});
}

QVariant Result(const QDBusMessage& m) { return m.arguments().value(0).value<QDBusVariant>().variant(); }

// Shift-JIS: "テスト曲" and "メモ".
const std::string kTitleSjis = "\x83\x65\x83\x58\x83\x67\x8B\xC8";
const std::string kMemoSjis = "\x83\x81\x83\x82";

// Waits until the song plays: its time (the millisecond form, that of the
// current time-table entry) is past the table's first entry (125 ms).
bool Playing(Client& c, const QString& o) {
  return SpinUntil([&] { return c.get_i(o, QStringLiteral("MIDICURRENTTIME1")) >= 250; }, 10000);
}

}  // namespace

class Interface : public AutomationTest {};
class LateBinding : public AutomationTest {};
class Texts : public AutomationTest {};
class Ownership : public AutomationTest {};
class Songs : public AutomationTest {};

TEST_F(Interface, TheFactoryMakesObjectsWithEmptyStringsAndTheirOwnNumbers) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  const QString o1 = c.create(), o2 = c.create();
  const uint64_t first = ObjectNumber(o1);
  ASSERT_GT(first, 0u) << o1.toStdString();
  EXPECT_EQ(o2, ObjectPathOf(first + 1));
  for (const char* p : {"MIDIFILENAME", "MIDITITLE", "MIDIMEMO"}) EXPECT_EQ(c.get_s(o1, QLatin1String(p)), QString()) << p;
  EXPECT_EQ(c.get_i(o1, QStringLiteral("ERRORCODE")), 0);
  EXPECT_EQ(c.get_i(o1, QStringLiteral("STATUSCODE")), 0);
  EXPECT_EQ(ReadSink(c.get(o1, QStringLiteral("OnStatusDisp"))), std::make_pair(QString(), QStringLiteral("/")));
  // The engine-wide settings at their start values (no settings file but the ports).
  EXPECT_EQ(c.get_i(o1, QStringLiteral("DEVICEID1A")), 0);
  EXPECT_EQ(c.get_i(o1, QStringLiteral("DEVICEID2A")), 256);
  EXPECT_EQ(c.get_i(o1, QStringLiteral("TIMERMIDI")), 8);
  EXPECT_EQ(c.get_i(o1, QStringLiteral("WRDDELAY")), 3);
  EXPECT_EQ(c.get(o1, QStringLiteral("WRDVISIBLE")), QVariant(true));
  EXPECT_EQ(c.get_i(o1, QStringLiteral("WINDOWSTATUS")), 0);

  // The factory lists its objects; a released object is gone.
  EXPECT_EQ(Describe(Introspect(c, kFactory), kFactoryIface).nodes,
            (QStringList{QString::number(first), QString::number(first + 1)}));
  EXPECT_FALSE(IsError(c.method(o1, QStringLiteral("Release"))));
  QDBusMessage gone = c.call(o1, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                             {kIface, QStringLiteral("ERRORCODE")});
  EXPECT_EQ(ErrorName(gone), "org.freedesktop.DBus.Error.UnknownObject");
  EXPECT_EQ(Describe(Introspect(c, kFactory), kFactoryIface).nodes, QStringList{QString::number(first + 1)});
  const QString o3 = c.create();
  EXPECT_EQ(o3, ObjectPathOf(first + 2)) << "numbers are never used twice";
  EXPECT_EQ(c.get_i(o2, QStringLiteral("ERRORCODE")), 0);
  EXPECT_EQ(c.get_i(o3, QStringLiteral("ERRORCODE")), 0);
}

TEST_F(Interface, IntrospectionGivesEveryMemberItsTypeAccessAndDispatchNumber) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  const QString o = c.create();
  const Description d = Describe(Introspect(c, o), kIface);
  EXPECT_EQ(d.properties.size(), 51u);  // the 50 data members and OnStatusDisp
  struct Want {
    const char* name;
    const char* type;
    const char* access;
    int dispid;
    bool guarded;
  } want[] = {{"DEVICEID1A", "i", "readwrite", 1, true},     {"DEVICEID2B", "i", "readwrite", 4, true},
              {"ERRORCODE", "i", "read", 5, false},          {"MIDIFILENAME", "s", "readwrite", 6, false},
              {"RESETMODE", "i", "readwrite", 7, true},      {"SCOREVISIBLE", "b", "readwrite", 11, false},
              {"SPEED", "i", "readwrite", 13, false},        {"STATUSCODE", "i", "read", 14, false},
              {"WRDFULLSCREEN", "b", "readwrite", 16, true}, {"WRDVISIBLE", "b", "readwrite", 19, false},
              {"MIDICURRENTTIME1", "i", "readwrite", 26, false}, {"MIDITOTALTIME2", "i", "read", 34, false},
              {"OUTSTATUSENABLE", "b", "readwrite", 37, false},  {"OUTSTATUSMEMO", "s", "read", 40, false},
              {"STOPOPTION", "i", "readwrite", 44, true},    {"TIMERWRD", "i", "readwrite", 48, true},
              {"WINDOWSTATUS", "i", "readwrite", 50, false}, {"OnStatusDisp", "(so)", "readwrite", 60, false}};
  for (const Want& w : want) {
    SCOPED_TRACE(w.name);
    auto it = d.properties.find(QLatin1String(w.name));
    ASSERT_NE(it, d.properties.end());
    EXPECT_EQ(it->second.type, QLatin1String(w.type));
    EXPECT_EQ(it->second.access, QLatin1String(w.access));
    EXPECT_EQ(it->second.dispid, w.dispid);
    EXPECT_EQ(it->second.guarded, w.guarded);
  }
  const char* methods[] = {"CLOSE", "DEVICESET", "OPTIONSET", "PAUSE", "PLAY", "RESTART", "STATUS", "STEP", "STOP"};
  for (int i = 0; i < 9; ++i) {
    auto it = d.methods.find(QLatin1String(methods[i]));
    ASSERT_NE(it, d.methods.end()) << methods[i];
    EXPECT_EQ(it->second.dispid, 51 + i) << methods[i];
  }
  for (const char* m : {"Release", "GetIDsOfNames", "Invoke"}) EXPECT_TRUE(d.methods.count(QLatin1String(m))) << m;
  EXPECT_EQ(d.annotations.at(QStringLiteral("Qmidiexe.Uuid")), QStringLiteral("{52D83960-FA0F-11D0-A677-444553540000}"));
  // The factory.
  const Description f = Describe(Introspect(c, kFactory), kFactoryIface);
  EXPECT_TRUE(f.methods.count(QStringLiteral("CreateObject")));
  EXPECT_EQ(f.annotations.at(QStringLiteral("Qmidiexe.Uuid")), QStringLiteral("{52D83961-FA0F-11D0-A677-444553540000}"));
}

TEST_F(Interface, PutsCheckTypeAndAccess) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  const QString o = c.create();
  EXPECT_EQ(ErrorName(c.set(o, QStringLiteral("DEVICEID1A"), QStringLiteral("3"))), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(ErrorName(c.set(o, QStringLiteral("MIDIFILENAME"), 3)), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(ErrorName(c.set(o, QStringLiteral("ERRORCODE"), 3)), "org.freedesktop.DBus.Error.PropertyReadOnly");
  EXPECT_EQ(ErrorName(c.set(o, QStringLiteral("NOSUCH"), 3)), "org.freedesktop.DBus.Error.UnknownProperty");
  EXPECT_EQ(ErrorName(c.call(o, kIface, QStringLiteral("NOSUCH"))), "org.freedesktop.DBus.Error.UnknownMethod");
  EXPECT_EQ(ErrorName(c.call(o, QStringLiteral("Other.Interface"), QStringLiteral("PLAY"))),
            "org.freedesktop.DBus.Error.UnknownInterface");
  // BOOL members take and give b; numbers of other widths are taken as I4.
  EXPECT_FALSE(IsError(c.set(o, QStringLiteral("SCOREVISIBLE"), false)));
  EXPECT_EQ(c.get(o, QStringLiteral("SCOREVISIBLE")), QVariant(false));
  EXPECT_FALSE(IsError(c.set(o, QStringLiteral("SCOREVISIBLE"), -1)));
  EXPECT_EQ(c.get(o, QStringLiteral("SCOREVISIBLE")), QVariant(true));
  EXPECT_FALSE(IsError(c.set(o, QStringLiteral("EXTOPTION2"), QVariant::fromValue<qlonglong>(-7))));
  EXPECT_EQ(c.get_i(o, QStringLiteral("EXTOPTION2")), -7);
  EXPECT_FALSE(IsError(c.set(o, QStringLiteral("EXTOPTION3"), QVariant::fromValue<uint>(0xFFFFFFFFu))));
  EXPECT_EQ(c.get_i(o, QStringLiteral("EXTOPTION3")), -1);
}

TEST_F(Interface, StoredValuesComeBackAsTheyWereSet) {
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  const QString oa = a.create(), ob = b.create();
  const char* stored[] = {"SCOREHEIGHT", "SCORELEFT", "SCORETOP", "SCOREWIDTH", "SCORECH", "SCOREOPTION",
                          "EXTOPTION1", "EXTOPTION2", "EXTOPTION3", "EXTOPTION4", "STEPTIME", "TIMEROUTSTATUS",
                          "TIMERSCORE", "TIMERWRD", "STOPOPTION", "SPEED", "WRDDELAY", "WRDLEFT", "WRDTOP",
                          "TITLEVISIBLE", "OUTSTATUSCH"};
  int v = 11;
  for (const char* p : stored) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(IsError(a.set(oa, QLatin1String(p), ++v)));
    EXPECT_EQ(b.get_i(ob, QLatin1String(p)), v) << "every object reaches the same engine";
  }
  for (auto [p, value] : {std::pair{"RESETMODE", 5}, {"TIMERMIDI", 2}}) {
    SCOPED_TRACE(p);
    EXPECT_FALSE(IsError(a.set(oa, QLatin1String(p), value)));
    EXPECT_EQ(b.get_i(ob, QLatin1String(p)), value);
  }
  EXPECT_FALSE(IsError(a.set(oa, QStringLiteral("OUTSTATUSENABLE"), false)));
  EXPECT_EQ(b.get(ob, QStringLiteral("OUTSTATUSENABLE")), QVariant(false));
  // The object's own fields stay its own.
  EXPECT_FALSE(IsError(a.set(oa, QStringLiteral("MIDIFILENAME"), QStringLiteral("/a.mid"))));
  EXPECT_EQ(b.get_s(ob, QStringLiteral("MIDIFILENAME")), QString());
}

TEST_F(LateBinding, GetIDsOfNamesAndInvokeReachTheMembersByNumber) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  const QString o = c.create();
  QDBusMessage ids = c.call(o, kIface, QStringLiteral("GetIDsOfNames"),
                            {QStringList{"DEVICEID1A", "play", "OnStatusDisp", "Release", "nothing"}});
  ASSERT_FALSE(IsError(ids)) << ids.errorMessage().toStdString();
  EXPECT_EQ(qdbus_cast<QList<int>>(ids.arguments().value(0)), (QList<int>{1, 55, 60, -1, -1}));

  QDBusMessage put = Invoke(c, o, 36, 4, {1000});  // OUTSTATUSCH := 1000
  ASSERT_FALSE(IsError(put)) << put.errorMessage().toStdString();
  EXPECT_EQ(Result(put), QVariant(0));
  EXPECT_EQ(c.get_i(o, QStringLiteral("OUTSTATUSCH")), 1000);
  EXPECT_EQ(Result(Invoke(c, o, 36, 2)), QVariant(1000));
  EXPECT_EQ(Result(Invoke(c, o, 36, 3)), QVariant(1000)) << "method|get reads a property";
  EXPECT_FALSE(IsError(Invoke(c, o, 6, 4, {QStringLiteral("/x.mid")})));
  EXPECT_EQ(Result(Invoke(c, o, 6, 2)), QVariant(QStringLiteral("/x.mid")));
  EXPECT_EQ(Result(Invoke(c, o, 19, 2)), QVariant(true));  // WRDVISIBLE is a BOOL
  EXPECT_EQ(ReadSink(Result(Invoke(c, o, 60, 2))), std::make_pair(QString(), QStringLiteral("/")));
  // A method: STEP takes ownership (nothing plays) and copies the result code.
  QDBusMessage step = Invoke(c, o, 58, 1);
  EXPECT_FALSE(IsError(step));
  EXPECT_EQ(Result(step), QVariant(0));
  EXPECT_EQ(Result(Invoke(c, o, 5, 2)), QVariant(0));

  EXPECT_EQ(ErrorName(Invoke(c, o, 14, 4, {1})), "org.freedesktop.DBus.Error.PropertyReadOnly");
  EXPECT_EQ(ErrorName(Invoke(c, o, 999, 2)), "Qmidiexe.QMIDIOLE.Error.MemberNotFound");
  EXPECT_EQ(ErrorName(Invoke(c, o, 55, 2)), "Qmidiexe.QMIDIOLE.Error.MemberNotFound") << "a method is not read";
  EXPECT_EQ(ErrorName(Invoke(c, o, 36, 4)), "org.freedesktop.DBus.Error.InvalidArgs") << "a put without its value";
  EXPECT_EQ(ErrorName(Invoke(c, o, 36, 4, {QStringLiteral("x")})), "org.freedesktop.DBus.Error.InvalidArgs");
}

TEST_F(Texts, StringsAreUtf8AndCutAt255CharactersNeverInsideOne) {
  Engine engine(dir_);
  Client c(QStringLiteral("a"));
  const QString o = c.create();
  QString kanji;
  for (int i = 0; i < 300; ++i) kanji += QChar(0x66F2);  // 曲
  ASSERT_FALSE(IsError(c.set(o, QStringLiteral("MIDITITLE"), kanji)));
  EXPECT_EQ(c.get_s(o, QStringLiteral("MIDITITLE")), kanji.left(255));
  QString clefs;  // U+1D11E, four bytes in UTF-8, a surrogate pair in UTF-16
  for (int i = 0; i < 300; ++i) clefs += QString::fromUcs4(U"\U0001D11E");
  ASSERT_FALSE(IsError(c.set(o, QStringLiteral("MIDIMEMO"), clefs)));
  const QString back = c.get_s(o, QStringLiteral("MIDIMEMO"));
  EXPECT_EQ(back.toUcs4().size(), 255);
  EXPECT_EQ(back, clefs.left(510));
  const QString shortText = QStringLiteral("日本語のメモ");
  ASSERT_FALSE(IsError(c.set(o, QStringLiteral("MIDIMEMO"), shortText)));
  EXPECT_EQ(c.get_s(o, QStringLiteral("MIDIMEMO")), shortText);
}

// ---------------------------------------------------------------- ownership

TEST_F(Ownership, AnotherClientsPutsAndStopsChangeNothingWhileCloseStopsAndReleases) {
  const std::string path = song("eight.mid", Song(8));
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  const QString oa = a.create(), ob = b.create();
  ASSERT_FALSE(IsError(a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path))));
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  ASSERT_TRUE(Playing(a, oa));

  // A guarded put by the other client succeeds and changes nothing.
  QDBusMessage put = b.set(ob, QStringLiteral("DEVICEID1A"), 3);
  EXPECT_FALSE(IsError(put)) << put.errorMessage().toStdString();
  EXPECT_EQ(b.get_i(ob, QStringLiteral("DEVICEID1A")), 0);
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 40)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 16);
  // Unguarded puts act.
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("EXTOPTION2"), 5)));
  EXPECT_EQ(a.get_i(oa, QStringLiteral("EXTOPTION2")), 5);

  // PAUSE, RESTART, STOP and DEVICESET of a non-owner do nothing: the song goes on.
  for (const char* m : {"PAUSE", "RESTART", "STOP", "DEVICESET", "OPTIONSET", "STATUS"}) {
    SCOPED_TRACE(m);
    const int before = a.get_i(oa, QStringLiteral("MIDICURRENTTIME1"));
    EXPECT_FALSE(IsError(b.method(ob, QLatin1String(m))));
    Spin(300);
    EXPECT_GT(a.get_i(oa, QStringLiteral("MIDICURRENTTIME1")), before);
  }
  EXPECT_EQ(b.get_s(ob, QStringLiteral("MIDITITLE")), QString()) << "STATUS did nothing";
  // STEP is the owner's too.
  EXPECT_FALSE(IsError(b.method(ob, QStringLiteral("STEP"))));
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 40)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 16);

  // CLOSE by anyone stops and releases.
  const size_t notesBefore = engine.capture().size();
  EXPECT_FALSE(IsError(b.method(ob, QStringLiteral("CLOSE"))));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("ERRORCODE")), 0);
  ASSERT_TRUE(SpinUntil([&] { auto l = engine.capture(); return !l.empty() && l.back() == "close"; }, 5000));
  const auto lines = engine.capture();
  for (size_t i = notesBefore; i < lines.size(); ++i) {
    const auto sp = lines[i].find(' ');
    if (sp != std::string::npos) {
      EXPECT_NE(lines[i].substr(sp + 1, 1), "9") << "no note after CLOSE: " << lines[i];
    }
  }
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 40)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 40) << "no owner any more";
}

TEST_F(Ownership, CloseAfterASongThatFailedStillReleasesTheOwner) {
  const std::string bad = song("bad.mid", std::vector<uint8_t>{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 9});
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  const QString oa = a.create(), ob = b.create();
  ASSERT_FALSE(IsError(a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(bad))));
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  Spin(1500);  // the start fails and leaves its result code
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 40)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 16) << "the failed song's caller still owns it";
  EXPECT_FALSE(IsError(b.method(ob, QStringLiteral("CLOSE"))));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("ERRORCODE")), 0);
  EXPECT_FALSE(IsError(b.set(ob, QStringLiteral("TIMERWRD"), 40)));
  EXPECT_EQ(b.get_i(ob, QStringLiteral("TIMERWRD")), 40) << "CLOSE released the owner";
}

TEST_F(Songs, PlayOnAMissingFileKeepsThePreviousSongAndStatusReadsTitleAndMemo) {
  const std::string first = song("first.mid", Song(2, kTitleSjis, kMemoSjis));
  Engine engine(dir_);
  Client a(QStringLiteral("a")), b(QStringLiteral("b"));
  const QString oa = a.create(), ob = b.create();
  // STATUS without an owner: the title and memo read from the file, in UTF-8.
  ASSERT_FALSE(IsError(b.set(ob, QStringLiteral("MIDIFILENAME"), QString::fromStdString(first))));
  ASSERT_FALSE(IsError(b.method(ob, QStringLiteral("STATUS"))));
  EXPECT_EQ(b.get_s(ob, QStringLiteral("MIDITITLE")), QStringLiteral("テスト曲"));
  EXPECT_TRUE(b.get_s(ob, QStringLiteral("MIDIMEMO")).contains(QStringLiteral("メモ")))
      << b.get_s(ob, QStringLiteral("MIDIMEMO")).toStdString();
  EXPECT_EQ(b.get_i(ob, QStringLiteral("ERRORCODE")), 0);

  // PLAY on a name that does not exist: the engine keeps the previous song (the
  // one STATUS named) and plays it; the title and memo read empty at once.
  ASSERT_FALSE(IsError(a.set(oa, QStringLiteral("MIDITITLE"), QStringLiteral("x"))));
  ASSERT_FALSE(IsError(a.set(oa, QStringLiteral("MIDIFILENAME"), QString::fromStdString(dir_.file("no such.mid")))));
  ASSERT_FALSE(IsError(a.method(oa, QStringLiteral("PLAY"))));
  EXPECT_EQ(a.get_s(oa, QStringLiteral("MIDITITLE")), QString());
  EXPECT_EQ(a.get_s(oa, QStringLiteral("MIDIMEMO")), QString());
  EXPECT_EQ(a.get_s(oa, QStringLiteral("MIDIFILENAME")), QString::fromStdString(dir_.file("no such.mid")));
  ASSERT_TRUE(SpinUntil([&] {
    for (const auto& [t, m] : Messages(engine.capture()))
      if (m == "903c64") return true;
    return false;
  }, 10000)) << "the previous song plays";
  // While A owns the song, B's STATUS does nothing.
  ASSERT_FALSE(IsError(b.set(ob, QStringLiteral("MIDITITLE"), QString())));
  ASSERT_FALSE(IsError(b.method(ob, QStringLiteral("STATUS"))));
  EXPECT_EQ(b.get_s(ob, QStringLiteral("MIDITITLE")), QString());
  EXPECT_FALSE(IsError(a.method(oa, QStringLiteral("CLOSE"))));
}

TEST_F(Songs, TimeFormsAndTotals) {
  const std::string path = song("eight.mid", Song(8));
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  const QString o = a.create();
  a.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  // 7 and -1 are no forms of their own: they read milliseconds like 0.
  a.set(o, QStringLiteral("MIDICURRENTTIME1"), 7);
  a.set(o, QStringLiteral("MIDICURRENTTIME2"), -1);
  a.set(o, QStringLiteral("MIDITIMEOPTION1"), 3);  // tempo
  a.set(o, QStringLiteral("MIDITIMEOPTION2"), 4);  // time signature
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("PLAY"))));
  ASSERT_TRUE(Playing(a, o));
  Spin(1000);
  const int t1 = a.get_i(o, QStringLiteral("MIDICURRENTTIME1"));
  const int t2 = a.get_i(o, QStringLiteral("MIDICURRENTTIME2"));
  EXPECT_GT(t1, 500);
  EXPECT_LT(t1, 4000);
  EXPECT_NEAR(t2, t1, 300) << "both read milliseconds";
  EXPECT_EQ(a.get_i(o, QStringLiteral("MIDITIMEOPTION1")), 120);
  EXPECT_EQ(a.get_i(o, QStringLiteral("MIDITIMEOPTION2")), 4004);
  // The song's length in ms: its four seconds and the converter's closing rest.
  const int total = a.get_i(o, QStringLiteral("MIDITOTALTIME1"));
  EXPECT_GE(total, 4000);
  EXPECT_LE(total, 6000);
  // The position form: bar * 10000 + beat * 1000 + thousandths, from bar 0.
  a.set(o, QStringLiteral("MIDICURRENTTIME1"), 1);
  const int position = a.get_i(o, QStringLiteral("MIDICURRENTTIME1"));
  EXPECT_GE(position, 1000);
  EXPECT_LT(position, 20000);
  EXPECT_EQ(a.get_i(o, QStringLiteral("MIDITOTALTIME1")) / 10000, 2) << "the last entry lies in bar 2 (from 0)";
  EXPECT_FALSE(IsError(a.method(o, QStringLiteral("CLOSE"))));
}

TEST_F(Songs, OutputStatusSelectors) {
  // 6/8 time, a WRD script beside the song naming three pictures.
  std::vector<uint8_t> six = Song(2);
  const std::vector<uint8_t> timeSignature = {0x00, 0xFF, 0x58, 0x04, 0x06, 0x03, 0x18, 0x08};
  six.insert(six.begin() + 22, timeSignature.begin(), timeSignature.end());
  six[21] = static_cast<uint8_t>(six[21] + timeSignature.size());
  const std::string path = song("pics.mid", six);
  dir_.write("pics.wrd", std::string("@MAG(ONE,0,0)\r\n@MAG(TWO,0,0)\r\n@MAG(THREE,0,0)\r\n@END\r\n"));
  for (const char* p : {"ONE.MAG", "TWO.MAG", "THREE.MAG"}) dir_.write(p, std::string("x"));
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  const QString o = a.create();
  a.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));

  a.set(o, QStringLiteral("OUTSTATUSCH"), 2000);
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("STATUS"))));  // compiles the script
  EXPECT_EQ(a.get_i(o, QStringLiteral("OUTSTATUSID")), 3) << "picture slots before the first empty one";
  a.set(o, QStringLiteral("EXTOPTION1"), 1);
  EXPECT_TRUE(a.get_s(o, QStringLiteral("OUTSTATUSMEMO")).endsWith(QStringLiteral("/TWO.MAG")))
      << a.get_s(o, QStringLiteral("OUTSTATUSMEMO")).toStdString();
  for (int slot : {3, 64, -1}) {
    a.set(o, QStringLiteral("EXTOPTION1"), slot);
    EXPECT_EQ(a.get_s(o, QStringLiteral("OUTSTATUSMEMO")), QString()) << slot;
  }
  a.set(o, QStringLiteral("OUTSTATUSCH"), 1000);
  EXPECT_EQ(a.get_i(o, QStringLiteral("OUTSTATUSID")), 3) << "6/8 counts three beats (in quarters)";
  EXPECT_EQ(a.get_s(o, QStringLiteral("OUTSTATUSMEMO")), QString()) << "no CM6 file in a Standard MIDI File";
  a.set(o, QStringLiteral("OUTSTATUSCH"), 1001);
  EXPECT_EQ(a.get_i(o, QStringLiteral("OUTSTATUSID")), 8);
  a.set(o, QStringLiteral("OUTSTATUSCH"), 1002);
  EXPECT_EQ(a.get_i(o, QStringLiteral("OUTSTATUSID")), 1);
  EXPECT_EQ(a.get_s(o, QStringLiteral("OUTSTATUSMEMO")), QString::fromStdString(dir_.file("pics.wrd")));
  a.set(o, QStringLiteral("OUTSTATUSCH"), 7777);
  EXPECT_EQ(a.get_i(o, QStringLiteral("OUTSTATUSID")), 0);
  EXPECT_EQ(a.get_s(o, QStringLiteral("OUTSTATUSMEMO")), QString());
  EXPECT_EQ(a.get_i(o, QStringLiteral("OUTSTATUSBNK")), 0);
}

TEST_F(Songs, TheOutputLevelFallsWithEveryRead) {
  const std::string path = song("held.mid", HeldNoteSong(16));
  Engine engine(dir_);
  Client a(QStringLiteral("a"));
  const QString o = a.create();
  a.set(o, QStringLiteral("MIDIFILENAME"), QString::fromStdString(path));
  ASSERT_FALSE(IsError(a.method(o, QStringLiteral("PLAY"))));
  ASSERT_TRUE(SpinUntil([&] { return !Messages(engine.capture()).empty() &&
                                      Messages(engine.capture()).back().second == "903c64"; }, 10000));
  a.set(o, QStringLiteral("OUTSTATUSCH"), 0);  // channel 1's level: velocity x volume
  const int first = a.get_i(o, QStringLiteral("OUTSTATUSLEVEL"));
  const int second = a.get_i(o, QStringLiteral("OUTSTATUSLEVEL"));
  EXPECT_EQ(first, 100 * 100);
  EXPECT_LT(second, first);
  EXPECT_GT(second, 0);
  a.set(o, QStringLiteral("OUTSTATUSCH"), 99);  // the loudest channel
  EXPECT_LT(a.get_i(o, QStringLiteral("OUTSTATUSLEVEL")), second);
  EXPECT_FALSE(IsError(a.method(o, QStringLiteral("CLOSE"))));
}
