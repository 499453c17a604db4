#include "linehangup.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

bool lineHungUp(QSerialPort &port)
{
#ifdef Q_OS_UNIX
    // A hung-up tty reads as end of file from then on and polls as POLLHUP.
    pollfd line{int(port.handle()), POLLIN, 0};
    return ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLNVAL)) != 0;
#else
    Q_UNUSED(port)
    return false;
#endif
}
