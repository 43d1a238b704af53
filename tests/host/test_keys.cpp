#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "engine/host/key_control.h"

namespace {

// A player and play sequence that record what the keys asked of them.
struct Fake {
  TForm1State state;
  int32_t base = 480;
  std::vector<int32_t> divisions;
  int32_t offset = 0;
  int32_t stopOption = 0;
  bool wrdLoaded = false;
  bool guard = false;
  int guardCleared = 0;
  std::vector<std::array<int32_t, 4>> status;
  int stops = 0, starts = 0, nexts = 0, closes = 0, hotStops = 0, pauses = 0;
  std::vector<int32_t> seeks;
  THostKeys keys{state, Actions()};

  THostKeyActions Actions() {
    THostKeyActions a;
    a.timeDivisionBase = [this] { return base; };
    a.setTimeDivision = [this](int32_t d) { divisions.push_back(d); };
    a.wrdOffset = [this] { return offset; };
    a.setWrdOffset = [this](int32_t o) { offset = o; };
    a.stopOption = [this] { return stopOption; };
    a.wrdLoaded = [this] { return wrdLoaded; };
    a.clickGuard = [this] { return guard; };
    a.clearClickGuard = [this] { guard = false, ++guardCleared; };
    a.raiseStatus = [this](int32_t v1, int32_t v2, int32_t v3, int32_t v4) {
      status.push_back({v1, v2, v3, v4});
    };
    a.fileStop = [this] { ++stops; };
    a.fileStart = [this] { ++starts; };
    a.fileNext = [this] { ++nexts; };
    a.fileClose = [this] { ++closes; };
    a.filePause = [this] { ++pauses; };
    a.hotKeyStop = [this] { ++hotStops; };
    a.seekBy = [this](int32_t ms) { seeks.push_back(ms); };
    return a;
  }
};

TEST(HostKeys, CtrlDoublesAndReleaseRestores) {
  Fake f;
  f.keys.keyDown(vk::kControl, kShiftCtrl);
  EXPECT_EQ(f.divisions, (std::vector<int32_t>{960}));
  EXPECT_TRUE(f.state.FastForwardHeld);
  EXPECT_EQ(f.state.SavedTimeDivision, 480);
  // Held keys repeat: no second doubling.
  f.keys.keyDown(vk::kControl, kShiftCtrl);
  f.keys.keyDown(vk::kShift, kShiftCtrl | kShiftShift);
  EXPECT_EQ(f.divisions.size(), 1u);
  f.keys.keyUp(vk::kControl, kShiftCtrl, /*autoRepeat=*/true);
  EXPECT_TRUE(f.state.FastForwardHeld);
  f.keys.keyUp(vk::kControl, 0);
  EXPECT_EQ(f.divisions, (std::vector<int32_t>{960, 480}));
  EXPECT_FALSE(f.state.FastForwardHeld);
  // A later release restores nothing more.
  f.keys.keyUp(vk::kShift, 0);
  EXPECT_EQ(f.divisions.size(), 2u);
}

TEST(HostKeys, CtrlShiftQuadruples) {
  Fake f;
  f.base = 96;
  f.keys.keyDown(vk::kShift, kShiftCtrl | kShiftShift);
  EXPECT_EQ(f.divisions, (std::vector<int32_t>{384}));
  f.keys.keyDown(vk::kControl, kShiftCtrl);  // Ctrl while Ctrl+Shift is held
  EXPECT_EQ(f.divisions.size(), 1u);
  f.keys.keyUp(vk::kShift, kShiftCtrl);
  EXPECT_EQ(f.divisions.back(), 96);
  // Ctrl with Alt is no speed-up.
  f.keys.keyDown(vk::kMenu, kShiftCtrl | kShiftAlt);
  EXPECT_EQ(f.divisions.size(), 2u);
}

TEST(HostKeys, NoSpeedUpWithoutASong) {
  Fake f;
  f.base = 0;
  f.keys.keyDown(vk::kControl, kShiftCtrl);
  EXPECT_TRUE(f.divisions.empty());
  EXPECT_FALSE(f.state.FastForwardHeld);
  f.base = 480;  // the song starts: speed-up works
  f.keys.keyDown(vk::kControl, kShiftCtrl);
  EXPECT_EQ(f.divisions, (std::vector<int32_t>{960}));
}

TEST(HostKeys, WrdOffsetKeysStopAtTheirLimits) {
  Fake f;
  for (int i = 0; i < 300; ++i) f.keys.keyDown(vk::F(12), 0);
  EXPECT_EQ(f.offset, 768);
  f.keys.keyDown(vk::kDelete, 0);
  EXPECT_EQ(f.offset, 0);
  for (int i = 0; i < 300; ++i) f.keys.keyDown(vk::F(11), 0);
  EXPECT_EQ(f.offset, -768);
  // Shift+Delete is a hot key, not the reset.
  f.keys.keyDown(vk::kDelete, kShiftShift);
  EXPECT_EQ(f.offset, -768);
  f.keys.keyDown(vk::F(12), kShiftCtrl);
  EXPECT_EQ(f.offset, -768);
}

TEST(HostKeys, BackAndNextOnlyWithStopOptionOne) {
  Fake f;
  f.keys.keyDown(vk::F(9), 0);
  f.keys.keyDown(vk::F(10), 0);
  EXPECT_EQ(f.nexts, 0);
  f.stopOption = 2;
  f.keys.keyDown(vk::F(10), 0);
  EXPECT_EQ(f.nexts, 0);
  f.stopOption = 1;
  f.keys.keyDown(vk::F(9), 0);
  f.keys.keyDown(vk::F(10), 0);
  EXPECT_EQ(f.nexts, 2);
}

TEST(HostKeys, MenuShortcuts) {
  Fake f;
  f.keys.keyDown(vk::F(7), 0);
  f.keys.keyDown(vk::F(8), 0);
  f.keys.keyDown(vk::F(3), 0);
  f.keys.keyDown(vk::F(6), 0);  // pause (or go on when paused)
  f.keys.keyDown(vk::F(6), kShiftShift);  // with a modifier: no menu command
  f.keys.keyDown(vk::F(8), kShiftShift);
  EXPECT_EQ(f.stops, 1);
  EXPECT_EQ(f.starts, 1);
  EXPECT_EQ(f.closes, 1);
  EXPECT_EQ(f.pauses, 1);
}

TEST(HostKeys, ArrowsMoveTheSongFiveSecondsOnlyWithoutModifiers) {
  Fake f;
  f.keys.keyDown(vk::kLeft, 0);
  f.keys.keyDown(vk::kRight, 0);
  f.keys.keyDown(vk::kRight, kShiftShift);
  f.keys.keyDown(vk::kLeft, kShiftCtrl);
  EXPECT_EQ(f.seeks, (std::vector<int32_t>{-5000, 5000}));
}

TEST(HostKeys, StatusValuesAndShiftCodes) {
  Fake f;
  f.keys.keyDown(0x41, kShiftShift);
  f.keys.keyUp(0x41, 0);
  f.keys.keyDown(vk::kMenu, kShiftAlt);
  ASSERT_EQ(f.status.size(), 3u);
  EXPECT_EQ(f.status[0], (std::array<int32_t, 4>{kStatusKeyDown, 0x41, 1, 0}));
  EXPECT_EQ(f.status[1], (std::array<int32_t, 4>{kStatusKeyUp, 0x41, 0, 0}));
  EXPECT_EQ(f.status[2], (std::array<int32_t, 4>{-3, 0x12, 2, 0}));

  EXPECT_EQ(QHShiftCode(kShiftShift), 1);
  EXPECT_EQ(QHShiftCode(kShiftAlt), 2);
  EXPECT_EQ(QHShiftCode(kShiftCtrl), 3);
  EXPECT_EQ(QHShiftCode(kShiftLeft), 4);
  EXPECT_EQ(QHShiftCode(kShiftRight), 5);
  EXPECT_EQ(QHShiftCode(kShiftMiddle), 6);
  EXPECT_EQ(QHShiftCode(kShiftDouble), 7);
  EXPECT_EQ(QHShiftCode(0), 0);
  EXPECT_EQ(QHShiftCode(kShiftCtrl | kShiftShift), 0);
  EXPECT_EQ(QHShiftCode(kShiftLeft | kShiftDouble), 0);
}

TEST(HostKeys, HotKeys) {
  Fake f;
  EXPECT_EQ(QHHotKeyId(vk::kDelete, kShiftShift), 897);
  EXPECT_EQ(QHHotKeyId(vk::kEnd, kShiftShift), 898);
  EXPECT_EQ(QHHotKeyId(vk::kPrior, kShiftShift), 899);
  EXPECT_EQ(QHHotKeyId(vk::kNext, kShiftShift), 900);
  EXPECT_EQ(QHHotKeyId(vk::kEnd, 0), 0);
  EXPECT_EQ(QHHotKeyId(vk::kEnd, kShiftShift | kShiftCtrl), 0);
  for (int id : {897, 899, 900, 12}) f.keys.hotKey(id);
  EXPECT_EQ(f.hotStops, 0);
  f.keys.hotKey(898);
  EXPECT_EQ(f.hotStops, 1);
}

TEST(HostKeys, MouseInTheControlWindowNeedsAScript) {
  Fake f;
  f.stopOption = 1;
  f.keys.mouseDownForm1(TMouseButton::Right);
  EXPECT_EQ(f.stops, 0);
  f.wrdLoaded = true;
  f.keys.mouseDownForm1(TMouseButton::Right);
  f.keys.mouseDownForm1(TMouseButton::Left);
  EXPECT_EQ(f.stops, 1);
  EXPECT_EQ(f.nexts, 1);
  // The click guard swallows one click and is cleared.
  f.guard = true;
  f.keys.mouseDownForm1(TMouseButton::Left);
  EXPECT_EQ(f.nexts, 1);
  EXPECT_FALSE(f.guard);
  f.keys.mouseDownForm1(TMouseButton::Left);
  EXPECT_EQ(f.nexts, 2);
}

TEST(HostKeys, MouseInThePictureWindow) {
  Fake f;
  f.stopOption = 1;
  f.keys.mouseDownForm2(TMouseButton::Right);
  f.keys.mouseDownForm2(TMouseButton::Middle);
  f.keys.mouseDownForm2(TMouseButton::Left);
  EXPECT_EQ(f.stops, 1);
  EXPECT_EQ(f.nexts, 2);
}

}  // namespace

#include "engine/host/qt_keys.h"

namespace {

TEST(HostKeys, QtKeysBecomeVirtualKeys) {
  EXPECT_EQ(QHVirtualKey(Qt::Key_A), 0x41);
  EXPECT_EQ(QHVirtualKey(Qt::Key_Z), 0x5A);
  EXPECT_EQ(QHVirtualKey(Qt::Key_7), 0x37);
  EXPECT_EQ(QHVirtualKey(Qt::Key_F1), 0x70);
  EXPECT_EQ(QHVirtualKey(Qt::Key_F12), vk::F(12));
  EXPECT_EQ(QHVirtualKey(Qt::Key_Delete), vk::kDelete);
  EXPECT_EQ(QHVirtualKey(Qt::Key_Control), vk::kControl);
  EXPECT_EQ(QHVirtualKey(Qt::Key_PageDown), vk::kNext);
  EXPECT_EQ(QHVirtualKey(Qt::Key_unknown), 0);
  EXPECT_EQ(QHShiftState(Qt::ControlModifier | Qt::ShiftModifier, Qt::NoButton),
            kShiftCtrl | kShiftShift);
  EXPECT_EQ(QHShiftCode(QHShiftState(Qt::NoModifier, Qt::RightButton)), 5);
  EXPECT_EQ(QHShiftCode(QHShiftState(Qt::NoModifier, Qt::NoButton, true)), 7);
  EXPECT_EQ(QHShiftCode(QHShiftState(Qt::KeypadModifier, Qt::NoButton)), 0);
}

}  // namespace
