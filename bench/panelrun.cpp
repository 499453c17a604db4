#include "panelrun.h"

#include "benchclock.h"
#include "hcom.h"
#include "labelwatch.h"
#include "mainwindow.h"
#include "mainwindowprobe.h"
#include "registermap.h"
#include "simulateddriver.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QMutex>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

// What the driver's thread hands to the GUI thread.
struct DriverShared
{
    std::atomic<bool> ready{false};
    QMutex mutex; // guards the fields below until ready is set
    QString slavePath;
    QString error;
    pthread_t thread{};
    std::atomic<int> reads{0};
    LabelWatch watch;
};

void serveDriver(DriverShared &shared)
{
    SimulatedDriver driver;
    shared.watch.serve(driver);
    if (!driver.openPty()) {
        QMutexLocker lock(&shared.mutex);
        shared.error = QStringLiteral("cannot open a pseudo-terminal: ") + driver.errorString();
        shared.ready = true;
        return;
    }
    QObject::connect(
        &driver, &SimulatedDriver::requestHandled, &driver,
        [&](int index) {
            const RtuSlave::Exchange &exchange = driver.log().at(index).exchange;
            if (exchange.function == RegisterMap::FunctionReadHolding)
                ++shared.reads;
        },
        Qt::DirectConnection);
    {
        QMutexLocker lock(&shared.mutex);
        shared.slavePath = driver.slavePath();
        shared.thread = pthread_self();
    }
    shared.ready = true;
    QEventLoop loop;
    loop.exec();
}

} // namespace

PanelRun::Result PanelRun::run(const Options &options)
{
    Result result;
    result.platform = QGuiApplication::platformName();

    DriverShared shared;
    std::unique_ptr<QThread> driverThread(QThread::create([&shared] { serveDriver(shared); }));
    driverThread->start();
    const qint64 readyBy = BenchClock::monotonicNs() + 5000000000LL;
    while (!shared.ready && BenchClock::monotonicNs() < readyBy)
        QThread::msleep(1);
    QString slavePath;
    pthread_t driverPthread;
    {
        QMutexLocker lock(&shared.mutex);
        result.error = shared.ready ? shared.error : QStringLiteral("the driver did not start");
        slavePath = shared.slavePath;
        driverPthread = shared.thread;
    }
    if (!result.error.isEmpty()) {
        driverThread->quit();
        driverThread->wait();
        return result;
    }

    {
        MainWindow window;
        MainWindowProbe probe(window);
        window.show();

        // A pseudo-terminal is not in the port list: it is put there as an operator would type it.
        QComboBox *ports = window.findChild<QComboBox *>(QStringLiteral("comb_comName"));
        ports->addItem(slavePath);
        ports->setCurrentIndex(ports->count() - 1);
        window.findChild<QPushButton *>(QStringLiteral("btn_comSet"))->click();

        LabelWatch &watch = shared.watch;
        watch.attach(window);

        enum Phase { WaitOnline, WarmUp, Measuring, Collecting };
        Phase phase = WaitOnline;
        const qint64 startNs = BenchClock::monotonicNs();
        qint64 phaseNs = startNs;
        qint64 ticks = 0;
        qint64 cpuStart = 0, simCpuStart = 0, ticksStart = 0, collectStartNs = 0, wakeupsStart = 0;
        int readsStart = 0;
        QEventLoop loop;

        // A reply is shown in the receive poll that completes its burst, or failing that on the
        // next tick. Both watchers are connected after the window's own slots on the same
        // signals, so each runs right after the window has written its labels.
        QObject::connect(&probe.com(), &Hcom::readSignal, &loop,
                         [&] { watch.look(BenchClock::monotonicNs()); });
        QObject::connect(&probe.tickTimer(), &QTimer::timeout, &loop, [&] {
            ++ticks;
            const qint64 now = BenchClock::monotonicNs();
            watch.look(now);
            switch (phase) {
            case WaitOnline:
                if (probe.deviceOnline() == 1) {
                    phase = WarmUp;
                    phaseNs = now;
                } else if (now - startNs > 10000000000LL) {
                    result.error = QStringLiteral("the device did not come online");
                    loop.quit();
                }
                break;
            case WarmUp:
                if (now - phaseNs >= 1000000000LL) {
                    phase = Measuring;
                    phaseNs = collectStartNs = now;
                    watch.start(now);
                    cpuStart = BenchClock::processCpuNs();
                    simCpuStart = BenchClock::threadCpuNs(driverPthread);
                    ticksStart = ticks;
                    wakeupsStart = BenchClock::threadWakeups();
                    readsStart = shared.reads;
                }
                break;
            case Measuring:
                if (now - phaseNs >= qint64(options.cpuSeconds) * 1000000000LL) {
                    const double seconds = (now - phaseNs) / 1e9;
                    const double simCpu = BenchClock::threadCpuNs(driverPthread) - simCpuStart;
                    const double cpu = BenchClock::processCpuNs() - cpuStart - simCpu;
                    result.seconds = seconds;
                    result.ticksPerSecond = (ticks - ticksStart) / seconds;
                    result.wakeupsPerSecond =
                        (BenchClock::threadWakeups() - wakeupsStart) / seconds;
                    result.pollsPerSecond = (shared.reads - readsStart) / seconds;
                    result.cpuPercent = cpu / (seconds * 1e7);
                    result.simCpuPercent = simCpu / (seconds * 1e7);
                    phase = Collecting;
                }
                break;
            case Collecting:
                break;
            }
            if (phase == Collecting &&
                (watch.latenciesMs().size() >= options.minChanges ||
                 now - collectStartNs > qint64(options.maxSeconds) * 1000000000LL)) {
                result.latencySeconds = (now - collectStartNs) / 1e9;
                loop.quit();
            }
        });
        loop.exec();
        result.latenciesMs = watch.latenciesMs();
    }

    result.peakRssKiB = BenchClock::peakRssKiB();
    driverThread->quit();
    driverThread->wait();
    return result;
}
