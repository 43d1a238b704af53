// TForm1's widgets, menus and shortcuts.
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QTreeWidget>

#include "QMIDICTLXControl.h"
#include "jukebox/form1.h"
#include "jukebox/pictures.h"
#include "jukebox/status_text.h"
#include "jukebox/up_down.h"
#include "platform/freetype/font_names.h"

namespace {

constexpr int kClientWidth = 484;
constexpr int kClientHeight = 407;
constexpr int kListTop = 84;

QFont MainFont() {
  QFont font(QString::fromStdString(QRSubstituteFontFamily("ＭＳ ゴシック")));
  font.setPixelSize(16);
  return font;
}

template <class W>
W* Place(W* widget, const char* name, int x, int y, int w, int h) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

QLabel* AddLabel(QWidget* panel, const char* name, const QString& text, int x, int y, int w,
                 Qt::Alignment align = Qt::AlignLeft) {
  auto* label = Place(new QLabel(text, panel), name, x, y, w, 20);
  label->setAlignment(align | Qt::AlignVCenter);
  return label;
}

QLabel* AddSliderLabel(QWidget* panel, const char* name, const QString& text, int x) {
  auto* label = Place(new QLabel(text, panel), name, x, 26, 26, 14);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  QFont small = label->font();
  small.setPixelSize(10);
  label->setFont(small);
  return label;
}

}  // namespace

void TForm1::buildWidgets() {
  setFont(MainFont());
  setWindowIcon(ProgramIcon());
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel"));
  setCentralWidget(panel);
  panel->setMinimumSize(kClientWidth, kClientHeight);
  resize(kClientWidth, kClientHeight);

  const std::array<std::pair<const char*, TButtonPicture>, 7> buttons{{
      {"SB_FILEOPEN", TButtonPicture::Open}, {"SB_FILEPAUSE", TButtonPicture::Pause},
      {"SB_FILESTOP", TButtonPicture::Stop}, {"SB_FILESTART", TButtonPicture::Start},
      {"SB_FILEBACK", TButtonPicture::Back}, {"SB_FILENEXT", TButtonPicture::Next},
      {"SB_FILECLOSE", TButtonPicture::Close}}};
  for (size_t i = 0; i < buttons.size(); ++i) {
    auto* b = Place(new QToolButton(panel), buttons[i].first, 2 + 36 * int(i), 2, 36, 36);
    b->setIcon(ButtonIcon(buttons[i].second));
    b->setIconSize(QSize(28, 28));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    pictureButtons_[i] = b;
  }

  Edit1 = Place(new QLineEdit(QStringLiteral("0"), panel), "Edit1", 256, 2, 33, 24);
  Edit1->setReadOnly(true);
  UpDown1 = Place(new TUpDown(0, 255, panel), "UpDown1", 289, 2, 17, 24);
  UpDown1->associate(Edit1);
  CB_JIDOU = Place(new QCheckBox(panel), "CB_JIDOU", 310, 2, 17, 24);
  BT_SETAUTO = Place(new QPushButton(QStringLiteral("自動演奏"), panel), "BT_SETAUTO", 328, 2, 72, 24);
  CB_WRD = Place(new QCheckBox(panel), "CB_WRD", 404, 2, 17, 24);
  BT_SETWRD = Place(new QPushButton(QStringLiteral("WRD"), panel), "BT_SETWRD", 422, 2, 59, 24);
  // The sliders keep their row, each after a small label of its own.
  QLabel* volume = AddSliderLabel(panel, "LabelVolume", QStringLiteral("音量"), 256);
  QLabel* balance = AddSliderLabel(panel, "LabelBalance", QStringLiteral("左右"), 380);
  ScrollBar1 = Place(new QScrollBar(Qt::Horizontal, panel), "ScrollBar1", 282, 28, 96, 10);
  ScrollBar2 = Place(new QScrollBar(Qt::Horizontal, panel), "ScrollBar2", 406, 28, 74, 10);
  for (QScrollBar* bar : {ScrollBar1, ScrollBar2}) bar->setRange(0, 100);
  volume->setBuddy(ScrollBar1);
  balance->setBuddy(ScrollBar2);

  buildStatusLabels(panel);
  QMIDICTLX1 = Place(new TQMIDICTLX(panel), "QMIDICTLX1", 232, 44, 36, 20);

  ListBox1 = Place(new QTreeWidget(panel), "ListBox1", 0, kListTop, 481, 320);
  ListBox1->setColumnCount(3);
  ListBox1->setHeaderLabels({QStringLiteral("File"), QStringLiteral("WRD"), QStringLiteral("タイトル")});
  for (auto [column, width] : {std::pair{0, 144}, std::pair{1, 64}, std::pair{2, 640}})
    ListBox1->header()->resizeSection(column, width);
  ListBox1->header()->setSectionResizeMode(QHeaderView::Interactive);  // columns are dragged wider
  ListBox1->header()->setStretchLastSection(false);
  ListBox1->setRootIsDecorated(false);
  ListBox1->setUniformRowHeights(true);
  ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  ListBox1->viewport()->installEventFilter(this);
  panel->installEventFilter(this);
  addToolTips();
}

void TForm1::addToolTips() {
  const std::array<const char*, 7> buttonTips{"開く (F5) — Open a song", "一時停止 (F6) — Pause",
                                              "演奏停止 (F7) — Stop", "演奏開始 (F8) — Play",
                                              "前の曲 (F9) — Back", "次の曲 (F10) — Next", "終了 (F3) — Quit"};
  for (size_t i = 0; i < pictureButtons_.size(); ++i) pictureButtons_[i]->setToolTip(QString::fromUtf8(buttonTips[i]));
  const std::pair<QWidget*, const char*> tips[] = {
      {Edit1, "演奏リストの番号 — Play list number (0–255)"},
      {UpDown1, "演奏リストの切り替え — Another play list"},
      {CB_JIDOU, "自動演奏 — Play the list song after song"},
      {BT_SETAUTO, "演奏曲設定 — Edit the play list"},
      {CB_WRD, "WRD表示 — Show the songs' WRD screens"},
      {BT_SETWRD, "演奏ｵﾌﾟｼｮﾝ — Play options"},
      {ScrollBar1, "音量 — Volume"},
      {ScrollBar2, "左右のバランス — Balance"}};
  for (const auto& [widget, tip] : tips) {
    widget->setToolTip(QString::fromUtf8(tip));
    widget->setAccessibleName(QString::fromUtf8(tip));
  }
}

void TForm1::restoreColumns() {
  const QStringList widths = settings_.read(QStringLiteral("ListColumns")).split(QLatin1Char(','));
  for (int column = 0; column < widths.size() && column < ListBox1->columnCount(); ++column)
    if (const int width = widths[column].toInt(); width > 8) ListBox1->header()->resizeSection(column, width);
}

void TForm1::saveColumns() {
  QStringList widths;
  for (int column = 0; column < ListBox1->columnCount(); ++column)
    widths << QString::number(ListBox1->header()->sectionSize(column));
  settings_.write(QStringLiteral("ListColumns"), widths.join(QLatin1Char(',')));
}

void TForm1::buildStatusLabels(QWidget* panel) {
  AddLabel(panel, "Label1", QStringLiteral("小節"), 2, 44, 34);
  LB_CURRENT = AddLabel(panel, "LB_CURRENT", QStringLiteral("1.0.000"), 36, 44, 90, Qt::AlignRight);
  AddLabel(panel, "Label3", QStringLiteral("/"), 128, 44, 10, Qt::AlignCenter);
  LB_TOTAL = AddLabel(panel, "LB_TOTAL", QStringLiteral("1.0.000"), 140, 44, 85);
  LB_TIMEC = AddLabel(panel, "LB_TIMEC", QStringLiteral("0:"), 272, 44, 34, Qt::AlignRight);
  LB_TIMEC2 = AddLabel(panel, "LB_TIMEC2", QStringLiteral("00."), 306, 44, 26);
  LB_TIMEC3 = AddLabel(panel, "LB_TIMEC3", QStringLiteral("000"), 332, 44, 26);
  AddLabel(panel, "Label5", QStringLiteral("/"), 360, 44, 10, Qt::AlignCenter);
  LB_TIME = AddLabel(panel, "LB_TIME", QStringLiteral("0:00.000"), 372, 44, 77);
  AddLabel(panel, "Label2", QStringLiteral("ﾃﾝﾎﾟ"), 2, 64, 34);
  LB_TEMPO = AddLabel(panel, "LB_TEMPO", QStringLiteral("120"), 40, 64, 40, Qt::AlignRight);
  LB_HYOSI = AddLabel(panel, "LB_HYOSI", QStringLiteral("4/4"), 120, 64, 52, Qt::AlignRight);
  AddLabel(panel, "Label7", QStringLiteral("拍子"), 176, 64, 32);
  Gauge1 = Place(new QProgressBar(panel), "Gauge1", 216, 64, 257, 16);
  Gauge1->setTextVisible(false);
  Gauge1->setValue(0);
}

QAction* TForm1::addCommand(QMenu* menu, const char* name, const QString& text, const QKeySequence& key,
                            std::function<void()> handler) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QString::fromLatin1(name));
  if (!key.isEmpty()) action->setShortcut(key);
  connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
  return action;
}

std::function<void()> TForm1::fileCommand(void (TJukeboxCommands::*entry)()) {
  return [this, entry] { (commands_.get()->*entry)(); };
}

void TForm1::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
  addCommand(file, "MN_FILEOPEN", QStringLiteral("開く(&Open)"), Qt::Key_F5, [this] { MN_FILEOPENClick(); });
  QMenu* reopen = file->addMenu(QStringLiteral("開き直す(&ReOpen)"));
  reopen->menuAction()->setObjectName(QStringLiteral("MN_FILEREOPEN"));
  for (int n = 0; n < 8; ++n) {
    const QByteArray name = "MN_FILEReOPEN" + QByteArray::number(n);
    reopenItems_[size_t(n)] = addCommand(reopen, name.constData(), QStringLiteral("(&%1)").arg(n), {},
                                         [this, n] { commands_->reopen(n); });
    reopenItems_[size_t(n)]->setVisible(false);
  }
  addCommand(file, "MN_FILEIMPORT", QStringLiteral("ﾌﾟﾚｲﾘｽﾄの読み込み(&I)..."), {}, [this] { MN_FILEIMPORTClick(); });
  addCommand(file, "MN_FILEEXPORT", QStringLiteral("ﾌﾟﾚｲﾘｽﾄの書き出し(&X)..."), {}, [this] { MN_FILEEXPORTClick(); });
  file->addSeparator();
  addCommand(file, "MN_FILECOPY", QStringLiteral("ﾌｧｲﾙの複写(&Copy)"), Qt::CTRL | Qt::Key_C, fileCommand(&TJukeboxCommands::copyFile));
  addCommand(file, "MN_FILEMOVE", QStringLiteral("ﾌｧｲﾙの移動(&Move)"), Qt::CTRL | Qt::Key_M, fileCommand(&TJukeboxCommands::moveFile));
  addCommand(file, "MN_FILEDELETE", QStringLiteral("ﾌｧｲﾙの削除(&Delete)"), Qt::CTRL | Qt::Key_D, fileCommand(&TJukeboxCommands::deleteFile));
  file->addSeparator();
  addCommand(file, "MN_FILEPAUSE", QStringLiteral("一時停止(P&ause)"), Qt::Key_F6, [this] { MN_FILEPAUSEClick(); });
  addCommand(file, "MN_FILESTOP", QStringLiteral("演奏停止(Sto&p)"), Qt::Key_F7, [this] { MN_FILESTOPClick(); });
  addCommand(file, "MN_FILESTART", QStringLiteral("演奏開始(&Start)"), Qt::Key_F8, [this] { MN_FILESTARTClick(); });
  addCommand(file, "MN_FILEBACK", QStringLiteral("前の曲(&Back)"), Qt::Key_F9, [this] { MN_FILEBACKClick(); });
  addCommand(file, "MN_FILENEXT", QStringLiteral("次の曲(&Next)"), Qt::Key_F10, [this] { MN_FILENEXTClick(); });
  file->addSeparator();
  addCommand(file, "MN_FILEKENSAKU", QStringLiteral("演奏曲の検索(Searc&h)"), Qt::Key_F4, fileCommand(&TJukeboxCommands::search));
  addCommand(file, "MN_FILEREKENSAKU", QStringLiteral("次を検索(&ReSearch)"), Qt::CTRL | Qt::Key_N, fileCommand(&TJukeboxCommands::searchNext));
  addCommand(file, "MN_FILESORTNAME", QStringLiteral("ﾌｧｲﾙ名でｿｰﾄ(S&ort)"), Qt::CTRL | Qt::Key_S, fileCommand(&TJukeboxCommands::sortByFileName));
  addCommand(file, "MN_FILESORTTITLE", QStringLiteral("ﾀｲﾄﾙでｿｰﾄ(Sor&t)"), Qt::CTRL | Qt::Key_T, fileCommand(&TJukeboxCommands::sortByTitle));
  file->addSeparator();
  addCommand(file, "MN_FILECLOSE", QStringLiteral("終了(&End)"), Qt::Key_F3, [this] { close(); });

  QMenu* setup = menuBar()->addMenu(QStringLiteral("設定(&S)"));
  addCommand(setup, "MN_SETAUTO", QStringLiteral("演奏曲設定(&S)"), {}, fileCommand(&TJukeboxCommands::showListEditor));
  randomItem_ = addCommand(setup, "MN_SETRANDOM", QStringLiteral("ランダム演奏(&R)"), {}, [this] {
    switchRandom(randomItem_->isChecked());
  });
  randomItem_->setCheckable(true);
  addCommand(setup, "MN_SETOPTION", QStringLiteral("演奏ｵﾌﾟｼｮﾝ(&W)"), {}, [this] { QMIDICTLX1->OPTIONSET(); });
  addCommand(setup, "MN_SETDEVICE", QStringLiteral("Midi出力ﾎﾟｰﾄ(&A)"), {}, [this] { MN_SETDEVICEClick(); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
  addCommand(help, "MN_VERSION", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&V)"), {}, [this] { MN_VERSIONClick(); });
  addCommand(help, "MN_HELP", QStringLiteral("ﾍﾙﾌﾟ表示(&H)"), Qt::Key_F1, [this] { MN_HELPClick(); });
}

void TForm1::connectWidgets() {
  const std::array<const char*, 7> menuOf{"MN_FILEOPEN", "MN_FILEPAUSE", "MN_FILESTOP", "MN_FILESTART",
                                          "MN_FILEBACK", "MN_FILENEXT", "MN_FILECLOSE"};
  for (size_t i = 0; i < menuOf.size(); ++i) {
    QAction* action = findChild<QAction*>(QString::fromLatin1(menuOf[i]));
    connect(pictureButtons_[i], &QToolButton::clicked, action, &QAction::trigger);
  }
  connect(BT_SETAUTO, &QPushButton::clicked, this, [this] { commands_->showListEditor(); });
  connect(BT_SETWRD, &QPushButton::clicked, this, [this] { QMIDICTLX1->OPTIONSET(); });
  connect(CB_JIDOU, &QCheckBox::toggled, this, [this] { CB_JIDOUClick(); });
  connect(CB_WRD, &QCheckBox::toggled, this, [this] { CB_WRDClick(); });
  connect(ScrollBar1, &QScrollBar::valueChanged, QMIDICTLX1, &TQMIDICTLX::setDEVVOLUME);
  connect(ScrollBar2, &QScrollBar::valueChanged, QMIDICTLX1, &TQMIDICTLX::setDEVBALANCE);
  connect(QMIDICTLX1, &TQMIDICTLX::OnStatus, this, &TForm1::QMIDICTLX1Status);
  UpDown1->setAllowChange([this] { return UpDown1Changing(); });
  connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
  libraryDebounce_.setSingleShot(true);
  libraryDebounce_.setInterval(kLibraryDebounceMs);
  connect(&libraryDebounce_, &QTimer::timeout, this, [this] { OnUserPar3(); });
}
