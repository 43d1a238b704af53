// The commands behind the jukebox's own window: its menu items reach the
// dialog, the list editor, the history and sort, on its settings store.
// Built once the window's library is part of the tree.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "jukebox/file_commands.h"
#include "jukebox/form1.h"
#include "jukebox/list_editor.h"
#include "support/settings/quor_settings.h"
#include "tests/common/test_files.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

TEST(Form1Commands, MenuItemsRunThePartsOnTheWindowsList) {
  qtest::TempDir dir, songs, target;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.file("config")));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.file("data")));
  const QString a = Q(songs.write("A.MID", "a")), b = Q(songs.write("B.MID", "b"));
  songs.write("b.txt", "b text");
  TQuorSettings settings(QStringLiteral("QUORMIDI"));
  settings.write(QStringLiteral("L0K0"), a);
  settings.write(QStringLiteral("L0K1"), b);
  settings.write(QStringLiteral("CurrentFile3"), a);
  {
    TForm1 window;
    ASSERT_EQ(window.entryCount(), 2);
    EXPECT_EQ(window.reopenItem(3)->text(), "(&3) " + a);
    EXPECT_FALSE(window.reopenItem(0)->isVisible());
    auto run = [&](const char* item, const QString& typed) {
      QTimer::singleShot(0, [&] {
        auto* dialog = window.findChild<TOKBottomDlg*>();
        if (!dialog) return ADD_FAILURE() << "the window has no file commands";
        dialog->Edit1->setText(typed);
        dialog->OKBtn->click();
      });
      window.findChild<QAction*>(item)->trigger();
    };

    window.selectRow(1);
    run("MN_FILECOPY", Q(target.path().string()));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ファイルの複写完了"));
    EXPECT_EQ(qtest::ReadText(target.file("b.txt")), "b text");

    window.selectRow(0);
    run("MN_FILEDELETE", {});
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ファイルの削除完了"));
    EXPECT_EQ(window.entryCount(), 1);
    // A fresh account: the trash is made, each file with its record.
    EXPECT_EQ(qtest::ReadText(dir.file("data/Trash/files/A.MID")), "a");
    EXPECT_NE(qtest::ReadText(dir.file("data/Trash/info/A.MID.trashinfo")).find("Path=" + a.toStdString()),
              std::string::npos);

    window.findChild<QAction*>("MN_SETAUTO")->trigger();
    auto* editor = window.findChild<TAUTOF*>();
    ASSERT_TRUE(editor && editor->isVisible());
    EXPECT_EQ(editor->ListBox1->count(), 1);
    editor->Button1->click();
    EXPECT_EQ(settings.read(QStringLiteral("L0K0")), b);
    EXPECT_EQ(settings.read(QStringLiteral("L0K1")), QString());
    EXPECT_EQ(window.entryCount(), 1);
  }
  EXPECT_EQ(settings.read(QStringLiteral("CurrentFile3")), a);
  EXPECT_FALSE(settings.read(QStringLiteral("AutofTop")).isEmpty());
}

}  // namespace
