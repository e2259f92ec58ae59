#include "platform/SystemClockSource.h"

#ifdef Q_OS_LINUX
#include <sys/timex.h>
#endif

std::optional<ClockSourceState> SystemClockSource::query() const
{
#ifdef Q_OS_LINUX
    struct timex state = {};
    state.modes = 0; // read only
    const int result = ::adjtimex(&state);
    if (result < 0)
        return std::nullopt;
    return ClockSourceState{result != TIME_ERROR && !(state.status & STA_UNSYNC),
                            qint64(state.esterror)};
#else
    return std::nullopt;
#endif
}
