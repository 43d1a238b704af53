#include "platform/presenter.h"

#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace {

// Stands in while no presenter is installed: there is nothing to show on.
class NoOutput final : public Presenter {
 public:
  std::string name() const override { return "none"; }
  bool open() override { return false; }
  bool setMode(int, int) override { return false; }
  void close() override {}
  void present(const uint8_t*, DisplayRect) override {}
  void setPaletteEntries(int, int, const uint8_t*) override {}
  void waitForVerticalBlank() override {}
  void setVisible(bool) override {}
  void setPlacement(bool, int, int) override {}
  void setSongPosition(int32_t) override {}
};


bool isSet(const char* s) { return s != nullptr && *s != '\0'; }

// One entry of a QT_QPA_PLATFORM list ("xcb", "offscreen:fontengine=...").
bool entryGivesWindow(std::string_view entry, bool haveX11, bool haveWayland) {
  entry = entry.substr(0, entry.find(':'));
  if (entry.empty()) return false;
  if (entry == "xcb") return haveX11;
  if (entry.starts_with("wayland")) return haveWayland;
  return true;  // eglfs, linuxfb, vnc ...: Qt draws somewhere visible
}

}  // namespace

Presenter& QDNoPresenter() {
  static NoOutput none;
  return none;
}

PresenterKind QDChoosePresenterKind(const char* qpaPlatform, const char* display,
                                    const char* waylandDisplay) {
  const bool haveX11 = isSet(display);
  const bool haveWayland = isSet(waylandDisplay);
  if (!isSet(qpaPlatform))
    return haveX11 || haveWayland ? PresenterKind::Window : PresenterKind::Headless;
  // Qt tries a ';'-separated list in order; the first usable entry wins.
  std::string_view list(qpaPlatform);
  while (!list.empty()) {
    size_t end = list.find(';');
    std::string_view entry = list.substr(0, end);
    std::string_view name = entry.substr(0, entry.find(':'));
    if (name == "offscreen" || name == "minimal" || name == "minimalegl")
      return PresenterKind::Headless;
    if (entryGivesWindow(entry, haveX11, haveWayland)) return PresenterKind::Window;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return PresenterKind::Headless;
}

PresenterKind QDChoosePresenterKind() {
  return QDChoosePresenterKind(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                               std::getenv("WAYLAND_DISPLAY"));
}

void QDWaitForRefreshBoundary(int64_t periodNs) {
  if (periodNs <= 0) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t t = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
  const int64_t next = (t / periodNs + 1) * periodNs;
  timespec until{static_cast<time_t>(next / 1000000000), static_cast<long>(next % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}
