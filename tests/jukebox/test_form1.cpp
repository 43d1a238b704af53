// The main window without an engine (the control answers with its
// fallbacks): start-up and shutdown, the play list and library number, the
// play flow driven by the control's reports, clicks and the status display.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QUrl>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>

#include <set>

#include "QMIDICTLXControl.h"
#include "jukebox/form1_mpris.h"
#include "jukebox/status_text.h"
#include "jukebox/up_down.h"
#include "tests/jukebox/jukebox_fixture.h"

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

void Wait(int ms) { QTest::qWait(ms); }

// Lets events run until done() or ms have passed; the result of done().
template <class F>
bool WaitUntil(F done, int ms = 2000) {
  for (int waited = 0; !done() && waited < ms; waited += 10) QTest::qWait(10);
  return done();
}

TEST_F(JukeboxTest, AFreshUserStartsWithListZeroAndTheDefaults) {
  TForm1& f = open();
  EXPECT_EQ(f.windowTitle(), "QUORMIDI v1.01");
  EXPECT_EQ(widget<QLineEdit>("Edit1")->text(), "0");
  EXPECT_EQ(f.libraryNumber(), 0);
  EXPECT_FALSE(widget<QCheckBox>("CB_JIDOU")->isChecked());
  EXPECT_FALSE(widget<QCheckBox>("CB_WRD")->isChecked());
  EXPECT_FALSE(f.randomOn());
  EXPECT_EQ(f.entryCount(), 0);
  EXPECT_EQ(f.currentIndex(), -1);
  for (auto [name, text] : {std::pair{"LB_CURRENT", "1.0.000"}, {"LB_TOTAL", "1.0.000"}, {"LB_TIMEC", "0:"},
                            {"LB_TIMEC2", "00."}, {"LB_TIMEC3", "000"}, {"LB_TIME", "0:00.000"},
                            {"LB_TEMPO", "120"}, {"LB_HYOSI", "4/4"}, {"Label2", "ﾃﾝﾎﾟ"}, {"Label7", "拍子"}})
    EXPECT_EQ(widget<QLabel>(name)->text(), Text(text)) << name;
  auto* list = widget<QTreeWidget>("ListBox1");
  EXPECT_EQ(list->headerItem()->text(2), "タイトル");
  EXPECT_EQ(widget<TQMIDICTLX>("QMIDICTLX1")->geometry(), QRect(232, 44, 36, 20));
  EXPECT_EQ(store.read("Handle").toULongLong(), quint64(f.winId()));
}

TEST_F(JukeboxTest, MenusCarryTheirShortcuts) {
  open();
  const std::pair<const char*, QKeySequence> shortcuts[] = {
      {"MN_FILEOPEN", Qt::Key_F5},         {"MN_FILEPAUSE", Qt::Key_F6},        {"MN_FILESTOP", Qt::Key_F7},
      {"MN_FILESTART", Qt::Key_F8},        {"MN_FILEBACK", Qt::Key_F9},         {"MN_FILENEXT", Qt::Key_F10},
      {"MN_FILECLOSE", Qt::Key_F3},        {"MN_FILEKENSAKU", Qt::Key_F4},      {"MN_HELP", Qt::Key_F1},
      {"MN_FILECOPY", Qt::CTRL | Qt::Key_C}, {"MN_FILEMOVE", Qt::CTRL | Qt::Key_M},
      {"MN_FILEDELETE", Qt::CTRL | Qt::Key_D}, {"MN_FILEREKENSAKU", Qt::CTRL | Qt::Key_N},
      {"MN_FILESORTNAME", Qt::CTRL | Qt::Key_S}, {"MN_FILESORTTITLE", Qt::CTRL | Qt::Key_T}};
  std::set<QKeySequence> seen;
  for (const auto& [name, key] : shortcuts) {
    EXPECT_EQ(widget<QAction>(name)->shortcut(), key) << name;
    EXPECT_TRUE(seen.insert(key).second) << name;
  }
  EXPECT_EQ(widget<QAction>("MN_FILENEXT")->text(), "次の曲(&Next)");
  EXPECT_FALSE(widget<QAction>("MN_FILEReOPEN0")->isVisible());
}

TEST_F(JukeboxTest, TheStoredListOfTheLibraryNumberIsLoaded) {
  const QString a = song("A.MID"), b = song("B.MID"), d = song("D.MID");
  storeList(3, {a, b});
  store.write("L3K3", d);  // after the gap at L3K2: not part of the list
  storeList(4, {song("gone.MID"), d});
  ASSERT_TRUE(QFile::remove(QString::fromStdString(dir.file("gone.MID"))));
  store.write("LIBNO", "3");

  TForm1& f = open();
  EXPECT_EQ(f.entryCount(), 2);
  auto* list = widget<QTreeWidget>("ListBox1");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(0), "B.MID");
  EXPECT_EQ(list->topLevelItem(1)->text(1), "     ");  // no WRD script known
  EXPECT_EQ(f.playListPath(1), b);

  QSignalSpy loaded(&f, &TForm1::playListLoaded);
  widget<TUpDown>("UpDown1")->stepUp();
  ASSERT_TRUE(loaded.wait(1000));
  EXPECT_EQ(loaded.takeFirst().at(0).toInt(), 4);
  EXPECT_EQ(f.entryCount(), 1);  // the deleted file is left out
  EXPECT_EQ(f.playListPath(0), d);
}

TEST_F(JukeboxTest, TurningTheUpDownQuicklyLoadsOnlyTheLastList) {
  for (int library = 0; library <= 5; ++library) storeList(library, {song("S" + std::to_string(library) + ".MID")});
  TForm1& f = open();
  QSignalSpy loaded(&f, &TForm1::playListLoaded);
  auto* upDown = widget<TUpDown>("UpDown1");
  for (int i = 0; i < 5; ++i) upDown->stepUp();
  EXPECT_EQ(widget<QLineEdit>("Edit1")->text(), "5");
  Wait(10 * TForm1::kLibraryDebounceMs);
  ASSERT_EQ(loaded.count(), 1);
  EXPECT_EQ(loaded.at(0).at(0).toInt(), 5);
  EXPECT_EQ(widget<QTreeWidget>("ListBox1")->topLevelItem(0)->text(0), "S5.MID");

  upDown->stepDown();  // back to a number loaded before: loaded again
  Wait(10 * TForm1::kLibraryDebounceMs);
  EXPECT_EQ(loaded.count(), 2);
}

TEST_F(JukeboxTest, TheLibraryNumberStaysWhilePlaying) {
  storeList(0, {song("A.MID")});
  TForm1& f = open();
  f.selectRow(0);
  f.MN_FILESTARTClick();
  ASSERT_TRUE(f.isPlaying());
  widget<TUpDown>("UpDown1")->stepUp();
  EXPECT_EQ(f.libraryNumber(), 0);
  EXPECT_EQ(f.windowTitle(), Text(kNotWhilePlaying));
}

TEST_F(JukeboxTest, StartWithoutSelectionPlaysTheLastStartedFileOrNothing) {
  TForm1& f = open();
  f.MN_FILESTARTClick();
  EXPECT_FALSE(f.isPlaying());
  EXPECT_TRUE(startedSongs().isEmpty());

  const QString a = song("A.MID");
  f.openSong(a);  // Open plays the chosen song
  EXPECT_TRUE(f.isPlaying());
  EXPECT_FALSE(widget<QCheckBox>("CB_JIDOU")->isChecked());
  f.MN_FILESTOPClick();
  report(-1);
  EXPECT_FALSE(f.isPlaying());
  f.MN_FILESTARTClick();
  EXPECT_EQ(startedSongs(), QStringList({a, a}));
  EXPECT_EQ(f.lastStartedFile(), a);
}

TEST_F(JukeboxTest, RandomPlayWithThreeEntriesPlaysEachOnceBeforeANewOrder) {
  const QStringList songs{song("A.MID"), song("B.MID"), song("C.MID")};
  storeList(0, songs);
  store.write("swRandom", "True");
  store.write("swJidou", "True");
  TForm1& f = open();
  ASSERT_TRUE(widget<QCheckBox>("CB_JIDOU")->isChecked());
  f.MN_FILESTARTClick();
  for (int i = 0; i < 5; ++i) report(-2);  // each song ends, the next follows
  const QStringList played = startedSongs();
  ASSERT_EQ(played.size(), 6);
  EXPECT_EQ(QSet<QString>(played.begin(), played.begin() + 3), QSet<QString>(songs.begin(), songs.end()));
  EXPECT_EQ(QSet<QString>(played.begin() + 3, played.end()), QSet<QString>(songs.begin(), songs.end()));
  EXPECT_NE(played[2], played[3]);
}

TEST_F(JukeboxTest, AutomaticPlayStepsInListOrderBothWaysAndWraps) {
  const QStringList songs{song("A.MID"), song("B.MID"), song("C.MID")};
  storeList(0, songs);
  store.write("swJidou", "True");
  TForm1& f = open();
  auto* list = widget<QTreeWidget>("ListBox1");
  EXPECT_EQ(list->selectedItems().value(0), list->topLevelItem(0)) << "a loaded list offers its first row";
  f.MN_FILESTARTClick();
  report(-2);
  report(-2);
  report(-2);
  EXPECT_EQ(startedSongs(), QStringList({songs[0], songs[1], songs[2], songs[0]}));
  EXPECT_EQ(f.currentIndex(), 0);
  EXPECT_EQ(list->selectedItems().value(0), list->topLevelItem(0));
  report(-1);  // stopped: no step
  f.MN_FILEBACKClick();
  EXPECT_EQ(startedSongs().last(), songs[2]);
}

// The engine reports each song's end once, after its progress, and a start
// waits for the end report of the song stopped before it; the reports reach
// the window in any order against its own commands.
class PlayStateTest : public JukeboxTest {
 protected:
  void SetUp() override {
    JukeboxTest::SetUp();
    songs = {song("A.MID"), song("B.MID"), song("C.MID"), song("D.MID")};
    storeList(0, songs);
    store.write("swJidou", "True");
    open();
    mpris = std::make_unique<TForm1Mpris>(*form);
  }
  // Playing, its MPRIS state and the live labels tell the same.
  void expectPlaying(bool playing) {
    EXPECT_EQ(form->isPlaying(), playing);
    EXPECT_EQ(mpris->mprisState(), playing ? TMprisPlayer::State::Playing : TMprisPlayer::State::Stopped);
    if (!playing) {
      EXPECT_FALSE(form->statusDisplay().running());
    }
  }
  void startRow(int row) {
    form->selectRow(row);
    form->MN_FILESTARTClick();
  }
  int shownMs() const { return form->statusValues().values[0]; }

  QStringList songs;
  std::unique_ptr<TForm1Mpris> mpris;
};

TEST_F(PlayStateTest, NextRestartsTheSongWhenTheStoppedOneHasClosedAndStepsAtItsEnd) {
  startRow(1);
  form->MN_FILENEXTClick();
  EXPECT_EQ(startedSongs(), QStringList({songs[1]})) << "not before the stopped song closed";
  expectPlaying(true);
  report(4000, 0, 120, 4004);  // the stopped song's last progress: not shown
  EXPECT_EQ(shownMs(), 0);
  report(-1);
  EXPECT_EQ(startedSongs(), QStringList({songs[1], songs[1]}));
  report(5, 0, 120, 4004);
  EXPECT_EQ(shownMs(), 5);
  report(-2);  // the restarted song's own end: now the move
  EXPECT_EQ(startedSongs().last(), songs[2]);

  form->MN_FILEBACKClick();  // backward this time
  report(-1);
  report(-2);
  EXPECT_EQ(startedSongs().mid(3), QStringList({songs[2], songs[1]}));
  expectPlaying(true);
}

TEST_F(PlayStateTest, AnEndReportOfTheSongBeforeIsNeverTakenForTheNextOne) {
  startRow(0);
  report(900, 0, 120, 4004);
  // The song ends by itself; its -2 is on its way when the user steps on.
  form->MN_FILENEXTClick();
  report(-2);
  EXPECT_EQ(startedSongs(), QStringList({songs[0], songs[0]})) << "one start, no automatic step as well";
  expectPlaying(true);
  EXPECT_TRUE(form->statusDisplay().running());
  form->MN_FILESTOPClick();
  expectPlaying(false);
  report(-2);  // the restarted song's end, after the stop
  expectPlaying(false);
  report(-1);  // a report nobody owes: changes nothing
  EXPECT_EQ(startedSongs().size(), 2);
}

TEST_F(PlayStateTest, RapidStepsStartOnlyTheLastChoiceAndAStopAmongThemStartsNothing) {
  startRow(0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(form->stepEntry(true));
  EXPECT_EQ(form->currentIndex(), 3);
  EXPECT_EQ(startedSongs().size(), 1);
  report(-1);
  EXPECT_EQ(startedSongs(), QStringList({songs[0], songs[3]}));

  ASSERT_TRUE(form->stepEntry(false));
  form->MN_FILENEXTClick();
  form->MN_FILESTOPClick();
  expectPlaying(false);
  report(7000, 0, 120, 4004);  // still the stopped song
  report(-1);
  EXPECT_EQ(startedSongs().size(), 2);
  expectPlaying(false);
  EXPECT_EQ(shownMs(), 0);
}

TEST_F(PlayStateTest, StartAfterStopWaitsForTheStoppedSongAndPauseOnlyReachesASoundingSong) {
  startRow(2);
  form->MN_FILESTOPClick();
  form->MN_FILESTARTClick();
  expectPlaying(true);
  form->MN_FILEPAUSEClick();  // the song is not in the engine yet
  EXPECT_FALSE(form->isPaused());
  EXPECT_EQ(startedSongs().size(), 1);
  report(-2);  // the stopped song's end never steps on
  EXPECT_EQ(startedSongs(), QStringList({songs[2], songs[2]}));
  form->MN_FILEPAUSEClick();
  EXPECT_TRUE(form->isPaused());
  EXPECT_EQ(mpris->mprisState(), TMprisPlayer::State::Paused);
  form->MN_FILESTOPClick();
  expectPlaying(false);
}

TEST_F(PlayStateTest, AStopWhileAnEndReportIsUnderWayDoesNotStepOn) {
  form->MN_FILENEXTClick();
  form->MN_FILESTOPClick();  // the song had ended already; its -2 is on its way
  report(-2);
  expectPlaying(false);
  EXPECT_EQ(startedSongs().size(), 1);
  form->MN_FILESTARTClick();  // the engine is free: at once
  EXPECT_EQ(startedSongs().size(), 2);
}

TEST_F(JukeboxTest, TheFirstReportSetsTotalsAndTimeSignatureAndTheDisplayFollows) {
  storeList(0, {song("A.MID")});
  TForm1& f = open();
  f.selectRow(0);
  f.MN_FILESTARTClick();
  EXPECT_TRUE(f.statusDisplay().running());
  report(61234, 20345, 140, 6008);
  EXPECT_EQ(widget<QLabel>("LB_HYOSI")->text(), "6/8");
  EXPECT_EQ(widget<QLabel>("LB_TIME")->text(), "0:00.000");  // the control's fallback total
  EXPECT_EQ(widget<QProgressBar>("Gauge1")->maximum(), kLevelMaximum);
  f.statusDisplay().refresh();
  EXPECT_EQ(widget<QLabel>("LB_TIMEC")->text(), "1:");
  EXPECT_EQ(widget<QLabel>("LB_TIMEC2")->text(), "01.");
  EXPECT_EQ(widget<QLabel>("LB_TIMEC3")->text(), "234");
  EXPECT_EQ(widget<QLabel>("LB_CURRENT")->text(), "3.0.345");
  EXPECT_EQ(widget<QLabel>("LB_TEMPO")->text(), "140");
  report(62000, 20400, 600, 9000);  // a tempo of 600 is not believed
  f.statusDisplay().refresh();
  EXPECT_EQ(widget<QLabel>("LB_TEMPO")->text(), "140");
  EXPECT_EQ(widget<QProgressBar>("Gauge1")->value(), 9000);
  report(-1);
  EXPECT_FALSE(f.statusDisplay().running());

  f.MN_FILESTARTClick();  // a new song: its first report decides again
  report(100, 0, 120, 1);
  EXPECT_EQ(widget<QLabel>("LB_HYOSI")->text(), "4/4");
}

TEST_F(JukeboxTest, TheDisplayRestsWhileTheWindowIsHidden) {
  storeList(0, {song("A.MID")});
  TForm1& f = open();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.selectRow(0);
  f.MN_FILESTARTClick();
  EXPECT_TRUE(f.statusDisplay().ticking());
  report(1500, 10000, 100, 4004);
  EXPECT_TRUE(WaitUntil([&] { return widget<QLabel>("LB_CURRENT")->text() == "2.0.000"; }));
  f.hide();
  EXPECT_FALSE(f.statusDisplay().ticking());
  f.show();
  EXPECT_TRUE(f.statusDisplay().ticking());
  f.MN_FILESTOPClick();
  EXPECT_FALSE(f.statusDisplay().ticking());
}

TEST_F(JukeboxTest, ClicksPickTheRowUnderTheMouseRightOfTheMargin) {
  const QStringList songs{song("A.MID"), song("B.MID"), song("C.MID")};
  storeList(0, songs);
  TForm1& f = open();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  auto* list = widget<QTreeWidget>("ListBox1");
  const QRect row2 = list->visualItemRect(list->topLevelItem(2));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(300, row2.center().y()));
  EXPECT_EQ(f.currentIndex(), 2);
  EXPECT_EQ(list->selectedItems().value(0), list->topLevelItem(2));

  const QRect row1 = list->visualItemRect(list->topLevelItem(1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(40, row1.center().y()));
  EXPECT_EQ(f.currentIndex(), -1);  // near the left edge: only the list's own selection
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(300, row1.center().y()));
  EXPECT_EQ(startedSongs(), QStringList({songs[1]}));
}

TEST_F(JukeboxTest, ShutdownWritesTheSwitchesAndTheLibraryNumber) {
  storeList(2, {song("A.MID")});
  store.write("LIBNO", "2");
  store.write("swJidou", "True");
  store.write("Form1Left", "40");
  store.write("Form1Top", "30");
  TForm1& f = open();
  EXPECT_EQ(f.geometry().topLeft(), QPoint(40, 30));  // the inside of the window, not its frame
  f.setRandomOn(true);
  widget<QCheckBox>("CB_WRD")->setChecked(true);
  form.reset();
  EXPECT_EQ(store.read("swRandom"), "True");
  EXPECT_EQ(store.read("swJidou"), "True");
  EXPECT_EQ(store.read("swWRD"), "True");
  EXPECT_EQ(store.read("LIBNO"), "2");
  EXPECT_EQ(store.read("Form1Left"), "40");
  EXPECT_EQ(store.read("Form1Top"), "30");
}

TEST_F(JukeboxTest, AutomaticPlayIsSwitchedOffForAnEmptyList) {
  store.write("swJidou", "True");
  open();
  EXPECT_FALSE(widget<QCheckBox>("CB_JIDOU")->isChecked());
  form.reset();
  EXPECT_EQ(store.read("swJidou"), "False");
}

TEST_F(JukeboxTest, HelpThatCannotBeShownSaysWhereItIsInABox) {
  TForm1& f = open();
  ASSERT_FALSE(QFile::exists(QCoreApplication::applicationDirPath() + "/HELP.HTM"));
  f.MN_HELPClick();
  auto* box = f.findChild<QMessageBox*>("HelpBox");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->informativeText().endsWith("/share/qmidi/HELP.HTM")) << box->informativeText().toStdString();
  EXPECT_EQ(f.windowTitle(), "QUORMIDI v1.01");
  box->close();
}

// Songs from the command line, a second jukebox, the open dialog or a drop
// join the shown list and its stored list, each once.
TEST_F(JukeboxTest, AddedSongsJoinTheShownAndTheStoredListOnceAndTheFirstCanPlay) {
  const QString a = song("A.MID"), b = song("music/B.MID"), c = song("music/sub/c.rcp");
  storeList(2, {a});
  store.write("LIBNO", "2");
  TForm1& f = open();
  auto* list = widget<QTreeWidget>("ListBox1");
  const QString here = QString::fromStdString(dir.path().string());
  EXPECT_EQ(f.addSongs({"music", "A.MID", "gone.mid"}, false, here), 2);
  EXPECT_EQ(f.entryCount(), 3);
  EXPECT_EQ(list->topLevelItem(1)->text(0), "B.MID");
  EXPECT_EQ(store.read("L2K1"), b);
  EXPECT_EQ(store.read("L2K2"), c);
  EXPECT_TRUE(f.windowTitle().contains("gone.mid")) << f.windowTitle().toStdString();
  EXPECT_TRUE(WaitUntil([&] { return f.rowsToRead() == 0; }));

  // --start: the first song given plays, and automatic play goes on after it.
  f.addSongs({c, a}, true);
  EXPECT_EQ(f.entryCount(), 3);
  EXPECT_EQ(startedSongs(), QStringList({c}));
  EXPECT_TRUE(widget<QCheckBox>("CB_JIDOU")->isChecked());
  report(-2);
  EXPECT_EQ(startedSongs(), QStringList({c, a}));

  // A drop from a file manager.
  const QString d = song("D.MID");
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(d)});
  QDragEnterEvent enter(QPoint(10, 100), Qt::CopyAction, &mime, Qt::LeftButton, {});
  QCoreApplication::sendEvent(&f, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 100), Qt::CopyAction, &mime, Qt::LeftButton, {});
  QCoreApplication::sendEvent(&f, &drop);
  EXPECT_EQ(f.playListPath(3), d);
  EXPECT_EQ(store.read("L2K3"), d);
}

TEST_F(JukeboxTest, TheShownListExportedAndImportedIsTheSameList) {
  const QStringList songs{song("ONE.MID"), song("曲/TWO.mid"), song("three.rcp")};
  storeList(0, songs);
  TForm1& f = open();
  for (const char* name : {"saved.m3u8", "saved.xspf"}) {
    const QString path = QString::fromStdString(dir.file(name));
    ASSERT_TRUE(f.exportPlayList(path));
    store.remove("L1K0");
    QSignalSpy loaded(&f, &TForm1::playListLoaded);
    widget<TUpDown>("UpDown1")->stepUp();  // an empty list 1
    ASSERT_TRUE(loaded.wait(1000));
    EXPECT_EQ(f.addSongs({path}, false), 3) << name;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(store.read(PlayListValueName(1, i)), songs[i]) << name;
    for (int i = 0; i < 3; ++i) store.remove(PlayListValueName(1, i));
    widget<TUpDown>("UpDown1")->stepDown();
    ASSERT_TRUE(loaded.wait(1000));
  }
}

}  // namespace
