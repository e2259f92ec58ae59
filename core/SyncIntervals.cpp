#include "core/SyncIntervals.h"

namespace SyncIntervals {
namespace {

constexpr qint16 kMinutes[] = {1, 30, 60, 720};

} // namespace

QStringList names()
{
    return {QStringLiteral("minute"), QStringLiteral("30 minutes"), QStringLiteral("hour"),
            QStringLiteral("12 hours")};
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

} // namespace SyncIntervals
