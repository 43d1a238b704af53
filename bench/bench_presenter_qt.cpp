// Presenting a full frame through the Qt window presenter (offscreen): the
// drawing thread's part, and the whole way to repainted window pixels.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <vector>

#include "platform/qt/qt_presenter.h"

namespace {

std::vector<uint8_t> Screen() {
  std::vector<uint8_t> s(640 * 400);
  for (size_t i = 0; i < s.size(); ++i) s[i] = uint8_t(226 + (i / 640 + i % 640 / 8) % 17);
  return s;
}

std::vector<uint8_t> Palette() {
  std::vector<uint8_t> p(1024);
  for (int i = 0; i < 256; ++i) p[size_t(i * 4)] = uint8_t(i), p[size_t(i * 4 + 2)] = uint8_t(~i);
  return p;
}

void Settle() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

struct Shown {
  Shown() {
    p.setPlacement(false, 0, 0);
    p.open();
    p.setMode(640, 400);
    p.setVisible(true);
    p.setPaletteEntries(0, 256, Palette().data());
    Settle();
  }
  QtPresenter p;
};

// What the drawing thread spends: copy into the staging picture, post.
void BM_QtPresentFullFrame(benchmark::State& state) {
  Shown s;
  const auto screen = Screen();
  for (auto _ : state) {
    s.p.present(screen.data(), {0, 0, 640, 400});
    state.PauseTiming();
    Settle();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_QtPresentFullFrame)->Unit(benchmark::kMicrosecond);

// Present, then the GUI thread's conversion through the palette and repaint.
void BM_QtPresentFullFrameAndRepaint(benchmark::State& state) {
  Shown s;
  const auto screen = Screen();
  for (auto _ : state) {
    s.p.present(screen.data(), {0, 0, 640, 400});
    Settle();
  }
}
BENCHMARK(BM_QtPresentFullFrameAndRepaint)->Unit(benchmark::kMicrosecond);

// A palette change recolours the whole picture.
void BM_QtPaletteChangeAndRepaint(benchmark::State& state) {
  Shown s;
  const auto screen = Screen();
  s.p.present(screen.data(), {0, 0, 640, 400});
  Settle();
  const uint8_t entry[] = {10, 20, 30, 0};
  for (auto _ : state) {
    s.p.setPaletteEntries(230, 1, entry);
    Settle();
  }
}
BENCHMARK(BM_QtPaletteChangeAndRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
