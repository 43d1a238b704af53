#include "jukebox/about_box.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "jukebox/pictures.h"

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("バージョン情報"));
  setModal(true);
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(32, 32));
  auto* product = new QLabel(QStringLiteral("QUORMIDI"), this);
  product->setObjectName(QStringLiteral("ProductName"));
  auto* version = new QLabel(QStringLiteral("Version1.01"), this);
  version->setObjectName(QStringLiteral("Version"));
  auto* comment = new QLabel(QStringLiteral("ｸｵﾙMIDI自動演奏ﾂｰﾙ"), this);
  comment->setObjectName(QStringLiteral("Comments"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* grid = new QGridLayout(this);
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(product, 0, 1);
  grid->addWidget(version, 1, 1);
  grid->addWidget(comment, 2, 1);
  grid->addWidget(buttons, 3, 0, 1, 2, Qt::AlignHCenter);
  setFixedSize(sizeHint());
}
