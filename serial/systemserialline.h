#ifndef SYSTEMSERIALLINE_H
#define SYSTEMSERIALLINE_H

#include "serialline.h"

#include <QSerialPort>

// A serial port of the system's, through QSerialPort: 8 data bits, one stop bit, no flow control.
class SystemSerialLine : public SerialLine
{
public:
    bool open(const QString &name, const ComSettings &settings) override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    QByteArray readArrived() override;
    QString errorString() const override;
    bool gone() override;

    QSerialPort &port() { return serialPort; }

private:
    QSerialPort serialPort;
};

#endif // SYSTEMSERIALLINE_H
