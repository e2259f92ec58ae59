#include "ui/Translations.h"

#include "core/Reason.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

void installTranslations(QCoreApplication &app, const QLocale &locale)
{
    // Qt's own texts only with the program's: a window half English, half another language
    // reads worse than one in English.
    auto *own = new QTranslator(&app);
    if (!own->load(locale, QStringLiteral("orvantide"), QStringLiteral("_"),
                   QStringLiteral(":/i18n"))) {
        delete own;
        return;
    }
    QCoreApplication::installTranslator(own);
    auto *qt = new QTranslator(&app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
}

QString translatedReason(const QString &reason)
{
    return Reason::translated(reason, [](const char *english) {
        return QCoreApplication::translate("Reason", english);
    });
}
