#pragma once

#include "core/SerialLink.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>

/// One write that does not wait for the port, for the links' startWrite(): `attempt(data,
/// size)` is the system's call, as write(2). Done when it took every byte; Pending with
/// what it left in `rest`; Failed with errno set.
template <typename Attempt>
SerialLink::Started writeWithoutWaiting(const QByteArray &bytes, QByteArray *rest, Attempt attempt)
{
    qsizetype n;
    do
        n = qsizetype(attempt(bytes.constData(), size_t(bytes.size())));
    while (n < 0 && errno == EINTR);
    if (n == bytes.size())
        return SerialLink::Started::Done;
    if (n < 0 && errno != EAGAIN)
        return SerialLink::Started::Failed;
    *rest = bytes.mid(std::max<qsizetype>(n, 0));
    return SerialLink::Started::Pending;
}
