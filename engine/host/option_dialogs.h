// The two modal dialogs of the engine: TOKBottomDlg1 chooses the MIDI output
// devices of ports A and B, TOkBottomDlg2 the play mode, timer resolution,
// WRD display offset, WRD font and XY mode. Each reads the values it shows
// from a TEngineValues record when it is shown and writes them back on OK;
// Cancel changes nothing. The main window copies the record to the player.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

#include "engine/host/engine_values.h"

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QShowEvent;

// Item texts and values of the play-option lists. Text to value compares
// exactly; a text that matches none gives 0 (play mode), 8 (resolution) or
// 3 (offset). Value to text gives the first item of that value, and
// "ﾉｰﾏﾙﾓｰﾄﾞ", "8ﾐﾘ秒" or "自動" for any other value.
QStringList QHPlayModeItems();
QString QHPlayModeText(int32_t value);
int32_t QHPlayModeValue(const QString& text);
QStringList QHResolutionItems();
QString QHResolutionText(int32_t value);
int32_t QHResolutionValue(const QString& text);
QStringList QHOffsetItems();
QString QHOffsetText(int32_t value);
int32_t QHOffsetValue(const QString& text);

// Whether the engine's dialogs can be shown where a user sees them: false
// on Qt's offscreen and minimal platforms (and without a GUI application).
bool QHDialogsCanShow();

// Device values: 0 .. n-1, kMidiMapper (-1), kMidiNoDevice (256, "なし").
class TOKBottomDlg1 : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxEntries = 256;  // list positions per list

  explicit TOKBottomDlg1(QWidget* parent = nullptr);

  // Shows the dialog modally for values; true when OK stored the choice.
  bool run(TEngineValues& values);
  // The record read on show and written on OK (not owned; may be null).
  void setSource(TEngineValues* values) { source_ = values; }

  // The dialog's steps, for the main window and tests.
  void FormShow();
  void ComboBoxChange(int list, int position);  // list 0 .. 3 = ComboBox1 .. ComboBox4
  void OKBtnClick();

  QComboBox* list(int index) const { return lists_[size_t(index)]; }
  int32_t currentValue(int index) const { return current_[size_t(index)]; }
  // The device value shown at a list position (kMidiNoDevice when out of range).
  int32_t positionValue(int list, int position) const;

  QLabel* Label1;
  QLabel* Label2;
  QComboBox* ComboBox1;
  QComboBox* ComboBox2;
  QComboBox* ComboBox3;
  QComboBox* ComboBox4;
  QPushButton* OKBtn;
  QPushButton* CancelBtn;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void showValue(int list);

  TEngineValues* source_ = nullptr;
  std::array<QComboBox*, 4> lists_{};
  std::array<int32_t, 4> current_{kMidiMapper, kMidiMapper, kMidiMapper, kMidiMapper};
  std::array<std::vector<int32_t>, 4> tables_;  // list position -> device value
};

class TOkBottomDlg2 : public QDialog {
  Q_OBJECT

 public:
  explicit TOkBottomDlg2(QWidget* parent = nullptr);

  bool run(TEngineValues& values);
  void setSource(TEngineValues* values) { source_ = values; }

  void FormShow();
  void Button3Click();  // the font dialog
  void Button1Click();  // OK

  // The font the font dialog starts from and returns.
  QFont FontDialog1;

  QLabel* Label1;  // "演奏ﾓｰﾄﾞ"
  QLabel* Label2;  // "WRD表示ｵﾌｾｯﾄ"
  QLabel* Label3;  // "分解能"
  QComboBox* ComboBox1;  // play mode
  QComboBox* ComboBox2;  // WRD display offset
  QComboBox* ComboBox3;  // resolution
  QRadioButton* RadioButton1;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TEngineValues* source_ = nullptr;
};
