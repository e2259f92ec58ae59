#include "core/SyncIntervals.h"

#include <QCoreApplication>

namespace SyncIntervals {
namespace {

constexpr qint16 kMinutes[] = {1, 30, 60, 720};

} // namespace

QStringList names()
{
    static const char *const kNames[] = {
        QT_TRANSLATE_NOOP("SyncIntervals", "minute"),
        QT_TRANSLATE_NOOP("SyncIntervals", "30 minutes"),
        QT_TRANSLATE_NOOP("SyncIntervals", "hour"),
        QT_TRANSLATE_NOOP("SyncIntervals", "12 hours")};
    QStringList names;
    for (const char *name : kNames)
        names << QCoreApplication::translate("SyncIntervals", name);
    return names;
}

std::optional<qint16> minutesForIndex(int index)
{
    if (index < 0 || index >= int(std::size(kMinutes)))
        return std::nullopt;
    return kMinutes[index];
}

int indexForMinutes(qint16 minutes)
{
    for (int i = 0; i < int(std::size(kMinutes)); ++i) {
        if (kMinutes[i] == minutes)
            return i;
    }
    return -1;
}

int indexForName(const QString &text)
{
    const QStringList all = names();
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace SyncIntervals
