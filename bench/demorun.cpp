#include "demorun.h"

#include "benchclock.h"
#include "hcom.h"
#include "labelwatch.h"
#include "mainwindow.h"
#include "mainwindowprobe.h"
#include "measuredloop.h"
#include "percentile.h"
#include "registermap.h"
#include "simulateddriver.h"
#include "simulatedline.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

DemoRun::Result DemoRun::run(Line line, int cpuSeconds, int minChanges)
{
    Result result;
    // Before the unit: its slots use the watch until the unit is gone.
    LabelWatch watch;
    SimulatedDriver driver;
    watch.serve(driver);
    QString port = QStringLiteral("Simulated driver");
    if (line == Line::PseudoTerminal) {
        if (!driver.openPty()) {
            result.error = driver.errorString();
            return result;
        }
        port = driver.slavePath();
    }
    int reads = 0;
    QObject::connect(&driver, &SimulatedDriver::requestHandled, [&](int index) {
        if (driver.log().at(index).exchange.function == RegisterMap::FunctionReadHolding)
            ++reads;
        if (driver.log().size() > 1000)
            QTimer::singleShot(0, &driver, [&driver] { driver.clearLog(); });
    });

    MainWindow window;
    MainWindowProbe probe(window);
    if (line == Line::Memory) {
        PortSource source = Hcom::systemPorts();
        source.line = [&driver, port](const QString &name) -> std::unique_ptr<SerialLine> {
            if (name != port)
                return nullptr;
            return std::make_unique<SimulatedLine>(driver);
        };
        window.setPortSource(source);
    }
    window.show();
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comb_comName"));
    ports->insertItem(0, port);
    ports->setCurrentIndex(0);
    window.findChild<QPushButton *>(QStringLiteral("btn_comSet"))->click();

    watch.attach(window);
    MeasuredLoop loop(probe, watch);
    qint64 cpuStart = 0;
    qint64 ticksStart = 0;
    int readsStart = 0;
    loop.opened = [&] {
        cpuStart = BenchClock::processCpuNs();
        readsStart = reads;
        ticksStart = loop.ticks();
    };
    loop.closed = [&](double seconds) {
        result.seconds = seconds;
        result.cpuPercent = (BenchClock::processCpuNs() - cpuStart) / (seconds * 1e7);
        result.pollsPerSecond = (reads - readsStart) / seconds;
        result.ticksPerSecond = (loop.ticks() - ticksStart) / seconds;
    };
    result.error = loop.exec(cpuSeconds, minChanges, std::max(120, cpuSeconds * 2));
    result.latenciesMs = watch.latenciesMs();
    return result;
}

int DemoRun::runChild(const QString &line, int cpuSeconds, int minChanges)
{
    const Result result = run(line == QLatin1String("pty") ? Line::PseudoTerminal : Line::Memory,
                              cpuSeconds, minChanges);
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "ldpanel-bench: %s\n", qPrintable(result.error));
        return 1;
    }
    std::printf("cpu_percent %.6f\npolls_per_second %.6f\nticks_per_second %.6f\nchanges %d\n",
                result.cpuPercent, result.pollsPerSecond, result.ticksPerSecond,
                int(result.latenciesMs.size()));
    std::printf("latency_median_ms %.6f\nlatency_p99_ms %.6f\nlatency_max_ms %.6f\n",
                percentile(result.latenciesMs, 0.5), percentile(result.latenciesMs, 0.99),
                percentile(result.latenciesMs, 1.0));
    return 0;
}

bool DemoRun::compare(int cpuSeconds, int minChanges)
{
    // One after the other: side by side, each would take CPU the other is measured on.
    const QStringList lines{QStringLiteral("memory"), QStringLiteral("pty")};
    for (const QString &line : lines) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--demo-line"), line, QStringLiteral("--seconds"),
                     QString::number(cpuSeconds), QStringLiteral("--min-changes"),
                     QString::number(minChanges)});
        if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit ||
            child.exitCode() != 0) {
            std::fprintf(stderr, "ldpanel-bench: --demo-line %s failed\n", qPrintable(line));
            return false;
        }
        QMap<QString, double> figures;
        for (const QByteArray &row : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = row.split(' ');
            if (parts.size() == 2)
                figures.insert(QString::fromLatin1(parts[0]), parts[1].toDouble());
        }
        std::printf("demo on %s: CPU %.2f %% of one core, simulated unit included; "
                    "reply-to-display median %.2f ms, 99th percentile %.2f ms, max %.2f ms over "
                    "%.0f changes; %.2f poll requests and %.0f ticks per second\n",
                    line == QLatin1String("pty") ? "a pseudo-terminal" : "the in-memory line",
                    figures.value(QStringLiteral("cpu_percent")),
                    figures.value(QStringLiteral("latency_median_ms")),
                    figures.value(QStringLiteral("latency_p99_ms")),
                    figures.value(QStringLiteral("latency_max_ms")),
                    figures.value(QStringLiteral("changes")),
                    figures.value(QStringLiteral("polls_per_second")),
                    figures.value(QStringLiteral("ticks_per_second")));
    }
    return true;
}
