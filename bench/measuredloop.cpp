#include "measuredloop.h"

#include "benchclock.h"
#include "hcom.h"
#include "labelwatch.h"
#include "mainwindowprobe.h"

#include <QTimer>

MeasuredLoop::MeasuredLoop(MainWindowProbe &probe, LabelWatch &watch) : probe(probe), watch(watch)
{
    // A reply is shown in the receive poll that completes its burst, or failing that on the
    // next tick. Both are connected after the window's own slots on the same signals, so the
    // watch looks right after the window has written its labels.
    QObject::connect(&probe.com(), &Hcom::readSignal, &loop,
                     [this] { this->watch.look(BenchClock::monotonicNs()); });
    QObject::connect(&probe.tickTimer(), &QTimer::timeout, &loop, [this] { tick(); });
}

QString MeasuredLoop::exec(int cpuSeconds, int minChanges, int maxSeconds)
{
    this->cpuSeconds = cpuSeconds;
    this->minChanges = minChanges;
    this->maxSeconds = maxSeconds;
    phase = WaitOnline;
    startNs = phaseNs = BenchClock::monotonicNs();
    error.clear();
    loop.exec();
    return error;
}

void MeasuredLoop::tick()
{
    ++tickCount;
    const qint64 now = BenchClock::monotonicNs();
    watch.look(now);
    switch (phase) {
    case WaitOnline:
        if (probe.deviceOnline() == 1) {
            phase = WarmUp;
            phaseNs = now;
        } else if (now - startNs > 10000000000LL) {
            error = QStringLiteral("the device did not come online");
            loop.quit();
        }
        break;
    case WarmUp:
        if (now - phaseNs >= 1000000000LL) {
            phase = Measuring;
            phaseNs = collectStartNs = now;
            watch.start(now);
            if (opened)
                opened();
        }
        break;
    case Measuring:
        if (now - phaseNs >= qint64(cpuSeconds) * 1000000000LL) {
            if (closed)
                closed((now - phaseNs) / 1e9);
            phase = Collecting;
        }
        break;
    case Collecting:
        break;
    }
    if (phase == Collecting && (watch.latenciesMs().size() >= minChanges ||
                                now - collectStartNs > qint64(maxSeconds) * 1000000000LL)) {
        collectedSeconds = (now - collectStartNs) / 1e9;
        loop.quit();
    }
}
