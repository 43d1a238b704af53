// The reopen history through a restart, and sorting the list in memory.
#include <gtest/gtest.h>

#include <QAction>

#include "jukebox/quor_commands.h"
#include "tests/jukebox_parts/fake_host.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class History : public ::testing::Test {
 protected:
  History() {
    for (const char* n : {"A.MID", "B.MID", "C.MID", "D.MID", "E.MID", "F.MID", "G.MID", "H.MID", "I.MID"})
      files << Q(songs.write(n, n));
  }
  QStringList captions(FakeHost& host) {
    QStringList out;
    for (int n = 0; n < 8; ++n)
      if (host.reopenItem(n)->isVisible()) out << host.reopenItem(n)->text();
    return out;
  }
  qtest::TempDir dir, songs;
  QStringList files;
};

TEST_F(History, MostRecentFirstEachOnceAndAtMostEight) {
  TReopenHistory h;
  for (const QString& f : files) h.record(f);  // A .. I
  h.record(files[3]);                           // D again
  EXPECT_EQ(h.path(0), files[3]);
  EXPECT_EQ(h.path(1), files[8]);
  EXPECT_EQ(h.path(7), files[1]);  // B; A fell out
  for (int n = 1; n < 8; ++n) EXPECT_NE(h.path(n), files[3]);
  h.record(files[3]);
  EXPECT_EQ(h.path(1), files[8]);
}

TEST_F(History, SurvivesARestartWithoutFilesThatAreGone) {
  {
    FakeHost host(dir);
    TQuorCommands commands(host, host.access);
    commands.startUp();
    EXPECT_TRUE(captions(host).isEmpty());
    commands.songStarted(files[0]);
    commands.songStarted(files[1]);
    commands.songStarted(files[1]);
    EXPECT_EQ(captions(host), (QStringList{"(&0) " + files[1], "(&1) " + files[0]}));
    commands.shutDown();
  }
  QFile::remove(files[1]);
  FakeHost host(dir);
  TQuorCommands commands(host, host.access);
  commands.startUp();
  EXPECT_EQ(captions(host), QStringList{"(&1) " + files[0]});
  commands.reopen(1);
  EXPECT_EQ(host.started, QStringList{files[0]});
  EXPECT_FALSE(host.autoPlay);
  host.playing = true;
  commands.reopen(1);
  EXPECT_EQ(host.started.size(), 1);
  EXPECT_EQ(host.caption, QStringLiteral("演奏中は、この機能は利用出来ません"));
}

TEST_F(History, SortMovesRowsWithTheirPathsAndTheCurrentSong) {
  FakeHost host(dir);
  const QString c = files[2], a = files[0], b = files[1];
  host.songs[c].title = QStringLiteral("alpha");
  host.songs[a].title = QStringLiteral("Charlie");
  host.songs[b].title = QStringLiteral("bravo");
  host.setList({c, a, b});
  host.current = 0;  // C
  host.access.write(QGPlayListValueName(0, 0), c);
  TQuorCommands commands(host, host.access);

  commands.sortByFileName();
  EXPECT_EQ((QStringList{host.paths[0], host.paths[1], host.paths[2]}), (QStringList{a, b, c}));
  EXPECT_EQ(host.view.topLevelItem(0)->text(0), QStringLiteral("A.MID"));
  EXPECT_EQ(host.current, 2);

  commands.sortByTitle();
  EXPECT_EQ((QStringList{host.paths[0], host.paths[1], host.paths[2]}), (QStringList{c, b, a}));
  EXPECT_EQ(host.view.topLevelItem(1)->text(2), QStringLiteral("bravo "));
  EXPECT_EQ(host.current, 0);
  EXPECT_EQ(host.access.read(QGPlayListValueName(0, 0)), c);  // the stored list stays
}

TEST(SortOrder, EqualKeysKeepTheirOrder) {
  const QList<TListRow> rows{{"b", "x"}, {"A", "x"}, {"a", "x"}};
  EXPECT_EQ(QGSortOrder(rows, TSortKey::FileName), (QList<int>{1, 2, 0}));
  EXPECT_EQ(QGSortOrder(rows, TSortKey::Title), (QList<int>{0, 1, 2}));
}

}  // namespace
