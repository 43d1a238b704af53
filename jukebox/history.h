// The reopen history: the song being played and up to seven earlier ones,
// most recent first, each once, kept in the settings between runs.
#pragma once

#include <QString>

#include <array>
#include <functional>

class TReopenHistory {
 public:
  static constexpr int kItems = 8;
  using TRead = std::function<QString(const QString& name)>;
  using TWrite = std::function<void(const QString& name, const QString& text)>;

  // "CurrentFile" for item 0, "CurrentFile" + n after it.
  static QString valueName(int n);
  // "(&n) " followed by the path: the menu item's caption.
  static QString caption(int n, const QString& path);

  // Start-up: an item keeps its stored path only when that file exists.
  void load(const TRead& read);
  // Shutdown: every item's path, "" for an item without one.
  void save(const TWrite& write) const;
  // A song is started: it goes first, earlier paths follow without it.
  void record(const QString& current);

  // Item n's path; "" for a hidden item.
  QString path(int n) const;

 private:
  std::array<QString, kItems> paths_;
};
