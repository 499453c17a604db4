#include "ptypair.h"

#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&masterFd, &slaveDescriptor, name, nullptr, nullptr) != 0) {
        masterFd = slaveDescriptor = -1;
        return;
    }
    termios tio{};
    if (::tcgetattr(slaveDescriptor, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slaveDescriptor, TCSANOW, &tio);
    }
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    // A program the test starts must not hold the pair open: closing the master would not end it.
    ::fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveDescriptor, F_SETFD, FD_CLOEXEC);
    path = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slaveDescriptor >= 0)
        ::close(slaveDescriptor);
}

bool PtyPair::write(const QByteArray &bytes)
{
    qint64 done = 0;
    while (masterFd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{masterFd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        } else {
            return false;
        }
    }
    return done == bytes.size();
}

QByteArray PtyPair::read(int waitMs)
{
    QByteArray out;
    if (masterFd < 0)
        return out;
    pollfd p{masterFd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0)
        return out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, int(n));
    }
    return out;
}

QByteArray PtyPair::readExactly(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < count && clock.elapsed() < timeoutMs)
        out += read(int(qMax<qint64>(1, timeoutMs - clock.elapsed())));
    return out;
}

void PtyPair::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}
