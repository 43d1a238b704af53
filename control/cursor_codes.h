// The label's appearance values in the original toolkit's terms: cursor
// codes, OLE colours (0x00BBGGRR, or 0x800000nn for a system colour) and
// captions where "&" marks the accelerator.
#pragma once

#include <QColor>
#include <QCursor>
#include <QPalette>
#include <QString>

inline constexpr short kCursorDefault = 0;
inline constexpr short kCursorDrag = -12;
inline constexpr int kOleButtonFace = static_cast<int>(0x8000000F);

// The Qt cursor nearest to a cursor code (unknown codes: the arrow).
Qt::CursorShape QMCursorShape(short code);

// An OLE colour as a Qt colour; system colours are taken from palette.
QColor QMOleColor(int oleColour, const QPalette& palette);

// The label text of a caption: with showAccelChar, "&x" underlines x and
// "&&" shows one "&"; without, the caption as it is. Rich text either way,
// so that no character is taken for markup.
QString QMDisplayCaption(const QString& caption, bool showAccelChar);
