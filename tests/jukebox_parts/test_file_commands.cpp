// Copy, move, delete and search as the main window runs them: the dialog
// shown modally and started, the captions, and the list in memory after.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "jukebox/file_commands.h"
#include "tests/jukebox_parts/fake_host.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class FileCommands : public ::testing::Test {
 protected:
  FileCommands() : host(dir), commands(host, host.access) {
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.file("data")));
    a = Q(songs.write("A.MID", "a"));
    b = Q(songs.write("B.MID", "b"));
    c = Q(songs.write("C.MID", "c"));
    songs.write("B.TXT", "b text");
    host.songs[b].title = QStringLiteral("Second");
    host.setList({a, b, c});
    host.access.write(QGPlayListValueName(0, 0), a);
  }

  // Runs a command whose dialog is started with `typed` in Edit1, or
  // cancelled when `cancel`; returns the dialog's state as it was shown.
  QStringList run(void (TFileCommands::*command)(), const QString& typed = {}, bool cancel = false) {
    QStringList shown;
    QTimer::singleShot(0, [&] {
      TOKBottomDlg& d = commands.dialog();
      shown << d.windowTitle() << d.Label1->text() << (d.Edit1->isVisible() ? d.Edit1->text() : QStringLiteral("-"))
            << d.Label2->text() << d.Label3->text() << d.Label4->text();
      d.Edit1->setText(typed);
      (cancel ? d.CancelBtn : d.OKBtn)->click();
    });
    (commands.*command)();
    return shown;
  }

  qtest::TempDir dir, songs, target;
  FakeHost host;
  TFileCommands commands;
  QString a, b, c;
};

TEST_F(FileCommands, ANewSubfolderOfAMissingFolderIsRefused) {
  host.selectRow(1);
  const QStringList shown = run(&TFileCommands::copyFile, Q(target.file("NEW/SUB")));
  EXPECT_EQ(shown, (QStringList{"ファイルの複写", "複写先パス：", "", "複写元：", "複写先：", b}));
  EXPECT_EQ(host.caption, QStringLiteral("複写先のディレクトリが存在しません"));
  EXPECT_FALSE(commands.dialog().isVisible());
  EXPECT_EQ(commands.lastDestination(), QString());
}

TEST_F(FileCommands, CopyCreatesOneFolderAndRemembersIt) {
  host.selectRow(1);
  run(&TFileCommands::copyFile, Q(target.file("NEW")));
  EXPECT_EQ(host.caption, QStringLiteral("ファイルの複写完了"));
  EXPECT_EQ(qtest::ReadText(target.file("NEW/B.TXT")), "b text");
  EXPECT_TRUE(QFileInfo::exists(b));
  EXPECT_TRUE(host.view.selectedItems().isEmpty());
  host.selectRow(0);
  EXPECT_EQ(run(&TFileCommands::moveFile, {}, true).at(2), Q(target.file("NEW")));  // offered again
  EXPECT_TRUE(QFileInfo::exists(a));
}

TEST_F(FileCommands, MoveRewritesTheListInMemoryAndEveryStoredPlaceOfTheSong) {
  host.access.write(QGPlayListValueName(0, 1), b);
  host.access.write(QGPlayListValueName(7, 0), c);
  host.access.write(QGPlayListValueName(7, 1), b);
  host.selectRow(1);
  run(&TFileCommands::moveFile, Q(target.path().string()));
  EXPECT_EQ(host.caption, QStringLiteral("ファイルの移動完了"));
  const QString moved = Q(target.file("B.MID"));
  EXPECT_EQ(host.paths[1], moved);
  EXPECT_EQ(host.count, 3);
  EXPECT_EQ(host.view.topLevelItem(1)->text(0), QStringLiteral("B.MID"));
  EXPECT_EQ(host.shuffles, 1);
  EXPECT_EQ(host.access.read(QGPlayListValueName(0, 0)), a);
  EXPECT_EQ(host.access.read(QGPlayListValueName(0, 1)), moved);
  EXPECT_EQ(host.access.read(QGPlayListValueName(7, 0)), c);
  EXPECT_EQ(host.access.read(QGPlayListValueName(7, 1)), moved);
  EXPECT_EQ(qtest::ReadText(target.file("B.TXT")), "b text");
}

TEST_F(FileCommands, AMoveThatCannotTakeTheSongLeavesTheListAsItWas) {
  target.write("B.MID", "another song");
  host.selectRow(1);
  run(&TFileCommands::moveFile, Q(target.path().string()));
  EXPECT_EQ(host.paths[1], b);
  EXPECT_EQ(qtest::ReadText(b.toStdString()), "b");
}

TEST_F(FileCommands, DeleteCompactsTheList) {
  host.selectRow(1);
  host.current = 2;
  const QStringList shown = run(&TFileCommands::deleteFile);
  EXPECT_EQ(shown, (QStringList{"ファイルの削除", "削除して、よろしいでしょうか", "-", "削除元：", "", b}));
  EXPECT_EQ(host.caption, QStringLiteral("ファイルの削除完了"));
  EXPECT_FALSE(QFileInfo::exists(b));
  EXPECT_FALSE(QFileInfo::exists(Q(songs.file("B.TXT"))));
  EXPECT_EQ(host.count, 2);
  EXPECT_EQ(host.current, -1);
  EXPECT_EQ(host.paths[1], c);
  EXPECT_EQ(host.paths[2], QString());
  EXPECT_EQ(host.view.topLevelItemCount(), 2);
}

TEST_F(FileCommands, WhereNoTrashCanBeMadeDeleteAsksFirst) {
  dir.write("data", "a file where the data folder would be");
  auto answer = [](QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box->objectName() != QStringLiteral("DeleteForGood")) return;
      box->button(button)->click();
      timer->deleteLater();
    });
    timer->start(10);
  };
  host.selectRow(1);
  answer(QMessageBox::No);
  run(&TFileCommands::deleteFile);
  EXPECT_TRUE(QFileInfo::exists(b));
  EXPECT_EQ(host.count, 3);
  host.selectRow(1);
  answer(QMessageBox::Yes);
  run(&TFileCommands::deleteFile);
  EXPECT_FALSE(QFileInfo::exists(b));
  EXPECT_EQ(host.count, 2);
}

TEST_F(FileCommands, CancelAndRefusalsLeaveTheFiles) {
  host.selectRow(0);
  run(&TFileCommands::deleteFile, {}, true);
  EXPECT_TRUE(QFileInfo::exists(a));
  host.view.clearSelection();
  host.caption.clear();
  commands.deleteFile();  // no dialog: nothing is selected
  EXPECT_EQ(host.caption, QStringLiteral("演奏リストより、曲を選択して下さい"));
  host.selectRow(0);
  host.playing = true;
  commands.deleteFile();
  EXPECT_EQ(host.caption, QStringLiteral("演奏中は、この機能は利用出来ません"));
  EXPECT_TRUE(QFileInfo::exists(a));
}

TEST_F(FileCommands, SearchFindsByFileNameOrTitleInUpperCase) {
  host.songs[c].title = QStringLiteral("ABC");
  host.setList({a, b, c});
  const QStringList shown = run(&TFileCommands::search, QStringLiteral("abc"));
  EXPECT_EQ(shown.mid(0, 2), (QStringList{"演奏曲の検索", "検索内容："}));
  EXPECT_EQ(host.view.selectedItems().value(0), host.view.topLevelItem(2));
  EXPECT_EQ(commands.searchPosition(), 2);  // the last row: the next search looks at it again
  host.view.clearSelection();
  commands.subKensaku();
  EXPECT_EQ(host.view.selectedItems().value(0), host.view.topLevelItem(2));

  host.songs[c].title = QStringLiteral("abc");
  host.setList({a, b, c});
  host.caption.clear();
  run(&TFileCommands::search, QStringLiteral("ABC"));
  EXPECT_EQ(host.caption, QStringLiteral("ABCは見つかりませんでした。"));
  run(&TFileCommands::search, QStringLiteral("b.m"));  // "B.M" is in "B.MID"
  EXPECT_EQ(host.view.selectedItems().value(0), host.view.topLevelItem(1));
}

TEST_F(FileCommands, SearchGoesOnFromTheRowAfterAMatch) {
  run(&TFileCommands::search, QStringLiteral(".MID"));
  EXPECT_EQ(host.view.selectedItems().value(0), host.view.topLevelItem(0));
  commands.subKensaku();
  EXPECT_EQ(host.view.selectedItems().value(0), host.view.topLevelItem(1));
  EXPECT_EQ(commands.searchText(), QStringLiteral(".MID"));
}

}  // namespace
