// The status texts, the play list's storage and shuffle, and the settings
// store the jukebox shares with the engine.
#include <gtest/gtest.h>

#include <QSettings>

#include <set>

#include "jukebox/play_list.h"
#include "jukebox/status_text.h"
#include "support/settings/quor_settings.h"
#include "tests/common/test_files.h"

namespace {

TEST(StatusText, PositionsAndTimesReadAsTheLabelsShowThem) {
  EXPECT_EQ(BarPositionText(0), "1.0.000");
  EXPECT_EQ(BarPositionText(12345), "2.2.345");
  EXPECT_EQ(BarPositionText(1230007), "124.0.007");
  EXPECT_EQ(TotalTimeText(0), "0:00.000");
  EXPECT_EQ(TotalTimeText(61234), "1:01.234");
  EXPECT_EQ(TotalTimeText(3600000 + 5), "60:00.005");
  EXPECT_EQ(TotalTimeText(-20), "0:00.000");
  const TElapsedTexts e = ElapsedTexts(125009);
  EXPECT_EQ(e.minutes, "2:");
  EXPECT_EQ(e.seconds, "05.");
  EXPECT_EQ(e.millis, "009");
}

TEST(StatusText, TimeSignaturesOutsideTwoToSixtyFourBecomeFour) {
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(6008)), "6/8");
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(1)), "4/4");
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(4004)), "4/4");
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(2064)), "2/64");
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(65002)), "4/2");
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(3065)), "3/4");
  EXPECT_EQ(TimeSignatureText(DecodeTimeSignature(-6008)), "4/4");
}

TEST(StatusText, TempoAndLevelRules) {
  EXPECT_FALSE(IsShownTempo(16));
  EXPECT_TRUE(IsShownTempo(17));
  EXPECT_TRUE(IsShownTempo(511));
  EXPECT_FALSE(IsShownTempo(512));
  EXPECT_FALSE(IsShownTempo(600));
  EXPECT_EQ(LevelBarPosition(5000, false, 0), 5000);
  EXPECT_EQ(LevelBarPosition(kLevelMaximum, true, 100), 16100);
  EXPECT_EQ(LevelBarPosition(5099, true, 50), 2500);
  EXPECT_EQ(LevelBarPosition(kLevelMaximum + 1, false, 0), -1);
  EXPECT_EQ(LevelBarPosition(-1, false, 0), -1);
}

// A store of its own in a temporary folder for each test.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.path().string()));
  }
  QString song(const std::string& name) const { return QString::fromStdString(dir.write(name, std::string("MThd"))); }
  qtest::TempDir dir;
  TQuorSettings store{QStringLiteral("QUORMIDI")};
};

TEST_F(StoreTest, ValuesAreSeenAtOnceByOthersAndDeleteRemovesThem) {
  EXPECT_EQ(TQuorSettings::programKey(QStringLiteral("/usr/bin/quormidi")), "QUORMIDI");
  EXPECT_EQ(TQuorSettings::programKey(QStringLiteral("/opt/q/qmidiexe.bin.old")), "QMIDIEXE");
  EXPECT_TRUE(store.filePath().endsWith("QUOR/QUORMIDI.conf"));
  EXPECT_EQ(store.read(QStringLiteral("LIBNO")), "");

  store.write(QStringLiteral("LIBNO"), QStringLiteral("7"));
  {  // another program's QSettings of the same store
    QSettings other(store.filePath(), QSettings::IniFormat);
    EXPECT_EQ(other.value(QStringLiteral("LIBNO")).toString(), "7");
    other.setValue(QStringLiteral("L0K0"), QStringLiteral("/songs/A, B.MID"));
  }
  EXPECT_EQ(store.read(QStringLiteral("L0K0")), "/songs/A, B.MID");
  EXPECT_EQ(store.readInt(QStringLiteral("LIBNO"), 0), 7);
  store.write(QStringLiteral("LIBNO"), QStringLiteral("seven"));
  EXPECT_EQ(store.readInt(QStringLiteral("LIBNO"), 3), 3);
  store.remove(QStringLiteral("LIBNO"));
  store.remove(QStringLiteral("never written"));
  EXPECT_FALSE(QSettings(store.filePath(), QSettings::IniFormat).contains(QStringLiteral("LIBNO")));
}

TEST_F(StoreTest, AStoredListEndsAtTheFirstEmptyValueAndLeavesOutMissingFiles) {
  store.write(QStringLiteral("L3K0"), song("A.MID"));
  store.write(QStringLiteral("L3K1"), song("B.MID"));
  store.write(QStringLiteral("L3K3"), song("D.MID"));
  EXPECT_EQ(ReadStoredPlayList(store, 3), QStringList({song("A.MID"), song("B.MID")}));

  store.write(QStringLiteral("L4K0"), QString::fromStdString(dir.file("deleted.MID")));
  store.write(QStringLiteral("L4K1"), song("B.MID"));
  store.write(QStringLiteral("L4K2"), QStringLiteral(""));
  store.write(QStringLiteral("L4K3"), song("D.MID"));
  EXPECT_EQ(ReadStoredPlayList(store, 4), QStringList({song("B.MID")}));
  EXPECT_TRUE(ReadStoredPlayList(store, 5).isEmpty());
}

TEST_F(StoreTest, AtMost1024EntriesAreRead) {
  const QString path = song("A.MID");
  {  // as the list editor leaves them, in one go
    QSettings editor(store.filePath(), QSettings::IniFormat);
    for (int i = 0; i <= TPlayList::kMaxEntries; ++i) editor.setValue(PlayListValueName(9, i), path);
  }
  EXPECT_EQ(PlayListValueName(9, 1023), "L9K1023");
  EXPECT_EQ(ReadStoredPlayList(store, 9).size(), TPlayList::kMaxEntries);

  TPlayList list;
  for (int i = 0; i < TPlayList::kMaxEntries; ++i) ASSERT_TRUE(list.append(path));
  EXPECT_FALSE(list.append(path));
  EXPECT_EQ(list.count(), TPlayList::kMaxEntries);
  EXPECT_EQ(list.path(TPlayList::kMaxEntries), "");
  EXPECT_EQ(list.path(-1), "");
}

TPlayList ListOf(int count) {
  TPlayList list;
  for (int i = 0; i < count; ++i) list.append(QStringLiteral("/s/%1.MID").arg(i));
  list.shuffle();
  return list;
}

TEST(Shuffle, EveryEntryPlaysOnceBeforeANewOrderAndNeverTwiceInARow) {
  for (int count : {1, 2, 3, 10}) {
    TPlayList list = ListOf(count);
    int previous = -1;
    for (int round = 0; round < 30; ++round) {
      std::set<int> played;
      for (int k = 0; k < count; ++k) {
        const int entry = list.nextShuffled();
        ASSERT_GE(entry, 0);
        ASSERT_LT(entry, count);
        played.insert(entry);
        if (count > 1) {
          EXPECT_NE(entry, previous) << "count " << count << " round " << round;
        }
        previous = entry;
      }
      EXPECT_EQ(int(played.size()), count) << "count " << count << " round " << round;
    }
  }
}

TEST(Shuffle, OrdersDifferFromRoundToRound) {
  TPlayList list = ListOf(8);
  std::set<std::vector<int>> orders;
  for (int round = 0; round < 20; ++round) {
    std::vector<int> order;
    for (int k = 0; k < 8; ++k) order.push_back(list.nextShuffled());
    orders.insert(order);
  }
  EXPECT_GT(orders.size(), 10u);  // 20 draws from 40320 orders
}

TEST(Shuffle, AnOrderBuiltForMoreEntriesNeverNamesOneThatIsGone) {
  TPlayList list = ListOf(10);
  list.setCount(3);
  std::set<int> played;
  for (int k = 0; k < 9; ++k) {
    const int entry = list.nextShuffled();
    ASSERT_LT(entry, 3);
    played.insert(entry);
  }
  EXPECT_EQ(played.size(), 3u);
  TPlayList empty = ListOf(0);
  EXPECT_EQ(empty.nextShuffled(), 0);
}

}  // namespace
