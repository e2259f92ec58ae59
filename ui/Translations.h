#pragma once

#include <QString>

class QCoreApplication;
class QLocale;

/// Puts the window texts and Qt's own (standard buttons, the line edit's menu) into the
/// language of `locale` where the program has a translation for it; in any other locale
/// they stay English. The frames, the settings file and the log never change with it.
void installTranslations(QCoreApplication &app, const QLocale &locale);

/// `reason` (a port's, a line's, a port name's) in the language of the window texts: the
/// log keeps the English text, the window, its icon and its notifications say this.
QString translatedReason(const QString &reason);
