#pragma once

#include <QByteArray>
#include <QTime>
#include <functional>

/// Finds time frames (FE 10 ss mm hh FF, fields in range) in a byte stream, one byte at
/// a time, and resynchronises after anything else. Bytes that belong to no frame are
/// reported as one malformed stretch when the next frame starts or on flush().
class FrameDecoder
{
public:
    std::function<void(const QByteArray &frame, const QTime &time)> onFrame;
    std::function<void(const QByteArray &bytes)> onGarbage;

    void feed(const QByteArray &bytes);
    void flush();

private:
    void feedByte(char byte);
    bool fits(int index, unsigned char byte) const;
    void flushGarbage();

    QByteArray m_frame;
    QByteArray m_garbage;
};
