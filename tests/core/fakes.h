#pragma once
// Test doubles for the core: a serial link that records, a clock that is set by hand, a
// view that remembers what it was told and settings kept in memory.

#include "core/Clock.h"
#include "core/ClockWatch.h"
#include "core/DeviceWatch.h"
#include "core/FrameWriter.h"
#include "core/MainView.h"
#include "core/SerialLink.h"
#include "core/ServiceFace.h"
#include "core/Settings.h"
#include "platform/AutostartStore.h"

#include <QHash>

#include <QList>
#include <QPair>
#include <QStringList>

#include <functional>

/// A device path as this platform writes one: what a CommPort may name besides a number.
inline QString testDevice(const char *linuxName = "/dev/ttyUSB0")
{
#ifdef Q_OS_WIN
    Q_UNUSED(linuxName);
    return QStringLiteral("COM12");
#else
    return QString::fromLatin1(linuxName);
#endif
}

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
    void setHangUpHandler(std::function<void(const QString &)> onHangUp) override
    {
        hangUp = std::move(onHangUp);
    }

    std::function<void(const QString &)> hangUp; ///< the core's handler of a hang-up
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

/// A device that is there or not, as the test says.
class FakeDeviceWatch : public DeviceWatch
{
public:
    bool present = false;
    QString watched; ///< the device last watched for

    void watch(const QString &device) override { watched = device; }
    bool isPresent(const QString &) const override { return present; }
    void setAppearedHandler(std::function<void()>) override {}
};

/// Lets time pass up to the slot of the waiting frames and writes them.
inline void reachSlot(FrameWriter &writer, FakeClock &clock)
{
    if (writer.pendingSecond().isValid())
        clock.advanceNs(writer.nsUntilWrite());
    writer.writeDue();
}

class RecordingView : public MainView
{
public:
    enum class Status { None, Synced, PortNotOpen, PortLent };

    QList<QTime> clocks;
    QList<QDateTime> synced;
    QStringList notOpenReasons;
    Status status = Status::None;
    int statusChanges = 0;
    int startUps = 0; ///< start-up frames reported written

    void showClock(const QTime &time) override { clocks << time; }
    void showSynced(const QDateTime &second) override
    {
        synced << second;
        setStatus(Status::Synced);
    }
    void showPortNotOpen(const QString &reason) override
    {
        notOpenReasons << reason;
        setStatus(Status::PortNotOpen);
    }
    void showPortLent() override { setStatus(Status::PortLent); }
    void startUpSynced() override { ++startUps; }
    void showPcClockState(const QDateTime &since) override { unsynchronisedSince << since; }

    QList<QDateTime> unsynchronisedSince; ///< each change of the PC clock's state

    QString reason() const { return notOpenReasons.value(notOpenReasons.size() - 1); }

private:
    void setStatus(Status now)
    {
        status = now;
        ++statusChanges;
    }
};

/// Settings kept in memory, keyed "section/key".
class MemorySettingsStore : public SettingsStore
{
public:
    QHash<QString, QString> values;
    QString loadFailure;  ///< non-empty: load() fails with this reason
    QString storeFailure; ///< non-empty: store() fails with this reason

    QString location() const override { return QStringLiteral("/memory/orvtide.ini"); }
    bool load(QString *reason) override
    {
        *reason = loadFailure;
        return loadFailure.isEmpty();
    }
    QString value(const QString &section, const QString &key) const override
    {
        return values.value(section + QLatin1Char('/') + key);
    }
    bool store(const QString &section, const QString &key, const QString &value,
               QString *error) override
    {
        if (!storeFailure.isEmpty()) {
            *error = storeFailure;
            return false;
        }
        values.insert(section + QLatin1Char('/') + key, value);
        return true;
    }
};

/// The system's word on the PC clock, set by the test.
class FakeClockSource : public ClockSource
{
public:
    std::optional<ClockSourceState> state; ///< no value: the system does not tell
    mutable int queries = 0;

    std::optional<ClockSourceState> query() const override
    {
        ++queries;
        return state;
    }
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

/// A line to a service that records what is asked and says what the test tells it.
class FakeChannel : public ServiceChannel
{
public:
    QList<QByteArray> sent;
    int opened = 0;

    void open() override { ++opened; }
    void send(const QByteArray &request) override { sent << request; }
    void close() override {}
    /// The service says `lines`, each with its line end.
    void hear(const QByteArray &lines)
    {
        for (const QByteArray &line : lines.split('\n'))
            if (!line.isEmpty())
                emit received(line);
    }
};
