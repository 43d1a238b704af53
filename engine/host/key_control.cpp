#include "engine/host/key_control.h"

#include <utility>

#include "support/guard.h"

int32_t QHShiftCode(uint32_t shift) {
  switch (shift) {
    case kShiftShift: return 1;
    case kShiftAlt: return 2;
    case kShiftCtrl: return 3;
    case kShiftLeft: return 4;
    case kShiftRight: return 5;
    case kShiftMiddle: return 6;
    case kShiftDouble: return 7;
    default: return 0;
  }
}

THostCommand QHMenuShortcut(int key, uint32_t shift) {
  if (shift != 0) return THostCommand::None;
  switch (key) {
    case vk::F(6): return THostCommand::Pause;
    case vk::F(7): return THostCommand::Stop;
    case vk::F(8): return THostCommand::Start;
    case vk::F(9): return THostCommand::Back;
    case vk::F(10): return THostCommand::Next;
    case vk::F(3): return THostCommand::Close;
    case vk::F(12): return THostCommand::OffsetLater;
    case vk::F(11): return THostCommand::OffsetEarlier;
    case vk::kDelete: return THostCommand::OffsetReset;
    case vk::kLeft: return THostCommand::SeekBack;
    case vk::kRight: return THostCommand::SeekOn;
    default: return THostCommand::None;
  }
}

int QHHotKeyId(int key, uint32_t shift) {
  if (shift != kShiftShift) return 0;
  switch (key) {
    case vk::kDelete: return kHotKeyShiftDelete;
    case vk::kEnd: return kHotKeyShiftEnd;
    case vk::kPrior: return kHotKeyShiftPageUp;
    case vk::kNext: return kHotKeyShiftPageDown;
    default: return 0;
  }
}

THostKeys::THostKeys(TForm1State& state, THostKeyActions actions)
    : state_(state), a_(std::move(actions)) {}

void THostKeys::keyDown(int key, uint32_t shift) {
  QGuardVoid("TForm1.FormKeyDown", [&] {
    THostCommand command = QHMenuShortcut(key, shift);
    if (command != THostCommand::None) menuCommand(command);

    int factor = shift == kShiftCtrl ? 2 : shift == (kShiftCtrl | kShiftShift) ? 4 : 0;
    if (factor && !state_.FastForwardHeld && a_.timeDivisionBase && a_.setTimeDivision) {
      int32_t base = a_.timeDivisionBase();
      // Without a song there is no base to speed up; holding the flag
      // then would block speed-up until the next song.
      if (base > 0) {
        state_.FastForwardHeld = -1;
        state_.SavedTimeDivision = base;
        a_.setTimeDivision(base * factor);
      }
    }
    if (a_.raiseStatus) a_.raiseStatus(kStatusKeyDown, key, QHShiftCode(shift), 0);
  });
}

void THostKeys::keyUp(int key, uint32_t shift, bool autoRepeat) {
  QGuardVoid("TForm1.FormKeyUp", [&] {
    if (!autoRepeat && state_.FastForwardHeld && state_.SavedTimeDivision != 0) {
      state_.FastForwardHeld = 0;
      if (a_.setTimeDivision) a_.setTimeDivision(state_.SavedTimeDivision);
    }
    if (a_.raiseStatus) a_.raiseStatus(kStatusKeyUp, key, QHShiftCode(shift), 0);
  });
}

void THostKeys::menuCommand(THostCommand command) {
  switch (command) {
    case THostCommand::None: return;
    case THostCommand::Pause: Call(a_.filePause); return;
    case THostCommand::Stop: Call(a_.fileStop); return;
    case THostCommand::Start: Call(a_.fileStart); return;
    case THostCommand::Back:
    case THostCommand::Next:
      if (a_.stopOption && a_.stopOption() == 1) Call(a_.fileNext);
      return;
    case THostCommand::Close: Call(a_.fileClose); return;
    case THostCommand::SeekBack:
    case THostCommand::SeekOn:
      if (a_.seekBy) a_.seekBy(command == THostCommand::SeekOn ? kSeekStepMs : -kSeekStepMs);
      return;
    case THostCommand::OffsetLater:
    case THostCommand::OffsetEarlier:
    case THostCommand::OffsetReset: {
      if (!a_.wrdOffset || !a_.setWrdOffset) return;
      int32_t offset = a_.wrdOffset();
      if (command == THostCommand::OffsetReset) a_.setWrdOffset(0);
      else if (command == THostCommand::OffsetLater && offset < kOffsetMax)
        a_.setWrdOffset(offset + kOffsetStep);
      else if (command == THostCommand::OffsetEarlier && offset >= -(kOffsetMax - 1))
        a_.setWrdOffset(offset - kOffsetStep);
      return;
    }
  }
}

void THostKeys::hotKey(int id) {
  QGuardVoid("TForm1.OnUserPar8", [&] {
    if (id == kHotKeyShiftEnd) Call(a_.hotKeyStop);
  });
}

void THostKeys::mouseDownForm1(TMouseButton button) {
  QGuardVoid("TForm1.FormMouseDown", [&] {
    if (!a_.wrdLoaded || !a_.wrdLoaded()) return;
    if (!(a_.clickGuard && a_.clickGuard())) {
      if (button == TMouseButton::Left) menuCommand(THostCommand::Next);
      else if (button == TMouseButton::Right) Call(a_.fileStop);
    }
    Call(a_.clearClickGuard);
  });
}

void THostKeys::mouseDownForm2(TMouseButton button) {
  QGuardVoid("TForm2.FormMouseDown", [&] {
    if (button == TMouseButton::Right) Call(a_.fileStop);
    else menuCommand(THostCommand::Next);
  });
}
