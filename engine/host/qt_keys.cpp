#include "engine/host/qt_keys.h"

#include "engine/host/key_control.h"

int QHVirtualKey(int qtKey) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 0x41 + (qtKey - Qt::Key_A);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 0x30 + (qtKey - Qt::Key_0);
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return vk::F(1 + (qtKey - Qt::Key_F1));
  switch (qtKey) {
    case Qt::Key_Backspace: return vk::kBack;
    case Qt::Key_Tab: return vk::kTab;
    case Qt::Key_Return:
    case Qt::Key_Enter: return vk::kReturn;
    case Qt::Key_Shift: return vk::kShift;
    case Qt::Key_Control: return vk::kControl;
    case Qt::Key_Alt: return vk::kMenu;
    case Qt::Key_Pause: return vk::kPause;
    case Qt::Key_CapsLock: return vk::kCapital;
    case Qt::Key_Escape: return vk::kEscape;
    case Qt::Key_Space: return vk::kSpace;
    case Qt::Key_PageUp: return vk::kPrior;
    case Qt::Key_PageDown: return vk::kNext;
    case Qt::Key_End: return vk::kEnd;
    case Qt::Key_Home: return vk::kHome;
    case Qt::Key_Left: return vk::kLeft;
    case Qt::Key_Up: return vk::kUp;
    case Qt::Key_Right: return vk::kRight;
    case Qt::Key_Down: return vk::kDown;
    case Qt::Key_Insert: return vk::kInsert;
    case Qt::Key_Delete: return vk::kDelete;
    default: return 0;
  }
}

uint32_t QHShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons,
                      bool doubleClick) {
  uint32_t s = 0;
  if (modifiers & Qt::ShiftModifier) s |= kShiftShift;
  if (modifiers & Qt::AltModifier) s |= kShiftAlt;
  if (modifiers & Qt::ControlModifier) s |= kShiftCtrl;
  if (buttons & Qt::LeftButton) s |= kShiftLeft;
  if (buttons & Qt::RightButton) s |= kShiftRight;
  if (buttons & Qt::MiddleButton) s |= kShiftMiddle;
  if (doubleClick) s |= kShiftDouble;
  return s;
}
