#include "engine/host/settings_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "support/guard.h"

namespace {

struct PaletteState {
  QGPalette table{};
  QGPalette saved{};
  uintptr_t handle = 0;
  uintptr_t nextHandle = 1;
};

QString& ProgramKey() {
  static QString key = QStringLiteral("QMIDIEXE");
  return key;
}

PaletteState& Palette() {
  static PaletteState state = [] {
    PaletteState s;
    s.table = s.saved = QGDefaultPalette();
    return s;
  }();
  return state;
}

std::unique_ptr<QSettings> OpenStore() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("QUOR"), ProgramKey());
}

// A fresh palette from the table, every entry's flags 0; the old one goes first.
void BuildPalette(PaletteState& p) {
  for (auto& e : p.table) e.flags = 0;
  p.handle = p.nextHandle++;
}

}  // namespace

void QICreate(const QString& programPath, int reservedColours, const QGPalette* systemPalette) {
  QGuardVoid("QICreate ", [&] {
    QString path = programPath;
    if (path.isEmpty() && QCoreApplication::instance())
      path = QCoreApplication::applicationFilePath();
    QString name = QFileInfo(path).fileName();
    int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    if (!name.isEmpty()) ProgramKey() = name.toUpper();

    PaletteState& p = Palette();
    p.table = QGDefaultPalette();
    if (reservedColours >= 1 && reservedColours <= 256) {
      if (!systemPalette) throw std::invalid_argument("no system palette");
      int half = reservedColours / 2;
      for (int i = 0; i < half; ++i) {
        p.table[size_t(i)] = (*systemPalette)[size_t(i)];
        p.table[size_t(255 - i)] = (*systemPalette)[size_t(255 - i)];
      }
    }
    BuildPalette(p);
    p.saved = p.table;
  });
}

QString QIProgramKey() { return ProgramKey(); }

QString QIReadValue(const QString& name) {
  return QGuard("QIReadValue", QString(), [&] {
    auto store = OpenStore();
    QVariant v = store->value(name);
    // A hand-edited value with an unquoted comma reads back as a list.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
  });
}

void QIWriteValue(const QString& name, const QString& text) {
  QGuardVoid("QIWriteValue", [&] {
    auto store = OpenStore();
    store->setValue(name, text);
    store->sync();
  });
}

void QIDeleteValue(const QString& name) {
  QGuardVoid("QIDeleteValue", [&] {
    auto store = OpenStore();
    if (store->contains(name)) {
      store->remove(name);
      store->sync();
    }
  });
}

QString QIFilePath() { return OpenStore()->fileName(); }

uintptr_t QIPaletteTable(uint8_t* destination) {
  const PaletteState& p = Palette();
  if (destination) std::memcpy(destination, p.table.data(), sizeof(QGPalette));
  return p.handle;
}

void QIResetPalette() {
  PaletteState& p = Palette();
  p.table = p.saved;
  BuildPalette(p);
}

void QIFreePalette() { Palette().handle = 0; }
