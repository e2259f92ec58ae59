#pragma once

#include <QStringList>
#include <optional>

/// The intervals the settings dialog offers, in the order of its list.
namespace SyncIntervals {

/// "minute", "30 minutes", "hour", "12 hours", in the user's language.
QStringList names();
/// Minutes of the list entry `index` (0 to 3); no value for any other index.
std::optional<qint16> minutesForIndex(int index);
/// The list entry of `minutes` (1, 30, 60 or 720); -1 for any other value.
int indexForMinutes(qint16 minutes);
/// The list entry whose name is `text`, blanks around it and case aside; -1 for any other.
int indexForName(const QString &text);

} // namespace SyncIntervals
