#include "jukebox/history.h"

#include <QFileInfo>
#include <QStringList>

QString TReopenHistory::valueName(int n) {
  return n == 0 ? QStringLiteral("CurrentFile") : QStringLiteral("CurrentFile%1").arg(n);
}

QString TReopenHistory::caption(int n, const QString& path) { return QStringLiteral("(&%1) ").arg(n) + path; }

void TReopenHistory::load(const TRead& read) {
  for (int n = 0; n < kItems; ++n) {
    const QString stored = read(valueName(n));
    paths_[n] = !stored.isEmpty() && QFileInfo::exists(stored) ? stored : QString();
  }
}

void TReopenHistory::save(const TWrite& write) const {
  for (int n = 0; n < kItems; ++n) write(valueName(n), paths_[n]);
}

void TReopenHistory::record(const QString& current) {
  QStringList earlier;
  for (const QString& p : paths_)
    if (!p.isEmpty() && p != current) earlier << p;
  paths_[0] = current;
  for (int n = 1; n < kItems; ++n) paths_[n] = n - 1 < earlier.size() ? earlier[n - 1] : QString();
}

QString TReopenHistory::path(int n) const { return n >= 0 && n < kItems ? paths_[n] : QString(); }
