// The simulator from outside: a third-party Modbus master (mbpoll) against the in-process
// driver, and the ld-driver-sim program as a bench user runs it.

#include "ptypair.h"
#include "registermap.h"
#include "simulateddriver.h"

#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const char *const Read40146 = "01039CD200010A63";
const char *const Read40107 = "01039CAB0001DBBA";

QString simulatorProgram()
{
    const QString path =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../sim/ld-driver-sim");
    return QFileInfo::exists(path) ? path : QString();
}

// Runs a program to its end while this thread's event loop keeps serving the driver.
bool runToEnd(QProcess &process, int timeoutMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    return true;
}

} // namespace

class TestSimulatorCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mbpoll_data();
    void mbpoll();
    void programServesPty();
    void programFaultOptions();
    void programRefuses_data();
    void programRefuses();
};

void TestSimulatorCli::mbpoll_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("current");

    const auto args = [](const char *text) { return QString::fromLatin1(text).split(' '); };
    QTest::newRow("read the maximum current")
        << args("-t 4 -r 40146") << QStringList() << true << "[40146]: \t3000" << 0;
    QTest::newRow("read four registers")
        << args("-t 4 -r 40104 -c 4") << QStringList() << true << "[40105]: \t1000" << 0;
    QTest::newRow("write the current")
        << args("-t 4 -r 40107") << QStringList{"1500"} << true << "Written 1 references" << 1500;
    QTest::newRow("current above the maximum")
        << args("-t 4 -r 40107") << QStringList{"9999"} << false << "Illegal data value" << 0;
    QTest::newRow("write the maximum current")
        << args("-t 4 -r 40146") << QStringList{"2000"} << false << "Illegal data address" << 0;
    QTest::newRow("input registers")
        << args("-t 3 -r 30011") << QStringList() << false << "Illegal function" << 0;
    QTest::newRow("another slave gets no answer")
        << args("-a 2 -t 4 -r 40146 -o 0.3") << QStringList() << false << "timed out" << 0;
}

void TestSimulatorCli::mbpoll()
{
#ifndef Q_OS_UNIX
    QSKIP("needs pseudo-terminals");
#else
    QFETCH(QStringList, options);
    QFETCH(QStringList, values);
    QFETCH(bool, succeeds);
    QFETCH(QString, output);
    QFETCH(int, current);

    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (mbpoll.isEmpty())
        QSKIP("mbpoll is not installed");

    SimulatedDriver driver;
    QVERIFY2(driver.openPty(), qPrintable(driver.errorString()));
    // -0: the reference goes on the wire as given, the way the driver numbers its registers.
    QStringList arguments = QStringList{"-m", "rtu", "-b", "115200", "-P", "none", "-0", "-1"};
    arguments << options << driver.slavePath() << values;
    QProcess process;
    process.start(mbpoll, arguments);
    QVERIFY(process.waitForStarted(5000));
    QVERIFY(runToEnd(process));
    const QString all = QString::fromLocal8Bit(process.readAllStandardOutput()) +
                        QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(all.contains(output), qPrintable(all));
    QCOMPARE(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, succeeds);
    QCOMPARE(int(driver.model().read(RegisterMap::LdCurrentSetting)), current);
#endif
}

void TestSimulatorCli::programServesPty()
{
    const QString program = simulatorProgram();
    if (program.isEmpty())
        QSKIP("ld-driver-sim is not built");
    QProcess sim;
    sim.start(program, {"--pty", "--max-current", "2000", "--current", "700", "--ld-on", "1",
                        "--power-slope", "1", "--noise", "0"});
    QVERIFY(sim.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY2(path.startsWith(QLatin1Char('/')), qPrintable(path));

    QSerialPort port(path);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.setBaudRate(QSerialPort::Baud115200);
    QByteArray received;
    port.write(hex(Read40146));
    QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= 7, 10000);
    QCOMPARE(received, hex("01030207D0BBE8")); // 2000
    received.clear();
    // The pseudo-terminal outlives the panel closing its port.
    port.close();
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write(hex("0103753B0001EFCB")); // LD power: 700 x 1
    QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= 7, 10000);
    QCOMPARE(received.mid(3, 2), hex("02BC"));

    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log += sim.readAllStandardError()).contains("03 30011 -> 700\n"),
                             10000);
    QVERIFY2(log.startsWith("03 40146 -> 2000\n"), log.constData());
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TestSimulatorCli::programFaultOptions()
{
    const QString program = simulatorProgram();
    if (program.isEmpty())
        QSKIP("ld-driver-sim is not built");
    QProcess sim;
    sim.start(program, {"--pty", "--drop-every", "2"});
    QVERIFY(sim.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QSerialPort port(path);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    QByteArray log;
    port.write(hex(Read40146));
    QTRY_VERIFY_WITH_TIMEOUT((log += sim.readAllStandardError()).count('\n') >= 1, 10000);
    port.write(hex(Read40107));
    QTRY_VERIFY_WITH_TIMEOUT((log += sim.readAllStandardError()).count('\n') >= 2, 10000);
    QVERIFY2(log.contains("03 40146 -> 3000\n"), log.constData());
    QVERIFY2(log.contains("03 40107 -> 0 [dropped]\n"), log.constData());
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= 7, 10000);
    QTest::qWait(100);
    received += port.readAll();
    QCOMPARE(received, hex("0103020BB8BF06"));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TestSimulatorCli::programRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("port that cannot be opened") << QStringList{"--port", "/dev/no-such-serial-port"}
                                                << 1 << "cannot open /dev/no-such-serial-port";
    // %pty: a pseudo-terminal whose far end the test closes once the program serves it.
    QTest::newRow("port that goes away") << QStringList{"--port", "%pty"} << 1 << "went away";
    QTest::newRow("no line") << QStringList() << 2 << "--port NAME and --pty";
    QTest::newRow("two lines") << QStringList{"--pty", "--port", "x"} << 2
                               << "--port NAME and --pty";
    QTest::newRow("maximum current out of range")
        << QStringList{"--pty", "--max-current", "70000"} << 2 << "--max-current: 70000";
    QTest::newRow("current above the maximum")
        << QStringList{"--pty", "--current", "4000"} << 2 << "above the maximum current 3000";
    QTest::newRow("drop rate above 1")
        << QStringList{"--pty", "--drop-rate", "2"} << 2 << "--drop-rate: 2";
    QTest::newRow("not a number") << QStringList{"--pty", "--delay", "soon"} << 2
                                  << "--delay: soon";
    QTest::newRow("delay list with a word")
        << QStringList{"--pty", "--fifo-delays", "150,soon"} << 2 << "--fifo-delays: 150,soon";
    QTest::newRow("lead bytes not in hexadecimal")
        << QStringList{"--pty", "--lead-bytes", "0g"} << 2 << "--lead-bytes: 0g";
    QTest::newRow("trail bytes cut short")
        << QStringList{"--pty", "--trail-bytes", "fff"} << 2 << "--trail-bytes: fff";
    QTest::newRow("unknown option") << QStringList{"--pty", "--colour"} << 2 << "colour";
}

void TestSimulatorCli::programRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const QString program = simulatorProgram();
    if (program.isEmpty())
        QSKIP("ld-driver-sim is not built");
    PtyPair line;
    const bool lineGoes = arguments.contains(QStringLiteral("%pty"));
    arguments.replaceInStrings(QStringLiteral("%pty"), line.slavePath());
    QProcess sim;
    sim.start(program, arguments);
    QByteArray said;
    if (lineGoes) {
        QTRY_VERIFY_WITH_TIMEOUT((said += sim.readAllStandardError()).contains("serving"), 10000);
        line.closeMaster();
    }
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), exitCode);
    const QString error = QString::fromLocal8Bit(said + sim.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
    // Nothing on standard output, where a script would look for the path.
    QCOMPARE(sim.readAllStandardOutput(), QByteArray());
}

QTEST_GUILESS_MAIN(TestSimulatorCli)
#include "tst_simulatorcli.moc"
