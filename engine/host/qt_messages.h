// Qt's own diagnostics in the engine: warnings of the platform layer (the
// qt.qpa.* categories, and the "This plugin does not support raise()"
// family a platform plugin writes without a category) go to the trace log
// instead of the user's terminal; everything else keeps Qt's handling.
#pragma once

#include <QString>
#include <QtGlobal>

// Installs the handler (call before the application object exists, so that
// the platform plugin's start is covered too).
void QHInstallQtMessageHandler();
// Whether a message belongs to the platform layer (and so to the trace log).
bool QHIsPlatformMessage(const char* category, const QString& text);
