// The panel against a driver on the far end of a port it is given, as an operator would use it:
// LDPANEL_TEST_PORT names the port (a pseudo-terminal on Linux, COMn on Windows), and the unit
// there was started by tests/e2e-port.sh's options. The same checks run for every kind of line
// the unit can be put behind (echoing, answers cut in two, ...) and, under Wine, through the
// Windows build's serial port. The checks follow one another on one open port, as the unit
// keeps what each command set.
#include "dialogcatcher.h"
#include "eventwait.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "stdoutcapture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

const QString Green = QStringLiteral("color: rgb(0,255,0);");
const QString Red = QStringLiteral("color: rgb(255, 3, 3);");
const QString Grey = QStringLiteral("color: rgb(150, 150, 150);");

// Writes that went out in the trace: a resend is a line of its own.
int writesIn(const QByteArray &trace)
{
    return trace.count("write_dir 8 :01 06 ");
}

} // namespace

class tst_E2ePort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void readOuts_data();
    void readOuts();
    void portListed();
    void commands_data();
    void commands();
    void closeGreysReadOuts();

private:
    QLabel *label(const QString &name) { return window->findChild<QLabel *>(name); }
    // As Qt names the port in a list: /dev/ttyUSB0 as ttyUSB0, COM7 as it is.
    QString listedName() const
    {
        return port.startsWith(QLatin1String("/dev/")) ? port.mid(5) : port;
    }

    QString port;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void tst_E2ePort::initTestCase()
{
    port = qEnvironmentVariable("LDPANEL_TEST_PORT");
    if (port.isEmpty())
        QSKIP("LDPANEL_TEST_PORT names no port: start the unit with tests/e2e-port.sh");

    window = std::make_unique<MainWindow>();
    probe = std::make_unique<MainWindowProbe>(*window);
    MainWindowForm &form = probe->form();
    // Picked from the drop-down where the system lists it, as the operator does.
    int index = form.comb_comName->findText(listedName());
    if (index < 0) {
        form.comb_comName->insertItem(0, port);
        index = 0;
    }
    form.comb_comName->setCurrentIndex(index);
    form.btn_comSet->click();
    QCOMPARE(probe->portState(), 1);
    QVERIFY2(runUntil([&] { return probe->deviceOnline() == 1; }),
             qPrintable(QStringLiteral("no answer on %1").arg(port)));
}

void tst_E2ePort::cleanupTestCase()
{
    probe.reset();
    window.reset();
}

void tst_E2ePort::readOuts_data()
{
    QTest::addColumn<QString>("readOut");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");

    // The unit of tests/e2e-port.sh: 1234 mA of at most 2500, the LD working, the TEC holding
    // 25.34 °C without noise; the power is 0.5 hundredths per mA.
    QTest::newRow("LD state") << "ldState"
                              << "Work" << Green;
    QTest::newRow("TEC temperature") << "tecRtTemp"
                                     << "25.34" << QString();
    QTest::newRow("LD current") << "ldSetCurrent"
                                << "1234" << QString();
    QTest::newRow("LD power") << "ldSetPower"
                              << "6.17" << QString();
    QTest::newRow("maximum current") << "ldMaxCur"
                                     << "2500" << QString();
}

void tst_E2ePort::readOuts()
{
    QFETCH(QString, readOut);
    QFETCH(QString, text);
    QFETCH(QString, style);

    QLabel *shown = label(readOut);
    QVERIFY(shown);
    WAIT_COMPARE(shown->text(), text);
    if (!style.isEmpty())
        QCOMPARE(shown->styleSheet(), style);
    QVERIFY(shown->styleSheet() != Grey);
}

void tst_E2ePort::portListed()
{
    // The panel offers the ports the system reports: a COM port on Windows, an adapter on Linux,
    // but no pseudo-terminal.
    const bool pseudoTerminal = port.startsWith(QLatin1String("/dev/pts/"));
    QCOMPARE(probe->form().comb_comName->findText(listedName()) >= 0, !pseudoTerminal);
}

void tst_E2ePort::commands_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("power");
    QTest::addColumn<int>("writes");
    QTest::addColumn<QString>("warning");

    // In turn, each from where the row before left the unit. 0.5 hundredths of power per mA.
    QTest::newRow("current set") << "btnSetLdCurrent"
                                 << "1800"
                                 << "Work" << Green << "1800"
                                 << "9.00" << 1 << QString();
    QTest::newRow("current above the maximum") << "btnSetLdCurrent"
                                               << "2501"
                                               << "Work" << Green << "1800"
                                               << "9.00" << 0 << "SetCurrent Over!2500mA";
    QTest::newRow("LD off") << "btnSetLdOff" << QString() << "Stop" << Red << "1800"
                            << "0.00" << 1 << QString();
    QTest::newRow("LD on") << "btnSetLdOn" << QString() << "Work" << Green << "1800"
                           << "9.00" << 1 << QString();
}

void tst_E2ePort::commands()
{
    QFETCH(QString, button);
    QFETCH(QString, entry);
    QFETCH(QString, state);
    QFETCH(QString, colour);
    QFETCH(QString, current);
    QFETCH(QString, power);
    QFETCH(int, writes);
    QFETCH(QString, warning);

    MainWindowForm &form = probe->form();
    auto *target = window->findChild<QPushButton *>(button);
    QVERIFY(target);
    QCOMPARE(probe->deviceOnline(), quint8(1));
    if (!entry.isNull())
        form.edLdSetCurrent->setText(entry);

    DialogCatcher dialogs;
    QByteArray sent;
    bool captured = false;
    {
        // Qt Test writes its results to standard output too: nothing is checked while it is
        // diverted.
        StdoutCapture trace;
        captured = trace.isActive();
        target->click();
        runUntil([&] {
            return form.ldState->text() == state && form.ldSetCurrent->text() == current &&
                   form.ldSetPower->text() == power && probe->writePending() == 0;
        });
        // The three sends' time: a write not taken as confirmed would go out again in it.
        runUntil([] { return false; }, 400);
        sent = trace.text();
    }
    QVERIFY(captured);
    QCOMPARE(form.ldState->text(), state);
    QCOMPARE(form.ldState->styleSheet(), colour);
    QCOMPARE(form.ldSetCurrent->text(), current);
    QCOMPARE(form.ldSetPower->text(), power);
    QCOMPARE(probe->writePending(), quint8(0));
    QCOMPARE(writesIn(sent), writes);
    QCOMPARE(dialogs.texts(), warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(probe->deviceOnline(), quint8(1));
}

void tst_E2ePort::closeGreysReadOuts()
{
    const QStringList readOuts{QStringLiteral("ldState"), QStringLiteral("tecRtTemp"),
                               QStringLiteral("ldSetCurrent"), QStringLiteral("ldSetPower"),
                               QStringLiteral("ldMaxCur")};
    for (const QString &name : readOuts)
        QVERIFY2(label(name)->styleSheet() != Grey, qPrintable(name));

    probe->form().btn_comSet->click();
    QCOMPARE(probe->portState(), 0);
    for (const QString &name : readOuts) {
        QLabel *shown = label(name);
        QVERIFY2(runUntil([&] { return shown->styleSheet() == Grey; }), qPrintable(name));
    }
    // Grey, but the last values stay.
    QCOMPARE(label(QStringLiteral("ldSetCurrent"))->text(), QStringLiteral("1800"));
}

QTEST_MAIN(tst_E2ePort)
#include "tst_e2e_port.moc"
