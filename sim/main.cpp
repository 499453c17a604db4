// ld-driver-sim: a simulated LD driver unit (Modbus RTU slave 1) on a serial port or on a
// pseudo-terminal it creates, for bench work and demos without the real unit.

#include "registermap.h"
#include "simulateddriver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct NumberOption
{
    QCommandLineOption option;
    double min;
    double max;
    std::function<void(double)> apply;
};

void fail(const QString &message)
{
    std::fprintf(stderr, "ld-driver-sim: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ld-driver-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated LD driver unit: a Modbus RTU slave (address 1, 115200 8N1) serving the driver's "
        "registers with functions 03 and 06.\n"
        "Serve a serial port with --port, or create a pseudo-terminal with --pty; its path is "
        "printed as the only line on standard output. One line per request goes to standard "
        "error."));
    parser.addHelpOption();

    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Serve the serial port <name>."),
                                        QStringLiteral("name"));
    const QCommandLineOption ptyOption(
        QStringLiteral("pty"),
        QStringLiteral("Create a pseudo-terminal and print the path the panel should open."));
    const QCommandLineOption silentOption(QStringLiteral("silent"),
                                          QStringLiteral("Fault: never answer, ignore writes."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("No log line per request."));
    parser.addOption(portOption);
    parser.addOption(ptyOption);

    SimulatedDriver driver;
    LdDriverModel &model = driver.model();
    FaultPlan &faults = driver.faults();
    auto option = [](const char *name, const char *text, const char *value) {
        return QCommandLineOption(QLatin1String(name), QLatin1String(text), QLatin1String(value));
    };
    std::vector<NumberOption> numbers = {
        {option("max-current", "Maximum LD current, fixed by the device (default 3000).", "n"), 0,
         65535, [&](double v) { model.setMaxCurrent(quint16(v)); }},
        {option("current", "LD current setting at start (default 0).", "n"), 0, 65535,
         [&](double v) { model.setCurrentSetting(quint16(v)); }},
        {option("ld-on", "LD working at start: 1 or 0 (default 0).", "0|1"), 0, 1,
         [&](double v) { model.setLdOn(v != 0); }},
        {option("tec-on", "TEC on at start: 1 or 0 (default 1).", "0|1"), 0, 1,
         [&](double v) { model.setTecOn(v != 0); }},
        {option("temp-setting", "LD temperature setting, hundredths of a degree (default 2500).",
                "n"),
         LdDriverModel::TempSettingMin, LdDriverModel::TempSettingMax,
         [&](double v) { model.setTempSetting(quint16(v)); }},
        {option("tec-temp", "TEC temperature at start, hundredths of a degree (default: ambient).",
                "n"),
         1, 65535, [&](double v) { model.setTecTemperature(v); }},
        {option("ambient", "Ambient temperature, hundredths of a degree (default 2500).", "n"), 1,
         65535, [&](double v) { model.setAmbient(v); }},
        {option("noise", "Noise on the TEC temperature, +- hundredths (default 3).", "n"), 0, 1000,
         [&](double v) { model.setNoise(v); }},
        {option("power-slope", "LD power in hundredths per unit of current (default 0.5).", "x"), 0,
         100, [&](double v) { model.setPowerSlope(v); }},
        {option("delay", "Fault: answer this many ms after the request.", "ms"), 0, 60000,
         [&](double v) { faults.delayMs = int(v); }},
        {option("drop-every", "Fault: drop every Nth reply.", "n"), 0, 1e9,
         [&](double v) { faults.dropEvery = int(v); }},
        {option("drop-rate", "Fault: drop each reply with probability p (0 to 1).", "p"), 0, 1,
         [&](double v) { faults.dropRate = v; }},
        {option("corrupt-crc-every", "Fault: spoil the CRC of every Nth reply.", "n"), 0, 1e9,
         [&](double v) { faults.corruptCrcEvery = int(v); }},
        {option("split", "Fault: send each reply in two writes this many ms apart.", "ms"), 0,
         60000, [&](double v) { faults.splitGapMs = int(v); }},
        {option("stray-bytes", "Fault: send n random bytes just ahead of each reply.", "n"), 0,
         1000, [&](double v) { faults.strayBytes = int(v); }},
        {option("gap", "Silent interval that ends a request of unknown length (default 2).", "ms"),
         1, 1000, [&](double v) { driver.slave().setGapMs(int(v)); }},
        {option("seed", "Seed of the noise and of the random faults (default 1).", "n"), 0,
         4294967295.0,
         [&](double v) {
             model.setSeed(quint32(v));
             faults.reset(quint32(v));
         }},
    };
    for (const NumberOption &number : numbers)
        parser.addOption(number.option);
    parser.addOption(silentOption);
    parser.addOption(quietOption);

    if (!parser.parse(QCoreApplication::arguments())) {
        fail(parser.errorText());
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(portOption) == parser.isSet(ptyOption)) {
        fail(QStringLiteral("give exactly one of --port NAME and --pty (see --help)"));
        return 2;
    }

    // The seed first, so it does not undo anything set after it.
    std::stable_partition(numbers.begin(), numbers.end(), [](const NumberOption &number) {
        return number.option.names().first() == QLatin1String("seed");
    });
    for (const NumberOption &number : numbers) {
        if (!parser.isSet(number.option))
            continue;
        const QString text = parser.value(number.option);
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || value < number.min || value > number.max) {
            fail(QStringLiteral("--%1: %2 is not a number from %3 to %4")
                     .arg(number.option.names().first(), text)
                     .arg(number.min, 0, 'g', 10)
                     .arg(number.max, 0, 'g', 10));
            return 2;
        }
        number.apply(value);
    }
    if (parser.isSet(QStringLiteral("ambient")) && !parser.isSet(QStringLiteral("tec-temp")))
        model.setTecTemperature(model.ambientTemperature());
    if (model.read(RegisterMap::LdCurrentSetting) > model.maximumCurrent()) {
        fail(QStringLiteral("--current is above the maximum current %1")
                 .arg(model.maximumCurrent()));
        return 2;
    }
    faults.silent = parser.isSet(silentOption);

    if (parser.isSet(portOption)) {
        if (!driver.openPort(parser.value(portOption))) {
            fail(driver.errorString());
            return 1;
        }
        std::fprintf(stderr, "ld-driver-sim: serving %s at 115200 8N1\n",
                     qPrintable(driver.slavePath()));
    } else {
#ifdef Q_OS_UNIX
        if (!driver.openPty()) {
            fail(driver.errorString());
            return 1;
        }
        std::printf("%s\n", qPrintable(driver.slavePath()));
        std::fflush(stdout);
#else
        fail(QStringLiteral("--pty needs a system with pseudo-terminals; use --port"));
        return 1;
#endif
    }

    if (!parser.isSet(quietOption)) {
        QObject::connect(&driver, &SimulatedDriver::requestHandled, [&driver](int index) {
            std::fprintf(stderr, "%s\n",
                         qPrintable(SimulatedDriver::describe(driver.log()[index])));
            std::fflush(stderr);
        });
    }
    // The log is only for the lines above; a long bench run should not grow it without end.
    QObject::connect(
        &driver, &SimulatedDriver::requestHandled, &driver,
        [&driver] {
            if (driver.log().size() > 1000)
                driver.clearLog();
        },
        Qt::QueuedConnection);
    return app.exec();
}
