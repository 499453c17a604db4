#ifndef SIMULATEDLINE_H
#define SIMULATEDLINE_H

#include "linedirection.h"
#include "serialline.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>

class SimulatedDriver;

// A line in memory between the panel's channel and a simulated unit in the same process. Each
// byte comes through one character time after the one before (about 87 us at 115200 baud), on a
// monotonic clock, so a channel polling every millisecond reads a reply in the bursts a serial
// port would give it. The unit's line faults are the unit's own and reach the line as the bytes
// it writes; a channel set to another baud rate hears what a UART at that rate would make of
// them. No thread: what has reached the unit is handed to it from a timer.
class SimulatedLine : public SerialLine
{
public:
    static constexpr int UnitBaud = 115200;

    explicit SimulatedLine(SimulatedDriver &driver);
    ~SimulatedLine() override;
    SimulatedLine(const SimulatedLine &) = delete;
    SimulatedLine &operator=(const SimulatedLine &) = delete;

    // Fails while the unit is on another line.
    bool open(const QString &name, const ComSettings &settings) override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &bytes) override;
    QByteArray readArrived() override;
    QString errorString() const override;
    // Once the unit has let go of the line (closed, or gone with its program's end).
    bool gone() override;

private:
    friend class SimulatedDriver;

    // The unit's side, called by SimulatedDriver.
    void send(const QByteArray &bytes);
    QByteArray arrivedAtUnit();
    void unitLetGo();

    void handToUnit();
    void scheduleUnit();

    SimulatedDriver *driver;
    bool opened = false;
    int channelBaud = UnitBaud;
    QString error;
    QElapsedTimer clock;
    LineDirection toChannel;
    LineDirection toUnit;
    QTimer unitTimer;
};

#endif // SIMULATEDLINE_H
