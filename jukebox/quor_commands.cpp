#include "jukebox/quor_commands.h"

#include <QAction>
#include <QCheckBox>
#include <QTreeWidget>

#include "jukebox/list_editor.h"
#include "support/guard.h"

TQuorCommands::TQuorCommands(TJukeboxHost& host, TSettingsAccess settings)
    : host_(host), settings_(settings), files_(host, settings) {}

TQuorCommands::~TQuorCommands() = default;

bool TQuorCommands::allowedNow() {
  if (!host_.isPlaying()) return true;
  host_.showCaption(QStringLiteral("演奏中は、この機能は利用出来ません"));
  return false;
}

void TQuorCommands::startUp() {
  files_.startUp();
  history_.load(settings_.read);
  showHistory();
  editor_ = std::make_unique<TAUTOF>(host_, settings_, host_.hostWindow());
}

void TQuorCommands::shutDown() {
  history_.save(settings_.write);
  editor_.reset();  // keeps its position
}

void TQuorCommands::showHistory() {
  for (int n = 0; n < TReopenHistory::kItems; ++n) {
    QAction* item = host_.reopenItem(n);
    if (!item) continue;
    const QString path = history_.path(n);
    item->setText(path.isEmpty() ? QStringLiteral("(&%1)").arg(n) : TReopenHistory::caption(n, path));
    item->setVisible(!path.isEmpty());
  }
}

void TQuorCommands::songStarted(const QString& path) {
  QGuardVoid("TForm1.subOpen ", [&] {
    history_.record(path);
    showHistory();
  });
}

void TQuorCommands::playListChanged() {
  if (editor_ && !editor_->isVisible()) editor_->forgetList();
}

void TQuorCommands::randomChanged() {
  if (editor_) editor_->CB_RANDOM->setChecked(host_.randomOn());
}

void TQuorCommands::showListEditor() {
  if (!editor_) return;
  editor_->show();
  editor_->raise();
  editor_->activateWindow();
}

void TQuorCommands::searchNext() {
  if (allowedNow()) files_.subKensaku();
}

void TQuorCommands::reopen(int n) {
  const std::string traceName = "TForm1.MN_FILEReOPEN" + std::to_string(n) + "Click ";
  QGuardVoid(traceName.c_str(), [&] {
    if (!allowedNow()) return;
    const QString path = history_.path(n);
    if (path.isEmpty()) return;
    host_.setAutoPlay(false);
    host_.setCurrentFile(path);
    host_.startCurrentFile();
  });
}

// The rows change places and their paths go with them; the current index
// keeps naming the same song. The stored list stays as it is.
void TQuorCommands::sort(TSortKey key, const char* traceName) {
  QGuardVoid(traceName, [&] {
    if (!allowedNow()) return;
    QTreeWidget* view = host_.playListView();
    const int count = std::min(view->topLevelItemCount(), host_.entryCount());
    QList<TListRow> rows;
    QStringList paths;
    for (int i = 0; i < count; ++i) {
      rows.append({view->topLevelItem(i)->text(0), view->topLevelItem(i)->text(2)});
      paths << host_.playListPath(i);
    }
    const QList<int> order = QGSortOrder(rows, key);
    const int current = host_.currentIndex();
    view->clearSelection();
    view->setCurrentItem(nullptr);
    QList<QTreeWidgetItem*> items;
    for (int i = count - 1; i >= 0; --i) items.prepend(view->takeTopLevelItem(i));
    for (int k = 0; k < count; ++k) {
      view->insertTopLevelItem(k, items[order[k]]);
      host_.setPlayListPath(k, paths[order[k]]);
      if (order[k] == current) host_.setCurrentIndex(k);
    }
    host_.buildShuffleOrder();
  });
}

std::unique_ptr<TJukeboxCommands> createQuorCommands(TJukeboxHost& host, TSettingsAccess settings) {
  return std::make_unique<TQuorCommands>(host, std::move(settings));
}
