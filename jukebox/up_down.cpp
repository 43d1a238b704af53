#include "jukebox/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

TUpDown::TUpDown(int minimum, int maximum, QWidget* parent)
    : QWidget(parent), minimum_(minimum), maximum_(maximum), position_(minimum),
      up_(new QToolButton(this)), down_(new QToolButton(this)) {
  for (auto [button, arrow, delta] : {std::tuple{up_, Qt::UpArrow, +1}, std::tuple{down_, Qt::DownArrow, -1}}) {
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QToolButton::clicked, this, [this, d = delta] { step(d); });
  }
}

void TUpDown::associate(QLineEdit* edit) {
  edit_ = edit;
  edit_->installEventFilter(this);
  edit_->setText(QString::number(position_));
}

void TUpDown::setPosition(int position) {
  position_ = std::clamp(position, minimum_, maximum_);
  if (edit_) edit_->setText(QString::number(position_));
}

void TUpDown::step(int delta) {
  const int next = std::clamp(position_ + delta, minimum_, maximum_);
  if (next == position_) return;
  if (allow_ && !allow_()) return;
  setPosition(next);
  emit changed(position_);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      step(key == Qt::Key_Up ? +1 : -1);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent*) {
  const int half = height() / 2;
  up_->setGeometry(0, 0, width(), half);
  down_->setGeometry(0, half, width(), height() - half);
}
