// The per-program settings store: named string values under one key per
// program (organisation "QUOR", application = the program's file name up to
// its first "." in upper case), kept by QSettings in INI form in the user's
// configuration folder, for example ~/.config/QUOR/QMIDIEXE.conf. Every
// operation opens and closes the store itself, so a value written by one
// program is seen at once by the next read of another.
//
// The store also keeps the program's 256-entry logical palette for window
// drawing: the built-in default table, with the screen's reserved colours
// taken from the system palette on a palettised screen.
#pragma once

#include <QString>

#include <cstdint>

#include "engine/graphics/bitmap.h"

// At start-up: computes the key from programPath (QCoreApplication's file
// path when empty) and builds the palette. reservedColours is the screen's
// count of reserved colours (0 on a true-colour screen, which is every
// screen this system draws on); when it is 1 .. 256 the first and last
// reservedColours/2 entries come from systemPalette. Failures are logged as
// "QICreate ".
void QICreate(const QString& programPath = {}, int reservedColours = 0,
              const QGPalette* systemPalette = nullptr);

// The application name the store uses ("QMIDIEXE" for the engine).
QString QIProgramKey();

// The value, or "" when it is missing or cannot be read.
QString QIReadValue(const QString& name);
// Writes a string value (the store and its folder are created when missing).
void QIWriteValue(const QString& name, const QString& text);
// Removes a value when it exists.
void QIDeleteValue(const QString& name);
// Where the store lives (for people and diagnostics).
QString QIFilePath();

// Copies the 1024-byte palette table (red, green, blue, flags per entry) to
// destination and returns the palette handle (0 when no palette exists).
uintptr_t QIPaletteTable(uint8_t* destination);
// Puts back the table QICreate built and rebuilds the palette.
void QIResetPalette();
// Releases the palette (the handle becomes 0).
void QIFreePalette();
