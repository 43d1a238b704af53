// Copy with the engine the bus starts: the song's information and its WRD
// script's pictures come through the control, as in the jukebox.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include "QMIDICTLXControl.h"
#include "control/engine_link.h"
#include "jukebox/file_commands.h"
#include "tests/jukebox_parts/fake_host.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QDBusMessage BusCall(const QString& method, const QVariantList& args = {}) {
  QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), method);
  m.setArguments(args);
  return QDBusConnection::sessionBus().call(m);
}

class EnginePictures : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "no session bus";
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QProcess reg;
    reg.start(QStringLiteral(QMIDIEXE_PATH), {QStringLiteral("-REGSERVER")});
    ASSERT_TRUE(reg.waitForFinished(30000));
    ASSERT_EQ(reg.exitCode(), 0) << reg.readAllStandardError().toStdString();
    ASSERT_EQ(BusCall(QStringLiteral("ReloadConfig")).type(), QDBusMessage::ReplyMessage);
    QMap<QString, QString> env{{QStringLiteral("QMIDI_CAPTURE"), Q(dir.file("capture"))},
                               {QStringLiteral("XDG_CONFIG_HOME"), Q(dir.file("config"))},
                               {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")},
                               {QStringLiteral("QMIDI_FRAMES"), QString()}};
    ASSERT_EQ(BusCall(QStringLiteral("UpdateActivationEnvironment"), {QVariant::fromValue(env)}).type(),
              QDBusMessage::ReplyMessage);
  }
  void TearDown() override {
    QDBusMessage r = BusCall(QStringLiteral("GetConnectionUnixProcessID"), {QString::fromLatin1(kEngineService)});
    if (r.type() == QDBusMessage::ReplyMessage) ::kill(static_cast<pid_t>(r.arguments().first().toLongLong()), SIGKILL);
  }
  qtest::TempDir dir, songs, target;
};

TEST_F(EnginePictures, CopyTakesTheScriptsPicturesInAnyLetterCase) {
  // The demo song, its script and the picture the script shows, renamed
  // the way old collections mix letter cases.
  const QString demo = QStringLiteral(QMIDI_SOURCE_DIR "/demo/");
  const QString song = Q(songs.file("Demo.mid"));
  ASSERT_TRUE(QFile::copy(demo + "DEMO.MID", song));
  ASSERT_TRUE(QFile::copy(demo + "DEMO.WRD", Q(songs.file("demo.wrd"))));
  ASSERT_TRUE(QFile::copy(demo + "SCENE.MAG", Q(songs.file("Scene.Mag"))));
  target.write("Scene.Mag", "an older picture");

  FakeHost host(songs);
  TQMIDICTLX control(&host.window);
  host.engine = &control;
  const TSongCompanions c = QGmstTitle2(host, song);
  ASSERT_TRUE(c.hasWrd);
  ASSERT_EQ(c.pictures.size(), 1) << c.pictures.join(QLatin1Char(' ')).toStdString();
  EXPECT_EQ(QGDosFileName(c.pictures[0]).toUpper(), QStringLiteral("SCENE.MAG"));

  host.setList({song});
  host.selectRow(0);
  TFileCommands commands(host, host.access);
  QTimer::singleShot(0, [&] {
    commands.dialog().Edit1->setText(Q(target.path().string()));
    commands.dialog().OKBtn->click();
  });
  commands.copyFile();

  EXPECT_EQ(host.caption, QStringLiteral("ファイルの複写完了"));
  EXPECT_EQ(qtest::ReadBytes(target.file("Demo.mid")), qtest::ReadBytes(song.toStdString()));
  EXPECT_EQ(qtest::ReadBytes(target.file("demo.wrd")), qtest::ReadBytes(songs.file("demo.wrd")));
  EXPECT_EQ(qtest::ReadBytes(target.file("Scene.Mag")), qtest::ReadBytes(songs.file("Scene.Mag")));  // replaced
}

}  // namespace
