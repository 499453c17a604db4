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
    while (c.serialPort->bytesAvailable() < count && !deadline.hasExpired())
        c.serialPort->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    return c.serialPort->bytesAvailable() == count;
}

void HcomProbe::poll()
{
    c.comRead();
    holdTimer();
}

bool HcomProbe::emptyPolls(int count)
{
    for (int i = 0; i < count; ++i) {
        if (c.serialPort->isOpen() && c.serialPort->bytesAvailable() > 0)
            return false;
        poll();
    }
    return true;
}

bool HcomProbe::flush(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (c.serialPort->bytesToWrite() > 0 && !deadline.hasExpired())
        c.serialPort->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
    return c.serialPort->bytesToWrite() == 0;
}
