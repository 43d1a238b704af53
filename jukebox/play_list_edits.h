// The play list in memory after a file command, searching it, and sorting
// it; and the stored lists after a song moved.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Entries equal to source become destination.
QStringList QGPathsAfterMove(const QStringList& paths, const QString& source, const QString& destination);
// The entries before the first empty one, without those equal to deleted.
QStringList QGPathsAfterDelete(const QStringList& paths, const QString& deleted);

struct TSettingsAccess;
// Every stored list (0 .. 255) names destination where it named source, so
// that a moved song keeps its places; the number of entries changed.
int QGRenameInStoredLists(const TSettingsAccess& settings, const QString& source, const QString& destination);

// What a search and a sort see of a row of the list view.
struct TListRow {
  QString fileName;
  QString title;
};

// The first row from `from` on whose file name or title holds text, or
// text in upper case ("abc" finds "ABC"; "ABC" does not find "abc");
// -1 when none does or text is empty.
int QGFindRow(const QList<TListRow>& rows, const QString& text, int from);
// Where the next search begins after a match at row: the row after it, or
// the row itself when it is the last.
int QGNextSearchPosition(int row, int rowCount);

enum class TSortKey { FileName, Title };
// The rows' new order: result[k] is the old index of the row that goes to
// place k. Letter case is ignored first; equal rows keep their order.
QList<int> QGSortOrder(const QList<TListRow>& rows, TSortKey key);
