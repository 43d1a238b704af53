#include "engine/host/engine_values.h"

#include "engine/host/settings_store.h"
#include "support/guard.h"

namespace {

const char* const kMidiIdKeys[4] = {"MidiId1", "MidiId2", "MidiId3", "MidiId4"};

// "Bold" is written only for a font that is bold and nothing else.
bool ExactlyBold(const QFont& f) {
  return f.bold() && !f.italic() && !f.underline() && !f.strikeOut();
}

// Point size of a font that may have been given in pixels (at 96 dots per inch).
int PointSize(const QFont& f) {
  if (f.pointSize() > 0) return f.pointSize();
  if (f.pixelSize() > 0) return (f.pixelSize() * 72 + 48) / 96;
  return QHDefaultWrdFont().pointSize();
}

}  // namespace

QFont QHDefaultWrdFont() {
  QFont f(QStringLiteral("ＭＳ 明朝"));
  f.setPointSize(11);
  f.setBold(false);
  return f;
}

int32_t QHReadInteger(const QString& text, int32_t fallback) {
  bool ok = false;
  int32_t v = text.trimmed().toInt(&ok, 10);
  return ok ? v : fallback;
}

void QHWriteHandle(qint64 windowId) {
  QIWriteValue(QStringLiteral("Handle"), QString::number(windowId));
}

void QHReadFontSettings(TEngineValues& values) {
  QGuardVoid("TForm1.FormCreate", [&] {
    QString name = QIReadValue(QStringLiteral("FontName"));
    if (!name.isEmpty()) values.wrdFont.setFamily(name);
    // A size of 0 or below would make no usable font: keep the current one.
    int32_t size = QHReadInteger(QIReadValue(QStringLiteral("FontSize")), 0);
    if (size > 0) values.wrdFont.setPointSize(size);
    if (QIReadValue(QStringLiteral("FontStyle")) == QLatin1String("Bold")) {
      values.wrdFont.setBold(true);
      values.wrdFont.setItalic(false);
      values.wrdFont.setUnderline(false);
      values.wrdFont.setStrikeOut(false);
    }
    values.wrdVisible = QIReadValue(QStringLiteral("WRDChecked")) != QLatin1String("FALSE");
  });
}

void QHReadPlaySettings(TEngineValues& values) {
  QGuardVoid("TForm1.FormCreate", [&] {
    for (int i = 0; i < 4; ++i)
      values.devices[size_t(i)] =
          QHReadInteger(QIReadValue(QLatin1String(kMidiIdKeys[i])), 0) - 1;
    values.timerMidi = QHReadInteger(QIReadValue(QStringLiteral("swBunkainou")), 8);
    values.resetMode = QHReadInteger(QIReadValue(QStringLiteral("swHatuon")), 0);
    values.wrdDelay = QHReadInteger(QIReadValue(QStringLiteral("swWRDDely")), 3);
  });
}

void QHReadEngineSettings(TEngineValues& values) {
  QHReadFontSettings(values);
  QHReadPlaySettings(values);
}

void QHWriteEngineSettings(const TEngineValues& values, bool commandLineMode) {
  QGuardVoid("TForm1.FormDestroy", [&] {
    QIWriteValue(QStringLiteral("FontName"), values.wrdFont.family());
    QIWriteValue(QStringLiteral("FontSize"), QString::number(PointSize(values.wrdFont)));
    for (int i = 0; i < 4; ++i)
      QIWriteValue(QLatin1String(kMidiIdKeys[i]),
                   QString::number(int64_t(values.devices[size_t(i)]) + 1));
    QIWriteValue(QStringLiteral("FontStyle"),
                 ExactlyBold(values.wrdFont) ? QStringLiteral("Bold") : QStringLiteral("NotBold"));
    if (!commandLineMode) {
      QIWriteValue(QStringLiteral("WRDChecked"),
                   values.wrdVisible ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
      QIWriteValue(QStringLiteral("swBunkainou"), QString::number(values.timerMidi));
      QIWriteValue(QStringLiteral("swHatuon"), QString::number(values.resetMode));
      QIWriteValue(QStringLiteral("swWRDDely"), QString::number(values.wrdDelay));
    }
  });
}
