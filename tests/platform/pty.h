#pragma once
// A pseudo-terminal pair for serial tests: the code under test opens the slave by its
// path, the test reads what arrives on the master.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

struct Pty
{
    int master = -1;
    int slave = -1;
    QString path;

    Pty()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            qFatal("openpty failed");
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
        path = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    /// Reads until `count` bytes have arrived or two seconds pass.
    QByteArray read(int count) const
    {
        QByteArray got;
        while (got.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                break;
            char buffer[64];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, int(n));
        }
        return got;
    }
};
