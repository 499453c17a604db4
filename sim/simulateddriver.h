#ifndef SIMULATEDDRIVER_H
#define SIMULATEDDRIVER_H

#include "faultplan.h"
#include "lddrivermodel.h"
#include "rtuslave.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <memory>

class PseudoTerminal;
class QSerialPort;
class SimulatedLine;
class QSocketNotifier;

// The simulated LD driver unit on a line: a serial port by name (bench work), the master side
// of a pseudo-terminal it creates itself, a master fd handed in, or a SimulatedLine in memory
// (which attaches itself when the panel's channel opens it). Everything runs on the
// thread's event loop, so the same object serves the command-line program, the demo and tests
// in-process.
//
// Each reply goes out in one write (or two when the fault plan splits it), so the panel sees it
// as one burst. Every frame handled is logged; tests and the benchmark follow the signals.
class SimulatedDriver : public QObject
{
    Q_OBJECT
public:
    struct LogEntry
    {
        RtuSlave::Exchange exchange;
        bool silenced = false;      // arrived while the driver played dead
        QString faults;             // the faults applied to the reply
        QVector<QByteArray> writes; // what went on the line, in order
        QVector<qint64> writtenAtMs;
        int plannedWrites = 0;
    };

    explicit SimulatedDriver(QObject *parent = nullptr);
    ~SimulatedDriver() override;

    // A serial port at 115200 8N1, no flow control.
    bool openPort(const QString &name);
#ifdef Q_OS_UNIX
    // Creates a pseudo-terminal pair; the panel opens slavePath().
    bool openPty();
    // Serves a pseudo-terminal master (or any non-blocking tty fd) that stays the caller's.
    bool openFd(int fd);
#endif
    void close();
    bool isOpen() const;
    QString slavePath() const;
    QString errorString() const
    {
        return error;
    }

    LdDriverModel &model()
    {
        return deviceModel;
    }
    RtuSlave &slave()
    {
        return rtu;
    }
    FaultPlan &faults()
    {
        return plan;
    }

    // How often the physics moves on by itself; 0 freezes it (then tick the model directly).
    void setPhysicsInterval(int ms);
    // Milliseconds since construction: the clock of the log and of the frame timing.
    qint64 nowMs() const
    {
        return clock.elapsed();
    }

    const QVector<LogEntry> &log() const
    {
        return entries;
    }
    // Replies still waiting to go out are sent but no longer logged.
    void clearLog();
    // The one-line text of a log entry: "03 40146 -> 3000", "06 40107 <- 9999 exception 03".
    static QString describe(const LogEntry &entry);

Q_SIGNALS:
    // A frame was handled and log()[index] describes it; writes without delay are already out.
    void requestHandled(int index);
    // Part `part` of the bytes of log()[index] went on the line.
    void lineWritten(int index, int part);
    // The whole reply of log()[index] is on the line: the moment a panel can start reading it.
    void replyWritten(int index);
    // The serial port served went away (adapter unplugged, far end closed): it is closed now
    // and errorString() says which.
    void lineLost();

private:
    friend class SimulatedLine;

    struct ScheduledWrite
    {
        qint64 dueMs;
        int index; // into entries, -1 once the log was cleared
        int part;
        bool last;
        bool inTurn; // a late write holds back the unit's later answers as well
        QByteArray bytes;
    };

    void onReadable();
    void onSerialReadyRead();
    void onFrameTimer();
    void onWriteTimer();
    void received(const QByteArray &bytes);
    QByteArray drainFd();
    void handleExchanges();
    void scheduleFramePoll();
    void flushDueWrites();
    bool writeToLine(const QByteArray &bytes);
    void advancePhysics();
    void checkLine();

    LdDriverModel deviceModel;
    RtuSlave rtu;
    FaultPlan plan;
    QElapsedTimer clock;
    QTimer frameTimer;
    QTimer writeTimer;
    QTimer physicsTimer;
    QTimer lineWatch; // while a serial port is served
    qint64 physicsAtMs = 0;
    int physicsIntervalMs = 100;

    QSerialPort *serial = nullptr;
    QSocketNotifier *notifier = nullptr;
    int fd = -1;
    SimulatedLine *line = nullptr;
#ifdef Q_OS_UNIX
    std::unique_ptr<PseudoTerminal> pty;
#endif
    QString error;

    QVector<LogEntry> entries;
    QVector<ScheduledWrite> scheduled; // in due order
    qint64 busyUntilMs = 0;            // a unit that answers in turn is done with earlier requests
};

#endif // SIMULATEDDRIVER_H
