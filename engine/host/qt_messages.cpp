#include "engine/host/qt_messages.h"

#include <cstring>

#include "support/trace.h"

namespace {

QtMessageHandler g_previous = nullptr;

void Handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg && QHIsPlatformMessage(context.category, text)) {
    std::string line = "Qt ";
    line += context.category ? context.category : "default";
    line += ": ";
    line += text.toStdString();
    QGTrText(line);
    return;
  }
  if (g_previous) g_previous(type, context, text);
}

}  // namespace

bool QHIsPlatformMessage(const char* category, const QString& text) {
  if (category && std::strncmp(category, "qt.qpa", 6) == 0) return true;
  // QPlatformWindow's defaults for what a plugin lacks ("raise()", "lower()",
  // "setting window opacity", ...) carry no category; nor does the note that
  // a session without XDG_RUNTIME_DIR (a container, a plain shell) uses a
  // folder under /tmp, which changes nothing for the engine.
  return text.startsWith(QLatin1String("This plugin does not support")) ||
         text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

void QHInstallQtMessageHandler() { g_previous = qInstallMessageHandler(&Handler); }
