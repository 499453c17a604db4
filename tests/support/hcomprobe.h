#ifndef HCOMPROBE_H
#define HCOMPROBE_H

#include "hcom.h"
#include "systemserialline.h"

#include <QByteArray>

class QSerialPort;
class QTimer;

// Reaches into an Hcom for tests. With the receive timer held, the test decides what each poll
// sees: bytes written to the far end are first pulled into the port's own buffer (waitBuffered),
// then one poll() takes exactly those bytes, and an empty poll finds nothing.
class HcomProbe
{
public:
    explicit HcomProbe(Hcom &channel) : c(channel) {}

    QSerialPort &port() { return c.systemLine->port(); }
    QTimer *rxTimer() const { return c.rxTimer; }
    qint32 &rxState() { return c.rx.rxState; }
    qint32 &idleTicks() { return c.rx.idleTicks; }
    qint32 &rxCount() { return c.rx.rxCount; }
    const QByteArray &pendingBytes() const { return c.pendingBytes; }
    QByteArray gathered() const;

    // Stops the receive timer so that only poll() runs the receive poll.
    void holdTimer();
    // Waits until the open port holds exactly count unread bytes; false on timeout or if more
    // than count arrived.
    bool waitBuffered(int count, int timeoutMs = 5000);
    // One receive poll; the timer stays held afterwards.
    void poll();
    // count polls that must find nothing; false if the port had bytes waiting.
    bool emptyPolls(int count);
    // Pushes whatever the port still has queued out to the far end.
    bool flush(int timeoutMs = 5000);

private:
    Hcom &c;
};

#endif // HCOMPROBE_H
