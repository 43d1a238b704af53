#include "control/cursor_codes.h"

Qt::CursorShape QMCursorShape(short code) {
  switch (code) {
    case 0: return Qt::ArrowCursor;          // default
    case -1: return Qt::BlankCursor;         // none
    case -2: return Qt::ArrowCursor;         // arrow
    case -3: return Qt::CrossCursor;
    case -4: return Qt::IBeamCursor;
    case -6: return Qt::SizeBDiagCursor;     // size NE-SW
    case -7: return Qt::SizeVerCursor;       // size N-S
    case -8: return Qt::SizeFDiagCursor;     // size NW-SE
    case -9: return Qt::SizeHorCursor;       // size W-E
    case -10: return Qt::UpArrowCursor;
    case -11: return Qt::WaitCursor;         // hourglass
    case -12: return Qt::DragMoveCursor;     // drag
    case -13: return Qt::ForbiddenCursor;    // no drop
    case -14: return Qt::SplitHCursor;
    case -15: return Qt::SplitVCursor;
    case -16: return Qt::DragCopyCursor;     // multi drag
    case -17: return Qt::WaitCursor;         // SQL wait
    case -18: return Qt::ForbiddenCursor;    // no
    case -19: return Qt::BusyCursor;         // application starting
    case -20: return Qt::WhatsThisCursor;    // help
    case -21: return Qt::PointingHandCursor;
    case -22: return Qt::SizeAllCursor;
    default: return Qt::ArrowCursor;
  }
}

QColor QMOleColor(int oleColour, const QPalette& palette) {
  const uint32_t v = static_cast<uint32_t>(oleColour);
  if ((v & 0xFF000000u) == 0x80000000u) {
    switch (v & 0xFF) {
      case 5: return palette.color(QPalette::Base);              // window
      case 8: return palette.color(QPalette::Text);              // window text
      case 13: return palette.color(QPalette::Highlight);
      case 14: return palette.color(QPalette::HighlightedText);
      case 18: return palette.color(QPalette::ButtonText);
      case 24: return palette.color(QPalette::ToolTipBase);
      default: return palette.color(QPalette::Button);           // button face and the rest
    }
  }
  return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

QString QMDisplayCaption(const QString& caption, bool showAccelChar) {
  QString out;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    const QChar c = caption[i];
    if (showAccelChar && c == QLatin1Char('&') && i + 1 < caption.size()) {
      const QChar next = caption[++i];
      if (next == QLatin1Char('&')) {
        out += QStringLiteral("&amp;");
      } else {
        out += QStringLiteral("<u>") + QString(next).toHtmlEscaped() + QStringLiteral("</u>");
      }
      continue;
    }
    out += QString(c).toHtmlEscaped();
  }
  return out;
}
