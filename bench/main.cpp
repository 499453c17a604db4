// ldpanel-bench: the panel's cost and responsiveness against the simulated driver.
//
// Without a mode it runs itself as child processes, side by side on the same platform: the
// floor (a bare event loop with two 1 ms timers that do nothing), the panel, the floor again,
// then a few fresh starts of the panel for the start-up time, and prints one line per figure.

#include "appearance.h"
#include "benchclock.h"
#include "demorun.h"
#include "historymemory.h"
#include "mainwindow.h"
#include "panelrun.h"
#include "percentile.h"
#include "pseudoterminal.h"
#include "trendpaint.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEvent>
#include <QMap>
#include <QProcess>
#include <QSerialPort>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using Figures = QMap<QString, QString>;

void put(const char *key, double value)
{
    std::printf("%s %.6f\n", key, value);
}

// Two 1 ms timers doing nothing: what any panel with the same two timers costs at the least.
// With a port, a serial port is open besides on an idle pseudo-terminal: what the event loop
// pays for watching the line, before any byte is read.
int runFloor(int seconds, bool withPort)
{
    PseudoTerminal pty;
    QSerialPort port;
    if (withPort) {
        port.setPortName(pty.open() ? pty.slavePath() : QString());
        if (!port.open(QIODevice::ReadWrite)) {
            std::fprintf(stderr, "ldpanel-bench: cannot open a pseudo-terminal for the floor\n");
            return 1;
        }
    }
    QTimer first;
    QTimer second;
    qint64 ticks = 0;
    QObject::connect(&first, &QTimer::timeout, [&ticks] { ++ticks; });
    QObject::connect(&second, &QTimer::timeout, [] {});
    first.start(1);
    second.start(1);

    qint64 cpuStart = 0, ticksStart = 0, startNs = 0, wakeupsStart = 0;
    QTimer::singleShot(1000, [&] {
        startNs = BenchClock::monotonicNs();
        cpuStart = BenchClock::processCpuNs();
        ticksStart = ticks;
        wakeupsStart = BenchClock::threadWakeups();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double wall = BenchClock::monotonicNs() - startNs;
        put("cpu_percent", (BenchClock::processCpuNs() - cpuStart) / wall * 100);
        put("ticks_per_second", (ticks - ticksStart) / (wall / 1e9));
        put("wakeups_per_second", (BenchClock::threadWakeups() - wakeupsStart) / (wall / 1e9));
        put("peak_rss_kib", BenchClock::peakRssKiB());
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

int runPanel(const PanelRun::Options &options)
{
    const PanelRun::Result result = PanelRun::run(options);
    if (!result.error.isEmpty()) {
        std::fprintf(stderr, "ldpanel-bench: %s\n", qPrintable(result.error));
        return 1;
    }
    std::printf("platform %s\n", qPrintable(result.platform));
    put("seconds", result.seconds);
    put("ticks_per_second", result.ticksPerSecond);
    put("polls_per_second", result.pollsPerSecond);
    put("wakeups_per_second", result.wakeupsPerSecond);
    put("cpu_percent", result.cpuPercent);
    put("sim_cpu_percent", result.simCpuPercent);
    put("peak_rss_kib", result.peakRssKiB);
    put("latency_seconds", result.latencySeconds);
    put("latency_changes", result.latenciesMs.size());
    put("latency_median_ms", percentile(result.latenciesMs, 0.5));
    put("latency_p99_ms", percentile(result.latenciesMs, 0.99));
    put("latency_max_ms", percentile(result.latenciesMs, 1.0));
    if (options.withHistory)
        put("record_rows", result.recordRows);
    return 0;
}

// Sees the window's first expose, the moment it is on the screen.
class ExposeWatch : public QObject
{
public:
    explicit ExposeWatch(QWidget &window) : window(window) {}
    qint64 exposedNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && exposedNs == 0 && window.windowHandle() &&
            watched == window.windowHandle() && window.windowHandle()->isExposed()) {
            exposedNs = BenchClock::monotonicNs();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }

private:
    QWidget &window;
};

int runStartup(qint64 startedNs)
{
    MainWindow window;
    ExposeWatch watch(window);
    qApp->installEventFilter(&watch);
    window.show();
    QTimer::singleShot(10000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    if (watch.exposedNs == 0) {
        std::fprintf(stderr, "ldpanel-bench: the window was not exposed\n");
        return 1;
    }
    put("startup_ms", (watch.exposedNs - startedNs) / 1e6);
    return 0;
}

// This program again in a child mode, printing "key value" lines.
class Child
{
public:
    explicit Child(const QStringList &arguments) : arguments(arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args = arguments;
        if (arguments.first() == QLatin1String("--startup"))
            args << QStringLiteral("--started-ns") << QString::number(BenchClock::monotonicNs());
        process.start(QCoreApplication::applicationFilePath(), args);
    }

    bool finish(Figures &figures)
    {
        if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            std::fprintf(stderr, "ldpanel-bench: %s failed\n", qPrintable(arguments.join(' ')));
            return false;
        }
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            const int space = line.indexOf(' ');
            if (space > 0)
                figures.insert(QString::fromUtf8(line.left(space)),
                               QString::fromUtf8(line.mid(space + 1)));
        }
        return true;
    }

private:
    QStringList arguments;
    QProcess process;
};

bool runChild(const QStringList &arguments, Figures &figures)
{
    Child child(arguments);
    return child.finish(figures);
}

double number(const Figures &figures, const char *key)
{
    return figures.value(QLatin1String(key)).toDouble();
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT met";
}

// The trend's history after a simulated 24 hours and the cost of a paint, from a child of their
// own: the history's memory is measured against the child's resident size.
bool printTrendFigures()
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--trend")});
    if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        std::fprintf(stderr, "ldpanel-bench: --trend failed\n");
        return false;
    }
    // Only the lines for people; the child's figures for a parser stay behind.
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("trend "))
            std::printf("%s\n", line.constData());
    }
    return true;
}

int runAll(int seconds, int minChanges, int starts, bool withHistory)
{
    const QString secondsText = QString::number(seconds);
    // The floor alone first, then a floor alongside the panel: the two processes run at the
    // same time on the two cores, so both see the same load from anything else on the machine.
    Figures alone, beside, besidePort, panel;
    if (!runChild({QStringLiteral("--floor"), secondsText}, alone))
        return 1;
    {
        QStringList panelArguments{QStringLiteral("--panel"), secondsText,
                                   QStringLiteral("--min-changes"), QString::number(minChanges)};
        if (withHistory)
            panelArguments << QStringLiteral("--with-history");
        Child panelChild(panelArguments);
        // The panel's window opens once the device is online and a second has passed.
        QThread::msleep(500);
        Child floorChild({QStringLiteral("--floor"), secondsText});
        Child portChild({QStringLiteral("--floor-port"), secondsText});
        if (!floorChild.finish(beside) || !portChild.finish(besidePort) ||
            !panelChild.finish(panel))
            return 1;
    }
    QVector<double> startups;
    for (int i = 0; i < starts; ++i) {
        Figures start;
        if (!runChild({QStringLiteral("--startup")}, start))
            return 1;
        startups.append(number(start, "startup_ms"));
    }

    const double floorCpu = number(beside, "cpu_percent");
    const double floorTicks = number(beside, "ticks_per_second");
    const double panelCpu = number(panel, "cpu_percent");
    const double panelTicks = number(panel, "ticks_per_second");
    const double ratio = floorCpu > 0 ? panelCpu / floorCpu : 0;
    const double tickDeviation = floorTicks > 0 ? (panelTicks / floorTicks - 1) * 100 : 0;
    const double polls = number(panel, "polls_per_second");
    const double rssMiB = number(panel, "peak_rss_kib") / 1024;
    const double p99 = number(panel, "latency_p99_ms");
    const int changes = int(number(panel, "latency_changes"));

    std::printf("platform: %s\n", qPrintable(panel.value(QStringLiteral("platform"))));
    if (withHistory)
        std::printf("trend window open, record running: %d rows written\n",
                    int(number(panel, "record_rows")));
    std::printf("ticks per second: %.1f (floor %.1f, %+.2f %%)\n", panelTicks, floorTicks,
                tickDeviation);
    std::printf("poll requests per second: %.2f (%.2f per 1000 ticks)\n", polls,
                panelTicks > 0 ? polls / panelTicks * 1000 : 0);
    std::printf("panel CPU: %.2f %% of one core over %.0f s (simulator thread excluded: %.2f %%)\n",
                panelCpu, number(panel, "seconds"), number(panel, "sim_cpu_percent"));
    std::printf("floor CPU: %.2f %% of one core alongside the panel (%.2f %% alone before it); "
                "panel/floor %.2f\n",
                floorCpu, number(alone, "cpu_percent"), ratio);
    const double portCpu = number(besidePort, "cpu_percent");
    std::printf("floor with an open, idle serial port: %.2f %% of one core alongside the panel; "
                "panel/that %.2f\n",
                portCpu, portCpu > 0 ? panelCpu / portCpu : 0);
    std::printf("GUI thread wake-ups per second: panel %.0f, floor %.0f\n",
                number(panel, "wakeups_per_second"), number(beside, "wakeups_per_second"));
    std::printf("peak resident memory: %.1f MiB (floor process %.1f MiB)\n", rssMiB,
                number(beside, "peak_rss_kib") / 1024);
    std::printf("reply-to-display latency: median %.2f ms, 99th percentile %.2f ms, max %.2f ms "
                "over %d changes (collected for %.0f s)\n",
                number(panel, "latency_median_ms"), p99, number(panel, "latency_max_ms"), changes,
                number(panel, "latency_seconds"));
    std::sort(startups.begin(), startups.end());
    std::printf("start-up time: %.0f ms (median of %d starts, %.0f to %.0f ms)\n",
                percentile(startups, 0.5), int(startups.size()), startups.value(0),
                startups.value(startups.size() - 1));
    std::printf("target panel/floor CPU <= 1.3: %s\n", verdict(ratio <= 1.3));
    std::printf("target latency 99th percentile <= 7 ms: %s\n",
                verdict(changes >= minChanges && p99 <= 7));
    std::printf("target ticks per second within 5 %% of the floor: %s\n",
                verdict(std::fabs(tickDeviation) <= 5));
    std::printf("target peak resident memory <= 60 MiB: %s\n", verdict(rssMiB <= 60));
    if (!printTrendFigures())
        return 1;
    return DemoRun::compare(seconds, minChanges) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Only the parent needs no display; every child runs on the platform it was given.
    bool child = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--floor" || arg == "--floor-port" || arg == "--panel" || arg == "--startup" ||
            arg == "--demo-line" || arg == "--trend")
            child = true;
    }
    if (child)
        Appearance::prepare();
    std::unique_ptr<QCoreApplication> app(child ? new QApplication(argc, argv)
                                                : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("ldpanel-bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the panel against the simulated driver and prints its tick rate, poll rate, CPU "
        "time against a bare event loop with two 1 ms timers, peak memory, reply-to-display "
        "latency and start-up time."));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"), QStringLiteral("Length of each CPU window (default 20)."),
        QStringLiteral("s"), QStringLiteral("20"));
    const QCommandLineOption changesOption(
        QStringLiteral("min-changes"),
        QStringLiteral("Label changes to collect for the latency, even past the CPU window "
                       "(default 200)."),
        QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption startsOption(QStringLiteral("starts"),
                                          QStringLiteral("Start-ups to time (default 5)."),
                                          QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption floorOption(QStringLiteral("floor"),
                                         QStringLiteral("Child: the floor alone."));
    const QCommandLineOption floorPortOption(
        QStringLiteral("floor-port"),
        QStringLiteral("Child: the floor with an idle serial port open on a pseudo-terminal."));
    const QCommandLineOption panelOption(QStringLiteral("panel"),
                                         QStringLiteral("Child: the panel alone."));
    const QCommandLineOption startupOption(QStringLiteral("startup"),
                                           QStringLiteral("Child: one start-up."));
    const QCommandLineOption startedOption(QStringLiteral("started-ns"),
                                           QStringLiteral("Child: when the parent started it."),
                                           QStringLiteral("ns"));
    const QCommandLineOption historyOption(
        QStringLiteral("with-history"),
        QStringLiteral("The panel with its trend window open and a record running."));
    parser.addOptions({secondsOption, changesOption, startsOption, floorOption, floorPortOption,
                       panelOption, startupOption, startedOption, historyOption});
    const QCommandLineOption demoLineOption(
        QStringLiteral("demo-line"),
        QStringLiteral("Child: the demo's window and unit on one thread, on the line in memory "
                       "or a pseudo-terminal."),
        QStringLiteral("memory|pty"));
    parser.addOption(demoLineOption);
    const QCommandLineOption trendOption(
        QStringLiteral("trend"),
        QStringLiteral("Child: the trend's history after 24 hours, and a paint of the trend."));
    parser.addOption(trendOption);
    parser.addPositionalArgument(QStringLiteral("seconds"), QStringLiteral("For a child mode."),
                                 QStringLiteral("[seconds]"));
    parser.process(*app);

    bool ok = true;
    const QString secondsText = parser.positionalArguments().value(0, parser.value(secondsOption));
    const int seconds = secondsText.toInt(&ok);
    const int minChanges = parser.value(changesOption).toInt();
    const int starts = parser.value(startsOption).toInt();
    if (!ok || seconds < 1 || minChanges < 1 || starts < 1) {
        std::fprintf(stderr, "ldpanel-bench: seconds, min-changes and starts must be at least 1\n");
        return 2;
    }

    if (parser.isSet(floorOption) || parser.isSet(floorPortOption))
        return runFloor(seconds, parser.isSet(floorPortOption));
    if (parser.isSet(panelOption)) {
        PanelRun::Options options;
        options.cpuSeconds = seconds;
        options.minChanges = minChanges;
        options.maxSeconds = std::max(120, seconds * 2);
        options.withHistory = parser.isSet(historyOption);
        return runPanel(options);
    }
    if (parser.isSet(demoLineOption))
        return DemoRun::runChild(parser.value(demoLineOption), seconds, minChanges);
    if (parser.isSet(trendOption)) {
        printHistoryMemory();
        printTrendPaint();
        return 0;
    }
    if (parser.isSet(startupOption)) {
        const qint64 started = parser.isSet(startedOption)
                                   ? parser.value(startedOption).toLongLong()
                                   : BenchClock::processStartNs();
        return runStartup(started);
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return runAll(seconds, minChanges, starts, parser.isSet(historyOption));
}
