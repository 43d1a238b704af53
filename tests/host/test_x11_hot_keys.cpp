// The global hot keys on a real X server (Xvfb): the grab is in place while
// the object lives (another client cannot take the same key), a Shift+key
// press reaches the callback, other modifiers do not, and the keys are given
// back at the end.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <cstdlib>

#include <X11/keysym.h>
#include <xcb/xcb.h>

#include "engine/host/x11_hot_keys.h"

namespace {

// True when another client may grab Shift+code on the root window now.
bool OthersCanGrab(unsigned code) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_generic_error_t* error = xcb_request_check(
      c, xcb_grab_key_checked(c, 1, root, XCB_MOD_MASK_SHIFT, static_cast<xcb_keycode_t>(code),
                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  bool free = error == nullptr;
  std::free(error);
  xcb_disconnect(c);
  return free;
}

xcb_key_press_event_t Press(unsigned code, uint16_t state) {
  xcb_key_press_event_t e{};
  e.response_type = XCB_KEY_PRESS;
  e.detail = static_cast<xcb_keycode_t>(code);
  e.state = state;
  return e;
}

}  // namespace

TEST(X11HotKeys, ShiftKeysAreGrabbedOnTheRootWindowWhileTheyLive) {
  std::vector<int> fired;
  unsigned endCode = 0;
  {
    TX11HotKeys keys({{898, XK_End}, {900, XK_Page_Down}}, [&](int id) { fired.push_back(id); });
    ASSERT_TRUE(keys.active());
    endCode = keys.keyCodes()[0];
    ASSERT_NE(endCode, 0u);
    EXPECT_FALSE(OthersCanGrab(endCode));

    QByteArray type("xcb_generic_event_t");
    auto shiftEnd = Press(endCode, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_2);  // Num Lock on
    EXPECT_TRUE(keys.nativeEventFilter(type, &shiftEnd, nullptr));
    auto ctrlShiftEnd = Press(endCode, XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL);
    EXPECT_FALSE(keys.nativeEventFilter(type, &ctrlShiftEnd, nullptr));
    auto pageDown = Press(keys.keyCodes()[1], XCB_MOD_MASK_SHIFT);
    EXPECT_TRUE(keys.nativeEventFilter(type, &pageDown, nullptr));
    EXPECT_EQ(fired, (std::vector<int>{898, 900}));
  }
  EXPECT_TRUE(OthersCanGrab(endCode));
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
