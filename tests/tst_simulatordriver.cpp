// The simulated driver on a real pseudo-terminal: the test plays the panel on the slave side and
// checks what arrives, reply by reply, under each line fault.

#include "lddrivermodel.h"
#include "registermap.h"
#include "rtutestbytes.h"
#include "simulateddriver.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

using RtuTestBytes::crcOk;
using RtuTestBytes::hex;

const char *const Read40146 = "01039CD200010A63";
const char *const Reply3000 = "0103020BB8BF06";
const char *const Read40107 = "01039CAB0001DBBA";
const char *const Write1500 = "01069CAB05DCD4B3";
const char *const Reply1500 = "01030205DCBA8D";
const char *const Reply0 = "0103020000B844";

#ifdef Q_OS_UNIX
// The panel's end of the pseudo-terminal, opened raw.
class PanelEnd
{
public:
    explicit PanelEnd(const QString &path)
    {
        fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return;
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ~PanelEnd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isOpen() const { return fd >= 0; }
    bool write(const QByteArray &bytes)
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Whatever has arrived, waiting up to waitMs for the first byte; no event processing.
    QByteArray read(int waitMs = 0)
    {
        QByteArray out;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return out;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            out.append(buffer, int(n));
        return out;
    }
    // Reads while the event loop runs, until count bytes have come or timeoutMs passed.
    QByteArray collect(int count, int timeoutMs = 5000)
    {
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (out.size() < count && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            out += read(1);
        }
        return out;
    }

private:
    int fd = -1;
};
#endif

} // namespace

class TestSimulatorDriver : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void servesThePanelsSerialPort();
    void framesFromTheLine_data();
    void framesFromTheLine();
    void delay_data();
    void delay();
    void splitReplyComesAsTwoWrites();
    void corruptedCrc();
    void droppedReplies();
    void strayBytesAhead();
    void silenceIgnoresEverything();
    void logLines_data();
    void logLines();
    void unopenablePortIsReported();

private:
#ifdef Q_OS_UNIX
    // Sends one request and waits until the driver has handled it.
    bool exchange(const QByteArray &request);
    SimulatedDriver *driver = nullptr;
    PanelEnd *panel = nullptr;
#endif
};

#ifdef Q_OS_UNIX

void TestSimulatorDriver::init()
{
    driver = new SimulatedDriver;
    driver->setPhysicsInterval(0);
    driver->model().setNoise(0);
    QVERIFY2(driver->openPty(), qPrintable(driver->errorString()));
    panel = new PanelEnd(driver->slavePath());
    QVERIFY(panel->isOpen());
}

void TestSimulatorDriver::cleanup()
{
    delete panel;
    panel = nullptr;
    delete driver;
    driver = nullptr;
}

bool TestSimulatorDriver::exchange(const QByteArray &request)
{
    const int before = driver->log().size();
    if (!panel->write(request))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (driver->log().size() == before && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return driver->log().size() > before;
}

// The way the panel itself talks to the unit: QSerialPort on the slave path at 115200 8N1.
void TestSimulatorDriver::servesThePanelsSerialPort()
{
    delete panel;
    panel = nullptr;
    QSerialPort port(driver->slavePath());
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.setBaudRate(QSerialPort::Baud115200);
    QSignalSpy written(driver, &SimulatedDriver::replyWritten);

    port.write(hex(Write1500));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= 8, 5000);
    QCOMPARE(received, hex(Write1500));
    port.write(hex(Read40107));
    received.clear();
    QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= 7, 5000);
    QCOMPARE(received, hex(Reply1500));
    QCOMPARE(written.count(), 2);
    QCOMPARE(driver->model().read(RegisterMap::LdCurrentSetting), quint16(1500));

    // Closing and re-opening the port, as the panel's button does, keeps the line working.
    port.close();
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write(hex(Read40146));
    received.clear();
    QTRY_VERIFY_WITH_TIMEOUT((received += port.readAll()).size() >= 7, 5000);
    QCOMPARE(received, hex(Reply3000));
}

// Requests in pieces and back to back on the real line: the driver answers each one once.
void TestSimulatorDriver::framesFromTheLine_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<QByteArray>("replies");

    const QByteArray read = hex(Read40146);
    QByteArray badCrc = read;
    badCrc[6] = char(badCrc[6] ^ 0x04);
    QTest::newRow("split 3+5") << QByteArrayList{read.left(3), read.mid(3)} << 0 << hex(Reply3000);
    // A pause on the line inside a frame ends it: the pieces are dropped, the next request served.
    QTest::newRow("split 3+5, 30 ms apart, then a read")
        << QByteArrayList{read.left(3), read.mid(3), hex(Read40107)} << 30 << hex(Reply0);
    QTest::newRow("two back to back")
        << QByteArrayList{read + hex(Write1500)} << 0 << hex(Reply3000) + hex(Write1500);
    QTest::newRow("bad CRC, then good")
        << QByteArrayList{badCrc, hex(Read40107)} << 30 << hex(Reply0);
    QTest::newRow("other slave, then ours")
        << QByteArrayList{hex("02039CD200010A50"), hex(Read40107)} << 0 << hex(Reply0);
}

void TestSimulatorDriver::framesFromTheLine()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(int, pauseMs);
    QFETCH(QByteArray, replies);

    for (const QByteArray &bytes : writes) {
        QVERIFY(panel->write(bytes));
        if (pauseMs > 0)
            QTest::qWait(pauseMs);
    }
    QCOMPARE(panel->collect(replies.size()), replies);
    // Nothing more comes after the expected replies.
    QTest::qWait(50);
    QCOMPARE(panel->collect(1, 100), QByteArray());
}

void TestSimulatorDriver::delay_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("inTurn"); // two requests at once, answered one after the other
    QTest::newRow("none") << 0 << false;
    QTest::newRow("150 ms") << 150 << false;
    QTest::newRow("150 ms each, in turn") << 150 << true;
}

void TestSimulatorDriver::delay()
{
    QFETCH(int, delayMs);
    QFETCH(bool, inTurn);

    if (inTurn) {
        driver->faults().fifoDelaysMs = {delayMs};
        QVERIFY(panel->write(hex(Read40146) + hex(Read40107)));
        QCOMPARE(panel->collect(14), hex(Reply3000) + hex(Reply0));
        const QVector<SimulatedDriver::LogEntry> &log = driver->log();
        QCOMPARE(log.size(), 2);
        // The second is taken only once the first is answered.
        QVERIFY(log[0].writtenAtMs[0] - log[0].exchange.atMs >= delayMs);
        QVERIFY(log[1].writtenAtMs[0] - log[0].writtenAtMs[0] >= delayMs);
        return;
    }
    driver->faults().delayMs = delayMs;
    // What the panel could read at the moment the request was handled.
    QByteArray atHandling;
    bool handled = false;
    connect(driver, &SimulatedDriver::requestHandled, this, [&] {
        atHandling = panel->read(delayMs > 0 ? 0 : 2000);
        handled = true;
    });
    QVERIFY(panel->write(hex(Read40146)));
    QTRY_VERIFY_WITH_TIMEOUT(handled, 5000);
    QCOMPARE(atHandling, delayMs > 0 ? QByteArray() : hex(Reply3000));
    if (delayMs > 0)
        QCOMPARE(panel->collect(7), hex(Reply3000));

    const SimulatedDriver::LogEntry &entry = driver->log().last();
    QCOMPARE(entry.writes.size(), 1);
    // Timers never fire early, so this holds however busy the machine is.
    QVERIFY(entry.writtenAtMs[0] - entry.exchange.atMs >= delayMs);
}

void TestSimulatorDriver::splitReplyComesAsTwoWrites()
{
    driver->faults().splitGapMs = 40;
    driver->faults().splitAt = 3;
    QByteArrayList seen;
    connect(driver, &SimulatedDriver::lineWritten, this, [&](int, int part) {
        // The second part cannot be on the line yet when the first is reported: it is written
        // later from this same thread.
        const int size = part == 0 ? 3 : 4;
        QByteArray chunk = panel->read(2000);
        while (chunk.size() < size) {
            const QByteArray more = panel->read(2000);
            if (more.isEmpty())
                break;
            chunk += more;
        }
        seen << chunk;
    });
    QSignalSpy replied(driver, &SimulatedDriver::replyWritten);
    QVERIFY(panel->write(hex(Read40146)));
    QTRY_COMPARE_WITH_TIMEOUT(replied.count(), 1, 5000);
    const QByteArray reply = hex(Reply3000);
    QCOMPARE(seen, (QByteArrayList{reply.left(3), reply.mid(3)}));
    const SimulatedDriver::LogEntry &entry = driver->log().last();
    QCOMPARE(entry.writes.size(), 2);
    QVERIFY(entry.writtenAtMs[1] - entry.writtenAtMs[0] >= 40);
}

void TestSimulatorDriver::corruptedCrc()
{
    driver->faults().corruptCrcEvery = 2;
    QVERIFY(exchange(hex(Read40146)));
    const QByteArray first = panel->collect(7);
    QVERIFY(exchange(hex(Read40146)));
    const QByteArray second = panel->collect(7);
    QCOMPARE(first, hex(Reply3000));
    QCOMPARE(second.size(), 7);
    QCOMPARE(second.left(6), first.left(6));
    QVERIFY(!crcOk(second));
    QCOMPARE(driver->log().last().faults, QStringLiteral("crc corrupted"));
}

void TestSimulatorDriver::droppedReplies()
{
    driver->faults().dropEvery = 2;
    QVERIFY(exchange(hex(Read40146)));
    QVERIFY(exchange(hex(Write1500)));
    QVERIFY(exchange(hex(Read40107)));
    // The dropped reply is never written, so exactly the 1st and 3rd arrive, in order.
    QCOMPARE(panel->collect(14), hex(Reply3000) + hex(Reply1500));
    QTest::qWait(50);
    QCOMPARE(panel->collect(1, 100), QByteArray());
    // The write behind the dropped reply was carried out all the same.
    QCOMPARE(driver->model().read(RegisterMap::LdCurrentSetting), quint16(1500));
    QVERIFY(driver->log()[1].writes.isEmpty());
    QCOMPARE(driver->log()[1].faults, QStringLiteral("dropped"));
}

void TestSimulatorDriver::strayBytesAhead()
{
    driver->faults().strayBytes = 3;
    QVERIFY(exchange(hex(Read40146)));
    const QByteArray burst = panel->collect(10);
    QCOMPARE(burst.size(), 10);
    QCOMPARE(burst.mid(3), hex(Reply3000));
    QCOMPARE(driver->log().last().writes.size(), 1);
}

void TestSimulatorDriver::silenceIgnoresEverything()
{
    driver->faults().silent = true;
    QVERIFY(exchange(hex(Write1500)));
    QVERIFY(driver->log().last().silenced);
    driver->faults().silent = false;
    QVERIFY(exchange(hex(Read40107)));
    // Only the reply to the read comes, and it shows the write was not carried out.
    QCOMPARE(panel->collect(7), hex(Reply0));
    QTest::qWait(50);
    QCOMPARE(panel->collect(1, 100), QByteArray());
}

void TestSimulatorDriver::logLines_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("line");

    QTest::newRow("read") << hex(Read40146) << "03 40146 -> 3000";
    QTest::newRow("write") << hex(Write1500) << "06 40107 <- 1500 ok";
    QTest::newRow("refused write") << hex("01069CAB0BB910F8") << "06 40107 <- 3001 exception 03";
    QTest::newRow("bad CRC") << hex("01039CD200010A64")
                             << "-- no valid frame, ignored: 01 03 9C D2 00 01 0A 64";
}

void TestSimulatorDriver::logLines()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, line);

    QVERIFY(exchange(request));
    QCOMPARE(SimulatedDriver::describe(driver->log().last()), line);
}

#else

void TestSimulatorDriver::init()
{
    QSKIP("needs pseudo-terminals");
}
void TestSimulatorDriver::cleanup() {}
void TestSimulatorDriver::servesThePanelsSerialPort() {}
void TestSimulatorDriver::framesFromTheLine_data() {}
void TestSimulatorDriver::framesFromTheLine() {}
void TestSimulatorDriver::delay_data() {}
void TestSimulatorDriver::delay() {}
void TestSimulatorDriver::splitReplyComesAsTwoWrites() {}
void TestSimulatorDriver::corruptedCrc() {}
void TestSimulatorDriver::droppedReplies() {}
void TestSimulatorDriver::strayBytesAhead() {}
void TestSimulatorDriver::silenceIgnoresEverything() {}
void TestSimulatorDriver::logLines_data() {}
void TestSimulatorDriver::logLines() {}

#endif

void TestSimulatorDriver::unopenablePortIsReported()
{
    SimulatedDriver other;
    QVERIFY(!other.openPort(QStringLiteral("/dev/no-such-serial-port")));
    QVERIFY(!other.isOpen());
    QVERIFY(other.errorString().contains(QStringLiteral("/dev/no-such-serial-port")));
}

QTEST_GUILESS_MAIN(TestSimulatorDriver)
#include "tst_simulatordriver.moc"
