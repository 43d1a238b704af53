#include "qmidictlx_designer.h"

#include <QIcon>

#include "QMIDICTLXControl.h"

TQMIDICTLXDesignerPlugin::TQMIDICTLXDesignerPlugin(QObject* parent) : QObject(parent) {}

QString TQMIDICTLXDesignerPlugin::name() const { return QStringLiteral("TQMIDICTLX"); }
QString TQMIDICTLXDesignerPlugin::group() const { return QStringLiteral("QMIDI"); }
QString TQMIDICTLXDesignerPlugin::toolTip() const { return QStringLiteral("QMIDI engine control"); }
QString TQMIDICTLXDesignerPlugin::whatsThis() const {
  return QStringLiteral("A label that drives the QMIDI engine over the session bus: songs, play, status.");
}
QString TQMIDICTLXDesignerPlugin::includeFile() const { return QStringLiteral("QMIDICTLXControl.h"); }
QIcon TQMIDICTLXDesignerPlugin::icon() const { return QIcon(QStringLiteral(":/qmidictlx/icon.svg")); }
bool TQMIDICTLXDesignerPlugin::isContainer() const { return false; }
QWidget* TQMIDICTLXDesignerPlugin::createWidget(QWidget* parent) { return new TQMIDICTLX(parent); }

QString TQMIDICTLXDesignerPlugin::domXml() const {
  return QStringLiteral(
      "<ui language=\"c++\">\n"
      " <widget class=\"TQMIDICTLX\" name=\"QMIDICTLX1\">\n"
      "  <property name=\"geometry\"><rect><x>0</x><y>0</y><width>36</width><height>20</height></rect></property>\n"
      " </widget>\n"
      "</ui>\n");
}
