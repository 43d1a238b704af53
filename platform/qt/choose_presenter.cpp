#include "platform/qt/choose_presenter.h"

#include <QApplication>
#include <QThread>

#include "platform/qt/qt_presenter.h"

ChosenPresenter QDMakeChosenPresenter(HeadlessOptions headless) {
  // What the application actually runs on decides (a -platform argument
  // overrides the environment that QDChoosePresenterKind reads before the
  // application starts).
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  bool window = app != nullptr && QThread::currentThread() == app->thread();
  if (window) {
    const QString platform = QGuiApplication::platformName();
    window = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal") &&
             platform != QLatin1String("minimalegl");
  }
  ChosenPresenter chosen;
  if (!window) {
    chosen.presenter = std::make_unique<HeadlessPresenter>(std::move(headless));
    return chosen;
  }
  auto qt = std::make_unique<QtPresenter>();
  chosen.window = [p = qt.get()] { return p->window(); };
  chosen.presenter = std::move(qt);
  return chosen;
}
