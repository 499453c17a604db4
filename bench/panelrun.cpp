#include "panelrun.h"

#include "benchclock.h"
#include "hcom.h"
#include "mainwindow.h"
#include "mainwindowprobe.h"
#include "registermap.h"
#include "simulateddriver.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMutex>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <array>
#include <atomic>
#include <memory>

namespace {

// The five read-outs and the register each one shows.
constexpr int LabelCount = 5;
// How long after a reply the labels are watched. A change later than that is seen in the window
// of the next reply, so its latency comes out too long, never too short.
constexpr qint64 WatchNs = 20000000;
const char *const LabelNames[LabelCount] = {"ldState", "tecRtTemp", "ldSetCurrent", "ldSetPower",
                                            "ldMaxCur"};
constexpr quint16 LabelRegisters[LabelCount] = {RegisterMap::LdSwitch, RegisterMap::TecTemp,
                                                RegisterMap::LdCurrentSetting, RegisterMap::LdPower,
                                                RegisterMap::LdMaxCurrent};

int labelOf(quint16 reg)
{
    for (int i = 0; i < LabelCount; ++i) {
        if (LabelRegisters[i] == reg)
            return i;
    }
    return -1;
}

// What the driver's thread hands to the GUI thread.
struct DriverShared
{
    std::atomic<bool> ready{false};
    QMutex mutex; // guards the fields below until ready is set
    QString slavePath;
    QString error;
    pthread_t thread{};
    std::atomic<int> reads{0};
    std::array<std::atomic<qint64>, LabelCount> lastReplyNs{};
    std::atomic<qint64> latestReplyNs{0};
};

// Sets the shown registers after each request so the next read of each one differs from its last:
// consecutive reads of one register are one poll cycle (7 requests, an odd number) apart.
void churn(LdDriverModel &model, int n)
{
    model.setMaxCurrent(quint16(2000 + n % 1000));
    model.setCurrentSetting(quint16(500 + n % 1000));
    model.setTecTemperature(2000 + n % 1000);
    model.setLdOn(n % 2 == 1);
}

void serveDriver(DriverShared &shared)
{
    SimulatedDriver driver;
    driver.setPhysicsInterval(0);
    driver.model().setNoise(0);
    driver.model().setPowerSlope(0.5);
    churn(driver.model(), 0);
    if (!driver.openPty()) {
        QMutexLocker lock(&shared.mutex);
        shared.error = QStringLiteral("cannot open a pseudo-terminal: ") + driver.errorString();
        shared.ready = true;
        return;
    }
    int handled = 0;
    QObject::connect(
        &driver, &SimulatedDriver::requestHandled, &driver,
        [&](int index) {
            const RtuSlave::Exchange &exchange = driver.log().at(index).exchange;
            if (exchange.function == RegisterMap::FunctionReadHolding)
                ++shared.reads;
            churn(driver.model(), ++handled);
        },
        Qt::DirectConnection);
    QObject::connect(
        &driver, &SimulatedDriver::replyWritten, &driver,
        [&](int index) {
            const qint64 now = BenchClock::monotonicNs();
            const RtuSlave::Exchange &exchange = driver.log().at(index).exchange;
            const int label = labelOf(exchange.reg);
            if (exchange.function == RegisterMap::FunctionReadHolding && label >= 0)
                shared.lastReplyNs[label] = now;
            shared.latestReplyNs = now;
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

        std::array<QLabel *, LabelCount> labels{};
        std::array<QString, LabelCount> shown;
        std::array<qint64, LabelCount> changedAtNs{};
        for (int i = 0; i < LabelCount; ++i) {
            labels[i] = window.findChild<QLabel *>(QLatin1String(LabelNames[i]));
            shown[i] = labels[i]->text();
        }

        enum Phase { WaitOnline, WarmUp, Measuring, Collecting };
        Phase phase = WaitOnline;
        const qint64 startNs = BenchClock::monotonicNs();
        qint64 phaseNs = startNs;
        qint64 ticks = 0;
        qint64 cpuStart = 0, simCpuStart = 0, ticksStart = 0, collectStartNs = 0, wakeupsStart = 0;
        int readsStart = 0;
        QEventLoop loop;

        // The labels are only looked at for a while after each reply, so that watching them
        // adds next to nothing to the panel's CPU time.
        auto watchLabels = [&](qint64 now) {
            if (phase < Measuring || now - shared.latestReplyNs >= WatchNs)
                return;
            for (int i = 0; i < LabelCount; ++i) {
                const QString text = labels[i]->text();
                if (text == shown[i])
                    continue;
                shown[i] = text;
                // Only a change brought by a reply written since the label last changed.
                const qint64 replyNs = shared.lastReplyNs[i];
                if (replyNs > changedAtNs[i] && replyNs >= collectStartNs)
                    result.latenciesMs.append((now - replyNs) / 1e6);
                changedAtNs[i] = now;
            }
        };
        // A reply is shown in the receive poll that completes its burst, or failing that on the
        // next tick. Both watchers are connected after the window's own slots on the same
        // signals, so each runs right after the window has written its labels.
        QObject::connect(&probe.com(), &Hcom::readSignal, &loop,
                         [&] { watchLabels(BenchClock::monotonicNs()); });
        QObject::connect(&probe.tickTimer(), &QTimer::timeout, &loop, [&] {
            ++ticks;
            const qint64 now = BenchClock::monotonicNs();
            watchLabels(now);
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
                (result.latenciesMs.size() >= options.minChanges ||
                 now - collectStartNs > qint64(options.maxSeconds) * 1000000000LL)) {
                result.latencySeconds = (now - collectStartNs) / 1e9;
                loop.quit();
            }
        });
        if (result.error.isEmpty())
            loop.exec();
        QFile record(recordPath);
        if (options.withHistory && record.open(QIODevice::ReadOnly))
            result.recordRows = int(record.readAll().count('\n')) - 1;
    }

    result.peakRssKiB = BenchClock::peakRssKiB();
    driverThread->quit();
    driverThread->wait();
    return result;
}
