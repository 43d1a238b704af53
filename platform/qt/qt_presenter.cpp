#include "platform/qt/qt_presenter.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxModeSide = 4096;
constexpr uint32_t kOpaqueBlack = 0xFF000000u;

}  // namespace

QRect QDPresenterTarget(QSize window, QSize mode, bool fullScreen) {
  if (window.isEmpty() || mode.isEmpty()) return {};
  double factor = std::min(double(window.width()) / mode.width(),
                           double(window.height()) / mode.height());
  if (fullScreen && factor >= 1.0) factor = std::floor(factor);
  const int w = std::max(1, int(std::lround(mode.width() * factor)));
  const int h = std::max(1, int(std::lround(mode.height() * factor)));
  return QRect((window.width() - w) / 2, (window.height() - h) / 2, w, h);
}

class QtPresenterWindow final : public QWidget {
 public:
  explicit QtPresenterWindow(QtPresenter* owner)
      : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
        owner_(owner) {
    setWindowTitle(QStringLiteral("WRD"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    resize(640, 400);
  }

  // GUI thread: takes what the drawing thread changed and repaints it.
  void takeFrame() {
    owner_->wakePosted_.store(false);
    QtPresenter::Staging& s = *owner_->staging_;
    QRect changed;
    bool all = false;
    bool resized = false;
    {
      std::lock_guard lock(s.mutex);
      if (s.modeSerial != serial_) {
        serial_ = s.modeSerial;
        resized = width_ != s.width || height_ != s.height;
        width_ = s.width;
        height_ = s.height;
        indexed_ = s.pixels;
        lut_ = s.palette;
        all = true;
      } else {
        if (s.paletteDirty) {
          lut_ = s.palette;
          all = true;
        }
        if (!s.dirty.isEmpty()) {
          changed = s.dirty;
          for (int y = changed.top(); y <= changed.bottom(); ++y) {
            const size_t at = size_t(y) * size_t(width_) + size_t(changed.left());
            std::memcpy(indexed_.data() + at, s.pixels.data() + at, size_t(changed.width()));
          }
        }
      }
      s.dirty = QRect();
      s.paletteDirty = false;
    }
    if (width_ <= 0 || height_ <= 0) {
      rgb_ = QImage();
      update();
      return;
    }
    if (rgb_.width() != width_ || rgb_.height() != height_)
      rgb_ = QImage(width_, height_, QImage::Format_RGB32);
    if (all) changed = QRect(0, 0, width_, height_);
    convert(changed);
    if (resized && !fullScreen_ && isVisible()) resize(width_, height_);
    if (all)
      update();
    else
      update(toWindow(changed));
  }

  void applyPlacement(bool visible, bool fullScreen, int left, int top) {
    fullScreen_ = fullScreen;
    if (!visible) {
      hide();
      return;
    }
    if (fullScreen) {
      showFullScreen();
    } else {
      if (isFullScreen()) showNormal();
      setGeometry(left, top, width_ > 0 ? width_ : 640, height_ > 0 ? height_ : 400);
      show();
    }
    // (The offscreen platform has no stacking order to change.)
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) raise();
    update();
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    if (rgb_.isNull()) return;
    painter.drawImage(target(), rgb_);
  }

 private:
  // The picture's place in logical window coordinates.
  QRectF target() const {
    const double dpr = devicePixelRatioF();
    const QSize device(int(std::lround(width() * dpr)), int(std::lround(height() * dpr)));
    const QRect t = QDPresenterTarget(device, QSize(width_, height_), fullScreen_);
    return QRectF(t.x() / dpr, t.y() / dpr, t.width() / dpr, t.height() / dpr);
  }

  // The window area that shows picture rectangle r (a pixel more around it
  // for scaled edges).
  QRect toWindow(const QRect& r) const {
    const QRectF t = target();
    const double sx = t.width() / width_, sy = t.height() / height_;
    const QRectF area(t.x() + r.x() * sx, t.y() + r.y() * sy, r.width() * sx, r.height() * sy);
    return area.toAlignedRect().adjusted(-1, -1, 1, 1);
  }

  void convert(const QRect& r) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
      const uint8_t* src = indexed_.data() + size_t(y) * size_t(width_) + size_t(r.left());
      auto* dst = reinterpret_cast<uint32_t*>(rgb_.scanLine(y)) + r.left();
      for (int x = 0; x < r.width(); ++x) dst[x] = lut_[src[x]];
    }
  }

  QtPresenter* owner_;
  uint64_t serial_ = ~uint64_t{0};
  int width_ = 0;
  int height_ = 0;
  bool fullScreen_ = true;
  std::vector<uint8_t> indexed_;
  std::array<uint32_t, kDisplayPaletteSize> lut_{};
  QImage rgb_;
};

QtPresenter::QtPresenter() = default;

QtPresenter::~QtPresenter() = default;

QWidget* QtPresenter::window() const { return window_.get(); }

template <class F>
void QtPresenter::onGui(F&& f) {
  if (!window_) return;
  if (QThread::currentThread() == window_->thread())
    f();
  else
    QMetaObject::invokeMethod(window_.get(), std::forward<F>(f), Qt::QueuedConnection);
}

void QtPresenter::wakeGui() {
  QtPresenterWindow* w = window_.get();
  if (w == nullptr || wakePosted_.exchange(true)) return;
  QMetaObject::invokeMethod(w, [w] { w->takeFrame(); }, Qt::QueuedConnection);
}

bool QtPresenter::open() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) return false;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return false;
  if (!window_) {
    window_ = std::make_unique<QtPresenterWindow>(this);
    window_->applyPlacement(visible_, fullScreen_, left_, top_);
  }
  const double hz = screen->refreshRate();
  refreshPeriodNs_.store(hz >= 20 && hz <= 1000 ? int64_t(1e9 / hz) : 16666667);
  {
    std::lock_guard lock(staging_->mutex);
    staging_->open = true;
    staging_->width = staging_->height = 0;
    staging_->pixels.clear();
    staging_->palette.fill(kOpaqueBlack);
    ++staging_->modeSerial;
  }
  wakeGui();
  return true;
}

bool QtPresenter::setMode(int width, int height) {
  if (width < 1 || height < 1 || width > kMaxModeSide || height > kMaxModeSide) return false;
  {
    std::lock_guard lock(staging_->mutex);
    if (!staging_->open) return false;
    staging_->width = width;
    staging_->height = height;
    staging_->pixels.assign(size_t(width) * size_t(height), 0);
    staging_->palette.fill(kOpaqueBlack);
    ++staging_->modeSerial;
  }
  wakeGui();
  return true;
}

void QtPresenter::close() {
  {
    std::lock_guard lock(staging_->mutex);
    if (!staging_->open) return;
    staging_->open = false;
    std::fill(staging_->pixels.begin(), staging_->pixels.end(), 0);
    staging_->palette.fill(kOpaqueBlack);
    ++staging_->modeSerial;
  }
  wakeGui();
}

void QtPresenter::present(const uint8_t* screen, DisplayRect rect) {
  if (screen == nullptr) return;
  {
    Staging& s = *staging_;
    std::lock_guard lock(s.mutex);
    if (!s.open || s.width == 0) return;
    const int64_t x0 = std::max<int64_t>(0, rect.x);
    const int64_t y0 = std::max<int64_t>(0, rect.y);
    const int64_t x1 = std::min<int64_t>(s.width, int64_t{rect.x} + rect.width);
    const int64_t y1 = std::min<int64_t>(s.height, int64_t{rect.y} + rect.height);
    if (x0 >= x1 || y0 >= y1) return;
    for (int64_t y = y0; y < y1; ++y) {
      const size_t at = size_t(y * s.width + x0);
      std::memcpy(s.pixels.data() + at, screen + at, size_t(x1 - x0));
    }
    s.dirty |= QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
  }
  wakeGui();
}

void QtPresenter::setPaletteEntries(int first, int count, const uint8_t* entries) {
  if (entries == nullptr || count <= 0) return;
  {
    Staging& s = *staging_;
    std::lock_guard lock(s.mutex);
    if (!s.open) return;
    for (int64_t i = 0; i < count; ++i) {
      const int64_t index = int64_t{first} + i;
      if (index < 0 || index >= kDisplayPaletteSize) continue;
      const uint8_t* e = entries + i * 4;
      s.palette[size_t(index)] = kOpaqueBlack | uint32_t{e[0]} << 16 | uint32_t{e[1]} << 8 | e[2];
      s.paletteDirty = true;
    }
  }
  wakeGui();
}

void QtPresenter::waitForVerticalBlank() { QDWaitForRefreshBoundary(refreshPeriodNs_.load()); }

bool QtPresenter::isVisible() const { return window_ && window_->isVisible(); }

void QtPresenter::setVisible(bool visible) {
  visible_ = visible;
  onGui([w = window_.get(), visible, fs = fullScreen_, l = left_, t = top_] {
    w->applyPlacement(visible, fs, l, t);
  });
}

void QtPresenter::setPlacement(bool fullScreen, int left, int top) {
  fullScreen_ = fullScreen;
  left_ = left;
  top_ = top;
  onGui([w = window_.get(), v = visible_, fullScreen, left, top] {
    w->applyPlacement(v, fullScreen, left, top);
  });
}

void QtPresenter::setSongPosition(int32_t position) { songPosition_.store(position); }
