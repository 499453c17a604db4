#ifndef MEASUREDLOOP_H
#define MEASUREDLOOP_H

#include <QEventLoop>
#include <QString>

#include <functional>

class LabelWatch;
class MainWindowProbe;

// The window's event loop through one measured run: it waits for the device to come online,
// lets it settle for a second, holds the CPU window open for its length, then goes on until the
// watch has seen enough label changes or the time for them is up. The run takes its own
// counters when the window opens and works out its figures when it closes.
class MeasuredLoop
{
public:
    // To be made after the window, so that its slots run first.
    MeasuredLoop(MainWindowProbe &probe, LabelWatch &watch);

    std::function<void()> opened;
    std::function<void(double seconds)> closed;

    // Empty when the run went through, or else what went wrong. maxSeconds counts from the
    // CPU window's opening.
    QString exec(int cpuSeconds, int minChanges, int maxSeconds);
    qint64 ticks() const { return tickCount; }
    // How long changes were collected.
    double collectSeconds() const { return collectedSeconds; }

private:
    enum Phase { WaitOnline, WarmUp, Measuring, Collecting };

    void tick();

    MainWindowProbe &probe;
    LabelWatch &watch;
    QEventLoop loop;
    Phase phase = WaitOnline;
    int cpuSeconds = 0;
    int minChanges = 0;
    int maxSeconds = 0;
    qint64 startNs = 0;
    qint64 phaseNs = 0;
    qint64 collectStartNs = 0;
    qint64 tickCount = 0;
    double collectedSeconds = 0;
    QString error;
};

#endif // MEASUREDLOOP_H
