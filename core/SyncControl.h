#pragma once

#include "core/Settings.h"

/// What the window drives: the synchronisation of its own port (Synchroniser) or that of a
/// service that runs for the same settings file (ServiceFace).
class SyncControl
{
public:
    virtual ~SyncControl() = default;

    /// Starts with `settings`.
    virtual void begin(const Settings &settings) = 0;
    /// "SYNC NOW".
    virtual void syncNow() = 0;
    /// The settings dialog opens.
    virtual void suspend() = 0;
    /// The settings dialog closed with `settings`, which the file holds.
    virtual void apply(const Settings &settings) = 0;
    /// The program ends.
    virtual void shutDown() = 0;
};
