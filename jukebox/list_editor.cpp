#include "jukebox/list_editor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStorageInfo>
#include <QTreeWidget>

#include "jukebox/jukebox_commands.h"
#include "support/guard.h"

namespace {

constexpr const char* kFilter[][2] = {{"演奏ﾌｧｲﾙ", "*.MID;*.RCP;*.R36;*.G36;*.G18"},
                                      {"MIDﾌｧｲﾙ", "*.MID"},
                                      {"RCPﾌｧｲﾙ", "*.RCP;*.R36;*.G36;*.G18"}};

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int y) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(404, y, 75, 36);
  b->setAutoDefault(false);
  return b;
}

QListWidget* MakeList(QWidget* parent, const char* name, const QRect& r, bool multi) {
  auto* l = new QListWidget(parent);
  l->setObjectName(QLatin1String(name));
  l->setGeometry(r);
  if (multi) l->setSelectionMode(QAbstractItemView::ExtendedSelection);
  return l;
}

int IntOr(const QString& text, int fallback) {
  bool ok = false;
  const int v = text.toInt(&ok);
  return ok ? v : fallback;
}

}  // namespace

QStringList QGUserVolumes() {
  QStringList roots{QStringLiteral("/"), QDir::homePath()};
  const QStringList places{QStringLiteral("/media/"), QStringLiteral("/mnt/"), QStringLiteral("/run/media/"),
                           QStringLiteral("/home/")};
  for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
    if (!v.isValid() || !v.isReady()) continue;
    const QString root = v.rootPath();
    for (const QString& place : places)
      if (root.startsWith(place) && !roots.contains(root)) roots << root;
  }
  return roots;
}

QStringList QGSplitMask(const QString& mask) { return mask.split(QLatin1Char(';'), Qt::SkipEmptyParts); }

TAUTOF::TAUTOF(TJukeboxHost& host, TSettingsAccess settings, QWidget* parent)
    : QDialog(parent), host_(host), settings_(std::move(settings)) {
  setObjectName(QStringLiteral("AUTOF"));
  setModal(false);
  buildLayout();
  FormCreate();
}

TAUTOF::~TAUTOF() {
  // The position is kept for the next run; failing to keep it is harmless.
  try {
    settings_.write(QStringLiteral("AutofTop"), QString::number(y()));
    settings_.write(QStringLiteral("AutofLeft"), QString::number(x()));
  } catch (...) {
  }
}

void TAUTOF::buildLayout() {
  setWindowTitle(QStringLiteral("自動演奏設定　　QUORMIDI "));
  setFixedSize(501, 289);
  DriveComboBox1 = new QComboBox(this);
  DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  DriveComboBox1->setGeometry(2, 2, 128, 22);
  DirectoryListBox1 = MakeList(this, "DirectoryListBox1", {2, 32, 128, 225}, false);
  FilterComboBox1 = new QComboBox(this);
  FilterComboBox1->setObjectName(QStringLiteral("FilterComboBox1"));
  FilterComboBox1->setGeometry(132, 2, 128, 24);
  for (const auto& f : kFilter) FilterComboBox1->addItem(QString::fromUtf8(f[0]), QString::fromUtf8(f[1]));
  FileListBox1 = MakeList(this, "FileListBox1", {132, 32, 128, 225}, true);
  ListBox1 = MakeList(this, "ListBox1", {262, 2, 128, 255}, true);
  CB_RANDOM = new QCheckBox(QStringLiteral("ランダム"), this);
  CB_RANDOM->setObjectName(QStringLiteral("CB_RANDOM"));
  CB_RANDOM->move(400, 8);
  Button3 = MakeButton(this, "Button3", QStringLiteral("追加"), 32);
  Button4 = MakeButton(this, "Button4", QStringLiteral("削除"), 68);
  Button5 = MakeButton(this, "Button5", QStringLiteral("全追加"), 108);
  Button6 = MakeButton(this, "Button6", QStringLiteral("全削除"), 144);
  Button1 = MakeButton(this, "Button1", QStringLiteral("OK"), 184);
  Button2 = MakeButton(this, "Button2", QStringLiteral("CANCEL"), 220);
  ButtonUp = MakeButton(this, "ButtonUp", QStringLiteral("上へ ▲"), 0);
  ButtonUp->setGeometry(262, 259, 63, 26);
  ButtonDown = MakeButton(this, "ButtonDown", QStringLiteral("下へ ▼"), 0);
  ButtonDown->setGeometry(327, 259, 63, 26);

  connect(Button1, &QPushButton::clicked, this, &TAUTOF::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TAUTOF::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TAUTOF::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TAUTOF::Button4Click);
  connect(Button5, &QPushButton::clicked, this, &TAUTOF::Button5Click);
  connect(Button6, &QPushButton::clicked, this, &TAUTOF::Button6Click);
  connect(ButtonUp, &QPushButton::clicked, this, [this] { moveEntry(-1); });
  connect(ButtonDown, &QPushButton::clicked, this, [this] { moveEntry(1); });
  connect(FileListBox1, &QListWidget::itemDoubleClicked, this, &TAUTOF::Button3Click);
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TAUTOF::Button4Click);
  connect(DriveComboBox1, &QComboBox::activated, this, [this](int i) { setFolder(DriveComboBox1->itemText(i)); });
  connect(DirectoryListBox1, &QListWidget::itemActivated, this,
          [this](QListWidgetItem* item) { setFolder(item->data(Qt::UserRole).toString()); });
  connect(FilterComboBox1, &QComboBox::currentIndexChanged, this, [this] { fillFileList(); });
}

void TAUTOF::FormCreate() {
  QGuardVoid("TAUTOF.FormCreate ", [&] {
    const QWidget* main = host_.hostWindow();
    const int top = IntOr(settings_.read(QStringLiteral("AutofTop")), main ? main->y() : 125);
    const int left = IntOr(settings_.read(QStringLiteral("AutofLeft")), main ? main->x() : 196);
    move(left, top);
    DriveComboBox1->addItems(QGUserVolumes());
    DriveComboBox1->setCurrentIndex(DriveComboBox1->findText(QDir::homePath()));
    setFolder(QDir::homePath());
  });
}

void TAUTOF::setFolder(const QString& folder) {
  if (!QFileInfo(folder).isDir()) return;
  folder_ = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
  fillFolderList();
  fillFileList();
}

// Like a folder tree opened down to the current folder: the folders above
// it, the folder itself, then its subfolders.
void TAUTOF::fillFolderList() {
  DirectoryListBox1->clear();
  QStringList chain;
  for (QDir d(folder_);; ) {
    chain.prepend(d.absolutePath());
    if (!d.cdUp()) break;
  }
  int depth = 0;
  for (const QString& path : chain) {
    const QString name = path == QLatin1String("/") ? path : QFileInfo(path).fileName();
    auto* item = new QListWidgetItem(QString(depth++, QLatin1Char(' ')) + name, DirectoryListBox1);
    item->setData(Qt::UserRole, path);
  }
  DirectoryListBox1->setCurrentRow(DirectoryListBox1->count() - 1);
  const QStringList subs = QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QString& sub : subs) {
    auto* item = new QListWidgetItem(QString(depth, QLatin1Char(' ')) + sub, DirectoryListBox1);
    item->setData(Qt::UserRole, QDir(folder_).filePath(sub));
  }
}

void TAUTOF::fillFileList() {
  FileListBox1->clear();
  if (folder_.isEmpty()) return;
  // QDir's name filters ignore letter case unless asked: "*.MID" lists "song.mid".
  const QStringList masks = QGSplitMask(FilterComboBox1->currentData().toString());
  FileListBox1->addItems(QDir(folder_).entryList(masks, QDir::Files, QDir::Name | QDir::IgnoreCase));
}

QString TAUTOF::entryFolder(int i) const { return i >= 0 && i < kStoredEntries ? folders_[i] : QString(); }

void TAUTOF::forgetList() {
  ListBox1->clear();
  folders_.fill(QString());
}

void TAUTOF::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TAUTOF::FormShow() {
  QGuardVoid("TAUTOF.FormShow ", [&] {
    if (ListBox1->count() != 0) return;  // the last edit stays, confirmed or not
    for (int i = 0; i < kStoredEntries; ++i) {
      const QString path = host_.playListPath(i);
      if (path.isEmpty()) continue;
      const QFileInfo file(path);
      folders_[ListBox1->count()] = file.path() + QLatin1Char('/');
      ListBox1->addItem(file.fileName());
    }
    CB_RANDOM->setChecked(host_.randomOn());
  });
}

// Whether folder + name is an entry already (a song is listed once).
bool TAUTOF::listed(const QString& folder, const QString& name) const {
  for (int i = 0; i < ListBox1->count(); ++i)
    if (ListBox1->item(i)->text() == name && entryFolder(i) == (i < kStoredEntries - 1 ? folder : QString()))
      return true;
  return false;
}

void TAUTOF::appendFile(const QString& name) {
  const int index = ListBox1->count();
  if (listed(folder_ + QLatin1Char('/'), name)) return;
  ListBox1->addItem(name);
  // Entry 1023 gets no folder: it is stored as the bare name.
  if (index < kStoredEntries - 1) folders_[index] = folder_ + QLatin1Char('/');
}

void TAUTOF::Button3Click() {
  QGuardVoid("TAUTOF.Button3Click ", [&] {
    if (!FileListBox1->currentItem()) return;
    for (int row = 0; row < FileListBox1->count(); ++row)
      if (FileListBox1->item(row)->isSelected()) appendFile(FileListBox1->item(row)->text());
  });
}

void TAUTOF::Button5Click() {
  QGuardVoid("TAUTOF.Button5Click ", [&] {
    if (!FileListBox1->currentItem()) return;
    for (int row = 0; row < FileListBox1->count(); ++row) appendFile(FileListBox1->item(row)->text());
  });
}

void TAUTOF::Button4Click() {
  QGuardVoid("TAUTOFF.Button4Click ", [&] {
    if (!ListBox1->currentItem()) return;
    for (int row = ListBox1->count() - 1; row >= 0; --row) {
      if (!ListBox1->item(row)->isSelected()) continue;
      delete ListBox1->takeItem(row);
      // The entries after it move up with their folders.
      for (int i = row; i + 1 < kStoredEntries; ++i) folders_[i] = folders_[i + 1];
      folders_[kStoredEntries - 1].clear();
    }
  });
}

void TAUTOF::moveEntry(int step) {
  QGuardVoid("TAUTOF.moveEntry ", [&] {
    const int from = ListBox1->currentRow();
    const int to = from + step;
    if (from < 0 || to < 0 || to >= ListBox1->count() || std::max(from, to) >= kStoredEntries) return;
    ListBox1->insertItem(to, ListBox1->takeItem(from));
    std::swap(folders_[size_t(from)], folders_[size_t(to)]);
    ListBox1->clearSelection();
    ListBox1->setCurrentRow(to);
  });
}

void TAUTOF::Button6Click() {
  QGuardVoid("TAUTOF.Button6Click ", [&] {
    if (!ListBox1->currentItem()) return;
    for (int row = ListBox1->count() - 1; row >= 0; --row) delete ListBox1->takeItem(row);
    // No stale folder may reach an entry added later.
    folders_.fill(QString());
  });
}

void TAUTOF::storeList(int library) {
  host_.setCurrentIndex(-1);
  for (int i = 0; i < kStoredEntries; ++i) {
    const QString name = QGPlayListValueName(library, i);
    if (i < ListBox1->count()) {
      settings_.write(name, folders_[i] + ListBox1->item(i)->text());
    } else {
      if (settings_.read(name).isEmpty()) break;
      settings_.remove(name);
    }
  }
  host_.loadPlayList(library);
}

void TAUTOF::Button1Click() {
  QGuardVoid("TAUTOF.Button1Click ", [&] {
    const int library = host_.libraryNumber();
    if (host_.playListView()->topLevelItemCount() > 0) {
      host_.clearPlayListView();
      for (int i = 0; i < kStoredEntries; ++i) settings_.remove(QGPlayListValueName(library, i));
    }
    host_.setEntryCount(0);
    host_.setCurrentIndex(0);
    if (ListBox1->count() > 0) storeList(library);
    host_.setRandomOn(CB_RANDOM->isChecked());
  });
  close();
}

void TAUTOF::Button2Click() { close(); }
