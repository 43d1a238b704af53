// Puts TQMIDICTLX into Qt Designer's widget box, so that a form can hold
// the control like any label.
#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetInterface>

class TQMIDICTLXDesignerPlugin final : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  explicit TQMIDICTLXDesignerPlugin(QObject* parent = nullptr);

  QString name() const override;
  QString group() const override;
  QString toolTip() const override;
  QString whatsThis() const override;
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override;
  QWidget* createWidget(QWidget* parent) override;
  QString domXml() const override;
};
