#include "hcomprobe.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QTimer>

QByteArray HcomProbe::gathered() const
{
    return QByteArray(reinterpret_cast<const char *>(c.rx.rxBuffer), c.rx.rxCount);
}

void HcomProbe::holdTimer()
{
    if (c.rxTimer)
        c.rxTimer->stop();
}

bool HcomProbe::waitBuffered(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    // The port only fills its buffer when it is told to read: waitForReadyRead drains whatever
    // the pseudo-terminal has delivered so far, which may be part of what was written.
    while (c.systemLine->port().bytesAvailable() < count && !deadline.hasExpired())
        c.systemLine->port().waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    return c.systemLine->port().bytesAvailable() == count;
}

void HcomProbe::poll()
{
    c.comRead();
    holdTimer();
}

bool HcomProbe::emptyPolls(int count)
{
    for (int i = 0; i < count; ++i) {
        if (c.systemLine->port().isOpen() && c.systemLine->port().bytesAvailable() > 0)
            return false;
        poll();
    }
    return true;
}

bool HcomProbe::flush(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (c.systemLine->port().bytesToWrite() > 0 && !deadline.hasExpired())
        c.systemLine->port().waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
    return c.systemLine->port().bytesToWrite() == 0;
}
