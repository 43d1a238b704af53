// Qt key events in the numbers of key_control.h.
#pragma once

#include <Qt>

#include <cstdint>

// The virtual-key code of a Qt key (0 for keys without one).
int QHVirtualKey(int qtKey);
// The held keys and buttons of an event.
uint32_t QHShiftState(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons,
                      bool doubleClick = false);
