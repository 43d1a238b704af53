// TForm1: songs from outside the list editor (command line, a second
// quormidi, drops, the open dialog, play list files) join the shown list,
// and the titles of new rows are read from the engine a slice at a time.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include <cstdio>

#include "jukebox/form1.h"
#include "jukebox/song_sources.h"
#include "jukebox/up_down.h"
#include "support/guard.h"
#include "support/trace.h"

namespace {

// A slice of title reading keeps the window answering between slices.
constexpr int kRowReadingSliceMs = 15;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

QStringList LocalFiles(const QMimeData* mime) {
  QStringList paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

}  // namespace

QString DialogFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    filters << parts[i] + QStringLiteral(" (") + parts[i + 1].split(QLatin1Char(';')).join(QLatin1Char(' ')) +
                   QLatin1Char(')');
  return filters.join(QStringLiteral(";;"));
}

int TForm1::addSongs(const QStringList& arguments, bool start, const QString& workingFolder) {
  int added = 0;
  QGuardVoid("TForm1.addSongs ", [&] {
    QStringList problems;
    const QStringList songs = QGExpandSongArguments(arguments, workingFolder, &problems);
    QHash<QString, int> rowOf;
    for (int i = 0; i < list_.count(); ++i) rowOf.insert(list_.path(i), i);
    const int library = UpDown1->position();
    QList<QPair<QString, QString>> stored;
    int firstRow = -1;
    ListBox1->setUpdatesEnabled(false);
    for (const QString& song : songs) {
      int row = rowOf.value(song, -1);
      if (row < 0 && list_.append(song)) {
        row = list_.count() - 1;
        rowOf.insert(song, row);
        stored.append({PlayListValueName(library, row), song});
        addPlayListRow(song, TSongInfo{});
        rowsToRead_.append({row, song});
        ++added;
      } else if (row < 0) {
        problems << QStringLiteral("the list is full (%1 songs): ").arg(TPlayList::kMaxEntries) + song;
      }
      if (firstRow < 0) firstRow = row;
    }
    ListBox1->setUpdatesEnabled(true);
    settings_.writeAll(stored);
    if (added > 0) {
      subRandomize();
      commands_->playListChanged();
    }
    reportProblems(problems);
    if (start && firstRow >= 0) startRow(firstRow);
    scheduleRowReading();
  });
  return added;
}

void TForm1::reportProblems(const QStringList& problems) {
  for (const QString& problem : problems) {
    std::fprintf(stderr, "quormidi: %s\n", problem.toLocal8Bit().constData());
    QGTrText("TForm1.addSongs " + problem.toStdString());
  }
  if (!problems.isEmpty())
    showCaption(problems.size() == 1 ? problems.front() : problems.front() + QStringLiteral(" (+%1)").arg(problems.size() - 1));
}

// Plays from that row on: automatic play, so that what follows plays too.
void TForm1::startRow(int row) {
  setAutoPlay(true);
  currentIndex_ = row;
  selectRow(row);
  currentFile_ = entryPath(row);
  if (!currentFile_.isEmpty()) startOrRestart();
}

// ---- the titles of added rows

void TForm1::scheduleRowReading() {
  if (!rowsToRead_.isEmpty() && !endOwed_) rowReader_.start();
}

// The engine answers a song's information only while it plays nothing of
// ours; reading stops while a song plays (its own row is filled as it starts).
void TForm1::readQueuedRows() {
  if (readingRows_) return;
  if (endOwed_ || rowsToRead_.isEmpty()) {
    rowReader_.stop();
    if (rowsToRead_.isEmpty()) emit rowsRead();
    return;
  }
  readingRows_ = true;
  QElapsedTimer slice;
  slice.start();
  // A song started meanwhile (the calls let events in) ends the slice.
  while (!rowsToRead_.isEmpty() && !endOwed_ && slice.elapsed() < kRowReadingSliceMs) {
    auto [row, path] = rowsToRead_.takeFirst();
    if (entryPath(row) != path) row = rowOfPath(path);  // the list changed meanwhile
    if (row < 0) continue;
    const TSongInfo info = readRowInfo(path);
    if (endOwed_) {  // a song started during the read: the engine answered for it
      rowsToRead_.prepend({row, path});
      break;
    }
    showRowInfo(row, info);
  }
  readingRows_ = false;
}

int TForm1::rowOfPath(const QString& path) const {
  for (int i = 0; i < list_.count(); ++i)
    if (list_.path(i) == path) return i;
  return -1;
}

void TForm1::showRowInfo(int row, const TSongInfo& info) {
  QTreeWidgetItem* item = ListBox1->topLevelItem(row);
  if (!item) return;
  item->setText(1, info.hasWrd ? QStringLiteral("(W) ") : QStringLiteral("     "));
  item->setText(2, info.title);
}

// ---- drops, the open dialog, play list files

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QStringList paths = LocalFiles(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  addSongs(paths, false);
}

void TForm1::MN_FILEOPENClick() {
  if (playing_) return;
  const QStringList paths =
      QFileDialog::getOpenFileNames(this, QString(), QString(), DialogFilter(Text(kOpenFilter)));
  if (paths.size() == 1) openSong(paths.front());
  if (paths.size() > 1) addSongs(paths, true);  // several: into the list, the first plays
}

void TForm1::MN_FILEIMPORTClick() {
  const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), Text(kPlayListFilter));
  if (!path.isEmpty()) addSongs({path}, false);
}

void TForm1::MN_FILEEXPORTClick() {
  QString path = QFileDialog::getSaveFileName(this, QString(), QString(), Text(kPlayListFilter));
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".m3u8");
  exportPlayList(path);
}

bool TForm1::exportPlayList(const QString& path) {
  QStringList songs, titles;
  for (int i = 0; i < list_.count(); ++i) {
    songs << list_.path(i);
    const QTreeWidgetItem* item = ListBox1->topLevelItem(i);
    titles << (item ? item->text(2).trimmed() : QString());
  }
  const QString problem = QGWritePlayListFile(path, songs, titles);
  if (!problem.isEmpty()) reportProblems({problem});
  return problem.isEmpty();
}
