// The Qt window presenter, run on the offscreen platform: the window's
// pixels against the screen buffer and the display palette.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPaintEvent>
#include <QScreen>
#include <QWidget>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/qt/choose_presenter.h"
#include "platform/qt/qt_presenter.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 400;

void Settle() {
  for (int i = 0; i < 4; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
}

std::vector<uint8_t> Palette(int seed) {
  std::vector<uint8_t> p(1024);
  for (int i = 0; i < 256; ++i) {
    p[size_t(i * 4)] = uint8_t(i + seed);
    p[size_t(i * 4 + 1)] = uint8_t(255 - i);
    p[size_t(i * 4 + 2)] = uint8_t(i * 3 + seed);
  }
  return p;
}

QRgb Colour(const std::vector<uint8_t>& palette, int index) {
  const uint8_t* e = &palette[size_t(index * 4)];
  return qRgb(e[0], e[1], e[2]);
}

std::vector<uint8_t> Pattern(int seed) {
  std::vector<uint8_t> s(size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) s[size_t(y * kW + x)] = uint8_t((x / 3 + y * 5 + seed) & 0xFF);
  return s;
}

// The window as pixels, and where the picture lies in them.
struct Grab {
  QImage image;
  QRect target;
  QRgb at(int x, int y) const {  // picture pixel (x, y), sampled at its centre
    const double sx = double(target.width()) / kW, sy = double(target.height()) / kH;
    return image.pixel(target.x() + int((x + 0.5) * sx), target.y() + int((y + 0.5) * sy)) |
           0xFF000000u;
  }
};

Grab GrabWindow(QtPresenter& p, bool fullScreen) {
  Settle();
  Grab g;
  g.image = p.window()->grab().toImage();
  g.target = QDPresenterTarget(g.image.size(), QSize(kW, kH), fullScreen);
  return g;
}

// Every 7th pixel of the picture against buffer and palette.
void ExpectShows(const Grab& g, const std::vector<uint8_t>& screen,
                 const std::vector<uint8_t>& palette) {
  int wrong = 0;
  for (int y = 0; y < kH; y += 7)
    for (int x = 0; x < kW; x += 7)
      if (g.at(x, y) != Colour(palette, screen[size_t(y * kW + x)]) && ++wrong < 5)
        ADD_FAILURE() << "pixel " << x << "," << y << " shows " << std::hex << g.at(x, y);
  EXPECT_EQ(wrong, 0);
}

class QtPresenterTest : public ::testing::Test {};

TEST(PresenterTarget, WholeFactorsFullScreenAndFillingWindows) {
  const QSize mode(kW, kH);
  EXPECT_EQ(QDPresenterTarget({1920, 1080}, mode, true), QRect(320, 140, 1280, 800));
  EXPECT_EQ(QDPresenterTarget({1280, 800}, mode, true), QRect(0, 0, 1280, 800));
  EXPECT_EQ(QDPresenterTarget({800, 600}, mode, true), QRect(80, 100, 640, 400));
  EXPECT_EQ(QDPresenterTarget({600, 600}, mode, true), QRect(0, 112, 600, 375));  // shrunk
  EXPECT_EQ(QDPresenterTarget({960, 600}, mode, false), QRect(0, 0, 960, 600));    // ratio 1.5
  EXPECT_EQ(QDPresenterTarget({640, 480}, QSize(640, 480), true), QRect(0, 0, 640, 480));
  EXPECT_TRUE(QDPresenterTarget({0, 0}, mode, true).isEmpty());
  EXPECT_TRUE(QDPresenterTarget({800, 600}, {0, 400}, true).isEmpty());
}

TEST_F(QtPresenterTest, WindowShowsTheBufferThroughThePaletteAndFollowsPaletteChanges) {
  QtPresenter p;
  p.setPlacement(false, 30, 40);
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(kW, kH));
  p.setVisible(true);
  QWidget* w = p.window();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);

  auto palette = Palette(0);
  const auto screen = Pattern(0);
  p.setPaletteEntries(0, 256, palette.data());
  p.present(screen.data(), {0, 0, kW, kH});
  Grab g = GrabWindow(p, false);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->pos(), QPoint(30, 40));
  EXPECT_EQ(w->size(), QSize(kW, kH));
  EXPECT_EQ(g.image.size(), QSize(kW, kH) * w->devicePixelRatioF());
  ExpectShows(g, screen, palette);

  // New entries from an index show at once everywhere they are used.
  const uint8_t two[] = {1, 2, 3, 0, 250, 251, 252, 0};
  p.setPaletteEntries(100, 2, two);
  std::copy(two, two + 8, palette.begin() + 400);
  ExpectShows(GrabWindow(p, false), screen, palette);
  // The whole table again.
  palette = Palette(77);
  p.setPaletteEntries(0, 256, palette.data());
  ExpectShows(GrabWindow(p, false), screen, palette);

  // A rectangle changes only itself.
  auto next = screen;
  for (int y = 200; y < 216; ++y)
    for (int x = 320; x < 400; ++x) next[size_t(y * kW + x)] = uint8_t(x + y);
  auto presented = next;
  p.present(next.data(), {320, 200, 80, 16});
  next[0] = 9;  // changed but not presented
  ExpectShows(GrabWindow(p, false), presented, palette);

  p.setVisible(false);
  Settle();
  EXPECT_FALSE(w->isVisible());
}

TEST_F(QtPresenterTest, FullScreenScalesByAWholeFactorWithBlackAround) {
  QtPresenter p;
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(kW, kH));
  p.setPlacement(true, 0, 0);
  p.setVisible(true);
  const auto palette = Palette(5);
  const auto screen = Pattern(3);
  p.setPaletteEntries(0, 256, palette.data());
  p.present(screen.data(), {0, 0, kW, kH});
  Grab g = GrabWindow(p, true);
  QWidget* w = p.window();
  EXPECT_TRUE(w->isFullScreen());
  EXPECT_EQ(w->geometry(), w->screen()->geometry());
  ASSERT_FALSE(g.target.isEmpty());
  EXPECT_EQ(g.target.width() % kW, 0);  // whole factor
  EXPECT_EQ(g.target.width() * kH, g.target.height() * kW);
  ExpectShows(g, screen, palette);
  const QRgb black = 0xFF000000u;
  if (g.target.left() > 0) {
    EXPECT_EQ(g.image.pixel(g.target.left() - 1, g.target.center().y()) | black, black);
  }
  if (g.target.top() > 0) {
    EXPECT_EQ(g.image.pixel(g.target.center().x(), g.target.top() - 1) | black, black);
  }
}

// Records the areas the window repaints.
class PaintSpy : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(e)->region();
    return false;
  }
  QRegion painted;
};

TEST_F(QtPresenterTest, RepaintsOnlyWhatWasPresentedButAllOfItForAPaletteChange) {
  QtPresenter p;
  p.setPlacement(false, 0, 0);
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(kW, kH));
  p.setVisible(true);
  const auto palette = Palette(1);
  const auto screen = Pattern(1);
  p.setPaletteEntries(0, 256, palette.data());
  p.present(screen.data(), {0, 0, kW, kH});
  Settle();
  PaintSpy spy;
  p.window()->installEventFilter(&spy);
  p.present(screen.data(), {100, 60, 16, 8});
  Settle();
  ASSERT_FALSE(spy.painted.isEmpty());
  const QRect area = spy.painted.boundingRect();
  EXPECT_TRUE(QRect(98, 58, 20, 12).contains(area)) << area.x() << "," << area.y() << " "
                                                    << area.width() << "x" << area.height();
  spy.painted = QRegion();
  const uint8_t grey[] = {128, 128, 128, 0};
  p.setPaletteEntries(3, 1, grey);
  Settle();
  EXPECT_TRUE(spy.painted.contains(QRect(0, 0, kW, kH)));
}

TEST_F(QtPresenterTest, DrawingThreadHandsFramesOverWithoutWaitingForTheGui) {
  QtPresenter p;
  p.setPlacement(false, 0, 0);
  ASSERT_TRUE(p.open());
  ASSERT_TRUE(p.setMode(kW, kH));
  p.setVisible(true);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 8; ++i) frames.push_back(Pattern(i * 31));
  const auto palette = Palette(9);
  std::atomic<bool> done{false};
  // The GUI thread is busy elsewhere (not running its loop) for the whole
  // drawing run: presenting must still finish.
  std::thread drawer([&] {
    p.setPaletteEntries(0, 256, palette.data());
    for (int i = 0; i < 400; ++i) {
      const auto& f = frames[size_t(i % 8)];
      p.present(f.data(), {(i * 8) % kW, 0, 64, kH});
      if (i % 50 == 0) {
        p.waitForVerticalBlank();
        p.setSongPosition(i);
      }
    }
    p.present(frames[7].data(), {0, 0, kW, kH});
    done = true;
  });
  drawer.join();
  EXPECT_TRUE(done);
  ExpectShows(GrabWindow(p, false), frames[7], palette);
}

TEST_F(QtPresenterTest, ModesCloseAndReopen) {
  QtPresenter p;
  EXPECT_FALSE(p.setMode(kW, kH));  // not open
  ASSERT_TRUE(p.open());
  EXPECT_FALSE(p.setMode(0, 400));
  EXPECT_FALSE(p.setMode(kW, 5000));
  ASSERT_TRUE(p.setMode(640, 480));
  p.setPlacement(false, 10, 10);
  p.setVisible(true);
  Settle();
  EXPECT_EQ(p.window()->size(), QSize(640, 480));
  const auto palette = Palette(2);
  p.setPaletteEntries(0, 256, palette.data());
  std::vector<uint8_t> screen(640 * 480, 200);
  p.present(screen.data(), {0, 0, 640, 480});
  Settle();
  QImage shown = p.window()->grab().toImage();
  EXPECT_EQ(shown.pixel(5, 470) | 0xFF000000u, Colour(palette, 200));
  p.close();
  p.present(screen.data(), {0, 0, 640, 480});  // ignored once closed
  Settle();
  shown = p.window()->grab().toImage();
  EXPECT_EQ(shown.pixel(5, 5) | 0xFF000000u, 0xFF000000u);
  ASSERT_TRUE(p.open());
  EXPECT_TRUE(p.setMode(kW, kH));
}

TEST_F(QtPresenterTest, OffscreenSessionsGetTheHeadlessPresenter) {
  EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
  ChosenPresenter chosen = QDMakeChosenPresenter();
  EXPECT_EQ(chosen.presenter->name(), "headless");
  EXPECT_FALSE(chosen.onScreen());
  EXPECT_EQ(QDChoosePresenterKind(), PresenterKind::Headless);
}

}  // namespace

// The application lives for the whole run and ends before static
// destruction.
int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
