#ifndef LINEDIRECTION_H
#define LINEDIRECTION_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// One way along a serial line, on a clock in nanoseconds: the bytes on their way, each with the
// moment it has come through. A sender sends back to back once the line is free, one character
// (start, 8 data, stop bits) per byte at its rate; a receiver at another rate gets what its UART
// makes of them, spread over the same time.
class LineDirection
{
public:
    static qint64 characterNs(int baud);

    void put(const QByteArray &sent, qint64 nowNs, int senderBaud, int receiverBaud);
    // The bytes that have come through by nowNs, taken off the line.
    QByteArray take(qint64 nowNs);
    // When the last byte on its way comes through; -1 when none is.
    qint64 lastArrivalNs() const { return arrivesNs.isEmpty() ? -1 : arrivesNs.last(); }
    void clear();

private:
    QByteArray bytes;
    QVector<qint64> arrivesNs;
    qint64 busyUntilNs = 0;
};

#endif // LINEDIRECTION_H
