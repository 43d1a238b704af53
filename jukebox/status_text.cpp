#include "jukebox/status_text.h"

namespace {

QString Digits(int value, int width) { return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0')); }

int Bounded(int part) { return part >= 2 && part <= 64 ? part : 4; }

}  // namespace

QString BarPositionText(int position) {
  return QStringLiteral("%1.%2.%3")
      .arg(position / 10000 + 1)
      .arg((position % 10000) / 1000)
      .arg(Digits(position % 1000, 3));
}

QString TotalTimeText(int milliseconds) {
  TElapsedTexts t = ElapsedTexts(milliseconds);
  return t.minutes + t.seconds + t.millis;
}

TElapsedTexts ElapsedTexts(int milliseconds) {
  const int ms = milliseconds < 0 ? 0 : milliseconds;
  return {QString::number(ms / 60000) + QLatin1Char(':'), Digits(ms / 1000 % 60, 2) + QLatin1Char('.'),
          Digits(ms % 1000, 3)};
}

TTimeSignature DecodeTimeSignature(int packed) {
  const int beats = packed / 1000;
  return {Bounded(beats), Bounded(packed - beats * 1000)};
}

QString TimeSignatureText(TTimeSignature signature) {
  return QStringLiteral("%1/%2").arg(signature.beats).arg(signature.beatUnit);
}

bool IsShownTempo(int tempo) { return tempo > 16 && tempo < 512; }

int LevelBarPosition(int value, bool scaled, int volume) {
  if (value < 0 || value > kLevelMaximum) return -1;
  return scaled ? value / 100 * volume : value;
}
