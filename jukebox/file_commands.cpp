#include "jukebox/file_commands.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include "QMIDICTLXControl.h"
#include "jukebox/jukebox_commands.h"
#include "support/guard.h"

namespace {

const QString kPlaying = QStringLiteral("演奏中は、この機能は利用出来ません");
constexpr int kPictureSlots = 64;  // the engine's WRD picture table

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int width = 0) {
  auto* l = new QLabel(parent);
  l->setObjectName(QLatin1String(name));
  l->move(x, y);
  if (width > 0) l->setFixedWidth(width);
  return l;
}

void MakeFrame(QWidget* parent, int y) {
  auto* f = new QFrame(parent);
  f->setFrameShape(QFrame::Box);
  f->setFrameShadow(QFrame::Sunken);
  f->setGeometry(8, y, 433, 22);
}

}  // namespace

TOKBottomDlg::TOKBottomDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("OKBottomDlg"));
  setWindowTitle(QStringLiteral("ﾀﾞｲｱﾛｸﾞ"));
  setFixedSize(449, 151);
  Label1 = MakeLabel(this, "Label1", 8, 4);
  Edit1 = new QLineEdit(this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(8, 24, 433, 24);
  MakeFrame(this, 57);
  MakeFrame(this, 81);
  Label2 = MakeLabel(this, "Label2", 12, 60);
  Label4 = MakeLabel(this, "Label4", 80, 60, 353);
  Label3 = MakeLabel(this, "Label3", 12, 84);
  Label5 = MakeLabel(this, "Label5", 80, 84, 353);
  OKBtn = new QPushButton(QStringLiteral("開始"), this);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setGeometry(287, 116, 75, 25);
  OKBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("中断"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn->setGeometry(366, 116, 75, 25);
  connect(OKBtn, &QPushButton::clicked, this, &TOKBottomDlg::started);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TOKBottomDlg::prepare(const QString& caption, const QString& label1, const QString* edit, const QString& label2,
                           const QString& label3, const QString& label4) {
  setWindowTitle(caption);
  Label1->setText(label1);
  Edit1->setVisible(edit != nullptr);
  Edit1->setText(edit ? *edit : QString());
  Label2->setText(label2);
  Label3->setText(label3);
  Label4->setText(label4);
  Label5->clear();
  for (QLabel* l : {Label1, Label2, Label3}) l->adjustSize();
  if (edit) Edit1->setFocus();
}

void TOKBottomDlg::showFile(const QString& source, const QString& destination) {
  Label4->setText(source);
  Label5->setText(destination);
  Label4->repaint();
  Label5->repaint();
}

TSongCompanions QGmstTitle2(TJukeboxHost& host, const QString& path) {
  return QGuard("TForm1.QGmstTitle2 ", TSongCompanions{}, [&] {
    TSongCompanions song;
    if (host.isPlaying()) return song;
    const TSongInfo info = host.readSongInfo(path, true);
    song.cm6 = info.cm6Path;
    song.gsd = info.gsdPath;
    song.gsdB = info.gsdBPath;
    song.hasWrd = info.hasWrd;
    TQMIDICTLX* control = host.control();
    if (!song.hasWrd || !control) return song;
    control->setOUTSTATUSCH(2000);
    const int last = std::min(control->OUTSTATUSID(), kPictureSlots - 1);
    for (int i = 0; i <= last; ++i) {
      control->setEXTOPTION1(i);
      const QString name = control->OUTSTATUSMEMO();
      if (!name.isEmpty()) song.pictures << name;
    }
    return song;
  });
}

TFileCommands::TFileCommands(TJukeboxHost& host, TSettingsAccess settings)
    : host_(host), settings_(std::move(settings)), dialog_(new TOKBottomDlg(host.hostWindow())) {
  QObject::connect(dialog_, &TOKBottomDlg::started, dialog_, [this] { start(); });
}

TFileCommands::~TFileCommands() {
  if (!dialog_->parent()) delete dialog_;
}

void TFileCommands::startUp() { searchText_ = settings_.read(QStringLiteral("SearchData")); }

bool TFileCommands::allowedNow() {
  if (!host_.isPlaying()) return true;
  host_.showCaption(kPlaying);
  return false;
}

// The path of the selected row, "" (with the caption saying so) without one.
QString TFileCommands::selectedPath() {
  const QList<QTreeWidgetItem*> selected = host_.playListView()->selectedItems();
  const int row = selected.isEmpty() ? -1 : host_.playListView()->indexOfTopLevelItem(selected.first());
  const QString path = row >= 0 && row <= host_.entryCount() ? host_.playListPath(row) : QString();
  if (path.isEmpty()) host_.showCaption(QStringLiteral("演奏リストより、曲を選択して下さい"));
  return path;
}

void TFileCommands::open(TMode mode, const char* traceName) {
  QGuardVoid(traceName, [&] {
    if (!allowedNow()) return;
    mode_ = mode;
    QString path;
    if (mode != TMode::Search && (path = selectedPath()).isEmpty()) return;
    switch (mode) {
      case TMode::Copy:
        dialog_->prepare(QStringLiteral("ファイルの複写"), QStringLiteral("複写先パス："), &lastDestination_,
                         QStringLiteral("複写元："), QStringLiteral("複写先："), path);
        break;
      case TMode::Move:
        dialog_->prepare(QStringLiteral("ファイルの移動"), QStringLiteral("移動先パス："), &lastDestination_,
                         QStringLiteral("移動元："), QStringLiteral("移動先："), path);
        break;
      case TMode::Delete:
        dialog_->prepare(QStringLiteral("ファイルの削除"), QStringLiteral("削除して、よろしいでしょうか"), nullptr,
                         QStringLiteral("削除元："), QString(), path);
        break;
      case TMode::Search:
        dialog_->prepare(QStringLiteral("演奏曲の検索"), QStringLiteral("検索内容："), &searchText_, QString(),
                         QString(), QString());
        break;
    }
    dialog_->exec();
  });
}

void TFileCommands::copyFile() { open(TMode::Copy, "TForm1.MN_FILECOPYClick "); }
void TFileCommands::moveFile() { open(TMode::Move, "TForm1.MN_FILEMOVEClick "); }
void TFileCommands::deleteFile() { open(TMode::Delete, "TForm1.MN_FILEDELETEClick "); }
void TFileCommands::search() { open(TMode::Search, "TForm1.MN_FILEKENSAKUClick "); }

// "開始": runs the operation; the dialog hides afterwards, also after a failure.
void TFileCommands::start() {
  static constexpr const char* kTrace[] = {"TForm1.MN_FILECOPYClick ", "TForm1.MN_FILEMOVEClick ",
                                           "TForm1.MN_FILEDELETEClick ", "TForm1.MN_FILEKENSAKUClick "};
  dialog_->OKBtn->setEnabled(false);  // no second start while files are handled
  QGuardVoid(kTrace[int(mode_)], [&] {
    switch (mode_) {
      case TMode::Copy: transfer(false); break;
      case TMode::Move: transfer(true); break;
      case TMode::Delete: remove(); break;
      case TMode::Search:
        searchText_ = dialog_->Edit1->text();
        searchPosition_ = 0;
        subKensaku();
        break;
    }
  });
  dialog_->OKBtn->setEnabled(true);
  dialog_->accept();
}

void TFileCommands::transfer(bool move) {
  if (QTreeWidgetItem* item = host_.playListView()->currentItem()) item->setSelected(false);
  host_.playListView()->setCurrentItem(nullptr);
  const QString source = dialog_->Label4->text();
  host_.setCurrentFile(source);
  const TSongCompanions song = QGmstTitle2(host_, source);
  const QString typed = dialog_->Edit1->text();
  const QString folder = QGPrepareDestination(typed);
  if (folder.isEmpty()) {
    host_.showCaption(move ? QStringLiteral("移動先のディレクトリが存在しません")
                           : QStringLiteral("複写先のディレクトリが存在しません"));
    return;
  }
  lastDestination_ = typed;
  auto progress = [this](const QString& from, const QString& to) { dialog_->showFile(from, to); };
  if (!move) {
    QGCopySong(source, folder, song, progress);
    host_.showCaption(QStringLiteral("ファイルの複写完了"));
    return;
  }
  QGMoveSong(source, folder, song, progress);
  const QString moved = folder + QLatin1Char('/') + QFileInfo(source).fileName();
  QStringList paths;
  for (int i = 0; i < TJukeboxHost::kMaxEntries; ++i) paths << host_.playListPath(i);
  // Entries follow the song only when it really moved, in every stored list too.
  if (!QFileInfo::exists(source) && QFileInfo::exists(moved)) {
    paths = QGPathsAfterMove(paths, source, moved);
    QGRenameInStoredLists(settings_, source, moved);
  }
  rebuild(paths);
  host_.showCaption(QStringLiteral("ファイルの移動完了"));
}

void TFileCommands::remove() {
  if (QTreeWidgetItem* item = host_.playListView()->currentItem()) item->setSelected(false);
  host_.playListView()->setCurrentItem(nullptr);
  const QString source = dialog_->Label4->text();
  if (QGTrashFolder().isEmpty() && !confirmDeleteForGood()) return;
  host_.setCurrentFile(source);
  const TSongCompanions song = QGmstTitle2(host_, source);
  QGDeleteSong(source, song, [this](const QString& from, const QString&) {
    dialog_->showFile(from, QString());
    QCoreApplication::processEvents();
  });
  QStringList paths;
  for (int i = 0; i < TJukeboxHost::kMaxEntries; ++i) paths << host_.playListPath(i);
  // A song that could not be deleted stays in the list.
  if (!QFileInfo::exists(source)) paths = QGPathsAfterDelete(paths, source);
  host_.setCurrentIndex(-1);
  rebuild(paths);
  host_.showCaption(QStringLiteral("ファイルの削除完了"));
}

// Without a trash nothing could be brought back: the user decides.
bool TFileCommands::confirmDeleteForGood() {
  QMessageBox box(QMessageBox::Warning, dialog_->windowTitle(),
                  QStringLiteral("ごみ箱を作れません。完全に削除しますか？\nNo trash can be made: delete the files for good?"),
                  QMessageBox::Yes | QMessageBox::No, dialog_);
  box.setObjectName(QStringLiteral("DeleteForGood"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void TFileCommands::rebuild(const QStringList& paths) {
  host_.clearPlayListView();
  host_.setEntryCount(0);
  int count = 0;
  bool listed = true;
  for (int i = 0; i < TJukeboxHost::kMaxEntries; ++i) {
    const QString path = paths.value(i);
    host_.setPlayListPath(i, path);
    listed = listed && !path.isEmpty();  // the first empty slot ends the list
    if (!listed) continue;
    host_.addPlayListRow(path, host_.readSongInfo(path, false));
    host_.setEntryCount(++count);
  }
  host_.buildShuffleOrder();
}

QList<TListRow> TFileCommands::rows() const {
  QList<TListRow> out;
  QTreeWidget* view = host_.playListView();
  for (int i = 0; i < view->topLevelItemCount(); ++i)
    out.append({view->topLevelItem(i)->text(0), view->topLevelItem(i)->text(2)});
  return out;
}

void TFileCommands::subKensaku() {
  QGuardVoid("TForm1.subKensaku ", [&] {
    const QList<TListRow> all = rows();
    const int row = searchPosition_ < all.size() ? QGFindRow(all, searchText_, searchPosition_) : -1;
    if (row < 0) {
      host_.showCaption(searchText_ + QStringLiteral("は見つかりませんでした。"));
      return;
    }
    host_.selectRow(row);
    searchPosition_ = QGNextSearchPosition(row, all.size());
  });
}
