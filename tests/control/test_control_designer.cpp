// The Designer plugin as Qt Designer loads it: by file, then through its
// interface, making a working control with an icon for the widget box.
#include <gtest/gtest.h>

#include <QDomDocument>
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include "QMIDICTLXControl.h"

TEST(ControlDesignerPlugin, LoadsAndMakesTheControl) {
  QPluginLoader loader(QStringLiteral(QMIDICTLX_DESIGNER_PLUGIN));
  ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
  auto* plugin = qobject_cast<QDesignerCustomWidgetInterface*>(loader.instance());
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->name(), QStringLiteral("TQMIDICTLX"));
  EXPECT_EQ(plugin->includeFile(), QStringLiteral("QMIDICTLXControl.h"));
  EXPECT_FALSE(plugin->icon().isNull());
  EXPECT_FALSE(plugin->isContainer());
  QDomDocument dom;
  ASSERT_TRUE(dom.setContent(plugin->domXml()));
  EXPECT_EQ(dom.documentElement().firstChildElement(QStringLiteral("widget")).attribute(QStringLiteral("class")),
            QStringLiteral("TQMIDICTLX"));
  QWidget parent;
  QWidget* made = plugin->createWidget(&parent);
  ASSERT_NE(qobject_cast<TQMIDICTLX*>(made), nullptr);
  EXPECT_EQ(made->property("SCOREWIDTH").toInt(), 400);  // no engine here: the fallback
}
