#include "FrameDecoder.h"

void FrameDecoder::feed(const QByteArray &bytes)
{
    for (char byte : bytes)
        feedByte(byte);
}

bool FrameDecoder::fits(int index, unsigned char byte) const
{
    switch (index) {
    case 0:
        return byte == 0xFE;
    case 1:
        return byte == 0x10;
    case 2: // seconds
    case 3:
        return byte < 60; // minutes
    case 4:
        return byte < 24; // hours
    default:
        return byte == 0xFF;
    }
}

void FrameDecoder::feedByte(char byte)
{
    if (fits(int(m_frame.size()), static_cast<unsigned char>(byte))) {
        m_frame.append(byte);
        if (m_frame.size() == 6) {
            flushGarbage();
            const QByteArray frame = m_frame;
            m_frame.clear();
            if (onFrame)
                onFrame(frame, QTime(frame.at(4), frame.at(3), frame.at(2)));
        }
        return;
    }
    if (m_frame.isEmpty()) {
        m_garbage.append(byte);
        return;
    }
    // Not a frame after all: its first byte is garbage, and the rest may hold the start
    // of the real one.
    const QByteArray rest = m_frame.mid(1) + byte;
    m_garbage.append(m_frame.at(0));
    m_frame.clear();
    feed(rest);
}

void FrameDecoder::flushGarbage()
{
    if (m_garbage.isEmpty())
        return;
    const QByteArray garbage = m_garbage;
    m_garbage.clear();
    if (onGarbage)
        onGarbage(garbage);
}

void FrameDecoder::flush()
{
    m_garbage += m_frame;
    m_frame.clear();
    flushGarbage();
}
