// The auto-play list editor against a stand-in main window and a real
// settings file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "jukebox/list_editor.h"
#include "tests/jukebox_parts/fake_host.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class ListEditor : public ::testing::Test {
 protected:
  ListEditor() : host(dir) { songs.write("ONE.MID", "1"); }

  // Adds every file of the songs folder `times` times over.
  void addAll(TAUTOF& e, int times) {
    e.setFolder(Q(songs.path().string()));
    e.FileListBox1->setCurrentRow(0);
    for (int i = 0; i < times; ++i) e.Button5Click();
  }
  QString stored(int i) { return host.access.read(QGPlayListValueName(host.library, i)); }

  qtest::TempDir dir, songs;
  FakeHost host;
};

TEST_F(ListEditor, TheEntryPast1023IsStoredWithoutAFolderAndOnly1024AreStored) {
  qtest::TempDir many;
  for (int i = 0; i < 1025; ++i) many.write(QStringLiteral("S%1.MID").arg(i, 4, 10, QLatin1Char('0')).toStdString(), "s");
  TAUTOF e(host, host.access);
  e.show();
  e.setFolder(Q(many.path().string()));
  e.FileListBox1->setCurrentRow(0);
  e.Button5Click();
  EXPECT_EQ(e.ListBox1->count(), 1025);  // shown, though not all can be stored
  e.Button1Click();
  EXPECT_EQ(stored(1022), Q(many.file("S1022.MID")));
  EXPECT_EQ(stored(1023), QStringLiteral("S1023.MID"));
  EXPECT_EQ(stored(1024), QString());
  EXPECT_EQ(host.loads, 1);
  EXPECT_FALSE(e.isVisible());
}

TEST_F(ListEditor, ASongIsListedOnceAndEntriesMoveWithTheirFolders) {
  qtest::TempDir other;
  other.write("ONE.MID", "another one");
  songs.write("TWO.MID", "2");
  TAUTOF e(host, host.access);
  addAll(e, 2);  // the second time adds nothing
  ASSERT_EQ(e.ListBox1->count(), 2);
  e.setFolder(Q(other.path().string()));
  e.FileListBox1->setCurrentRow(0);
  e.Button5Click();  // the same name in another folder is another song
  ASSERT_EQ(e.ListBox1->count(), 3);
  e.ListBox1->setCurrentRow(2);
  e.ButtonUp->click();
  e.ButtonUp->click();
  e.ButtonUp->click();  // already first: stays
  e.ListBox1->setCurrentRow(1);
  e.ButtonDown->click();
  e.Button1Click();
  EXPECT_EQ(stored(0), Q(other.file("ONE.MID")));
  EXPECT_EQ(stored(1), Q(songs.file("TWO.MID")));
  EXPECT_EQ(stored(2), Q(songs.file("ONE.MID")));
}

TEST_F(ListEditor, AddNeedsACurrentFileAndTakesTheSelectedOnesInOrder) {
  songs.write("two.mid", "2");
  songs.write("THREE.RCP", "3");
  songs.write("notes.txt", "x");
  TAUTOF e(host, host.access);
  e.setFolder(Q(songs.path().string()));
  EXPECT_EQ(e.FileListBox1->count(), 3);  // "*.MID" lists "two.mid"; notes.txt is left out
  e.FileListBox1->selectAll();
  e.Button5Click();
  e.Button3Click();
  EXPECT_EQ(e.ListBox1->count(), 0);  // selection without a current item adds nothing
  e.FileListBox1->setCurrentRow(2, QItemSelectionModel::NoUpdate);
  e.Button3Click();
  ASSERT_EQ(e.ListBox1->count(), 3);
  EXPECT_EQ(e.ListBox1->item(0)->text(), QStringLiteral("ONE.MID"));
  EXPECT_EQ(e.ListBox1->item(2)->text(), QStringLiteral("two.mid"));
  EXPECT_EQ(e.entryFolder(2), Q(songs.path().string()) + "/");
  e.FilterComboBox1->setCurrentIndex(2);  // RCP files
  EXPECT_EQ(e.FileListBox1->count(), 1);
}

TEST_F(ListEditor, RemoveKeepsEachRemainingEntryWithItsFolder) {
  qtest::TempDir other;
  other.write("B.MID", "b");
  songs.write("TWO.MID", "2");
  TAUTOF e(host, host.access);
  addAll(e, 1);
  e.setFolder(Q(other.path().string()));
  e.FileListBox1->setCurrentRow(0);
  e.Button5Click();  // ONE, TWO, B
  e.ListBox1->setCurrentRow(0);
  e.ListBox1->item(1)->setSelected(true);
  e.Button4Click();
  ASSERT_EQ(e.ListBox1->count(), 1);
  EXPECT_EQ(e.ListBox1->item(0)->text(), QStringLiteral("B.MID"));
  EXPECT_EQ(e.entryFolder(0), Q(other.path().string()) + "/");
  e.ListBox1->setCurrentRow(0);
  e.Button6Click();
  EXPECT_EQ(e.ListBox1->count(), 0);
  EXPECT_EQ(e.entryFolder(0), QString());
}

TEST_F(ListEditor, ShowTakesTheMainListOnlyWhenEmptyAndCancelKeepsTheEdits) {
  const QString a = Q(songs.write("A.MID", "a"));
  host.setList({a});
  host.random = true;
  TAUTOF e(host, host.access);
  e.show();
  ASSERT_EQ(e.ListBox1->count(), 1);
  EXPECT_EQ(e.entryFolder(0), Q(songs.path().string()) + "/");
  EXPECT_TRUE(e.CB_RANDOM->isChecked());
  addAll(e, 1);
  e.CB_RANDOM->setChecked(false);
  e.Button2->click();
  EXPECT_FALSE(e.isVisible());
  EXPECT_TRUE(host.random);
  EXPECT_EQ(stored(0), QString());
  e.show();
  EXPECT_EQ(e.ListBox1->count(), 2);  // A, then ONE added before CANCEL (A is listed already)
}

TEST_F(ListEditor, OkWithAnEmptyListDeletesTheStoredList) {
  const QString a = Q(songs.write("A.MID", "a"));
  host.access.write(QGPlayListValueName(0, 0), a);
  host.access.write(QGPlayListValueName(0, 1), a);
  host.loadPlayList(0);
  ASSERT_EQ(host.view.topLevelItemCount(), 2);
  host.current = 1;
  TAUTOF e(host, host.access);
  e.show();
  e.ListBox1->setCurrentRow(0);
  e.Button6Click();
  e.Button1Click();
  EXPECT_EQ(stored(0), QString());
  EXPECT_EQ(stored(1), QString());
  EXPECT_EQ(host.view.topLevelItemCount(), 0);
  EXPECT_EQ(host.count, 0);
  EXPECT_EQ(host.current, 0);
  EXPECT_EQ(host.paths[0], a);  // the path table itself stays
}

TEST_F(ListEditor, ALongerStoredListLosesItsExtraValuesUpToTheFirstMissingOne) {
  for (int i : {0, 1, 2, 3, 5}) host.access.write(QGPlayListValueName(0, i), QStringLiteral("/gone/X%1.MID").arg(i));
  songs.write("TWO.MID", "2");
  TAUTOF e(host, host.access);  // the main list is empty: its files are gone
  addAll(e, 1);
  e.Button1Click();
  EXPECT_EQ(stored(1), Q(songs.file("TWO.MID")));
  EXPECT_EQ(stored(2), QString());
  EXPECT_EQ(stored(3), QString());
  EXPECT_EQ(stored(5), QStringLiteral("/gone/X5.MID"));
  EXPECT_EQ(host.count, 2);
  EXPECT_EQ(host.current, -1);
}

TEST_F(ListEditor, ThePositionIsKeptForTheNextRun) {
  {
    TAUTOF e(host, host.access);
    e.move(40, 30);
  }
  EXPECT_EQ(host.access.read(QStringLiteral("AutofLeft")), QStringLiteral("40"));
  TAUTOF again(host, host.access);
  EXPECT_EQ(again.pos(), QPoint(40, 30));
}

}  // namespace
