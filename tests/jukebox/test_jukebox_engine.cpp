// The jukebox against the real engine: the engine is registered with this
// test's private session bus (-REGSERVER into XDG_DATA_HOME) and started by
// the bus, playing on capture devices and drawing offscreen (WRD frames as
// PNG files).
#include <gtest/gtest.h>

#include <signal.h>

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QAction>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <fstream>
#include <set>

#include "control/engine_link.h"
#include "tests/common/engine_on_bus.h"
#include "tests/jukebox/jukebox_fixture.h"
#include "tests/song/song_fixture.h"

namespace {

using songtest::Smf;
using songtest::Track;

template <class F>
bool WaitUntil(F done, int ms) {
  for (int waited = 0; !done() && waited < ms; waited += 20) QTest::qWait(20);
  return done();
}

// The songs a capture log heard, in order: each a run of note-ons of one
// pitch (each test song plays one pitch), and whether the devices were
// closed between its last note and the next song's first.
struct SongRun {
  int pitch = 0;
  int notes = 0;
  bool closedAfter = false;
};

std::vector<SongRun> Runs(const std::string& log) {
  std::vector<SongRun> runs;
  std::ifstream in(log);
  bool closed = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "close") closed = true;
    const auto space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string bytes = line.substr(space + 1);
    if (bytes.size() != 6 || bytes[0] != '9' || bytes.substr(4) == "00") continue;
    const int pitch = std::stoi(bytes.substr(2, 2), nullptr, 16);
    if (runs.empty() || runs.back().pitch != pitch) {
      if (!runs.empty()) runs.back().closedAfter = closed;
      runs.push_back({pitch, 0, false});
    }
    ++runs.back().notes;
    closed = false;
  }
  return runs;
}

class JukeboxWithEngine : public JukeboxTest {
 protected:
  void SetUp() override {
    JukeboxTest::SetUp();
    const std::string problem = qtest::RegisterEngineWithBus(
        QStringLiteral(QMIDIEXE_PATH),
        {{QStringLiteral("QMIDI_CAPTURE"), QString::fromStdString(dir.file("capture"))},
         {QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.file("engine-config"))},
         {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen")},
         {QStringLiteral("QMIDI_FRAMES"), QString::fromStdString(dir.file("frames"))}});
    ASSERT_EQ(problem, "");
  }

  void TearDown() override {
    JukeboxTest::TearDown();
    qtest::KillEngine();
  }

  // About `seconds` of one repeated note at `tempo` microseconds a beat
  // (division 96), in `numerator`/4 time.
  QString writeSong(const std::string& name, int note, double seconds, uint32_t tempo = 500000, uint8_t numerator = 4) {
    Track t;
    t.tempo(0, tempo).timeSignature(0, numerator, 2);
    const int beats = int(seconds * 1e6 / tempo);
    for (int beat = 0; beat < beats; ++beat)
      t.at(beat == 0 ? 0 : 48, {0x90, uint8_t(note), 100}).at(48, {0x80, uint8_t(note), 0});
    t.end();
    return QString::fromStdString(dir.write(name, Smf(96, {t})));
  }

  std::string mapperLog() const { return dir.file("capture/mapper.log"); }

  // Plays until `songs` songs have started and the last of them has ended.
  void playThrough(TForm1& f, int songs) {
    ASSERT_TRUE(WaitUntil([&] { return started->count() >= songs + 1 || (started->count() == songs && !f.isPlaying()); },
                          30000))
        << "started " << started->count();
    f.MN_FILESTOPClick();
  }
};

TEST_F(JukeboxWithEngine, AutomaticPlayPlaysAThreeSongListInOrder) {
  storeList(0, {writeSong("A.MID", 60, 1), writeSong("B.MID", 62, 1), writeSong("C.MID", 64, 1)});
  store.write("swJidou", "True");
  TForm1& f = open();
  ASSERT_EQ(f.control()->engineError(), 0) << "the bus did not start the engine";
  ASSERT_EQ(f.entryCount(), 3);
  f.MN_FILENEXTClick();
  playThrough(f, 3);

  const std::vector<SongRun> runs = Runs(mapperLog());
  ASSERT_GE(runs.size(), 3u) << qtest::ReadText(mapperLog()).substr(0, 3000);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(runs[size_t(k)].pitch, 60 + 2 * k) << "song " << k;
    EXPECT_GE(runs[size_t(k)].notes, 2) << "song " << k;
    if (k < 2) {
      EXPECT_TRUE(runs[size_t(k)].closedAfter) << "song " << k << " had not ended when the next began";
    }
  }
}

TEST_F(JukeboxWithEngine, RandomPlayPlaysEachSongOnce) {
  storeList(0, {writeSong("A.MID", 60, 1), writeSong("B.MID", 62, 1), writeSong("C.MID", 64, 1)});
  store.write("swJidou", "True");
  store.write("swRandom", "True");
  TForm1& f = open();
  f.MN_FILESTARTClick();
  playThrough(f, 3);

  const std::vector<SongRun> runs = Runs(mapperLog());
  ASSERT_GE(runs.size(), 3u);
  std::set<int> pitches;
  for (int k = 0; k < 3; ++k) pitches.insert(runs[size_t(k)].pitch);
  EXPECT_EQ(pitches, (std::set<int>{60, 62, 64}));
}

TEST_F(JukeboxWithEngine, TheLabelsFollowTheSong) {
  storeList(0, {writeSong("WALTZ.MID", 67, 4, 400000, 3)});  // 150 beats a minute, 3/4
  TForm1& f = open();
  f.selectRow(0);
  f.MN_FILESTARTClick();
  auto label = [&](const char* name) { return widget<QLabel>(name)->text(); };
  EXPECT_TRUE(WaitUntil([&] { return label("LB_HYOSI") == "3/4" && label("LB_TEMPO") == "150"; }, 10000))
      << label("LB_HYOSI").toStdString() << " " << label("LB_TEMPO").toStdString();
  EXPECT_TRUE(WaitUntil([&] { return label("LB_CURRENT").startsWith("2."); }, 5000)) << label("LB_CURRENT").toStdString();
  // Ten beats of 3/4 end in bar 4 (or where that bar ends), 3.8 s in.
  const int lastBar = label("LB_TOTAL").section('.', 0, 0).toInt();
  EXPECT_TRUE(lastBar == 4 || lastBar == 5) << label("LB_TOTAL").toStdString();
  const QString total = label("LB_TIME");
  EXPECT_TRUE(total >= "0:03.800" && total <= "0:05.000") << total.toStdString();
  EXPECT_NE(label("LB_TIMEC3") + label("LB_TIMEC2"), "00000.");
  std::set<int> levels;
  WaitUntil([&] {
    levels.insert(widget<QProgressBar>("Gauge1")->value());
    return levels.size() > 2;
  }, 3000);
  EXPECT_GT(levels.size(), 2u) << "the level bar did not move";
  f.MN_FILESTOPClick();
  EXPECT_TRUE(WaitUntil([&] { return !f.isPlaying(); }, 5000));
}

TEST_F(JukeboxWithEngine, ASongWithAWrdScriptLeavesTheLabelsAndShowsItsScreen) {
  const QString song = writeSong("WRDSONG.MID", 65, 3);
  dir.write("WRDSONG.WRD", std::string("@COLOR(15)\nHELLO\n@WAIT(1)\nWORLD\n"));
  storeList(0, {song});
  store.write("swWRD", "True");
  TForm1& f = open();
  ASSERT_EQ(widget<QLabel>("LB_CURRENT")->text(), "1.0.000");
  EXPECT_TRUE(f.songHasWrd());
  f.selectRow(0);
  f.MN_FILESTARTClick();
  const QDir frames(QString::fromStdString(dir.file("frames")));
  EXPECT_TRUE(WaitUntil([&] { return !frames.entryList({"*.png"}, QDir::Files).isEmpty(); }, 10000))
      << "no WRD frames";
  QTest::qWait(1000);
  EXPECT_EQ(widget<QLabel>("LB_CURRENT")->text(), "1.0.000");
  EXPECT_EQ(widget<QLabel>("LB_TIMEC3")->text(), "000");
  EXPECT_FALSE(f.statusDisplay().running());
  EXPECT_EQ(widget<QTreeWidget>("ListBox1")->topLevelItem(0)->text(1), "(W) ");

  // Clicks on the window's free area: the first only arms, then left is Next.
  const QPoint freeArea(482, 40);
  ASSERT_EQ(f.centralWidget()->childAt(freeArea), nullptr);
  QTest::mouseClick(f.centralWidget(), Qt::LeftButton, {}, freeArea);
  EXPECT_EQ(started->count(), 1);
  QTest::mouseClick(f.centralWidget(), Qt::LeftButton, {}, freeArea);
  EXPECT_TRUE(WaitUntil([&] { return started->count() == 2; }, 5000));  // stopped and started again
  EXPECT_TRUE(f.isPlaying());
  QTest::mouseClick(f.centralWidget(), Qt::RightButton, {}, freeArea);
  EXPECT_FALSE(f.isPlaying());
}

// The desktop's media controls, as another program on the bus reaches them
// (dbus-send, so that the window's own event loop keeps serving the calls).
QString Mpris(const QStringList& call) {
  QProcess p;
  p.start(QStringLiteral("dbus-send"), QStringList{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                                   QStringLiteral("--dest=org.mpris.MediaPlayer2.quormidi"),
                                                   QStringLiteral("/org/mpris/MediaPlayer2")} + call);
  WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString MprisGet(const char* property) {
  return Mpris({QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                QStringLiteral("string:org.mpris.MediaPlayer2.Player"), QStringLiteral("string:") + QLatin1String(property)});
}

void MprisCall(const char* method) { Mpris({QStringLiteral("org.mpris.MediaPlayer2.Player.") + QLatin1String(method)}); }

TEST_F(JukeboxWithEngine, MediaControlsDriveTheJukeboxAndShowItsSong) {
  auto titled = [&](const std::string& name, const std::string& title, int note) {
    Track t;
    t.text(0, 0x03, title).tempo(0, 500000);
    for (int beat = 0; beat < 8; ++beat)
      t.at(beat == 0 ? 0 : 48, {0x90, uint8_t(note), 100}).at(48, {0x80, uint8_t(note), 0});
    t.end();
    return QString::fromStdString(dir.write(name, Smf(96, {t})));
  };
  storeList(0, {titled("ONE.MID", "First song", 60), titled("TWO.MID", "Second song", 62)});
  store.write("swJidou", "True");
  TForm1& f = open();
  ASSERT_EQ(f.control()->engineError(), 0);
  EXPECT_TRUE(MprisGet("PlaybackStatus").contains("\"Stopped\""));
  f.selectRow(0);
  f.MN_FILESTARTClick();  // the first song
  ASSERT_TRUE(WaitUntil([&] { return f.isPlaying(); }, 10000));
  EXPECT_TRUE(MprisGet("PlaybackStatus").contains("\"Playing\""));
  EXPECT_TRUE(MprisGet("Metadata").contains("First song")) << MprisGet("Metadata").toStdString();

  MprisCall("Next");  // as the window's Next: the song stops, and the end report moves on
  EXPECT_TRUE(WaitUntil([&] { return startedSongs().last().endsWith("TWO.MID"); }, 10000))
      << startedSongs().join(QLatin1Char(' ')).toStdString();
  EXPECT_TRUE(WaitUntil([&] { return MprisGet("Metadata").contains("Second song"); }, 5000))
      << MprisGet("Metadata").toStdString();
  EXPECT_TRUE(MprisGet("Metadata").contains("TWO.MID"));
  EXPECT_TRUE(WaitUntil([&] { return MprisGet("Metadata").contains("mpris:length"); }, 3000))
      << widget<QLabel>("LB_TIME")->text().toStdString() << " " << f.songLengthMs() << " " << f.isPlaying() << " "
      << widget<QLabel>("LB_CURRENT")->text().toStdString() << " " << widget<QLabel>("LB_TIMEC")->text().toStdString() << " " << f.control()->MIDITOTALTIME1();

  MprisCall("Stop");
  EXPECT_TRUE(WaitUntil([&] { return MprisGet("PlaybackStatus").contains("\"Stopped\""); }, 5000));
  MprisCall("Play");
  EXPECT_TRUE(WaitUntil([&] { return MprisGet("PlaybackStatus").contains("\"Playing\""); }, 10000));
  // Paused once the song really sounds (its first progress report came).
  ASSERT_TRUE(WaitUntil([&] { return f.songLengthMs() > 0; }, 10000));
  MprisCall("Pause");
  EXPECT_TRUE(MprisGet("PlaybackStatus").contains("\"Paused\""));
  MprisCall("PlayPause");
  EXPECT_TRUE(MprisGet("PlaybackStatus").contains("\"Playing\""));
  f.MN_FILESTOPClick();
}

// Note-ons on every capture log: (send time in microseconds, pitch).
std::vector<std::pair<int64_t, int>> NoteOns(const QString& folder) {
  std::vector<std::pair<int64_t, int>> notes;
  for (const QString& log : QDir(folder).entryList({QStringLiteral("*.log")}, QDir::Files)) {
    std::ifstream in((folder + QLatin1Char('/') + log).toStdString());
    for (std::string line; std::getline(in, line);) {
      const auto space = line.find(' ');
      if (space == std::string::npos) continue;
      const std::string bytes = line.substr(space + 1);
      if (bytes.size() != 6 || bytes[0] != '9' || bytes.substr(4) == "00") continue;
      notes.emplace_back(std::stoll(line.substr(0, space)), std::stoi(bytes.substr(2, 2), nullptr, 16));
    }
  }
  return notes;
}

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Shuffled play with Next, Back and the media keys in quick succession,
// then Stop at a different moment each round: nothing sounds after it, and
// the window and the media controls say so; in between, the song the
// window shows is the one that sounds.
TEST_F(JukeboxWithEngine, StopSilencesTheSongWhateverCameBefore) {
  QStringList list;
  for (int k = 0; k < 5; ++k) list << writeSong("S" + std::to_string(k) + ".MID", 60 + 2 * k, 40);
  auto pitchOf = [&](const QString& file) { return 60 + 2 * int(list.indexOf(file)); };
  storeList(0, list);
  store.write("swJidou", "True");
  store.write("swRandom", "True");
  TForm1& f = open();
  ASSERT_EQ(f.control()->engineError(), 0);
  const QString capture = QString::fromStdString(dir.file("capture"));
  auto sounding = [&] {
    return WaitUntil([&] { return f.songSounds() && f.songLengthMs() > 0; }, 15000);
  };
  auto lastPitchAfter = [&](int64_t since) {
    int pitch = 0;
    for (const auto& [t, p] : NoteOns(capture))
      if (t > since) pitch = p;
    return pitch;
  };

  f.MN_FILESTARTClick();
  ASSERT_TRUE(sounding());
  for (int delay : {0, 30, 120, 400, 1400}) {
    SCOPED_TRACE("Stop " + std::to_string(delay) + " ms after the last command");
    f.MN_FILENEXTClick();
    MprisCall("Next");
    QTest::qWait(delay / 2);
    f.stepEntry(true);
    f.MN_FILEBACKClick();
    MprisCall("Previous");
    QTest::qWait(delay);
    const int64_t stopUs = NowUs();
    f.MN_FILESTOPClick();
    EXPECT_FALSE(f.isPlaying());
    QTest::qWait(2500);  // longer than a start's lead before its first note
    for (const auto& [t, pitch] : NoteOns(capture))
      EXPECT_LT(t, stopUs + 200000) << "pitch " << pitch << " sounded " << (t - stopUs) / 1000 << " ms after Stop";
    EXPECT_TRUE(MprisGet("PlaybackStatus").contains("\"Stopped\""));
    EXPECT_FALSE(f.isPlaying());
    EXPECT_FALSE(f.statusDisplay().running());
    const QString shown = widget<QLabel>("LB_TIMEC2")->text() + widget<QLabel>("LB_TIMEC3")->text();
    QTest::qWait(200);
    EXPECT_EQ(widget<QLabel>("LB_TIMEC2")->text() + widget<QLabel>("LB_TIMEC3")->text(), shown);

    // Playing again: the song shown is the song heard.
    const int64_t startUs = NowUs();
    f.MN_FILESTARTClick();
    ASSERT_TRUE(sounding());
    EXPECT_TRUE(MprisGet("PlaybackStatus").contains("\"Playing\""));
    ASSERT_TRUE(WaitUntil([&] { return lastPitchAfter(startUs) != 0; }, 5000));
    EXPECT_EQ(lastPitchAfter(startUs), pitchOf(f.currentFile())) << f.currentFile().toStdString();
  }
  f.MN_FILESTOPClick();
}

// The desktop's media controls as playerctl drives them.
QString Playerctl(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("--player=quormidi")} + args);
  WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 10000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

TEST_F(JukeboxWithEngine, MediaControlsFollowPositionVolumeShuffleAndLoop) {
  ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
      << "playerctl is missing (scripts/setup.sh installs it)";
  Track t;
  t.text(0, 0x03, "Song with memo").text(0, 0x01, "Composer: Someone Else").tempo(0, 500000);
  for (int beat = 0; beat < 16; ++beat) t.at(beat == 0 ? 0 : 48, {0x90, 60, 100}).at(48, {0x80, 60, 0});
  t.end();
  const QString memo = QString::fromStdString(dir.write("MEMO.MID", Smf(96, {t})));
  const QString wrd = writeSong("SCREEN.MID", 62, 6);
  dir.write("SCREEN.WRD", std::string("@COLOR(15)\nHELLO\n"));
  storeList(0, {memo, wrd});
  store.write("swWRD", "True");
  TForm1& f = open();
  ASSERT_EQ(f.control()->engineError(), 0);

  f.selectRow(0);
  f.MN_FILESTARTClick();
  ASSERT_TRUE(WaitUntil([&] { return f.songLengthMs() > 0; }, 10000));
  const qlonglong first = Playerctl({QStringLiteral("position")}).toDouble() * 1e6;
  QTest::qWait(600);
  const qlonglong later = Playerctl({QStringLiteral("position")}).toDouble() * 1e6;
  EXPECT_GT(later, first) << "the position grows while playing";
  EXPECT_EQ(Playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:artist")}), "Someone Else");

  Playerctl({QStringLiteral("volume"), QStringLiteral("0.5")});
  EXPECT_TRUE(WaitUntil([&] { return widget<QScrollBar>("ScrollBar1")->value() == 50; }, 3000));
  EXPECT_NEAR(f.control()->DEVVOLUME(), 50, 1);  // as the devices store it
  EXPECT_EQ(Playerctl({QStringLiteral("volume")}).toDouble(), 0.5);

  Playerctl({QStringLiteral("shuffle"), QStringLiteral("On")});
  EXPECT_TRUE(WaitUntil([&] { return f.randomOn(); }, 3000));
  EXPECT_TRUE(widget<QAction>("MN_SETRANDOM")->isChecked());
  Playerctl({QStringLiteral("loop"), QStringLiteral("Playlist")});
  EXPECT_TRUE(WaitUntil([&] { return widget<QCheckBox>("CB_JIDOU")->isChecked(); }, 3000));
  EXPECT_EQ(Playerctl({QStringLiteral("loop")}), "Playlist");
  Playerctl({QStringLiteral("loop"), QStringLiteral("None")});
  EXPECT_TRUE(WaitUntil([&] { return !widget<QCheckBox>("CB_JIDOU")->isChecked(); }, 3000));

  // A song showing its WRD screen sends no progress: its length and
  // position are asked of the engine.
  f.MN_FILESTOPClick();
  f.selectRow(1);
  f.MN_FILESTARTClick();
  EXPECT_TRUE(WaitUntil([&] { return Playerctl({QStringLiteral("metadata"), QStringLiteral("mpris:length")}).toLongLong() > 5000000; },
                        8000));
  const double wrdFirst = Playerctl({QStringLiteral("position")}).toDouble();
  QTest::qWait(600);
  EXPECT_GT(Playerctl({QStringLiteral("position")}).toDouble(), wrdFirst);
  f.MN_FILESTOPClick();
  EXPECT_TRUE(WaitUntil([&] { return Playerctl({QStringLiteral("status")}) == "Stopped"; }, 5000));
}

// quormidi as a user starts it: songs, a list and --start on its command
// line; a second quormidi hands its song to the first and ends at once.
TEST_F(JukeboxWithEngine, TheCommandLinePlaysItsSongsAndASecondJukeboxHandsOverItsOwn) {
  writeSong("A.MID", 60, 1);
  writeSong("B.MID", 62, 1);
  writeSong("lists/C.MID", 64, 1);
  dir.write("lists/more.m3u", std::string("#EXTM3U\nC.MID\n"));
  const QString d = writeSong("D.MID", 66, 1);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(dir.file("quormidi-config")));
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  QProcess first;
  first.setProcessEnvironment(env);
  first.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  first.start(QStringLiteral(QUORMIDI_PATH), {"A.MID", "B.MID", "lists/more.m3u", "--start"});
  ASSERT_TRUE(first.waitForStarted());
  EXPECT_TRUE(WaitUntil([&] { return Runs(mapperLog()).size() >= 3; }, 30000));
  const std::vector<SongRun> runs = Runs(mapperLog());
  ASSERT_GE(runs.size(), 3u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(runs[size_t(k)].pitch, 60 + 2 * k) << "song " << k;

  QProcess second;
  second.setProcessEnvironment(env);
  second.setWorkingDirectory(QString::fromStdString(dir.path().string()));
  second.start(QStringLiteral(QUORMIDI_PATH), {"D.MID"});
  EXPECT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  const QString conf = QString::fromStdString(dir.file("quormidi-config/QUOR/QUORMIDI.conf"));
  EXPECT_TRUE(WaitUntil([&] { return QSettings(conf, QSettings::IniFormat).value("L0K3").toString() == d; }, 5000))
      << qtest::ReadText(conf.toStdString());
  first.terminate();
  WaitUntil([&] { return first.state() == QProcess::NotRunning; }, 5000);
  if (first.state() != QProcess::NotRunning) first.kill();
}

}  // namespace
