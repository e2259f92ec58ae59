#pragma once

#include "core/LineSettings.h"

#include <QByteArray>
#include <QString>

#include <functional>

/// The serial port the program writes its frames to. It only opens, writes and closes;
/// nothing is ever read. The platform implements it over its own serial API.
///
/// write() may be called from the frame writer's thread while the port is open; open()
/// and close() are called from the thread that made the link, never during a write.
class SerialLink
{
public:
    virtual ~SerialLink();

    /// Opens `device` for writing with the given line settings. Returns false with the
    /// system's reason in `error` when the port cannot be opened.
    virtual bool open(const QString &device, const LineSettings &settings, QString *error) = 0;
    virtual bool isOpen() const = 0;
    /// Writes `bytes` and returns once they have left the program for the driver. Returns
    /// false with the system's reason when they could not be written.
    virtual bool write(const QByteArray &bytes, QString *error) = 0;
    enum class Started { Done, Pending, Failed };
    /// Starts writing `bytes` without waiting for the port: Done when the driver took them
    /// all, Pending when finishWrite() is to write the rest, Failed with the reason in
    /// `error`. One thread writing to many ports starts every write due at a moment
    /// before it waits for any one port. A link that cannot tell writes them all here.
    virtual Started startWrite(const QByteArray &bytes, QString *error)
    {
        return write(bytes, error) ? Started::Done : Started::Failed;
    }
    /// Writes what startWrite() left, bounded as write() is.
    virtual bool finishWrite(QString *error)
    {
        Q_UNUSED(error);
        return true;
    }
    virtual void close() = 0;
    /// Calls `onHangUp` with the reason when the open device hangs up (an adapter
    /// unplugged, the other end of a pseudo-terminal closed), without waiting for the next
    /// write. A link that cannot tell never calls it.
    virtual void setHangUpHandler(std::function<void(const QString &reason)> onHangUp)
    {
        Q_UNUSED(onHangUp);
    }
    /// Calls `onReady`, on the thread that made the link, when a port that could not be
    /// opened a moment ago is to be tried again now: a network port whose connection
    /// attempt ended, made or failed, after open() had returned. A link that cannot tell
    /// never calls it.
    virtual void setReadyHandler(std::function<void()> onReady) { Q_UNUSED(onReady); }
};
