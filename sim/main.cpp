// ld-driver-sim: a simulated LD driver unit (Modbus RTU slave 1) on a serial port or on a
// pseudo-terminal it creates, for bench work and demos without the real unit.

#include "simulateddriver.h"
#include "simulatoroptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

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
        "error. A port that goes away (adapter unplugged) ends the program with exit code 1."));
    parser.addHelpOption();

    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Serve the serial port <name>."),
                                        QStringLiteral("name"));
    const QCommandLineOption ptyOption(
        QStringLiteral("pty"),
        QStringLiteral("Create a pseudo-terminal and print the path the panel should open."));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("No log line per request."));
    parser.addOption(portOption);
    parser.addOption(ptyOption);

    SimulatedDriver driver;
    SimulatorOptions options(driver);
    options.addTo(parser);
    parser.addOption(quietOption);

    QString error;
    if (!SimulatorOptions::parseCommandLine(parser, error)) {
        fail(error);
        return 2;
    }
    if (parser.isSet(portOption) == parser.isSet(ptyOption)) {
        fail(QStringLiteral("give exactly one of --port NAME and --pty (see --help)"));
        return 2;
    }

    if (!options.apply(parser)) {
        fail(options.errorString());
        return 2;
    }

    if (parser.isSet(portOption)) {
        if (!driver.openPort(parser.value(portOption))) {
            fail(driver.errorString());
            return 1;
        }
        std::fprintf(stderr, "ld-driver-sim: serving %s at 115200 8N1\n",
                     qPrintable(driver.slavePath()));
        QObject::connect(&driver, &SimulatedDriver::lineLost, &app, [&driver] {
            fail(driver.errorString());
            QCoreApplication::exit(1);
        });
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
