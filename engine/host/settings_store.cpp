#include "engine/host/settings_store.h"

#include <QCoreApplication>

#include <cstring>
#include <stdexcept>

#include "support/guard.h"
#include "support/settings/quor_settings.h"

namespace {

struct PaletteState {
  QGPalette table{};
  QGPalette saved{};
  uintptr_t handle = 0;
  uintptr_t nextHandle = 1;
};

TQuorSettings& Store() {
  static TQuorSettings store(QStringLiteral("QMIDIEXE"));
  return store;
}

PaletteState& Palette() {
  static PaletteState state = [] {
    PaletteState s;
    s.table = s.saved = QGDefaultPalette();
    return s;
  }();
  return state;
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
    QString key = TQuorSettings::programKey(path);
    if (!key.isEmpty()) Store().setApplication(key);

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

QString QIProgramKey() { return Store().application(); }

QString QIReadValue(const QString& name) { return Store().read(name); }

void QIWriteValue(const QString& name, const QString& text) { Store().write(name, text); }

void QIDeleteValue(const QString& name) { Store().remove(name); }

QString QIFilePath() { return Store().filePath(); }

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
