#ifndef SERIALLINE_H
#define SERIALLINE_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Line settings handed to Hcom::comOpen. parity: 1 even, 2 odd, anything else none.
struct ComSettings
{
    qint32 parity = 0;
    qint32 baudRate = 115200;
};

// What the channel needs of a line: open, close, write, take what has arrived, and tell why an
// open failed or that the line is gone. The system's serial port is one; the demo has another.
class SerialLine
{
public:
    virtual ~SerialLine() = default;

    virtual bool open(const QString &name, const ComSettings &settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // The bytes that have arrived since the last call; empty when none.
    virtual QByteArray readArrived() = 0;
    // Why the last open failed.
    virtual QString errorString() const = 0;
    // True once the open line has gone away for good; the channel then closes it.
    virtual bool gone() = 0;
};

#endif // SERIALLINE_H
