// ldpanel-demo: the panel's own window with a simulated LD driver in the same process, on a line
// in memory. The line is put first in the port list as "Simulated driver", so OpenDevice reaches
// the simulated unit and the whole panel can be tried without hardware, on any system. On Linux,
// pseudo-terminals in raw mode (a socat link, ld-driver-sim --pty) join the list when it is
// opened, as adapters do in the panel.

#include "appearance.h"
#include "democheck.h"
#include "displaycheck.h"
#include "hcom.h"
#include "mainwindow.h"
#include "simulateddriver.h"
#include "simulatedline.h"
#include "simulatoroptions.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr int CheckTimeoutMs = 30000;

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
    const QString noDisplay = DisplayCheck::missing("ldpanel-demo", argc, argv);
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(noDisplay));
        return 1;
    }
    Appearance::prepare();
    QApplication app(argc, argv);
    Appearance::apply();
    QCoreApplication::setApplicationName(QStringLiteral("ldpanel-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The LD driver panel with a simulated driver unit in the same process, listed first "
        "among the ports as \"Simulated driver\": click OpenDevice to use the panel without "
        "hardware. The options set "
        "the simulated unit as for ld-driver-sim; unless they say otherwise it starts with the LD "
        "working at 1200 and the TEC at 28.00, settling to its setting."));
    parser.addHelpOption();
    const QCommandLineOption openOption(QStringLiteral("open"),
                                        QStringLiteral("Open the simulated unit's line at start."));
    parser.addOption(openOption);
    const QCommandLineOption checkOption(
        QStringLiteral("check"),
        QStringLiteral("Check the demo itself: open the simulated unit's line, wait until every "
                       "read-out shows the unit's values, set another current and wait until it "
                       "is read back; say what was seen and exit with 0, or with 1 after 30 s. "
                       "Without --noise the unit has no noise."));
    parser.addOption(checkOption);

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
    // Read-outs that settle, so the check can hold them to the unit's registers.
    const bool check = parser.isSet(checkOption);
    if (check)
        driver.model().setNoise(0);
    // A TEC still warm from the start settles in the first half minute, for the trend to show.
    else if (!parser.isSet(QStringLiteral("tec-temp")) && !parser.isSet(QStringLiteral("ambient")))
        driver.model().setTecTemperature(2800);
    if (!options.apply(parser)) {
        fail(options.errorString());
        return 2;
    }

    // Nobody reads the driver's log here; keep it from growing over a long session.
    QObject::connect(
        &driver, &SimulatedDriver::requestHandled, &driver,
        [&driver] {
            if (driver.log().size() > 1000)
                driver.clearLog();
        },
        Qt::QueuedConnection);

    // Declared after the driver, so the window closes its line before the unit goes.
    MainWindow window;
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comb_comName"));
    auto *openButton = window.findChild<QPushButton *>(QStringLiteral("btn_comSet"));
    if (!ports || !openButton) {
        fail(QStringLiteral("the window has no port list or open button"));
        return 1;
    }
    // Named in the window's language, which it takes from the desktop's as here.
    const bool chinese =
        QLocale(QLocale::system().uiLanguages().value(0)).language() == QLocale::Chinese;
    const QString simulated =
        chinese ? QString::fromUtf8("模拟驱动器") : QStringLiteral("Simulated driver");
    ports->insertItem(0, simulated);
    ports->setCurrentIndex(0);
    PortSource source = Hcom::systemPorts();
    source.names = [simulated, system = source.names] {
        QStringList names = QStringList{simulated} + system();
#ifdef Q_OS_UNIX
        for (const QString &name : rawPseudoTerminals()) {
            if (!names.contains(name))
                names << name;
        }
#endif
        return names;
    };
    source.openError = [simulated, system = source.openError](const QString &name) {
        return name == simulated ? QString() : system(name);
    };
    source.line = [simulated, &driver](const QString &name) -> std::unique_ptr<SerialLine> {
        if (name != simulated)
            return nullptr;
        return std::make_unique<SimulatedLine>(driver);
    };
    window.setPortSource(source);
    window.show();
    if (parser.isSet(openOption) || check)
        QTimer::singleShot(0, openButton, &QPushButton::click);
    DemoCheck checker(window, driver);
    if (check)
        checker.start(CheckTimeoutMs);
    return window.run();
}
