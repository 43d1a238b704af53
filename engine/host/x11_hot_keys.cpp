#include "engine/host/x11_hot_keys.h"

#include <QCoreApplication>
#include <QGuiApplication>

// Xlib last: its macros (Status, Bool, ...) would break the Qt headers.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {

// Shift with every combination of the lock modifiers (Caps Lock, Num Lock
// usually on Mod2), so the grab works whatever locks are on.
constexpr uint16_t kLockMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                   XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint16_t kRelevantMods = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
                                   XCB_MOD_MASK_4;

}  // namespace

TX11HotKeys::TX11HotKeys(std::vector<Key> keys, std::function<void(int)> onHotKey)
    : keys_(std::move(keys)), codes_(keys_.size(), 0), onHotKey_(std::move(onHotKey)) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!x11 || !x11->connection() || !x11->display()) return;
  connection_ = x11->connection();
  auto* c = static_cast<xcb_connection_t*>(connection_);
  root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  for (size_t i = 0; i < keys_.size(); ++i)
    codes_[i] = XKeysymToKeycode(x11->display(), static_cast<KeySym>(keys_[i].keysym));
  grab(true);
  QCoreApplication::instance()->installNativeEventFilter(this);
}

TX11HotKeys::~TX11HotKeys() {
  if (!connection_) return;
  if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
  grab(false);
}

void TX11HotKeys::grab(bool on) {
  auto* c = static_cast<xcb_connection_t*>(connection_);
  for (unsigned code : codes_) {
    if (!code) continue;
    for (uint16_t locks : kLockMasks) {
      auto mods = static_cast<uint16_t>(XCB_MOD_MASK_SHIFT | locks);
      if (on)
        xcb_grab_key(c, 1, root_, mods, static_cast<xcb_keycode_t>(code), XCB_GRAB_MODE_ASYNC,
                     XCB_GRAB_MODE_ASYNC);
      else
        xcb_ungrab_key(c, static_cast<xcb_keycode_t>(code), root_, mods);
    }
  }
  xcb_flush(c);
}

bool TX11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || !message) return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7F) != XCB_KEY_PRESS) return false;
  auto* press = static_cast<xcb_key_press_event_t*>(message);
  if ((press->state & kRelevantMods) != XCB_MOD_MASK_SHIFT) return false;
  for (size_t i = 0; i < codes_.size(); ++i)
    if (codes_[i] && codes_[i] == press->detail) {
      onHotKey_(keys_[i].id);
      return true;
    }
  return false;
}
