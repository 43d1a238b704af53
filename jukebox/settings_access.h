// The three things the jukebox's commands do with the settings store, so that
// they need not know how the window keeps it.
#pragma once

#include <QString>

#include <functional>

struct TSettingsAccess {
  std::function<QString(const QString& name)> read;
  std::function<void(const QString& name, const QString& text)> write;
  std::function<void(const QString& name)> remove;
};

// "L" + library + "K" + index: one entry of a stored play list.
inline QString QGPlayListValueName(int library, int index) {
  return QStringLiteral("L%1K%2").arg(library).arg(index);
}

// The access to a store with read, write and remove by name, such as the
// jukebox's TQuorSettings; the store must outlive the access.
template <class Store>
TSettingsAccess QGSettingsAccess(Store& store) {
  return {[&store](const QString& name) { return store.read(name); },
          [&store](const QString& name, const QString& text) { store.write(name, text); },
          [&store](const QString& name) { store.remove(name); }};
}
