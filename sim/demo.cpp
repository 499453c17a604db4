// ldpanel-demo: the panel's own window with a simulated LD driver on a pseudo-terminal in the same
// process. The pseudo-terminal is put first in the port list, so OpenDevice reaches the simulated
// unit and the whole panel can be tried without hardware. Other pseudo-terminals in raw mode (a
// socat link, ld-driver-sim --pty) join the list when it is opened, as adapters do in the panel.

#include "appearance.h"
#include "hcom.h"
#include "mainwindow.h"
#include "simulateddriver.h"
#include "simulatoroptions.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "ldpanel-demo: %s\n", qPrintable(message));
}

#ifdef Q_OS_UNIX
// Pseudo-terminals in raw mode, as Qt names them ("pts/3"). A shell's terminal edits lines and
// stays out; looking at the mode changes nothing on the terminal.
QStringList rawPseudoTerminals()
{
    QStringList names;
    const QStringList entries = QDir(QStringLiteral("/dev/pts")).entryList(QDir::System);
    for (const QString &entry : entries) {
        bool number = false;
        entry.toInt(&number);
        if (!number)
            continue;
        const QByteArray path = QByteArrayLiteral("/dev/pts/") + entry.toLatin1();
        const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            continue;
        termios tio{};
        if (::tcgetattr(fd, &tio) == 0 && !(tio.c_lflag & ICANON))
            names << QStringLiteral("pts/") + entry;
        ::close(fd);
    }
    return names;
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    Appearance::prepare();
    QApplication app(argc, argv);
    Appearance::apply();
    QCoreApplication::setApplicationName(QStringLiteral("ldpanel-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The LD driver panel with a simulated driver unit on a pseudo-terminal, listed first "
        "among the ports: click OpenDevice to use the panel without hardware. The options set "
        "the simulated unit as for ld-driver-sim; unless they say otherwise it starts with the LD "
        "working at 1200."));
    parser.addHelpOption();
    const QCommandLineOption openOption(QStringLiteral("open"),
                                        QStringLiteral("Open the simulated unit's port at start."));
    parser.addOption(openOption);

    SimulatedDriver driver;
    SimulatorOptions options(driver);
    options.addTo(parser);

    QString error;
    if (!SimulatorOptions::parseCommandLine(parser, error)) {
        fail(error);
        return 2;
    }
    // A unit already at work shows every read-out live at the first look.
    if (!parser.isSet(QStringLiteral("current")) && !parser.isSet(QStringLiteral("max-current")))
        driver.model().setCurrentSetting(1200);
    if (!parser.isSet(QStringLiteral("ld-on")))
        driver.model().setLdOn(true);
    if (!options.apply(parser)) {
        fail(options.errorString());
        return 2;
    }

#ifdef Q_OS_UNIX
    if (!driver.openPty()) {
        fail(driver.errorString());
        return 1;
    }
#else
    fail(QStringLiteral("needs a system with pseudo-terminals; on Windows run ld-driver-sim "
                        "--port on one end of a pair of COM ports and the panel on the other"));
    return 1;
#endif
    // Nobody reads the driver's log here; keep it from growing over a long session.
    QObject::connect(
        &driver, &SimulatedDriver::requestHandled, &driver,
        [&driver] {
            if (driver.log().size() > 1000)
                driver.clearLog();
        },
        Qt::QueuedConnection);

    // Declared after the driver, so the window closes its port before the pseudo-terminal goes.
    MainWindow window;
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comb_comName"));
    auto *openButton = window.findChild<QPushButton *>(QStringLiteral("btn_comSet"));
    if (!ports || !openButton) {
        fail(QStringLiteral("the window has no port list or open button"));
        return 1;
    }
    // A pseudo-terminal is not among the system's serial ports, so the list never has it. It is
    // listed as Qt lists a port, without "/dev/" (Qt puts it back on opening): the whole path
    // does not fit the list's field.
    QString portName = driver.slavePath();
    if (portName.startsWith(QLatin1String("/dev/")))
        portName.remove(0, 5);
    ports->insertItem(0, portName);
    ports->setCurrentIndex(0);
#ifdef Q_OS_UNIX
    PortSource source = Hcom::systemPorts();
    source.names = [portName, system = source.names] {
        QStringList names = QStringList{portName} + system();
        for (const QString &name : rawPseudoTerminals()) {
            if (!names.contains(name))
                names << name;
        }
        return names;
    };
    window.setPortSource(source);
#endif
    window.show();
    if (parser.isSet(openOption))
        QTimer::singleShot(0, openButton, &QPushButton::click);
    return window.run();
}
