// The line in memory between the panel's channel and the simulated unit: bytes come through at
// 115200 baud on a clock, as a port's reads would give them, and under every line fault the unit
// can be set to, the channel reads what it reads from the same unit on a pseudo-terminal.
#include "faultplan.h"
#include "linedirection.h"
#include "rtutestbytes.h"
#include "simulateddriver.h"
#include "simulatedline.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#include <functional>

using RtuTestBytes::hex;

Q_DECLARE_METATYPE(FaultPlan)

namespace {

using Polls = QVector<qint64>;
using Counts = QVector<int>;

// The byte times this line must keep: 10 bits at 115200 baud, and at 9600.
constexpr qint64 Char115200Ns = 86805;
constexpr qint64 Char9600Ns = 1041666;

const char *const Read40146 = "01039CD200010A63";
const char *const Write1500 = "01069CAB05DCD4B3";

// What a channel reads from the unit after writing each request once the one before has been
// answered, polling every millisecond for windowMs after the last.
QByteArray readAfter(SerialLine *line, QSerialPort *port, const QByteArrayList &requests,
                     int windowMs)
{
    QByteArray read;
    for (int i = 0; i < requests.size(); ++i) {
        if (line)
            line->write(requests[i]);
        else
            port->write(requests[i]);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < (i + 1 == requests.size() ? windowMs : windowMs / 2)) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QTest::qSleep(1);
            read += line ? line->readArrived() : port->readAll();
        }
    }
    return read;
}

} // namespace

class tst_SimulatedLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void byteTiming_data();
    void byteTiming();
    void faultsAsOnAPseudoTerminal_data();
    void faultsAsOnAPseudoTerminal();
};

void tst_SimulatedLine::byteTiming_data()
{
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<Polls>("sentAt"); // ns, one for each of sent
    QTest::addColumn<int>("senderBaud");
    QTest::addColumn<int>("receiverBaud");
    QTest::addColumn<Polls>("polls"); // ns
    QTest::addColumn<Counts>("counts");
    QTest::addColumn<QByteArray>("heard");

    const QByteArray reply7 = hex("0103020BB8BF06");
    const QByteArray burst30(30, '\x5A');
    QTest::newRow("one byte, one character after")
        << QByteArrayList{hex("01")} << Polls{0} << 115200 << 115200
        << Polls{Char115200Ns - 1, Char115200Ns} << Counts{0, 1} << hex("01");
    QTest::newRow("a reply, half of it by half a millisecond")
        << QByteArrayList{reply7} << Polls{0} << 115200 << 115200 << Polls{500000, 1000000}
        << Counts{5, 2} << reply7;
    // A port polled each millisecond reads 11 or 12 bytes a time.
    QTest::newRow("30 bytes over three polls")
        << QByteArrayList{burst30} << Polls{1000} << 115200 << 115200
        << Polls{1000000, 2000000, 3000000} << Counts{11, 12, 7} << burst30;
    // The second write goes once the first is out: its last byte at 14 character times.
    QTest::newRow("a write behind another waits for the line")
        << QByteArrayList{reply7, reply7} << Polls{0, 100000} << 115200 << 115200
        << Polls{1000000, 14 * Char115200Ns - 1, 14 * Char115200Ns} << Counts{11, 2, 1}
        << reply7 + reply7;
    // The start bit of an FF at 9600 lasts 12 bits at 115200: a UART there reads 00, and
    // nothing of the rest.
    QTest::newRow("sent at 9600, heard at 115200")
        << QByteArrayList{hex("FF")} << Polls{0} << 9600 << 115200
        << Polls{Char9600Ns - 1, Char9600Ns, 10 * Char9600Ns} << Counts{0, 1, 0} << hex("00");
}

void tst_SimulatedLine::byteTiming()
{
    QFETCH(QByteArrayList, sent);
    QFETCH(Polls, sentAt);
    QFETCH(int, senderBaud);
    QFETCH(int, receiverBaud);
    QFETCH(Polls, polls);
    QFETCH(Counts, counts);
    QFETCH(QByteArray, heard);

    QCOMPARE(LineDirection::characterNs(115200), Char115200Ns);
    LineDirection line;
    int next = 0;
    QByteArray taken;
    Counts seen;
    for (const qint64 poll : polls) {
        for (; next < sent.size() && sentAt[next] <= poll; ++next)
            line.put(sent[next], sentAt[next], senderBaud, receiverBaud);
        const QByteArray bytes = line.take(poll);
        seen << bytes.size();
        taken += bytes;
    }
    QCOMPARE(seen, counts);
    QCOMPARE(taken, heard);
    QCOMPARE(line.lastArrivalNs(), qint64(-1));
}

void tst_SimulatedLine::faultsAsOnAPseudoTerminal_data()
{
    QTest::addColumn<FaultPlan>("faults");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<int>("bytes"); // what the channel reads in all
    // Another rate than the unit's: a pseudo-terminal has no rate to compare with.
    QTest::addColumn<int>("channelBaud");

    const auto plan = [](const std::function<void(FaultPlan &)> &set) {
        FaultPlan faults;
        set(faults);
        return faults;
    };
    const QByteArrayList read{hex(Read40146)};
    const QByteArrayList readWriteRead{hex(Read40146), hex(Write1500), hex(Read40146)};
    QTest::newRow("none") << FaultPlan() << readWriteRead << 7 + 8 + 7 << 115200;
    QTest::newRow("late") << plan([](FaultPlan &f) { f.delayMs = 30; }) << read << 7 << 115200;
    QTest::newRow("every second dropped")
        << plan([](FaultPlan &f) { f.dropEvery = 2; }) << readWriteRead << 7 + 7 << 115200;
    QTest::newRow("CRC spoiled") << plan([](FaultPlan &f) { f.corruptCrcEvery = 1; }) << read << 7
                                 << 115200;
    QTest::newRow("split") << plan([](FaultPlan &f) { f.splitGapMs = 20; }) << read << 7 << 115200;
    QTest::newRow("echoed") << plan([](FaultPlan &f) { f.localEcho = true; }) << readWriteRead
                            << 2 * (8 + 7) + 2 * 8 << 115200;
    QTest::newRow("glitch bytes") << plan([](FaultPlan &f) {
        f.leadBytes = hex("00");
        f.trailBytes = hex("FF");
        f.strayBytes = 2;
    }) << read << 2 + 1 + 7 + 1 << 115200;
    QTest::newRow("slow bytes") << plan([](FaultPlan &f) { f.byteGapMs = 3; }) << read << 7
                                << 115200;
    QTest::newRow("another slave")
        << plan([](FaultPlan &f) { f.answerSlave = 5; }) << read << 7 << 115200;
    QTest::newRow("another baud rate")
        << plan([](FaultPlan &f) { f.answerBaud = 9600; }) << read
        << FaultPlan::heardAt(hex("0103020BB8BF06"), 9600, 115200).size() << 115200;
    QTest::newRow("silent, echoed") << plan([](FaultPlan &f) {
        f.silent = true;
        f.localEcho = true;
    }) << read << 8 << 115200;
    // The unit, at 115200, makes no request of what a channel at 9600 sends.
    QTest::newRow("channel at 9600") << FaultPlan() << read << 0 << 9600;
}

void tst_SimulatedLine::faultsAsOnAPseudoTerminal()
{
    QFETCH(FaultPlan, faults);
    QFETCH(QByteArrayList, requests);
    QFETCH(int, bytes);
    QFETCH(int, channelBaud);

    const auto unit = [&faults](SimulatedDriver &driver) {
        driver.setPhysicsInterval(0);
        driver.model().setNoise(0);
        driver.faults() = faults;
    };
    constexpr int WindowMs = 120;

    SimulatedDriver inMemory;
    unit(inMemory);
    SimulatedLine line(inMemory);
    ComSettings settings;
    settings.baudRate = channelBaud;
    QVERIFY(line.open(QStringLiteral("Simulated driver"), settings));
    const QByteArray fromMemory = readAfter(&line, nullptr, requests, WindowMs);
    QCOMPARE(fromMemory.size(), bytes);

#ifdef Q_OS_UNIX
    if (channelBaud != SimulatedLine::UnitBaud)
        return;
    SimulatedDriver onPty;
    unit(onPty);
    QVERIFY2(onPty.openPty(), qPrintable(onPty.errorString()));
    QSerialPort port(onPty.slavePath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.setBaudRate(QSerialPort::Baud115200);
    QCOMPARE(fromMemory.toHex(' '), readAfter(nullptr, &port, requests, WindowMs).toHex(' '));
#endif
    QCOMPARE(inMemory.log().size(), requests.size());
}

QTEST_MAIN(tst_SimulatedLine)
#include "tst_simulatedline.moc"
