// Picks the presenter for this session: the Qt window when a window system
// is there, the headless presenter when there is none or when Qt draws
// offscreen (QT_QPA_PLATFORM=offscreen).
#pragma once

#include <memory>

#include "platform/headless/headless_presenter.h"
#include "platform/presenter.h"

// Headless unless a QApplication runs on this thread on a platform with
// windows (QDChoosePresenterKind tells, before the application starts,
// whether to start it offscreen). The headless presenter gets `headless`.
std::unique_ptr<Presenter> QDMakeChosenPresenter(HeadlessOptions headless = {});
