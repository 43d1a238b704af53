// Picks the presenter for this session: the Qt window when a window system
// is there, the headless presenter when there is none or when Qt draws
// offscreen (QT_QPA_PLATFORM=offscreen).
#pragma once

#include <functional>
#include <memory>

#include "platform/headless/headless_presenter.h"
#include "platform/presenter.h"

class QWidget;

struct ChosenPresenter {
  std::unique_ptr<Presenter> presenter;
  // The window the picture is shown in (null until the presenter first
  // opens); empty when the session is headless, so nobody can see or click it.
  std::function<QWidget*()> window;
  bool onScreen() const { return static_cast<bool>(window); }
};

// Headless unless a QApplication runs on this thread on a platform with
// windows (QDChoosePresenterKind tells, before the application starts,
// whether to start it offscreen). The headless presenter gets `headless`.
ChosenPresenter QDMakeChosenPresenter(HeadlessOptions headless = {});
