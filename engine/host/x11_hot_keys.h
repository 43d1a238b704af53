// Global hot keys on X11: the four Shift hot keys are grabbed on the root
// window, so they act while another program has the keyboard focus. Where
// there is no X11 connection (Wayland, offscreen) nothing is grabbed and the
// application-wide shortcuts are all there is.
#pragma once

#include <QAbstractNativeEventFilter>
#include <functional>
#include <vector>

class TX11HotKeys : public QAbstractNativeEventFilter {
 public:
  struct Key {
    int id;               // hot-key id handed to onHotKey
    unsigned long keysym; // X keysym (XK_End, ...)
  };

  // Grabs Shift+key for each key on the default screen's root window.
  TX11HotKeys(std::vector<Key> keys, std::function<void(int)> onHotKey);
  ~TX11HotKeys() override;
  TX11HotKeys(const TX11HotKeys&) = delete;
  TX11HotKeys& operator=(const TX11HotKeys&) = delete;

  // True when the keys were grabbed (an X11 session).
  bool active() const { return connection_ != nullptr; }
  // X key codes grabbed, in the order of the keys (0 where none).
  const std::vector<unsigned>& keyCodes() const { return codes_; }

  // Reads key presses from the X11 event stream; a grabbed one calls
  // onHotKey and is consumed.
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  void grab(bool on);

  std::vector<Key> keys_;
  std::vector<unsigned> codes_;
  std::function<void(int)> onHotKey_;
  void* connection_ = nullptr;  // xcb_connection_t*
  unsigned root_ = 0;
};
