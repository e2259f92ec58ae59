#pragma once
// Test doubles for the core: a serial link that records, a clock that is set by hand and
// a view that remembers what it was told.

#include "core/Clock.h"
#include "core/MainView.h"
#include "core/Synchroniser.h"
#include "platform/AutostartStore.h"
#include "platform/SerialLink.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

class FakeLink : public SerialLink
{
public:
    QString openError;  ///< non-empty: the next opens fail with this reason
    QString writeError; ///< non-empty: the next writes fail with this reason
    QStringList opened; ///< devices passed to open()
    LineSettings lastSettings;
    QList<QByteArray> written;
    bool portOpen = false;

    bool open(const QString &device, const LineSettings &settings, QString *error) override
    {
        opened << device;
        lastSettings = settings;
        if (!openError.isEmpty()) {
            *error = openError;
            return false;
        }
        portOpen = true;
        return true;
    }
    bool isOpen() const override { return portOpen; }
    bool write(const QByteArray &bytes, QString *error) override
    {
        if (!writeError.isEmpty()) {
            *error = writeError;
            return false;
        }
        written << bytes;
        return true;
    }
    void close() override { portOpen = false; }
};

class FakeClock : public Clock
{
public:
    QDateTime wall{QDate(2026, 12, 7), QTime(14, 5, 8, 500)};
    qint64 wallExtraNs = 0; ///< past wall's millisecond
    qint64 mono = 5'000'000'000;

    qint64 wallNs() const override { return wall.toMSecsSinceEpoch() * 1'000'000 + wallExtraNs; }
    qint64 monotonicNs() const override { return mono; }

    /// Time passes: both clocks move on.
    void advanceNs(qint64 ns)
    {
        mono += ns;
        wallExtraNs += ns;
        wall = wall.addMSecs(wallExtraNs / 1'000'000);
        wallExtraNs %= 1'000'000;
    }
    void advanceMs(qint64 ms) { advanceNs(ms * 1'000'000); }
    /// The PC clock is set: only the wall clock moves.
    void set(const QTime &time) { wall = QDateTime(wall.date(), time); }
};

/// Lets time pass up to the slot of the waiting frames and writes them.
inline void reachSlot(Synchroniser &sync, FakeClock &clock)
{
    if (sync.pendingSecond().isValid())
        clock.advanceNs(sync.nsUntilWrite());
    sync.writeDueFrames();
}

class RecordingView : public MainView
{
public:
    QStringList clockTexts;
    QList<QPair<QString, QString>> statuses; ///< text and tooltip
    int minimised = 0;
    QStringList settingsErrors;

    std::function<void()> onClockText; ///< runs at each clock text, e.g. to let time pass

    void setClockText(const QString &text) override
    {
        clockTexts << text;
        if (onClockText)
            onClockText();
    }
    void setStatusText(const QString &text, const QString &detail) override
    {
        statuses.append({text, detail});
    }
    void minimise() override { ++minimised; }
    void showSettingsError(const QString &message) override { settingsErrors << message; }

    QString status() const { return statuses.isEmpty() ? QString() : statuses.last().first; }
    QString detail() const { return statuses.isEmpty() ? QString() : statuses.last().second; }
};

class FakeAutostartStore : public AutostartStore
{
public:
    QString value;   ///< the registered command line, empty for none
    QString refusal; ///< non-empty: changes are refused with this reason
    int changes = 0; ///< registrations and removals that were asked for

    QString commandLine(const QString &program, const QString &arguments) const override
    {
        return program + QLatin1Char(' ') + arguments;
    }
    QString registered() const override { return value; }
    bool registerCommand(const QString &commandLine, QString *error) override
    {
        ++changes;
        if (!refusal.isEmpty()) {
            *error = refusal;
            return false;
        }
        value = commandLine;
        return true;
    }
    bool unregister(QString *error) override
    {
        ++changes;
        if (!refusal.isEmpty()) {
            *error = refusal;
            return false;
        }
        value.clear();
        return true;
    }
};
