#pragma once

#include <QByteArray>
#include <QTime>

/// The six-byte frame that sets the display's clock: FE 10 ss mm hh FF, the fields as
/// plain binary numbers (14:05:09 is FE 10 09 05 0E FF). No length, no checksum, no date.
QByteArray TimeFrame(const QTime &time);
