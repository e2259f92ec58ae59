#pragma once

#include "core/ClockWatch.h"

/// The system's word on the PC clock: on Linux adjtimex() read without changing anything
/// (STA_UNSYNC or TIME_ERROR: not synchronised; the kernel's estimated error). Elsewhere,
/// and when the call is refused (a service sandbox that filters clock calls), no word.
class SystemClockSource : public ClockSource
{
public:
    std::optional<ClockSourceState> query() const override;
};
