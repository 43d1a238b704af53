#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include <filesystem>

#include "engine/host/engine_values.h"
#include "engine/host/settings_store.h"
#include "tests/common/test_files.h"

namespace {

// Each test gets its own configuration folder.
class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path().string()));
    QICreate(QStringLiteral("/usr/local/bin/qmidiexe"));
  }
  // The value exactly as the file holds it.
  QString Raw(const QString& name) {
    QSettings s(QIFilePath(), QSettings::IniFormat);
    return s.value(name).toString();
  }
  bool Has(const QString& name) {
    QSettings s(QIFilePath(), QSettings::IniFormat);
    return s.contains(name);
  }
  qtest::TempDir dir_;
};

TEST_F(Settings, FreshUserGetsTheDefaultsAndTheKeyAppearsOnFirstWrite) {
  EXPECT_EQ(QIProgramKey(), "QMIDIEXE");
  EXPECT_TRUE(QIFilePath().startsWith(QString::fromStdString(dir_.path().string())));
  EXPECT_TRUE(QIFilePath().contains("QUOR/QMIDIEXE"));
  EXPECT_EQ(QIReadValue("FontName"), "");

  TEngineValues v;
  v.wrdVisible = false;
  v.timerMidi = 1;
  v.devices = {5, 5, 5, 5};
  QHReadEngineSettings(v);
  EXPECT_TRUE(v.wrdVisible);
  EXPECT_EQ(v.devices, (std::array<int32_t, 4>{-1, -1, -1, -1}));
  EXPECT_EQ(v.timerMidi, 8);
  EXPECT_EQ(v.resetMode, 0);
  EXPECT_EQ(v.wrdDelay, 3);
  EXPECT_EQ(v.wrdFont.family(), "ＭＳ 明朝");
  EXPECT_EQ(v.wrdFont.pointSize(), 11);
  EXPECT_FALSE(v.wrdFont.bold());
  EXPECT_FALSE(QFile::exists(QIFilePath()));

  QHWriteHandle(4242);
  EXPECT_TRUE(QFile::exists(QIFilePath()));
  EXPECT_EQ(QIReadValue("Handle"), "4242");
}

TEST_F(Settings, FontStyleComparesExactly) {
  TEngineValues v;
  QIWriteValue("FontStyle", "bold");
  QHReadFontSettings(v);
  EXPECT_FALSE(v.wrdFont.bold());
  v.wrdFont.setBold(true);  // and a bold font stays bold
  QHReadFontSettings(v);
  EXPECT_TRUE(v.wrdFont.bold());

  TEngineValues w;
  w.wrdFont.setItalic(true);
  QIWriteValue("FontStyle", "Bold");
  QHReadFontSettings(w);
  EXPECT_TRUE(w.wrdFont.bold());
  EXPECT_FALSE(w.wrdFont.italic());
}

TEST_F(Settings, DevicesAreStoredPlusOne) {
  QIWriteValue("MidiId1", "0");
  QIWriteValue("MidiId2", "257");
  QIWriteValue("MidiId3", "3");
  QIWriteValue("MidiId4", "junk");
  TEngineValues v;
  QHReadPlaySettings(v);
  EXPECT_EQ(v.devices, (std::array<int32_t, 4>{-1, 256, 2, -1}));
}

TEST_F(Settings, UnreadableNumbersTakeTheirDefaults) {
  QIWriteValue("swBunkainou", "eight");
  QIWriteValue("swHatuon", "");
  QIWriteValue("swWRDDely", "4x");
  QIWriteValue("FontSize", "big");
  TEngineValues v;
  v.wrdFont.setPointSize(14);
  QHReadEngineSettings(v);
  EXPECT_EQ(v.timerMidi, 8);
  EXPECT_EQ(v.resetMode, 0);
  EXPECT_EQ(v.wrdDelay, 3);
  EXPECT_EQ(v.wrdFont.pointSize(), 14);

  QIWriteValue("swBunkainou", " 16 ");
  QIWriteValue("swWRDDely", "-96");
  QIWriteValue("FontSize", "0");
  QHReadEngineSettings(v);
  EXPECT_EQ(v.timerMidi, 16);
  EXPECT_EQ(v.wrdDelay, -96);
  EXPECT_EQ(v.wrdFont.pointSize(), 14);
}

TEST_F(Settings, OnlyFalseTurnsTheDisplayOff) {
  TEngineValues v;
  for (const char* text : {"TRUE", "false", "0", "No"}) {
    QIWriteValue("WRDChecked", text);
    QHReadFontSettings(v);
    EXPECT_TRUE(v.wrdVisible) << text;
  }
  QIWriteValue("WRDChecked", "FALSE");
  QHReadFontSettings(v);
  EXPECT_FALSE(v.wrdVisible);
}

TEST_F(Settings, CommandLineRunKeepsThePlayOptions) {
  TEngineValues v;
  v.timerMidi = 2;
  v.devices = {256, 0, -1, 1};
  QHWriteEngineSettings(v, /*commandLineMode=*/true);
  for (const char* key : {"FontName", "FontSize", "MidiId1", "MidiId2", "MidiId3", "MidiId4",
                          "FontStyle"})
    EXPECT_TRUE(Has(key)) << key;
  for (const char* key : {"WRDChecked", "swBunkainou", "swHatuon", "swWRDDely"})
    EXPECT_FALSE(Has(key)) << key;
  EXPECT_EQ(Raw("MidiId1"), "257");
  EXPECT_EQ(Raw("MidiId2"), "1");
  EXPECT_EQ(Raw("MidiId3"), "0");
  EXPECT_EQ(Raw("MidiId4"), "2");
  EXPECT_EQ(Raw("FontStyle"), "NotBold");
}

TEST_F(Settings, ExitWritesEverythingAndReadsBack) {
  TEngineValues v;
  v.wrdFont = QFont("IPAゴシック");
  v.wrdFont.setPointSize(13);
  v.wrdFont.setBold(true);
  v.wrdVisible = false;
  v.devices = {2, 256, -1, 0};
  v.timerMidi = 4;
  v.resetMode = 5;
  v.wrdDelay = -384;
  QHWriteEngineSettings(v, false);
  EXPECT_EQ(Raw("WRDChecked"), "FALSE");
  EXPECT_EQ(Raw("FontStyle"), "Bold");
  EXPECT_EQ(Raw("swHatuon"), "5");

  TEngineValues r;
  QHReadEngineSettings(r);
  EXPECT_EQ(r.wrdFont.family(), "IPAゴシック");
  EXPECT_EQ(r.wrdFont.pointSize(), 13);
  EXPECT_TRUE(r.wrdFont.bold());
  EXPECT_FALSE(r.wrdVisible);
  EXPECT_EQ(r.devices, v.devices);
  EXPECT_EQ(r.timerMidi, 4);
  EXPECT_EQ(r.resetMode, 5);
  EXPECT_EQ(r.wrdDelay, -384);

  // A font given in pixels is saved in points.
  v.wrdFont.setPixelSize(16);
  QHWriteEngineSettings(v, false);
  EXPECT_EQ(Raw("FontSize"), "12");
  // Bold with italic is not "Bold".
  v.wrdFont.setItalic(true);
  QHWriteEngineSettings(v, false);
  EXPECT_EQ(Raw("FontStyle"), "NotBold");
}

TEST_F(Settings, NothingIsCachedAndValuesCanBeDeleted) {
  QIWriteValue("swHatuon", "1");
  {
    QSettings other(QIFilePath(), QSettings::IniFormat);
    other.setValue("swHatuon", "8");
  }
  EXPECT_EQ(QIReadValue("swHatuon"), "8");
  QIDeleteValue("swHatuon");
  EXPECT_EQ(QIReadValue("swHatuon"), "");
  QIDeleteValue("missing");
  // A hand-edited value with a comma is still one string.
  QFile f(QIFilePath());
  ASSERT_TRUE(f.open(QIODevice::Append));
  f.write("FontName=A, B\n");
  f.close();
  EXPECT_EQ(QIReadValue("FontName"), "A, B");
}

TEST_F(Settings, KeyComesFromTheProgramName) {
  QICreate("/opt/x/quormidi.exe");
  EXPECT_EQ(QIProgramKey(), "QUORMIDI");
  EXPECT_TRUE(QIFilePath().endsWith("QUOR/QUORMIDI.conf"));
  QICreate("/usr/bin/qmidiexe");
  EXPECT_EQ(QIProgramKey(), "QMIDIEXE");
}

TEST_F(Settings, TrueColourPaletteIsTheDefaultTable) {
  std::array<uint8_t, 1024> table{};
  uintptr_t handle = QIPaletteTable(table.data());
  EXPECT_NE(handle, 0u);
  EXPECT_EQ(0, std::memcmp(table.data(), QGDefaultPalette().data(), 1024));
  QIFreePalette();
  EXPECT_EQ(QIPaletteTable(nullptr), 0u);
  QIResetPalette();
  EXPECT_NE(QIPaletteTable(nullptr), 0u);
}

TEST_F(Settings, PalettisedScreenTakesTheReservedColours) {
  QGPalette system{};
  for (int i = 0; i < 256; ++i) system[size_t(i)] = {uint8_t(i), 1, 2, 7};
  QICreate("/usr/bin/qmidiexe", 20, &system);
  std::array<QGPaletteEntry, 256> table{};
  QIPaletteTable(reinterpret_cast<uint8_t*>(table.data()));
  const QGPalette& def = QGDefaultPalette();
  for (int i = 0; i < 256; ++i) {
    bool reserved = i < 10 || i >= 246;
    const QGPaletteEntry& want = reserved ? system[size_t(i)] : def[size_t(i)];
    EXPECT_EQ(table[size_t(i)].red, want.red) << i;
    EXPECT_EQ(table[size_t(i)].green, want.green) << i;
    EXPECT_EQ(table[size_t(i)].flags, 0) << i;
  }
  QICreate("/usr/bin/qmidiexe");  // back to true colour for the other tests
  QIPaletteTable(reinterpret_cast<uint8_t*>(table.data()));
  EXPECT_EQ(table[0].red, def[0].red);
  EXPECT_EQ(table[1].red, def[1].red);
}

}  // namespace
