#pragma once
// The emulator's timing of the line: how long a frame takes on the wire, and how far
// the time it sets is from the host's clock.

#include <QString>
#include <QTime>
#include <termios.h>

/// How long `frameBytes` characters take on the line with the speed and framing of
/// `tio`, in microseconds; 0 for a speed it does not know. A pseudo-terminal delivers at
/// once what a real line delivers over this time.
qint64 frameLineTimeUs(const termios &tio, int frameBytes);

/// The speed and framing of `tio` in the settings file's form, "9600,N,8,1"; the speed
/// is 0 when it is one this table does not know.
QString lineSettingsText(const termios &tio);

/// Offset of the time a frame set (`carried`) against the host's local time of day when
/// it arrived (`receivedUs`, microseconds since the epoch), in milliseconds: above 0 when
/// the display is ahead. Folded into half a day either way, so a frame across midnight
/// is a little early or late rather than a day off.
double offsetMs(const QTime &carried, qint64 receivedUs);
