#include "jukebox/status_display.h"

#include <QLabel>
#include <QProgressBar>

#include "jukebox/status_text.h"

TStatusDisplay::TStatusDisplay(const TStatusValues& status, Labels labels, QObject* parent)
    : QObject(parent), status_(status), labels_(labels) {
  timer_.setInterval(kPeriodMs);
  connect(&timer_, &QTimer::timeout, this, &TStatusDisplay::refresh);
}

void TStatusDisplay::start() {
  running_ = true;
  follow();
}

void TStatusDisplay::end() {
  running_ = false;
  follow();
}

void TStatusDisplay::suspend() {
  suspended_ = true;
  follow();
}

void TStatusDisplay::resume() {
  suspended_ = false;
  follow();
}

void TStatusDisplay::follow() {
  if (running_ && !suspended_)
    timer_.start();
  else
    timer_.stop();
}

void TStatusDisplay::refresh() {
  const int* v = status_.values;
  const TElapsedTexts elapsed = ElapsedTexts(v[0]);
  // QLabel repaints only when its text changes.
  labels_.timeMinutes->setText(elapsed.minutes);
  labels_.timeSeconds->setText(elapsed.seconds);
  labels_.timeMillis->setText(elapsed.millis);
  labels_.current->setText(BarPositionText(v[1]));
  if (!status_.firstPending) {
    const int level = LevelBarPosition(v[3], status_.levelScaled, volume_ ? volume_() : 100);
    if (level >= 0 && level <= labels_.level->maximum()) labels_.level->setValue(level);
  }
  if (IsShownTempo(v[2])) labels_.tempo->setText(QString::number(v[2]));
}
