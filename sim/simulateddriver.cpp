#include "simulateddriver.h"

#include "linegone.h"
#include "pseudoterminal.h"
#include "simulatedline.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// Long enough for a panel that reads a little late, short enough not to stall the event loop.
constexpr int WriteStallMs = 200;
// A pty master whose slave side is closed reads as an error until someone opens it again.
constexpr int HangupRetryMs = 50;
// An echo in a burst of its own stays this far ahead of the reply, so a master sees two bursts.
constexpr int EchoAheadMs = 20;
// How soon a served port that went away is noticed.
constexpr int LineWatchMs = 100;

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

} // namespace

SimulatedDriver::SimulatedDriver(QObject *parent) : QObject(parent), rtu(deviceModel)
{
    clock.start();
    frameTimer.setSingleShot(true);
    frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer, &QTimer::timeout, this, &SimulatedDriver::onFrameTimer);
    writeTimer.setSingleShot(true);
    writeTimer.setTimerType(Qt::PreciseTimer);
    connect(&writeTimer, &QTimer::timeout, this, &SimulatedDriver::onWriteTimer);
    connect(&physicsTimer, &QTimer::timeout, this, &SimulatedDriver::advancePhysics);
    physicsTimer.start(physicsIntervalMs);
    connect(&lineWatch, &QTimer::timeout, this, &SimulatedDriver::checkLine);
}

SimulatedDriver::~SimulatedDriver()
{
    close();
}

bool SimulatedDriver::openPort(const QString &name)
{
    close();
    serial = new QSerialPort(this);
    serial->setPortName(name);
    if (!serial->open(QIODevice::ReadWrite)) {
        error = QStringLiteral("cannot open %1: %2").arg(name, serial->errorString());
        delete serial;
        serial = nullptr;
        return false;
    }
    const bool configured =
        serial->setBaudRate(QSerialPort::Baud115200) && serial->setDataBits(QSerialPort::Data8) &&
        serial->setParity(QSerialPort::NoParity) && serial->setStopBits(QSerialPort::OneStop) &&
        serial->setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        error = QStringLiteral("cannot set 115200 8N1 on %1: %2").arg(name, serial->errorString());
        close();
        return false;
    }
    connect(serial, &QSerialPort::readyRead, this, &SimulatedDriver::onSerialReadyRead);
    lineWatch.start(LineWatchMs);
    error.clear();
    return true;
}

#ifdef Q_OS_UNIX

bool SimulatedDriver::openPty()
{
    close();
    auto terminal = std::make_unique<PseudoTerminal>();
    if (!terminal->open()) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(terminal->errorString());
        return false;
    }
    const int master = terminal->masterFd();
    pty = std::move(terminal);
    return openFd(master);
}

bool SimulatedDriver::openFd(int descriptor)
{
    if (descriptor < 0) {
        error = QStringLiteral("no file descriptor to serve");
        return false;
    }
    if (fd >= 0 || serial)
        close();
    fd = descriptor;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SimulatedDriver::onReadable);
    error.clear();
    return true;
}

#endif // Q_OS_UNIX

void SimulatedDriver::close()
{
    frameTimer.stop();
    writeTimer.stop();
    lineWatch.stop();
    scheduled.clear();
    delete notifier;
    notifier = nullptr;
    fd = -1;
    if (line) {
        line->unitLetGo();
        line = nullptr;
    }
#ifdef Q_OS_UNIX
    pty.reset();
#endif
    if (serial) {
        serial->close();
        delete serial;
        serial = nullptr;
    }
}

bool SimulatedDriver::isOpen() const
{
    return fd >= 0 || serial != nullptr || line != nullptr;
}

QString SimulatedDriver::slavePath() const
{
#ifdef Q_OS_UNIX
    if (pty)
        return pty->slavePath();
#endif
    return serial ? serial->portName() : QString();
}

void SimulatedDriver::setPhysicsInterval(int ms)
{
    advancePhysics();
    physicsIntervalMs = qMax(0, ms);
    if (physicsIntervalMs > 0)
        physicsTimer.start(physicsIntervalMs);
    else
        physicsTimer.stop();
}

void SimulatedDriver::clearLog()
{
    entries.clear();
    for (ScheduledWrite &write : scheduled)
        write.index = -1;
}

void SimulatedDriver::advancePhysics()
{
    const qint64 now = nowMs();
    if (physicsIntervalMs > 0)
        deviceModel.tick(int(qMin<qint64>(now - physicsAtMs, 1 << 30)));
    physicsAtMs = now;
}

QByteArray SimulatedDriver::drainFd()
{
    QByteArray bytes;
#ifdef Q_OS_UNIX
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO && notifier) {
            // Nobody holds the slave side: wait for it instead of spinning on the error.
            notifier->setEnabled(false);
            QTimer::singleShot(HangupRetryMs, notifier, [this] {
                if (notifier)
                    notifier->setEnabled(true);
            });
        }
        break;
    }
#endif
    return bytes;
}

// A port whose line has gone never answers again, and Qt keeps reading it as fast as the event
// loop turns: give it up and say so.
void SimulatedDriver::checkLine()
{
    if (!serial || !lineGone(*serial))
        return;
    const QString name = serial->portName();
    close();
    error = QStringLiteral("%1 went away").arg(name);
    Q_EMIT lineLost();
}

void SimulatedDriver::onReadable()
{
    received(drainFd());
}

void SimulatedDriver::onSerialReadyRead()
{
    received(serial->readAll());
}

void SimulatedDriver::received(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (plan.silent) {
        LogEntry entry;
        entry.exchange.atMs = nowMs();
        entry.exchange.outcome = RtuSlave::Outcome::Discarded;
        entry.exchange.request = bytes;
        entry.silenced = true;
        // The adapter hears the line whether or not the unit behind it does.
        if (plan.localEcho && writeToLine(bytes))
            entry.faults = QStringLiteral("echoed");
        entries.append(entry);
        Q_EMIT requestHandled(entries.size() - 1);
        return;
    }
    advancePhysics();
    rtu.feed(bytes, nowMs());
    handleExchanges();
    scheduleFramePoll();
}

void SimulatedDriver::onFrameTimer()
{
    // Bytes already waiting in the port belong to the frame: read them before the silent
    // interval is judged, so a late read does not look like a pause on the line.
    if (fd >= 0)
        received(drainFd());
    else if (serial && serial->waitForReadyRead(0))
        received(serial->readAll());
    else if (line)
        received(line->arrivedAtUnit());
    rtu.poll(nowMs());
    handleExchanges();
    scheduleFramePoll();
}

void SimulatedDriver::scheduleFramePoll()
{
    const qint64 deadline = rtu.nextDeadline();
    if (deadline < 0) {
        frameTimer.stop();
        return;
    }
    frameTimer.start(int(qMax<qint64>(1, deadline - nowMs() + 1)));
}

void SimulatedDriver::handleExchanges()
{
    const QVector<RtuSlave::Exchange> exchanges = rtu.takeExchanges();
    for (const RtuSlave::Exchange &exchange : exchanges) {
        LogEntry entry;
        entry.exchange = exchange;
        const int index = entries.size();
        // The echo goes ahead of the reply in its first write, or at once in a write of its own.
        const bool echo = plan.localEcho && !exchange.request.isEmpty();
        bool echoJoined = false;
        if (!exchange.reply.isEmpty()) {
            FaultPlan::Shaped shaped = plan.shape(exchange.reply);
            echoJoined = echo && !shaped.writes.isEmpty() && plan.echoJoinsReply();
            qint64 echoedAt = -1;
            if (echoJoined)
                shaped.writes[0].bytes.prepend(exchange.request);
            else if (echo && writeToLine(exchange.request))
                echoedAt = nowMs();
            entry.faults = shaped.note;
            entry.plannedWrites = shaped.writes.size();
            // Replies leave in the order of their requests, even if the delay was shortened.
            qint64 notBefore = scheduled.isEmpty() ? 0 : scheduled.last().dueMs;
            if (echoedAt >= 0)
                notBefore = qMax(notBefore, echoedAt + EchoAheadMs);
            // Taken in turn, the reply (already made, from what the unit held when the request
            // came) is timed from when the unit is done with the ones before.
            const qint64 taken = shaped.inTurn ? qMax(exchange.atMs, busyUntilMs) : exchange.atMs;
            if (shaped.inTurn)
                busyUntilMs = taken;
            for (int part = 0; part < shaped.writes.size(); ++part) {
                const qint64 due = qMax(notBefore, taken + shaped.writes[part].afterMs);
                scheduled.append({due, index, part, part == shaped.writes.size() - 1, shaped.inTurn,
                                  shaped.writes[part].bytes});
                notBefore = due;
                if (shaped.inTurn)
                    busyUntilMs = due;
            }
        } else if (echo) {
            writeToLine(exchange.request);
        }
        if (echo) {
            const QString how = echoJoined ? QStringLiteral("echoed with the reply")
                                           : QStringLiteral("echoed apart");
            entry.faults = entry.faults.isEmpty() ? how : how + QStringLiteral(", ") + entry.faults;
        }
        entries.append(entry);
        flushDueWrites();
        Q_EMIT requestHandled(index);
    }
}

void SimulatedDriver::onWriteTimer()
{
    flushDueWrites();
}

void SimulatedDriver::flushDueWrites()
{
    while (!scheduled.isEmpty() && scheduled.first().dueMs <= nowMs()) {
        const ScheduledWrite write = scheduled.takeFirst();
        // When the timer fires late (a busy machine), the rest of this reply keeps its gaps, and
        // a unit that answers in turn, taking its next request only once this answer is out,
        // moves everything behind it by as much.
        const qint64 now = nowMs();
        const qint64 late = now - write.dueMs;
        if (late > 0) {
            qint64 notBefore = now;
            for (ScheduledWrite &later : scheduled) {
                if (write.inTurn || later.index == write.index)
                    later.dueMs += late;
                later.dueMs = qMax(later.dueMs, notBefore);
                notBefore = later.dueMs;
            }
            if (write.inTurn && busyUntilMs >= write.dueMs)
                busyUntilMs += late;
        }
        if (!writeToLine(write.bytes))
            continue;
        if (write.index >= 0 && write.index < entries.size()) {
            entries[write.index].writes.append(write.bytes);
            entries[write.index].writtenAtMs.append(now);
            Q_EMIT lineWritten(write.index, write.part);
            if (write.last)
                Q_EMIT replyWritten(write.index);
        }
    }
    if (scheduled.isEmpty())
        writeTimer.stop();
    else
        writeTimer.start(int(qMax<qint64>(0, scheduled.first().dueMs - nowMs())));
}

bool SimulatedDriver::writeToLine(const QByteArray &bytes)
{
    if (line) {
        line->send(bytes);
        return true;
    }
    if (serial) {
        const bool ok = serial->write(bytes) == bytes.size();
        serial->flush();
        return ok;
    }
#ifdef Q_OS_UNIX
    if (fd < 0)
        return false;
    // One write call in the normal case; a full buffer is waited on briefly.
    qint64 done = 0;
    int stalledMs = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN && stalledMs < WriteStallMs) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
            stalledMs += 10;
        } else {
            return false;
        }
    }
    return true;
#else
    return false;
#endif
}

QString SimulatedDriver::describe(const LogEntry &entry)
{
    const RtuSlave::Exchange &x = entry.exchange;
    QString line;
    const QString fn = QStringLiteral("%1").arg(x.function, 2, 16, QLatin1Char('0')).toUpper();
    switch (x.outcome) {
    case RtuSlave::Outcome::Discarded:
        line = entry.silenced
                   ? QStringLiteral("-- silent, ignored: %1").arg(hex(x.request))
                   : QStringLiteral("-- no valid frame, ignored: %1").arg(hex(x.request));
        return line;
    case RtuSlave::Outcome::OtherAddress:
        return QStringLiteral("-- for slave %1, ignored: %2").arg(x.slave).arg(hex(x.request));
    case RtuSlave::Outcome::Broadcast:
    case RtuSlave::Outcome::Answered:
        break;
    }
    if (x.function == 0x03 && x.request.size() == 8) {
        QStringList values;
        for (quint16 v : x.values)
            values << QString::number(v);
        line = x.value == 1 ? QStringLiteral("03 %1").arg(x.reg)
                            : QStringLiteral("03 %1 x%2").arg(x.reg).arg(x.value);
        if (!x.values.isEmpty())
            line += QStringLiteral(" -> ") + values.join(QLatin1Char(' '));
    } else if (x.function == 0x06 && x.request.size() == 8) {
        line = QStringLiteral("06 %1 <- %2").arg(x.reg).arg(x.value);
        if (x.exception == 0)
            line += QStringLiteral(" ok");
    } else {
        line = QStringLiteral("%1 (%2)").arg(fn, hex(x.request));
    }
    if (x.exception != 0)
        line += QStringLiteral(" exception %1").arg(x.exception, 2, 10, QLatin1Char('0'));
    if (x.outcome == RtuSlave::Outcome::Broadcast)
        line += QStringLiteral(" (broadcast, no reply)");
    if (!entry.faults.isEmpty())
        line += QStringLiteral(" [") + entry.faults + QLatin1Char(']');
    return line;
}
