#include "panelrun.h"

#include "benchclock.h"
#include "labelwatch.h"
#include "mainwindow.h"
#include "mainwindowprobe.h"
#include "measuredloop.h"
#include "registermap.h"
#include "simulateddriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

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
        QTemporaryDir recordFolder;
        const QString recordPath = recordFolder.filePath(QStringLiteral("bench.csv"));
        if (options.withHistory) {
            window.findChild<QAction *>(QStringLiteral("actionTrend"))->trigger();
            if (!probe.startRecord(recordPath))
                result.error = QStringLiteral("the record could not start");
        }

        shared.watch.attach(window);
        MeasuredLoop loop(probe, shared.watch);
        qint64 cpuStart = 0, simCpuStart = 0, ticksStart = 0, wakeupsStart = 0;
        int readsStart = 0;
        loop.opened = [&] {
            cpuStart = BenchClock::processCpuNs();
            simCpuStart = BenchClock::threadCpuNs(driverPthread);
            ticksStart = loop.ticks();
            wakeupsStart = BenchClock::threadWakeups();
            readsStart = shared.reads;
        };
        loop.closed = [&](double seconds) {
            const double simCpu = BenchClock::threadCpuNs(driverPthread) - simCpuStart;
            const double cpu = BenchClock::processCpuNs() - cpuStart - simCpu;
            result.seconds = seconds;
            result.ticksPerSecond = (loop.ticks() - ticksStart) / seconds;
            result.wakeupsPerSecond = (BenchClock::threadWakeups() - wakeupsStart) / seconds;
            result.pollsPerSecond = (shared.reads - readsStart) / seconds;
            result.cpuPercent = cpu / (seconds * 1e7);
            result.simCpuPercent = simCpu / (seconds * 1e7);
        };
        if (result.error.isEmpty())
            result.error = loop.exec(options.cpuSeconds, options.minChanges, options.maxSeconds);
        result.latencySeconds = loop.collectSeconds();
        result.latenciesMs = shared.watch.latenciesMs();
        QFile record(recordPath);
        if (options.withHistory && record.open(QIODevice::ReadOnly))
            result.recordRows = int(record.readAll().count('\n')) - 1;
    }

    result.peakRssKiB = BenchClock::peakRssKiB();
    driverThread->quit();
    driverThread->wait();
    return result;
}
