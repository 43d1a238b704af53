// A jukebox window on a settings store of its own, with song files in a
// temporary folder, and a record of the songs it started.
#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

#include <memory>

#include "QMIDICTLXControl.h"
#include "jukebox/form1.h"
#include "tests/common/test_files.h"

class JukeboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir.file("config")));
  }
  void TearDown() override { form.reset(); }

  // A file the list can name; without an engine its content does not matter.
  QString song(const std::string& name, const std::string& bytes = "MThd") const {
    return QString::fromStdString(dir.write(name, bytes));
  }
  // Stores `paths` as list `library`.
  void storeList(int library, const QStringList& paths) {
    for (int i = 0; i < paths.size(); ++i) store.write(PlayListValueName(library, i), paths[i]);
  }
  TForm1& open() {
    form = std::make_unique<TForm1>();
    started = std::make_unique<QSignalSpy>(form.get(), &TForm1::songStarting);
    return *form;
  }
  QStringList startedSongs() const {
    QStringList songs;
    for (const auto& args : *started) songs << args.at(0).toString();
    return songs;
  }
  void report(int v1, int v2 = 0, int v3 = 0, int v4 = 0) { emit form->control()->OnStatus(v1, v2, v3, v4); }
  template <class W>
  W* widget(const char* name) const {
    W* w = form->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  qtest::TempDir dir;
  TQuorSettings store{QStringLiteral("QUORMIDI")};
  std::unique_ptr<TForm1> form;
  std::unique_ptr<QSignalSpy> started;
};
