// A main window for the jukebox's commands: the play list in memory, a list
// view with the window's three columns, and settings in an INI file of a
// temporary folder. Song information comes from `songs`, or from the
// engine through a control.
#pragma once

#include <QAction>
#include <QFileInfo>
#include <QMap>
#include <QSettings>
#include <QTreeWidget>
#include <QWidget>

#include <array>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "QMIDICTLXControl.h"
#include "jukebox/jukebox_commands.h"
#include "jukebox/settings_access.h"
#include "tests/common/test_files.h"

// Failures show texts, not their UTF-16 units.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

// Settings kept in one INI file, written out when the last copy of the
// access goes; a later access on the same file is the next run's.
inline TSettingsAccess IniSettings(const QString& file) {
  auto store = std::make_shared<QSettings>(file, QSettings::IniFormat);
  return {[store](const QString& n) { return store->value(n).toString(); },
          [store](const QString& n, const QString& t) { store->setValue(n, t); },
          [store](const QString& n) { store->remove(n); }};
}

// Song information as the jukebox's window reads it through the control.
inline TSongInfo ReadThroughControl(TQMIDICTLX& c, const QString& path, bool pictureTable) {
  if (pictureTable) c.setOUTSTATUSCH(2000);
  c.setMIDIFILENAME(path);
  c.STATUS();
  TSongInfo info;
  info.title = c.MIDITITLE();
  c.setOUTSTATUSCH(1000);
  info.cm6Path = c.OUTSTATUSMEMO();
  c.setOUTSTATUSCH(1001);
  info.gsdPath = c.OUTSTATUSMEMO();
  c.setOUTSTATUSCH(1002);
  info.hasWrd = c.OUTSTATUSID() == 1;
  c.setOUTSTATUSCH(1003);
  info.gsdBPath = c.OUTSTATUSMEMO();
  return info;
}

class FakeHost final : public TJukeboxHost {
 public:
  explicit FakeHost(const qtest::TempDir& dir)
      : settingsFile(QString::fromStdString(dir.file("QUORMIDI.ini"))), access(IniSettings(settingsFile)) {
    view.setColumnCount(3);
    for (int n = 0; n < 8; ++n) reopen[n] = std::make_unique<QAction>(QStringLiteral("(&%1)").arg(n));
  }

  QWidget* hostWindow() override { return &window; }
  TQMIDICTLX* control() override { return engine; }
  TQuorSettings& settings() override { std::abort(); }  // the commands read settings through `access`
  bool isPlaying() const override { return playing; }
  void showCaption(const QString& text) override { caption = text; }
  QString playListPath(int i) const override { return i >= 0 && i < kMaxEntries ? paths[i] : QString(); }
  void setPlayListPath(int i, const QString& p) override { paths[i] = p; }
  int entryCount() const override { return count; }
  void setEntryCount(int c) override { count = c; }
  int currentIndex() const override { return current; }
  void setCurrentIndex(int i) override { current = i; }
  bool randomOn() const override { return random; }
  void setRandomOn(bool on) override { random = on; }
  int libraryNumber() const override { return library; }
  QTreeWidget* playListView() override { return &view; }
  void clearPlayListView() override { view.clear(); }
  void addPlayListRow(const QString& path, const TSongInfo& info) override {
    new QTreeWidgetItem(&view, {QFileInfo(path).fileName(), info.hasWrd ? QStringLiteral("(W) ") : QStringLiteral("     "),
                                info.title + QLatin1Char(' ')});
  }
  void selectRow(int row) override {
    view.clearSelection();
    view.setCurrentItem(view.topLevelItem(row));
    view.topLevelItem(row)->setSelected(true);
  }
  // The window's list loading: stored values up to the first empty one,
  // files that no longer exist left out.
  void loadPlayList(int lib) override {
    ++loads;
    clearPlayListView();
    paths.fill(QString());
    count = 0;
    for (int i = 0; i < kMaxEntries; ++i) {
      const QString p = access.read(QGPlayListValueName(lib, i));
      if (p.isEmpty()) break;
      if (!QFileInfo::exists(p)) continue;
      paths[count++] = p;
      addPlayListRow(p, readSongInfo(p, false));
    }
  }
  void buildShuffleOrder() override { ++shuffles; }
  TSongInfo readSongInfo(const QString& path, bool pictureTable) override {
    return engine ? ReadThroughControl(*engine, path, pictureTable) : songs.value(path);
  }
  QString currentFile() const override { return current_file; }
  void setCurrentFile(const QString& p) override { current_file = p; }
  QString lastStartedFile() const override { return current_file; }
  void startCurrentFile() override { started << current_file; }
  void setAutoPlay(bool on) override { autoPlay = on; }
  QAction* reopenItem(int n) override { return reopen[n].get(); }

  // Fills the list in memory and the view from full paths.
  void setList(const QStringList& list) {
    clearPlayListView();
    paths.fill(QString());
    count = 0;
    for (const QString& p : list) {
      paths[count++] = p;
      addPlayListRow(p, songs.value(p));
    }
  }

  QString settingsFile;
  TSettingsAccess access;
  QWidget window;
  QTreeWidget view;
  std::array<QString, kMaxEntries> paths;
  std::array<std::unique_ptr<QAction>, 8> reopen;
  QMap<QString, TSongInfo> songs;
  TQMIDICTLX* engine = nullptr;  // when set, songs are read through it
  QStringList started;
  QString caption, current_file;
  int count = 0, current = -1, library = 0, loads = 0, shuffles = 0;
  bool playing = false, random = false, autoPlay = true;
};
