#include "linegone.h"

#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

bool lineGone(QSerialPort &port)
{
    const QSerialPort::SerialPortError error = port.error();
    if (error == QSerialPort::ResourceError || error == QSerialPort::ReadError)
        return true;
#ifdef Q_OS_UNIX
    // A hung-up tty reads as end of file from then on and polls as POLLHUP.
    pollfd line{int(port.handle()), POLLIN, 0};
    return ::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLNVAL)) != 0;
#else
    return false;
#endif
}
