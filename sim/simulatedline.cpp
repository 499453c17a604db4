#include "simulatedline.h"

#include "simulateddriver.h"

#include <QObject>

namespace {

constexpr qint64 NsPerMs = 1000000;

} // namespace

SimulatedLine::SimulatedLine(SimulatedDriver &driver) : driver(&driver)
{
    clock.start();
    unitTimer.setSingleShot(true);
    unitTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&unitTimer, &QTimer::timeout, [this] { handToUnit(); });
}

SimulatedLine::~SimulatedLine()
{
    close();
}

bool SimulatedLine::open(const QString &name, const ComSettings &settings)
{
    Q_UNUSED(name)
    if (opened)
        close();
    if (!driver) {
        error = QStringLiteral("The simulated unit is gone");
        return false;
    }
    if (driver->line && driver->line != this) {
        error = QStringLiteral("The simulated unit is on another line");
        return false;
    }
    driver->line = this;
    channelBaud = settings.baudRate > 0 ? settings.baudRate : UnitBaud;
    toChannel.clear();
    toUnit.clear();
    opened = true;
    error.clear();
    return true;
}

void SimulatedLine::close()
{
    unitTimer.stop();
    if (driver && driver->line == this)
        driver->line = nullptr;
    toChannel.clear();
    toUnit.clear();
    opened = false;
}

bool SimulatedLine::isOpen() const
{
    return opened;
}

void SimulatedLine::write(const QByteArray &bytes)
{
    if (!opened || !driver || bytes.isEmpty())
        return;
    toUnit.put(bytes, clock.nsecsElapsed(), channelBaud, UnitBaud);
    scheduleUnit();
}

QByteArray SimulatedLine::readArrived()
{
    return toChannel.take(clock.nsecsElapsed());
}

QString SimulatedLine::errorString() const
{
    return error;
}

bool SimulatedLine::gone()
{
    return opened && !driver;
}

void SimulatedLine::send(const QByteArray &bytes)
{
    if (opened)
        toChannel.put(bytes, clock.nsecsElapsed(), UnitBaud, channelBaud);
}

QByteArray SimulatedLine::arrivedAtUnit()
{
    return toUnit.take(clock.nsecsElapsed());
}

void SimulatedLine::unitLetGo()
{
    unitTimer.stop();
    driver = nullptr;
}

void SimulatedLine::handToUnit()
{
    // A timer may wake a little ahead of the clock: the unit has the bytes all at once, as a
    // pseudo-terminal hands over a write, rather than in pieces.
    if (toUnit.lastArrivalNs() > clock.nsecsElapsed()) {
        scheduleUnit();
        return;
    }
    const QByteArray bytes = arrivedAtUnit();
    if (driver && !bytes.isEmpty())
        driver->received(bytes);
}

// Wakes when the last byte on its way to the unit has come through: the unit cuts frames by
// their length or by a silence of milliseconds, so handing it the bytes together changes nothing.
void SimulatedLine::scheduleUnit()
{
    const qint64 lastNs = toUnit.lastArrivalNs();
    if (lastNs < 0) {
        unitTimer.stop();
        return;
    }
    const qint64 waitNs = lastNs - clock.nsecsElapsed();
    unitTimer.start(int(qMax<qint64>(0, (waitNs + NsPerMs - 1) / NsPerMs)));
}
