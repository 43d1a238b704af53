#include "support/settings/quor_settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <memory>

#include "support/guard.h"

namespace {

std::unique_ptr<QSettings> OpenStore(const QString& application) {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("QUOR"), application);
}

QString ValueText(const QSettings& store, const QString& name) {
  QVariant v = store.value(name);
  // A hand-edited value with an unquoted comma reads back as a list.
  if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
  return v.toString();
}

}  // namespace

TQuorSettings::TQuorSettings(QString application) : application_(std::move(application)) {}

QString TQuorSettings::programKey(const QString& programPath) {
  QString name = QFileInfo(programPath).fileName();
  int dot = name.indexOf(QLatin1Char('.'));
  if (dot >= 0) name.truncate(dot);
  return name.toUpper();
}

QString TQuorSettings::read(const QString& name) const {
  return QGuard("QIReadValue", QString(), [&] { return ValueText(*OpenStore(application_), name); });
}

QStringList TQuorSettings::readRun(const std::function<QString(int)>& nameOf, int maxCount) const {
  return QGuard("QIReadValue", QStringList(), [&] {
    auto store = OpenStore(application_);
    QStringList values;
    for (int i = 0; i < maxCount; ++i) {
      QString value = ValueText(*store, nameOf(i));
      if (value.isEmpty()) break;
      values.append(std::move(value));
    }
    return values;
  });
}

int TQuorSettings::readInt(const QString& name, int fallback) const {
  bool ok = false;
  int value = read(name).trimmed().toInt(&ok);
  return ok ? value : fallback;
}

void TQuorSettings::write(const QString& name, const QString& text) const {
  QGuardVoid("QIWriteValue", [&] {
    auto store = OpenStore(application_);
    store->setValue(name, text);
    store->sync();
  });
}

void TQuorSettings::writeAll(const QList<QPair<QString, QString>>& values) const {
  if (values.isEmpty()) return;
  QGuardVoid("QIWriteValue", [&] {
    auto store = OpenStore(application_);
    for (const auto& [name, text] : values) store->setValue(name, text);
    store->sync();
  });
}

void TQuorSettings::remove(const QString& name) const {
  QGuardVoid("QIDeleteValue", [&] {
    auto store = OpenStore(application_);
    if (store->contains(name)) {
      store->remove(name);
      store->sync();
    }
  });
}

QString TQuorSettings::filePath() const { return OpenStore(application_)->fileName(); }
