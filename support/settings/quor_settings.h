// Named string values of one program under the organisation "QUOR", kept by
// QSettings in the user's configuration folder (for example
// ~/.config/QUOR/QUORMIDI.conf). Every operation opens and closes the store
// itself, so a value another program wrote a moment before is seen at once;
// nothing is cached. Failures are swallowed: a failed read gives "", a
// failed write or delete is lost (each is traced).
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class TQuorSettings {
 public:
  // application: the program's key, such as "QMIDIEXE" or "QUORMIDI".
  explicit TQuorSettings(QString application);

  // The key of a program file: its name up to the first ".", upper case
  // ("/usr/bin/quormidi" -> "QUORMIDI"); "" for an empty name.
  static QString programKey(const QString& programPath);

  const QString& application() const { return application_; }
  void setApplication(const QString& application) { application_ = application; }

  // The value, or "" when it is missing or cannot be read.
  QString read(const QString& name) const;
  // The values nameOf(0), nameOf(1), ... up to the first empty or missing
  // one, at most maxCount, in one look at the store (a long list is read as
  // fast as one value).
  QStringList readRun(const std::function<QString(int)>& nameOf, int maxCount) const;
  // A decimal value; fallback when it is missing or not a number.
  int readInt(const QString& name, int fallback) const;
  // Writes a string value (the store and its folder appear when missing).
  void write(const QString& name, const QString& text) const;
  // Writes several values at once (a long list costs one write of the store).
  void writeAll(const QList<QPair<QString, QString>>& values) const;
  // Removes a value when it exists.
  void remove(const QString& name) const;
  // Where the store lives (for people and diagnostics).
  QString filePath() const;

 private:
  QString application_;
};
