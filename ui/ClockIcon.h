#pragma once

#include <QIcon>
#include <QPixmap>

/// The program's icon: a round clock face with a white rim and hour ticks on black, one
/// yellow hand and a grey hub, transparent outside the circle. With `warning`, a warning
/// mark (an amber triangle with "!") covers its lower right: something needs the user.
QPixmap clockPixmap(int size, bool warning = false);
QIcon clockIcon(bool warning = false);
