#include "systemserialline.h"

#include "linegone.h"

bool SystemSerialLine::open(const QString &name, const ComSettings &settings)
{
    serialPort.setPortName(name);
    if (!serialPort.open(QIODevice::ReadWrite))
        return false;
    serialPort.clearError();

    serialPort.setBaudRate(settings.baudRate, QSerialPort::AllDirections);
    serialPort.setDataBits(QSerialPort::Data8);
    switch (settings.parity) {
    case 1:
        serialPort.setParity(QSerialPort::EvenParity);
        break;
    case 2:
        serialPort.setParity(QSerialPort::OddParity);
        break;
    default:
        serialPort.setParity(QSerialPort::NoParity);
        break;
    }
    serialPort.setStopBits(QSerialPort::OneStop);
    serialPort.setFlowControl(QSerialPort::NoFlowControl);
    return true;
}

void SystemSerialLine::close()
{
    serialPort.close();
}

bool SystemSerialLine::isOpen() const
{
    return serialPort.isOpen();
}

void SystemSerialLine::write(const QByteArray &bytes)
{
    serialPort.write(bytes);
}

QByteArray SystemSerialLine::readArrived()
{
    // Most polls find nothing; skip the read then.
    if (serialPort.bytesAvailable() > 0)
        return serialPort.readAll();
    return QByteArray();
}

QString SystemSerialLine::errorString() const
{
    return serialPort.errorString();
}

bool SystemSerialLine::gone()
{
    return lineGone(serialPort);
}
