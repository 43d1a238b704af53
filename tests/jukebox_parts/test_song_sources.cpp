// Songs named on the command line, by folders and by play list files, and
// play lists written and read again.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QUrl>

#include "jukebox/song_sources.h"
#include "tests/jukebox_parts/fake_host.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class SongSources : public ::testing::Test {
 protected:
  QString song(const std::string& name) { return Q(dir.write(name, "MThd")); }
  qtest::TempDir dir;
};

TEST_F(SongSources, ArgumentsNameSongsFoldersAndListsInOrder) {
  const QString b = song("B.MID"), a = song("a.mid");
  song("notes.txt");
  const QString deep = song("sub/C.RCP"), r36 = song("sub/x/d.r36");
  dir.write("list.m3u", "#EXTM3U\n# a comment\nB.MID\n\nsub/C.RCP\n");
  ASSERT_EQ(::mkfifo(dir.file("pipe.mid").c_str(), 0600), 0);
  QStringList problems;
  const QStringList songs = QGExpandSongArguments(
      {QStringLiteral("B.MID"), Q(dir.path().string()), QStringLiteral("list.m3u"), QStringLiteral("missing.mid"),
       QStringLiteral("pipe.mid")},
      Q(dir.path().string()), &problems);
  // The folder: its own songs by name in any letter case, then each subfolder's.
  EXPECT_EQ(songs, QStringList({b, a, b, deep, r36, b, deep}));
  ASSERT_EQ(problems.size(), 2);
  EXPECT_TRUE(problems[0].startsWith("no such file: missing.mid"));
  EXPECT_TRUE(problems[1].startsWith("not a regular file: pipe.mid"));
}

TEST_F(SongSources, M3uEntriesAreUtf8FromTheListsFolderInAnyLetterCaseAndDosSeparators) {
  const QString one = song("曲/ONE.MID"), two = song("Two Words.mid"), three = song("pic/three.mid");
  const std::string bom = "\xEF\xBB\xBF";
  dir.write("list.m3u8", bom + "#EXTM3U\r\n#EXTINF:12,One\r\n曲/one.mid\r\nfile://" +
                             QUrl::toPercentEncoding(two, "/").toStdString() + "\r\nPIC\\THREE.MID\r\n" +
                             "http://example.com/remote.mid\r\nnothing-here.mid\r\n");
  QStringList problems;
  EXPECT_EQ(QGReadPlayListFile(Q(dir.file("list.m3u8")), &problems), QStringList({one, two, three}));
  EXPECT_EQ(problems, QStringList({"no such song: http://example.com/remote.mid", "no such song: nothing-here.mid"}));
}

TEST_F(SongSources, WrittenListsReadBackTheSameInBothFormats) {
  const QStringList songs{song("A & B #1.MID"), song("曲 二.mid"), song("deep/one%20.rcp")};
  const QStringList titles{QStringLiteral("First, <one>"), QString(), QStringLiteral("三\nlines")};
  for (const char* name : {"out/list.m3u", "out/list.XSPF"}) {
    ASSERT_TRUE(QDir().mkpath(Q(dir.file("out"))));
    const QString path = Q(dir.file(name));
    EXPECT_EQ(QGWritePlayListFile(path, songs, titles), QString()) << name;
    QStringList problems;
    EXPECT_EQ(QGReadPlayListFile(path, &problems), songs) << name;
    EXPECT_TRUE(problems.isEmpty()) << problems.join(", ").toStdString();
  }
  EXPECT_NE(qtest::ReadText(dir.file("out/list.m3u")).find("#EXTINF:-1,三 lines\n"), std::string::npos);
}

TEST_F(SongSources, AListIsNeverWrittenOverSomethingElse) {
  const QString target = Q(dir.write("real.m3u", "#EXTM3U\nkeep\n"));
  ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), dir.file("link.m3u").c_str()), 0);
  EXPECT_FALSE(QGWritePlayListFile(Q(dir.file("link.m3u")), {song("A.MID")}, {}).isEmpty());
  EXPECT_EQ(qtest::ReadText(target.toStdString()), "#EXTM3U\nkeep\n");
  EXPECT_FALSE(QGWritePlayListFile(Q(dir.file("no/such/folder/x.m3u")), {}, {}).isEmpty());
  dir.write("broken.xspf", "<playlist><trackList><track><location>file:///a");
  QStringList problems;
  EXPECT_TRUE(QGReadPlayListFile(Q(dir.file("broken.xspf")), &problems).isEmpty());
  EXPECT_FALSE(problems.isEmpty());
}

TEST(SongMemo, TheArtistIsTheLineThatNamesOne) {
  EXPECT_EQ(QGArtistOfMemo(QStringLiteral("Sequenced 1994  Composer: J. S. Bach  ")), "J. S. Bach");
  EXPECT_EQ(QGArtistOfMemo(QStringLiteral("作曲：山田 太郎  編曲：someone")), "山田 太郎");
  EXPECT_EQ(QGArtistOfMemo(QStringLiteral("artist=Band\nmore")), "Band");
  EXPECT_EQ(QGArtistOfMemo(QStringLiteral("My composer friend helped  ")), "");
  EXPECT_EQ(QGArtistOfMemo(QString()), "");
}

}  // namespace
