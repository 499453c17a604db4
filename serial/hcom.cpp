#include "hcom.h"

#include "systemserialline.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>

#include <utility>

namespace {

constexpr int RxPollMs = 1;

QStringList systemPortNames()
{
    QStringList names;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    return names;
}

// A port that cannot be opened (held by another program, no access) is not offered. The trial
// uses a port object of its own: the channel's may be open on the operator's port.
QString readOnlyOpenError(const QString &name)
{
    QSerialPort port(name);
    if (!port.open(QIODevice::ReadOnly))
        return port.errorString();
    port.close();
    return QString();
}

bool opensReadOnly(const QString &name)
{
    return readOnlyOpenError(name).isEmpty();
}

PortSource &defaultPortSource()
{
    static PortSource source = Hcom::systemPorts();
    return source;
}

} // namespace

Hcom::Hcom(QObject *parent)
    : QObject(parent), systemLine(new SystemSerialLine), line(systemLine.get()),
      portSource(defaultPortSource())
{}

// Nothing destroys the channel while the panel runs; when something does, the port and the
// receive timer go with it so no poll outlives the object.
Hcom::~Hcom()
{
    delete rxTimer;
}

QStringList Hcom::comPortList()
{
    return comPortList(QStringList());
}

QStringList Hcom::comPortList(const QStringList &listed)
{
    QStringList names;
    refused.clear();
    const QStringList present = portSource.names();
    for (const QString &name : present) {
        // Opening a port toggles its modem lines, which some devices act on: a port already
        // offered is not tried again.
        if (listed.contains(name)) {
            names.append(name);
            continue;
        }
        if (!portSource.openError) {
            if (portSource.opens(name))
                names.append(name);
            continue;
        }
        const QString error = portSource.openError(name);
        if (error.isEmpty())
            names.append(name);
        else
            refused.append(Refused{name, error});
    }
    return names;
}

PortSource Hcom::systemPorts()
{
    return PortSource{systemPortNames, opensReadOnly, readOnlyOpenError};
}

void Hcom::setDefaultPortSource(PortSource source)
{
    defaultPortSource() = std::move(source);
}

void Hcom::setPortSource(PortSource source)
{
    portSource = std::move(source);
}

bool Hcom::comOpen(QString name, ComSettings settings)
{
    std::unique_ptr<SerialLine> own = portSource.line ? portSource.line(name) : nullptr;
    SerialLine *next = own ? own.get() : systemLine.get();
    if (next != line && line->isOpen())
        line->close();
    if (own)
        sourceLine = std::move(own);
    line = next;
    // One receive timer for the channel's whole life: a re-open restarts it rather than adding
    // a second timer that would poll the port alongside the first.
    if (!rxTimer)
        rxTimer = new QTimer;

    if (!line->open(name, settings)) {
        openError = line->errorString();
        return false;
    }
    openError.clear();

    connect(rxTimer, SIGNAL(timeout()), this, SLOT(comRead()),
            Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection));
    rxTimer->start(RxPollMs);

    rx.reset();
    return true;
}

int Hcom::comClose(QString name)
{
    Q_UNUSED(name)
    // The receive poll keeps running: a burst caught by the close still completes and is
    // signalled from the bytes already gathered.
    line->close();
    return 1;
}

int Hcom::comWrite(const quint8 *data, quint16 length)
{
    // A closed port takes nothing; skipping the write keeps QIODevice from warning about it.
    if (!line->isOpen())
        return 1;
    const QByteArray bytes(reinterpret_cast<const char *>(data), length);
    line->write(bytes);
    return 1;
}

bool Hcom::comIsOpen() const
{
    return line->isOpen();
}

int Hcom::comTakeData(quint8 *dest, quint16 &length)
{
    rx.take(dest, length);
    return 1;
}

void Hcom::comRead()
{
    // The receive timer keeps running between polls: a repeating QTimer never piles up missed
    // timeouts, and stopping and restarting it on every poll was a measurable share of the
    // panel's CPU.

    // After a close the poll goes on and simply finds nothing; reading a closed device would
    // put a warning in the log on every poll.
    if (line->isOpen()) {
        pendingBytes = line->readArrived();
        // A line that has gone away (device unplugged, far end of a virtual link closed) never
        // comes back on this handle, and Qt 5 reports its read errors as fast as the event loop
        // turns. Close it here; the poll carries on as after comClose, and the operator's next
        // click closes and re-opens.
        if (line->gone())
            line->close();
    }

    switch (rx.poll(pendingBytes.constData(), pendingBytes.size())) {
    case BurstAssembler::Poll::Completed:
        Q_EMIT readSignal();
        break;
    case BurstAssembler::Poll::Stored:
    case BurstAssembler::Poll::Quiet:
    case BurstAssembler::Poll::Discarded:
        break;
    }
    // Kept or discarded, the bytes of this poll are done with.
    if (!pendingBytes.isEmpty())
        pendingBytes.clear();
}
