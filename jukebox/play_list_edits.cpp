#include "jukebox/play_list_edits.h"

#include "jukebox/settings_access.h"

#include <algorithm>
#include <numeric>

QStringList QGPathsAfterMove(const QStringList& paths, const QString& source, const QString& destination) {
  QStringList out = paths;
  for (QString& p : out)
    if (p == source) p = destination;
  return out;
}

QStringList QGPathsAfterDelete(const QStringList& paths, const QString& deleted) {
  QStringList out;
  for (const QString& p : paths) {
    if (p.isEmpty()) break;
    if (p != deleted) out << p;
  }
  return out;
}

int QGRenameInStoredLists(const TSettingsAccess& settings, const QString& source, const QString& destination) {
  constexpr int kLibraries = 256, kEntries = 1024;
  int changed = 0;
  for (int library = 0; library < kLibraries; ++library) {
    for (int i = 0; i < kEntries; ++i) {
      const QString name = QGPlayListValueName(library, i);
      const QString path = settings.read(name);
      if (path.isEmpty()) break;
      if (path != source) continue;
      settings.write(name, destination);
      ++changed;
    }
  }
  return changed;
}

int QGFindRow(const QList<TListRow>& rows, const QString& text, int from) {
  if (text.isEmpty() || from < 0) return -1;
  const QString upper = text.toUpper();
  auto holds = [&](const QString& field) { return field.contains(text) || field.contains(upper); };
  for (int row = from; row < rows.size(); ++row)
    if (holds(rows[row].fileName) || holds(rows[row].title)) return row;
  return -1;
}

int QGNextSearchPosition(int row, int rowCount) { return row + 1 < rowCount ? row + 1 : row; }

QList<int> QGSortOrder(const QList<TListRow>& rows, TSortKey key) {
  QList<int> order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  auto field = [&](int i) -> const QString& { return key == TSortKey::FileName ? rows[i].fileName : rows[i].title; };
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const int c = QString::compare(field(a), field(b), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : QString::compare(field(a), field(b), Qt::CaseSensitive) < 0;
  });
  return order;
}
