// A song and its companions copied, moved and deleted on real folders,
// one of them on a second file system.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "jukebox/song_files.h"
#include "tests/common/test_files.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string Bytes(const QString& path) { return qtest::ReadText(path.toStdString()); }
bool Exists(const qtest::TempDir& d, const char* name) { return QFileInfo::exists(Q(d.file(name))); }

class SongFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home.file("data")));  // no trash unless a test makes one
    qtest::StartTrace(home);
  }
  qtest::TempDir home, src, dst;
};

TEST_F(SongFiles, CopyKeepsExistingFilesButReplacesPictures) {
  const QString song = Q(src.write("SONG.MID", "new song"));
  src.write("SONG.WRD", "script");
  src.write("TITLE.MAG", "new picture");
  src.write("SETUP.CM6", "cm6");
  dst.write("SONG.MID", "old song");
  dst.write("TITLE.MAG", "old picture");
  TSongCompanions c{QStringLiteral("SETUP.CM6"), {}, true, {QStringLiteral("PIC\\TITLE.MAG")}, {}};

  TFileReport r = QGCopySong(song, Q(dst.path().string()), c);

  EXPECT_EQ(qtest::ReadText(dst.file("SONG.MID")), "old song");
  EXPECT_EQ(qtest::ReadText(dst.file("TITLE.MAG")), "new picture");
  EXPECT_EQ(qtest::ReadText(dst.file("SONG.WRD")), "script");
  EXPECT_EQ(qtest::ReadText(dst.file("SETUP.CM6")), "cm6");
  EXPECT_EQ(r.failed, QStringList{song});  // the kept file is named, the rest went on
  EXPECT_EQ(qtest::ReadText(src.file("SONG.MID")), "new song");
}

// A FIFO where a companion file was is skipped at once (a read would wait for
// a writer for ever); a link or FIFO named like a picture at the destination
// is left as it is, never replaced by a file.
TEST_F(SongFiles, CopySkipsWhatIsNotAFileOnEitherSide) {
  const QString song = Q(src.write("SONG.MID", "song"));
  ASSERT_EQ(::mkfifo(src.file("SONG.WRD").c_str(), 0600), 0);
  src.write("TITLE.MAG", "picture");
  const std::string elsewhere = home.write("elsewhere.mag", "keep me");
  ASSERT_EQ(::symlink(elsewhere.c_str(), dst.file("TITLE.MAG").c_str()), 0);
  TSongCompanions c{{}, {}, true, {QStringLiteral("TITLE.MAG")}, {}};

  TFileReport r = QGCopySong(song, Q(dst.path().string()), c);

  EXPECT_EQ(qtest::ReadText(dst.file("SONG.MID")), "song");
  EXPECT_FALSE(Exists(dst, "SONG.WRD"));
  EXPECT_TRUE(QFileInfo(Q(dst.file("TITLE.MAG"))).isSymLink());
  EXPECT_EQ(qtest::ReadText(elsewhere), "keep me");
  EXPECT_TRUE(r.failed.contains(Q(src.file("TITLE.MAG")))) << r.failed.join(u',').toStdString();
}

// An RCP 3.0 song: its port-B GSD goes with the port-A one, and the
// song's other versions (".RCP", ".G18") go with it.
TEST_F(SongFiles, Rcp3SongsTakeBothSetUpFiles) {
  const QString song = Q(src.write("SONG.G36", "g36"));
  src.write("song.rcp", "v2");
  src.write("a.gsd", "port A");
  src.write("B.GSD", "port B");
  TSongCompanions c;
  c.gsd = QStringLiteral("A.GSD");
  c.gsdB = QStringLiteral("b.gsd");
  QGCopySong(song, Q(dst.path().string()), c);
  EXPECT_EQ(qtest::ReadText(dst.file("SONG.G36")), "g36");
  EXPECT_EQ(qtest::ReadText(dst.file("song.rcp")), "v2");
  EXPECT_EQ(qtest::ReadText(dst.file("a.gsd")), "port A");
  EXPECT_EQ(qtest::ReadText(dst.file("B.GSD")), "port B");
}

TEST_F(SongFiles, CompanionsAreFoundInAnyLetterCaseAndByTheFirstDot) {
  const QString song = Q(src.write("SONG.MID", "s"));
  src.write("song.wrd", "w");
  src.write("Pic.Mag", "p");
  src.write("SONG2.TXT", "other song");
  const QString ab = Q(src.write("A.B.MID", "ab"));
  src.write("A.WRD", "a script");
  TSongCompanions pictures{{}, {}, true, {QStringLiteral("PIC.MAG")}, {}};

  QGCopySong(song, Q(dst.path().string()), pictures);
  EXPECT_EQ(qtest::ReadText(dst.file("song.wrd")), "w");
  EXPECT_EQ(qtest::ReadText(dst.file("Pic.Mag")), "p");
  EXPECT_FALSE(Exists(dst, "SONG2.TXT"));

  QGCopySong(ab, Q(dst.path().string()), {});
  EXPECT_EQ(qtest::ReadText(dst.file("A.WRD")), "a script");
  EXPECT_EQ(qtest::ReadText(dst.file("A.B.MID")), "ab");  // the song itself, though not named by "A"
}

TEST_F(SongFiles, AFileOfAnotherLetterCaseAtTheDestinationIsKept) {
  const QString song = Q(src.write("SONG.MID", "new"));
  dst.write("song.mid", "old");
  QGCopySong(song, Q(dst.path().string()), {});
  EXPECT_EQ(qtest::ReadText(dst.file("song.mid")), "old");
  EXPECT_FALSE(Exists(dst, "SONG.MID"));
}

TEST_F(SongFiles, CopyIntoItsOwnFolderLeavesEveryFileWhole) {
  const QString song = Q(src.write("SONG.MID", "song"));
  src.write("TITLE.MAG", "picture");
  QGCopySong(song, Q(src.path().string()), {{}, {}, true, {QStringLiteral("TITLE.MAG")}, {}});
  EXPECT_EQ(qtest::ReadText(src.file("TITLE.MAG")), "picture");
  EXPECT_EQ(qtest::ReadText(src.file("SONG.MID")), "song");
  EXPECT_EQ(QDir(Q(src.path().string())).entryList(QDir::Files | QDir::Hidden).size(), 2);  // no leftovers
}

TEST_F(SongFiles, DestinationFolderIsCreatedOneLevelOnly) {
  const QString fresh = Q(dst.file("NEW"));
  EXPECT_EQ(QGPrepareDestination(fresh), fresh);
  EXPECT_TRUE(QFileInfo(fresh).isDir());
  EXPECT_TRUE(QGPrepareDestination(Q(dst.file("MISSING/SUB"))).isEmpty());
  EXPECT_FALSE(Exists(dst, "MISSING"));
  EXPECT_TRUE(QGPrepareDestination(QString()).isEmpty());
}

TEST_F(SongFiles, MoveSkipsAnOccupiedNameAndHandlesTheRest) {
  const QString song = Q(src.write("SONG.MID", "song"));
  src.write("SONG.TXT", "new text");
  dst.write("SONG.TXT", "old text");
  TFileReport r = QGMoveSong(song, Q(dst.path().string()), {});
  EXPECT_EQ(qtest::ReadText(dst.file("SONG.TXT")), "old text");
  EXPECT_EQ(qtest::ReadText(src.file("SONG.TXT")), "new text");
  EXPECT_EQ(qtest::ReadText(dst.file("SONG.MID")), "song");
  EXPECT_FALSE(Exists(src, "SONG.MID"));
  EXPECT_EQ(r.failed, QStringList{Q(src.file("SONG.TXT"))});
  const auto lines = qtest::TraceLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "QGMoveSong " + src.file("SONG.TXT")), lines.end());
}

TEST_F(SongFiles, MoveOrderIsSetUpFilesPicturesThenRelatedFiles) {
  const QString song = Q(src.write("SONG.MID", "s"));
  src.write("SONG.TXT", "t");
  src.write("X.GSD", "g");
  src.write("X.CM6", "c");
  src.write("P.MAG", "p");
  QStringList order;
  QGMoveSong(song, Q(dst.path().string()),
             {QStringLiteral("X.CM6"), QStringLiteral("X.GSD"), true, {QStringLiteral("P.MAG")}, {}},
             [&](const QString& from, const QString& to) {
               order << QFileInfo(from).fileName();
               EXPECT_EQ(QFileInfo(to).path(), Q(dst.path().string()));
             });
  EXPECT_EQ(order, (QStringList{"X.CM6", "X.GSD", "P.MAG", "SONG.MID", "SONG.TXT"}));
}

TEST_F(SongFiles, MoveToAnotherFileSystemKeepsEveryByte) {
  struct stat a {}, b {};
  ASSERT_EQ(::stat("/dev/shm", &b), 0);
  ASSERT_EQ(::stat(src.path().c_str(), &a), 0);
  if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system as the temporary folder";
  QTemporaryDir other(QStringLiteral("/dev/shm/qmidi-move-XXXXXX"));
  ASSERT_TRUE(other.isValid());
  std::vector<uint8_t> bytes(300000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 251);
  const QString song = Q(src.write("SONG.MID", bytes));
  src.write("song.wrd", "script");

  TFileReport r = QGMoveSong(song, other.path(), {});

  EXPECT_TRUE(r.failed.isEmpty());
  EXPECT_EQ(qtest::ReadBytes((other.path() + "/SONG.MID").toStdString()), bytes);
  EXPECT_EQ(Bytes(other.path() + "/song.wrd"), "script");
  EXPECT_FALSE(Exists(src, "SONG.MID"));
  EXPECT_FALSE(Exists(src, "song.wrd"));
  EXPECT_EQ(QDir(other.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(SongFiles, DeleteTakesTheSongsFilesOnlyIntoTheTrashMadeForAFreshAccount) {
  const QString trash = Q(home.file("data/Trash"));
  ASSERT_FALSE(QFileInfo::exists(Q(home.file("data"))));
  const QString song = Q(src.write("SONG.MID", "s"));
  src.write("SONG.TXT", "t");
  src.write("SONG.WRD", "w");
  src.write("SONG2.TXT", "keep");
  src.write("SONG.MID.bak", "keep too");

  TFileReport r = QGDeleteSong(song, {});

  EXPECT_EQ(r.done.size(), 3);
  EXPECT_FALSE(Exists(src, "SONG.TXT"));
  EXPECT_FALSE(Exists(src, "SONG.WRD"));
  EXPECT_TRUE(Exists(src, "SONG2.TXT"));
  EXPECT_TRUE(Exists(src, "SONG.MID.bak"));
  EXPECT_EQ(Bytes(trash + "/files/SONG.TXT"), "t");
  const std::string info = Bytes(trash + "/info/SONG.WRD.trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + src.file("SONG.WRD") + "\nDeletionDate=", 0), 0u) << info;
  EXPECT_TRUE(QRegularExpression("DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
                  .match(QString::fromStdString(info)).hasMatch()) << info;
  for (const QString& folder : {trash, trash + "/files", trash + "/info"}) {
    struct stat st {};
    ASSERT_EQ(::stat(folder.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder.toStdString();
  }
}

TEST_F(SongFiles, ASecondFileOfTheSameNameGetsItsOwnTrashEntry) {
  const QString trash = Q(home.file("data/Trash"));
  EXPECT_TRUE(QGTrashOrDelete(Q(src.write("SONG.MID", "first"))));
  EXPECT_TRUE(QGTrashOrDelete(Q(dst.write("SONG.MID", "second"))));
  EXPECT_EQ(Bytes(trash + "/files/SONG.MID"), "first");
  EXPECT_EQ(Bytes(trash + "/files/SONG.MID.2"), "second");
  EXPECT_NE(Bytes(trash + "/info/SONG.MID.2.trashinfo").find("Path=" + dst.file("SONG.MID")), std::string::npos);
}

TEST_F(SongFiles, WhereNoTrashCanBeMadeDeleteRemovesTheFiles) {
  home.write("data", "a file where the data folder would be");
  const QString song = Q(src.write("SONG.MID", "s"));
  ASSERT_TRUE(QGTrashFolder().isEmpty());
  QGDeleteSong(song, {});
  EXPECT_FALSE(Exists(src, "SONG.MID"));
}

}  // namespace
