#ifndef HCOM_H
#define HCOM_H

#include "burstassembler.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QSerialPort;
class QTimer;

// Line settings handed to Hcom::comOpen. parity: 1 even, 2 odd, anything else none.
struct ComSettings
{
    qint32 parity = 0;
    qint32 baudRate = 115200;
};

// The one serial channel: lists the ports that can be opened, opens one at fixed line settings,
// writes byte ranges, and gathers received bytes into bursts on a 1 ms receive poll (the rules are
// BurstAssembler's). readSignal is emitted once per completed burst, which then waits for
// comTakeData.
class Hcom : public QObject
{
    Q_OBJECT
public:
    static constexpr int RxCapacity = BurstAssembler::Capacity;
    static constexpr int IdlePollsPerBurst = BurstAssembler::IdlePollsPerBurst;

    explicit Hcom(QObject *parent = nullptr);
    ~Hcom() override;

    QStringList comPortList();
    bool comOpen(QString name, ComSettings settings);
    int comClose(QString name);
    int comWrite(const quint8 *data, quint16 length);
    // False once closed, by comClose or because the line went away.
    bool comIsOpen() const;
    // dest must have room for RxCapacity bytes.
    int comTakeData(quint8 *dest, quint16 &length);

Q_SIGNALS:
    void readSignal();

public Q_SLOTS:
    void comRead();

private:
    friend class HcomProbe; // test access to the receive state

    QSerialPort *serialPort = nullptr;
    QByteArray pendingBytes;
    QTimer *rxTimer = nullptr;
    BurstAssembler rx; // rxState, idleTicks, rxCount, rxBuffer
};

#endif // HCOM_H
