#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <map>

#include "engine/host/option_dialogs.h"
#include "support/result_code.h"

namespace {

// A device set whose names and count the test chooses.
class TestDevices final : public MidiOutSystem {
 public:
  int count = 2;
  std::map<int, std::string> names{{-1, "Soft mapper"}, {0, "Port Zero"}, {1, "Port One"}};
  int deviceCount() override { return count; }
  std::string productName(int id) override {
    auto it = names.find(id);
    return it == names.end() ? std::string() : it->second;
  }
  bool supportsVolume(int) override { return false; }
  MidiResult open(int, std::unique_ptr<MidiOutPort>*) override { return kMidiBadDevice; }
};

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override { QDSetMidiSystem(&devices_); }
  void TearDown() override { QDSetMidiSystem(nullptr); }

  static QStringList Items(QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
  }
  // A user's choice in list (0 .. 3) of the text.
  static void Choose(TOKBottomDlg1& dlg, int list, const QString& text) {
    int position = dlg.list(list)->findText(text);
    ASSERT_GE(position, 0) << text.toStdString();
    dlg.list(list)->setCurrentIndex(position);
    emit dlg.list(list)->activated(position);
  }

  TestDevices devices_;
};

TEST_F(Dialogs, PortListsHoldTheMapperTheDevicesAndNone) {
  TOKBottomDlg1 dlg;
  EXPECT_EQ(dlg.windowTitle(), "MIDI出力ﾎﾟｰﾄの設定");
  EXPECT_EQ(dlg.Label1->text(), "ﾎﾟｰﾄＡ:");
  EXPECT_EQ(dlg.Label2->text(), "ﾎﾟｰﾄＢ:");
  EXPECT_EQ(dlg.OKBtn->text(), "OK");
  EXPECT_EQ(dlg.CancelBtn->text(), "ｷｬﾝｾﾙ");

  TEngineValues v;
  v.devices = {-1, 0, 1, 256};
  dlg.setSource(&v);
  dlg.FormShow();
  const QStringList want{"Soft mapper", "Port Zero", "Port One", "なし"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Items(dlg.list(i)), want) << i;
  EXPECT_EQ(dlg.ComboBox1->currentText(), "Soft mapper");
  EXPECT_EQ(dlg.ComboBox2->currentText(), "Port Zero");
  EXPECT_EQ(dlg.ComboBox3->currentText(), "Port One");
  EXPECT_EQ(dlg.ComboBox4->currentText(), "なし");
  EXPECT_EQ(dlg.positionValue(0, 0), -1);
  EXPECT_EQ(dlg.positionValue(0, 2), 1);
  EXPECT_EQ(dlg.positionValue(0, 3), 256);
  EXPECT_EQ(dlg.positionValue(0, 99), 256);
}

TEST_F(Dialogs, ADeviceUsedByAnotherListIsRefused) {
  TOKBottomDlg1 dlg;
  TEngineValues v;
  v.devices = {0, 256, 1, 256};
  dlg.setSource(&v);
  dlg.FormShow();
  Choose(dlg, 2, "Port Zero");  // ComboBox3 asks for ComboBox1's device
  EXPECT_EQ(dlg.ComboBox3->currentText(), "Port One");
  EXPECT_EQ(dlg.currentValue(2), 1);
  Choose(dlg, 1, "Soft mapper");
  EXPECT_EQ(dlg.currentValue(1), -1);
  Choose(dlg, 3, "Soft mapper");
  EXPECT_EQ(dlg.ComboBox4->currentText(), "なし");
  dlg.OKBtnClick();
  EXPECT_EQ(v.devices, (std::array<int32_t, 4>{0, -1, 1, 256}));
}

TEST_F(Dialogs, NoneInAllFourLists) {
  TOKBottomDlg1 dlg;
  TEngineValues v;
  dlg.setSource(&v);
  dlg.FormShow();
  for (int i = 0; i < 4; ++i) Choose(dlg, i, "なし");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dlg.list(i)->currentText(), "なし");
  dlg.OKBtnClick();
  EXPECT_EQ(v.devices, (std::array<int32_t, 4>{256, 256, 256, 256}));
}

TEST_F(Dialogs, MissingDevicesShowNone) {
  devices_.names.erase(-1);  // the mapper does not answer
  TOKBottomDlg1 dlg;
  TEngineValues v;
  v.devices = {-1, 7, 1, 0};
  dlg.setSource(&v);
  dlg.FormShow();
  EXPECT_EQ(Items(dlg.ComboBox1), (QStringList{"Port Zero", "Port One", "なし"}));
  EXPECT_EQ(dlg.ComboBox1->currentText(), "なし");
  EXPECT_EQ(dlg.ComboBox2->currentText(), "なし");
  EXPECT_EQ(dlg.currentValue(0), 256);
  EXPECT_EQ(dlg.currentValue(1), 256);
  dlg.OKBtnClick();
  EXPECT_EQ(v.devices, (std::array<int32_t, 4>{256, 256, 1, 0}));
}

TEST_F(Dialogs, NoDeviceAtAll) {
  devices_.count = 0;
  {
    // The soft synth alone, behind the mapper, is a device to choose.
    TOKBottomDlg1 dlg;
    dlg.FormShow();
    EXPECT_EQ(dlg.windowTitle(), "MIDI出力ﾎﾟｰﾄの設定");
    EXPECT_EQ(Items(dlg.ComboBox1), (QStringList{"Soft mapper", "なし"}));
  }
  devices_.names.erase(-1);
  QGSetErrorCode(0);
  TOKBottomDlg1 dlg;
  TEngineValues v;
  v.devices = {0, 1, -1, 256};
  dlg.setSource(&v);
  dlg.FormShow();
  EXPECT_EQ(dlg.windowTitle(), "No Midi OutPut device");
  EXPECT_EQ(QGEngineErrorCode().load(), 8099);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dlg.list(i)->count(), 0);
  dlg.OKBtnClick();  // nothing to choose: the values stay
  EXPECT_EQ(v.devices, (std::array<int32_t, 4>{0, 1, -1, 256}));
  devices_.count = 2;
  dlg.FormShow();
  EXPECT_EQ(dlg.windowTitle(), "MIDI出力ﾎﾟｰﾄの設定");
  EXPECT_EQ(QGResultCodeText(8099), "no MIDI output device to choose from");
}

TEST_F(Dialogs, CancelChangesNothing) {
  TOKBottomDlg1 dlg;
  TEngineValues v;
  v.devices = {0, 256, 256, 256};
  QTimer::singleShot(0, &dlg, [&] {
    Choose(dlg, 0, "Port One");
    dlg.CancelBtn->click();
  });
  EXPECT_FALSE(dlg.run(v));
  EXPECT_EQ(v.devices[0], 0);
  QTimer::singleShot(0, &dlg, [&] {
    Choose(dlg, 0, "Port One");
    dlg.OKBtn->click();
  });
  EXPECT_TRUE(dlg.run(v));
  EXPECT_EQ(v.devices[0], 1);
}

TEST_F(Dialogs, OptionDialogTexts) {
  TOkBottomDlg2 dlg;
  EXPECT_EQ(dlg.windowTitle(), "演奏ｵﾌﾟｼｮﾝ設定ﾀﾞｲｱﾛｸﾞ");
  EXPECT_EQ(dlg.Label1->text(), "演奏ﾓｰﾄﾞ");
  EXPECT_EQ(dlg.Label3->text(), "分解能");
  EXPECT_EQ(dlg.Label2->text(), "WRD表示ｵﾌｾｯﾄ");
  EXPECT_EQ(dlg.RadioButton1->text(), "XYmode");
  EXPECT_EQ(dlg.Button3->text(), "WRD文字ﾌｫﾝﾄ");
  EXPECT_EQ(dlg.Button1->text(), "OK");
  EXPECT_EQ(dlg.Button2->text(), "ｷｬﾝｾﾙ");
  EXPECT_EQ(Items(dlg.ComboBox1), (QStringList{"ﾉｰﾏﾙﾓｰﾄﾞ", "同時発音数16制限", "音源ﾘｾｯﾄ付加",
                                               "GMﾘｾｯﾄ付加", "SC_55Mapﾓｰﾄﾞ", "SC_88Mapﾓｰﾄﾞ"}));
  EXPECT_EQ(Items(dlg.ComboBox3), (QStringList{"1ﾐﾘ秒", "2ﾐﾘ秒", "4ﾐﾘ秒", "8ﾐﾘ秒", "16ﾐﾘ秒"}));
  EXPECT_EQ(Items(dlg.ComboBox2),
            (QStringList{"自動", "2小節早く", "1小節早く", "2分音符早く", "4分音符早く",
                         "8分音符早く", "16分音符早く", "32分音符早く", "64分音符早く", "JUST",
                         "64分音符遅く", "32分音符遅く", "16分音符遅く", "8分音符遅く",
                         "4分音符遅く", "2分音符遅く", "1小節遅く", "2小節遅く"}));
  EXPECT_EQ(dlg.ComboBox1->currentText(), "ﾉｰﾏﾙﾓｰﾄﾞ");
  EXPECT_EQ(dlg.ComboBox3->currentText(), "4ﾐﾘ秒");
  EXPECT_EQ(dlg.ComboBox2->currentText(), "自動");
  EXPECT_FALSE(dlg.RadioButton1->isChecked());
}

TEST_F(Dialogs, UnknownResolutionShowsAndStoresEight) {
  TOkBottomDlg2 dlg;
  TEngineValues v;
  v.timerMidi = 3;
  dlg.setSource(&v);
  dlg.FormShow();
  EXPECT_EQ(dlg.ComboBox3->currentText(), "8ﾐﾘ秒");
  dlg.Button1Click();
  EXPECT_EQ(v.timerMidi, 8);
  EXPECT_EQ(QHResolutionValue("3ﾐﾘ秒"), 8);
  EXPECT_EQ(QHResolutionText(16), "16ﾐﾘ秒");
}

TEST_F(Dialogs, SixtyFourthLaterReopensAsAuto) {
  TOkBottomDlg2 dlg;
  TEngineValues v;
  v.wrdDelay = -48;
  dlg.setSource(&v);
  dlg.FormShow();
  EXPECT_EQ(dlg.ComboBox2->currentText(), "4分音符早く");
  dlg.ComboBox2->setCurrentText("64分音符遅く");
  dlg.Button1Click();
  EXPECT_EQ(v.wrdDelay, 3);
  dlg.FormShow();
  EXPECT_EQ(dlg.ComboBox2->currentText(), "自動");
  v.wrdDelay = 7;  // not in the table
  dlg.FormShow();
  EXPECT_EQ(dlg.ComboBox2->currentText(), "自動");
}

TEST_F(Dialogs, OffsetAndPlayModeTables) {
  for (int32_t value : {-384, -192, -96, -48, -24, -12, -6, -3, 0, 6, 12, 24, 48, 96, 192, 384})
    EXPECT_EQ(QHOffsetValue(QHOffsetText(value)), value) << value;
  EXPECT_EQ(QHOffsetValue("早く"), 3);
  EXPECT_EQ(QHOffsetText(0), "JUST");
  for (int32_t value : {0, 1, 2, 3, 5, 8})
    EXPECT_EQ(QHPlayModeValue(QHPlayModeText(value)), value) << value;
  EXPECT_EQ(QHPlayModeText(4), "ﾉｰﾏﾙﾓｰﾄﾞ");
  EXPECT_EQ(QHPlayModeText(5), "SC_55Mapﾓｰﾄﾞ");

  TOkBottomDlg2 dlg;
  TEngineValues v;
  v.resetMode = 8;
  dlg.setSource(&v);
  dlg.FormShow();
  EXPECT_EQ(dlg.ComboBox1->currentText(), "SC_88Mapﾓｰﾄﾞ");
  dlg.ComboBox1->setCurrentText("GMﾘｾｯﾄ付加");
  dlg.Button1Click();
  EXPECT_EQ(v.resetMode, 3);
}

TEST_F(Dialogs, XyModeCannotBeUncheckedAndSetsBitZero) {
  TOkBottomDlg2 dlg;
  TEngineValues v;
  v.optionWord = 0x6;
  dlg.setSource(&v);
  dlg.FormShow();
  dlg.Button1Click();
  EXPECT_EQ(v.optionWord, 0x6);
  dlg.RadioButton1->click();
  EXPECT_TRUE(dlg.RadioButton1->isChecked());
  dlg.RadioButton1->click();
  EXPECT_TRUE(dlg.RadioButton1->isChecked());
  dlg.FormShow();  // showing again keeps it
  EXPECT_TRUE(dlg.RadioButton1->isChecked());
  dlg.Button1Click();
  EXPECT_EQ(v.optionWord, 0x7);
}

TEST_F(Dialogs, FontGoesThroughTheFontDialog) {
  TOkBottomDlg2 dlg;
  TEngineValues v;
  v.wrdFont = QFont("IPAゴシック");
  v.wrdFont.setPointSize(20);
  dlg.setSource(&v);
  dlg.FormShow();
  EXPECT_EQ(dlg.FontDialog1.family(), "IPAゴシック");
  EXPECT_EQ(dlg.FontDialog1.pointSize(), 20);
  QFont chosen("IPA明朝");
  chosen.setPointSize(9);
  chosen.setBold(true);
  dlg.FontDialog1 = chosen;
  dlg.Button1Click();
  EXPECT_EQ(v.wrdFont.family(), "IPA明朝");
  EXPECT_EQ(v.wrdFont.pointSize(), 9);
  EXPECT_TRUE(v.wrdFont.bold());
}

}  // namespace
