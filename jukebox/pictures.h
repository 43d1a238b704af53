// The jukebox's pictures: the seven play buttons (the desktop's icon theme
// when it has them, else drawn here) and the program icon.
#pragma once

#include <QIcon>

enum class TButtonPicture { Open, Pause, Stop, Start, Back, Next, Close };

QIcon ButtonIcon(TButtonPicture picture);
QIcon ProgramIcon();
