#pragma once

#include <QIcon>
#include <QPixmap>

/// The program's icon: a round clock face with a white rim and hour ticks on black, one
/// yellow hand and a grey hub, transparent outside the circle.
QPixmap clockPixmap(int size);
QIcon clockIcon();
