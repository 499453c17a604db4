#ifndef HCOM_H
#define HCOM_H

#include "burstassembler.h"
#include "serialline.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;
class SystemSerialLine;

// Where the port list comes from: the names of the ports the system has now, and a trial open of
// one of them. A test puts its own in place of the system's.
struct PortSource
{
    std::function<QStringList()> names;
    std::function<bool(const QString &)> opens;
    // Where set, takes the place of opens: empty when the port opens, else why it did not.
    std::function<QString(const QString &)> openError = nullptr;
    // Where set, the line for a port of the source's own (null for a system serial port).
    std::function<std::unique_ptr<SerialLine>(const QString &)> line = nullptr;
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
    // The source's names now, in its order: those in listed taken as they are, without opening
    // them again, the others only if they open.
    QStringList comPortList(const QStringList &listed);
    void setPortSource(PortSource source);
    // The system's serial ports, tried read-only: where every channel looks unless told otherwise.
    static PortSource systemPorts();
    // Where channels made from now on look first, the system's ports until set; a test sets its
    // own to start a window with the ports it wants.
    static void setDefaultPortSource(PortSource source);
    // The ports the last listing found but could not open, and why (the port's own error text).
    struct Refused
    {
        QString name;
        QString reason;
    };
    const QList<Refused> &comRefusedPorts() const { return refused; }
    bool comOpen(QString name, ComSettings settings);
    // Why the last comOpen failed, in the serial port's words; empty after one that opened.
    QString comOpenError() const { return openError; }
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

    std::unique_ptr<SystemSerialLine> systemLine;
    std::unique_ptr<SerialLine> sourceLine; // the last the port source gave
    SerialLine *line = nullptr;             // the one in use: one of the two
    PortSource portSource;
    QList<Refused> refused;
    QString openError;
    QByteArray pendingBytes;
    QTimer *rxTimer = nullptr;
    BurstAssembler rx; // rxState, idleTicks, rxCount, rxBuffer
};

#endif // HCOM_H
