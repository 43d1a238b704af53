#include "engine/host/option_dialogs.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGuiApplication>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include <string>

#include "platform/midi_out.h"
#include "support/guard.h"
#include "support/result_code.h"

namespace {

struct TextValue {
  const char16_t* text;
  int32_t value;
};

constexpr TextValue kPlayModes[] = {
    {u"ﾉｰﾏﾙﾓｰﾄﾞ", 0},    {u"同時発音数16制限", 1}, {u"音源ﾘｾｯﾄ付加", 2},
    {u"GMﾘｾｯﾄ付加", 3}, {u"SC_55Mapﾓｰﾄﾞ", 5},    {u"SC_88Mapﾓｰﾄﾞ", 8},
};
constexpr TextValue kResolutions[] = {
    {u"1ﾐﾘ秒", 1}, {u"2ﾐﾘ秒", 2}, {u"4ﾐﾘ秒", 4}, {u"8ﾐﾘ秒", 8}, {u"16ﾐﾘ秒", 16},
};
constexpr TextValue kOffsets[] = {
    {u"自動", 3},          {u"2小節早く", -384},    {u"1小節早く", -192},    {u"2分音符早く", -96},
    {u"4分音符早く", -48}, {u"8分音符早く", -24},   {u"16分音符早く", -12},  {u"32分音符早く", -6},
    {u"64分音符早く", -3}, {u"JUST", 0},            {u"64分音符遅く", 3},    {u"32分音符遅く", 6},
    {u"16分音符遅く", 12}, {u"8分音符遅く", 24},    {u"4分音符遅く", 48},    {u"2分音符遅く", 96},
    {u"1小節遅く", 192},   {u"2小節遅く", 384},
};

template <size_t N>
QStringList Items(const TextValue (&table)[N]) {
  QStringList items;
  for (const TextValue& e : table) items << QString::fromUtf16(e.text);
  return items;
}

template <size_t N>
QString TextOf(const TextValue (&table)[N], int32_t value, const char16_t* fallback) {
  for (const TextValue& e : table)
    if (e.value == value) return QString::fromUtf16(e.text);
  return QString::fromUtf16(fallback);
}

template <size_t N>
int32_t ValueOf(const TextValue (&table)[N], const QString& text, int32_t fallback) {
  for (const TextValue& e : table)
    if (text == QString::fromUtf16(e.text)) return e.value;
  return fallback;
}

const QString kNone = QStringLiteral("なし");

void SetListText(QComboBox* box, const QString& text) {
  int i = box->findText(text, Qt::MatchExactly);
  if (i >= 0) box->setCurrentIndex(i);
}

}  // namespace

bool QHDialogsCanShow() {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
  const QString platform = QGuiApplication::platformName();
  return !platform.startsWith(QLatin1String("offscreen")) && !platform.startsWith(QLatin1String("minimal"));
}

QStringList QHPlayModeItems() { return Items(kPlayModes); }
QString QHPlayModeText(int32_t value) { return TextOf(kPlayModes, value, u"ﾉｰﾏﾙﾓｰﾄﾞ"); }
int32_t QHPlayModeValue(const QString& text) { return ValueOf(kPlayModes, text, 0); }
QStringList QHResolutionItems() { return Items(kResolutions); }
QString QHResolutionText(int32_t value) { return TextOf(kResolutions, value, u"8ﾐﾘ秒"); }
int32_t QHResolutionValue(const QString& text) { return ValueOf(kResolutions, text, 8); }
QStringList QHOffsetItems() { return Items(kOffsets); }
QString QHOffsetText(int32_t value) { return TextOf(kOffsets, value, u"自動"); }
int32_t QHOffsetValue(const QString& text) { return ValueOf(kOffsets, text, 3); }

// ---- Output ports ---------------------------------------------------------

TOKBottomDlg1::TOKBottomDlg1(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("MIDI出力ﾎﾟｰﾄの設定"));
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  setModal(true);
  QFont f(QStringLiteral("ＭＳ ゴシック"));
  f.setPixelSize(16);
  setFont(f);

  Label1 = new QLabel(QStringLiteral("ﾎﾟｰﾄＡ:"), this);
  Label2 = new QLabel(QStringLiteral("ﾎﾟｰﾄＢ:"), this);
  ComboBox1 = new QComboBox(this);
  ComboBox2 = new QComboBox(this);
  ComboBox3 = new QComboBox(this);
  ComboBox4 = new QComboBox(this);
  OKBtn = new QPushButton(QStringLiteral("OK"), this);
  CancelBtn = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  OKBtn->setDefault(true);
  lists_ = {ComboBox1, ComboBox2, ComboBox3, ComboBox4};

  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(Label2, 0, 1);
  grid->addWidget(ComboBox1, 1, 0);
  grid->addWidget(ComboBox2, 1, 1);
  grid->addWidget(ComboBox3, 2, 0);
  grid->addWidget(ComboBox4, 2, 1);
  grid->addWidget(OKBtn, 3, 0, Qt::AlignLeft);
  grid->addWidget(CancelBtn, 3, 1, Qt::AlignRight);
  resize(493, 119);

  for (int i = 0; i < 4; ++i)
    connect(lists_[size_t(i)], &QComboBox::activated, this,
            [this, i](int position) { ComboBoxChange(i, position); });
  connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

bool TOKBottomDlg1::run(TEngineValues& values) {
  source_ = &values;
  bool ok = exec() == QDialog::Accepted;
  source_ = nullptr;
  return ok;
}

void TOKBottomDlg1::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

int32_t TOKBottomDlg1::positionValue(int list, int position) const {
  if (list < 0 || list > 3) return kMidiNoDevice;
  const auto& table = tables_[size_t(list)];
  if (position < 0 || size_t(position) >= table.size()) return kMidiNoDevice;
  return table[size_t(position)];
}

// Shows the list's current value: the last position holding it, or "なし"
// (and no device) when no position does.
void TOKBottomDlg1::showValue(int list) {
  QComboBox* box = lists_[size_t(list)];
  const auto& table = tables_[size_t(list)];
  int32_t& value = current_[size_t(list)];
  for (size_t p = table.size(); p-- > 0;) {
    if (table[p] == value) {
      box->setCurrentIndex(int(p));
      return;
    }
  }
  value = kMidiNoDevice;
  for (size_t p = table.size(); p-- > 0;) {
    if (table[p] == kMidiNoDevice) {
      box->setCurrentIndex(int(p));
      return;
    }
  }
}

void TOKBottomDlg1::FormShow() {
  QGuardVoid("TOkBottomDlg1.FormShow", [&] {
    // A caption left from a showing without devices goes back.
    setWindowTitle(QStringLiteral("MIDI出力ﾎﾟｰﾄの設定"));
    for (int i = 0; i < 4; ++i) {
      lists_[size_t(i)]->clear();
      tables_[size_t(i)].clear();
    }
    if (source_) current_ = source_->devices;

    MidiOutSystem& system = QDMidiSystem();
    int n = system.deviceCount();
    // The mapper (the soft synth) is a device too, though not counted.
    std::string mapper = system.productName(kMidiMapper);
    if (n <= 0 && mapper.empty()) {
      setWindowTitle(QStringLiteral("No Midi OutPut device"));
      QGSetErrorCode(8099);
      return;
    }
    // The entries every list shows; the last position is kept for "なし".
    std::vector<std::pair<QString, int32_t>> entries;
    if (!mapper.empty()) entries.emplace_back(QString::fromStdString(mapper), kMidiMapper);
    for (int id = 0; id < n && entries.size() < size_t(kMaxEntries - 1); ++id) {
      std::string name = system.productName(id);
      if (!name.empty()) entries.emplace_back(QString::fromStdString(name), id);
    }
    entries.emplace_back(kNone, kMidiNoDevice);
    for (int i = 0; i < 4; ++i) {
      for (const auto& [name, value] : entries) {
        lists_[size_t(i)]->addItem(name);
        tables_[size_t(i)].push_back(value);
      }
      showValue(i);
    }
  });
}

void TOKBottomDlg1::ComboBoxChange(int list, int position) {
  static const char* const kNames[4] = {
      "TOkBottomDlg1.ComboBox1Change", "TOkBottomDlg1.ComboBox2Change",
      "TOkBottomDlg1.ComboBox3Change", "TOkBottomDlg1.ComboBox4Change"};
  if (list < 0 || list > 3) return;
  QGuardVoid(kNames[list], [&] {
    if (position < 0 || size_t(position) >= tables_[size_t(list)].size()) return;
    int32_t v = tables_[size_t(list)][size_t(position)];
    bool used = false;
    for (int other = 0; other < 4; ++other)
      if (other != list && current_[size_t(other)] == v) used = true;
    if (!used || v == kMidiNoDevice) current_[size_t(list)] = v;
    showValue(list);
  });
}

void TOKBottomDlg1::OKBtnClick() {
  QGuardVoid("TOkBottomDlg1.OkBtnClick", [&] {
    if (source_) source_->devices = current_;
    accept();
  });
}

// ---- Play options ---------------------------------------------------------

TOkBottomDlg2::TOkBottomDlg2(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("演奏ｵﾌﾟｼｮﾝ設定ﾀﾞｲｱﾛｸﾞ"));
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  setModal(true);

  Label1 = new QLabel(QStringLiteral("演奏ﾓｰﾄﾞ"), this);
  Label2 = new QLabel(QStringLiteral("WRD表示ｵﾌｾｯﾄ"), this);
  Label3 = new QLabel(QStringLiteral("分解能"), this);
  ComboBox1 = new QComboBox(this);
  ComboBox2 = new QComboBox(this);
  ComboBox3 = new QComboBox(this);
  ComboBox1->addItems(QHPlayModeItems());
  ComboBox2->addItems(QHOffsetItems());
  ComboBox3->addItems(QHResolutionItems());
  SetListText(ComboBox1, QStringLiteral("ﾉｰﾏﾙﾓｰﾄﾞ"));
  SetListText(ComboBox2, QStringLiteral("自動"));
  SetListText(ComboBox3, QStringLiteral("4ﾐﾘ秒"));
  Label1->setBuddy(ComboBox1);
  Label2->setBuddy(ComboBox2);
  Label3->setBuddy(ComboBox3);
  // The only radio button of the dialog: once checked, a click leaves it
  // checked (a lone auto-exclusive button would uncheck, an exclusive group
  // of one does not).
  RadioButton1 = new QRadioButton(QStringLiteral("XYmode"), this);
  auto* group = new QButtonGroup(this);
  group->setExclusive(true);
  group->addButton(RadioButton1);
  Button3 = new QPushButton(QStringLiteral("WRD文字ﾌｫﾝﾄ"), this);
  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button2 = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
  Button1->setDefault(true);

  auto* grid = new QGridLayout(this);
  grid->addWidget(Label1, 0, 0);
  grid->addWidget(ComboBox1, 1, 0);
  grid->addWidget(Label3, 0, 1);
  grid->addWidget(ComboBox3, 1, 1);
  grid->addWidget(Label2, 2, 0);
  grid->addWidget(ComboBox2, 3, 0);
  grid->addWidget(RadioButton1, 2, 1);
  grid->addWidget(Button3, 3, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button1);
  buttons->addStretch();
  buttons->addWidget(Button2);
  grid->addLayout(buttons, 4, 0, 1, 2);
  resize(394, 136);

  FontDialog1 = QHDefaultWrdFont();
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

bool TOkBottomDlg2::run(TEngineValues& values) {
  source_ = &values;
  bool ok = exec() == QDialog::Accepted;
  source_ = nullptr;
  return ok;
}

void TOkBottomDlg2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TOkBottomDlg2::FormShow() {
  QGuardVoid("TOkBottomDlg2.FormShow", [&] {
    if (!source_) return;
    SetListText(ComboBox3, QHResolutionText(source_->timerMidi));
    SetListText(ComboBox1, QHPlayModeText(source_->resetMode));
    SetListText(ComboBox2, QHOffsetText(source_->wrdDelay));
    FontDialog1 = source_->wrdFont;
  });
}

void TOkBottomDlg2::Button3Click() {
  QGuardVoid("TOkBottomDlg2.Button3Click", [&] {
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, FontDialog1, this);
    if (ok) FontDialog1 = chosen;
  });
}

void TOkBottomDlg2::Button1Click() {
  QGuardVoid("TOkBottomDlg2.Button1Click", [&] {
    if (source_) {
      source_->timerMidi = QHResolutionValue(ComboBox3->currentText());
      source_->resetMode = QHPlayModeValue(ComboBox1->currentText());
      source_->wrdDelay = QHOffsetValue(ComboBox2->currentText());
      source_->wrdFont.setFamily(FontDialog1.family());
      if (FontDialog1.pointSize() > 0) source_->wrdFont.setPointSize(FontDialog1.pointSize());
      else if (FontDialog1.pixelSize() > 0) source_->wrdFont.setPixelSize(FontDialog1.pixelSize());
      source_->wrdFont.setBold(FontDialog1.bold());
      source_->wrdFont.setItalic(FontDialog1.italic());
      source_->wrdFont.setUnderline(FontDialog1.underline());
      source_->wrdFont.setStrikeOut(FontDialog1.strikeOut());
      if (RadioButton1->isChecked()) source_->optionWord |= 1;
      else source_->optionWord &= ~int32_t(1);
    }
    accept();
  });
}
