#include "pseudoterminal.h"

#ifdef Q_OS_UNIX

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open()
{
    close();
    auto fail = [this](const char *step) {
        error = QStringLiteral("%1: %2").arg(QLatin1String(step),
                                             QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    };
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail("posix_openpt");
    if (::grantpt(master) != 0)
        return fail("grantpt");
    if (::unlockpt(master) != 0)
        return fail("unlockpt");
    const char *name = ::ptsname(master);
    if (!name)
        return fail("ptsname");
    path = QString::fromLocal8Bit(name);
    slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0)
        return fail("open slave");
    // Raw 8-bit bytes both ways: no echo, no line editing, no CR/LF translation.
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail("fcntl");
    error.clear();
    return true;
}

void PseudoTerminal::close()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
    path.clear();
}

#endif // Q_OS_UNIX
