#include "jukebox/pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kSize = 32;
const QColor kInk(40, 60, 120);

QPolygonF Triangle(qreal left, qreal right, bool pointsRight) {
  const qreal tip = pointsRight ? right : left, base = pointsRight ? left : right;
  return QPolygonF({QPointF(base, 7), QPointF(tip, 16), QPointF(base, 25)});
}

void DrawOpen(QPainter& p) {
  p.setBrush(QColor(230, 190, 80));
  p.drawPolygon(QPolygonF({QPointF(3, 9), QPointF(12, 9), QPointF(14, 12), QPointF(28, 12), QPointF(28, 26), QPointF(3, 26)}));
}

void DrawClose(QPainter& p) {
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(7, 8, 18, 18), 120 * 16, 300 * 16);
  p.drawLine(QPointF(16, 5), QPointF(16, 16));
}

void Draw(QPainter& p, TButtonPicture picture) {
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  switch (picture) {
    case TButtonPicture::Open: return DrawOpen(p);
    case TButtonPicture::Pause:
      p.drawRect(QRectF(9, 7, 5, 18));
      p.drawRect(QRectF(18, 7, 5, 18));
      return;
    case TButtonPicture::Stop: return p.drawRect(QRectF(8, 8, 16, 16));
    case TButtonPicture::Start: return p.drawPolygon(Triangle(9, 25, true));
    case TButtonPicture::Back:
      p.drawRect(QRectF(5, 7, 3, 18));
      p.drawPolygon(Triangle(8, 17, false));
      return p.drawPolygon(Triangle(17, 26, false));
    case TButtonPicture::Next:
      p.drawPolygon(Triangle(6, 15, true));
      p.drawPolygon(Triangle(15, 24, true));
      return p.drawRect(QRectF(24, 7, 3, 18));
    case TButtonPicture::Close: return DrawClose(p);
  }
}

const char* ThemeName(TButtonPicture picture) {
  switch (picture) {
    case TButtonPicture::Open: return "document-open";
    case TButtonPicture::Pause: return "media-playback-pause";
    case TButtonPicture::Stop: return "media-playback-stop";
    case TButtonPicture::Start: return "media-playback-start";
    case TButtonPicture::Back: return "media-skip-backward";
    case TButtonPicture::Next: return "media-skip-forward";
    case TButtonPicture::Close: return "application-exit";
  }
  return "";
}

}  // namespace

QIcon ButtonIcon(TButtonPicture picture) {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  Draw(p, picture);
  p.end();
  return QIcon::fromTheme(QString::fromLatin1(ThemeName(picture)), QIcon(pixmap));
}

QIcon ProgramIcon() {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 240, 200));
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setBrush(kInk);
  // Two beamed eighth notes.
  p.drawEllipse(QRectF(5, 20, 8, 6));
  p.drawEllipse(QRectF(18, 17, 8, 6));
  p.drawRect(QRectF(11, 7, 2, 16));
  p.drawRect(QRectF(24, 4, 2, 16));
  p.drawPolygon(QPolygonF({QPointF(11, 7), QPointF(26, 4), QPointF(26, 8), QPointF(11, 11)}));
  p.end();
  return QIcon(pixmap);
}
