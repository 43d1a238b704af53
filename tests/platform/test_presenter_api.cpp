// The presenter interface itself: the stand-in used before a presenter is
// installed, and the choice between a window and the headless presenter.
#include <gtest/gtest.h>

#include "platform/presenter.h"

namespace {

TEST(PresenterChoice, HeadlessWithoutAWindowSystemOrWhenQtDrawsOffscreen) {
  using K = PresenterKind;
  struct Case {
    const char* qpa;
    const char* display;
    const char* wayland;
    PresenterKind kind;
  } cases[] = {
      {nullptr, nullptr, nullptr, K::Headless},
      {"", "", "", K::Headless},
      {nullptr, ":0", nullptr, K::Window},
      {nullptr, nullptr, "wayland-0", K::Window},
      {"offscreen", ":0", "wayland-0", K::Headless},
      {"offscreen:fontengine=freetype", ":0", nullptr, K::Headless},
      {"minimal", ":0", nullptr, K::Headless},
      {"xcb", ":0", nullptr, K::Window},
      {"xcb", nullptr, "wayland-0", K::Headless},  // Qt would find no X server
      {"wayland", ":0", nullptr, K::Headless},
      {"wayland-egl", nullptr, "wayland-0", K::Window},
      {"wayland;xcb", ":0", nullptr, K::Window},  // falls through to X
      {"wayland;offscreen", ":0", nullptr, K::Headless},
      {"eglfs", nullptr, nullptr, K::Window},  // draws straight to the screen
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QDChoosePresenterKind(c.qpa, c.display, c.wayland), c.kind)
        << (c.qpa ? c.qpa : "(unset)") << " / " << (c.display ? c.display : "(unset)") << " / "
        << (c.wayland ? c.wayland : "(unset)");
  }
}

TEST(PresenterChoice, ReadsThisProcessesEnvironment) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("DISPLAY", ":0", 1);
  EXPECT_EQ(QDChoosePresenterKind(), PresenterKind::Headless);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  EXPECT_EQ(QDChoosePresenterKind(), PresenterKind::Window);
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(QDChoosePresenterKind(), PresenterKind::Headless);
}

TEST(PresenterStandIn, ShowsNothing) {
  Presenter& none = QDNoPresenter();
  EXPECT_EQ(none.name(), "none");
  EXPECT_FALSE(none.open());
  EXPECT_FALSE(none.setMode(640, 400));
  const uint8_t pixel = 0;
  none.present(&pixel, {0, 0, 1, 1});  // harmless
  none.waitForVerticalBlank();
}

}  // namespace
