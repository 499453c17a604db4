// The serial channel against a real pseudo-terminal: burst framing, the 2048-byte limit, open,
// close and write, and the one receive timer. Polls are run by hand with the timer held, so each
// poll sees exactly the bytes the test put in front of it.
#include "hcom.h"
#include "hcomprobe.h"
#include "logcapture.h"
#include "ptypair.h"

#include <QHash>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>

#include <termios.h>
#include <utility>

namespace {

QByteArray pattern(int size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + seed * 31 + 1) & 0xff);
    return out;
}

// Takes every burst the moment it is signalled, as the window does.
class BurstTaker : public QObject
{
public:
    explicit BurstTaker(Hcom &channel) : com(channel), probe(channel)
    {
        connect(&com, &Hcom::readSignal, this, [this] { take(); });
    }

    QList<QByteArray> bursts;
    bool stateWasComplete = true;

private:
    void take()
    {
        stateWasComplete = stateWasComplete && probe.rxState() == 2;
        quint8 area[Hcom::RxCapacity];
        quint16 length = 0;
        com.comTakeData(area, length);
        bursts << QByteArray(reinterpret_cast<const char *>(area), length);
    }

    Hcom &com;
    HcomProbe probe;
};

// Counts timer events per QTimer across the whole application.
class TimerWatch : public QObject
{
public:
    TimerWatch() { QCoreApplication::instance()->installEventFilter(this); }
    ~TimerWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

    QHash<QObject *, int> hits;
    int total() const
    {
        int sum = 0;
        for (int n : hits)
            sum += n;
        return sum;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer && qobject_cast<QTimer *>(watched))
            ++hits[watched];
        return false;
    }
};

// Opens the pty's slave side and holds the receive timer.
bool openHeld(Hcom &com, const PtyPair &pty, ComSettings settings = ComSettings())
{
    if (!pty.isOpen() || !com.comOpen(pty.slavePath(), settings))
        return false;
    HcomProbe(com).holdTimer();
    return true;
}

// Puts bytes in front of the next poll and runs it.
bool arrive(PtyPair &pty, HcomProbe &probe, const QByteArray &bytes)
{
    if (!pty.write(bytes) || !probe.waitBuffered(bytes.size()))
        return false;
    probe.poll();
    return true;
}

} // namespace

class tst_Hcom : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portListOnlyOpenable();
    void burstSignalledOnce_data();
    void burstSignalledOnce();
    void splitReply_data();
    void splitReply();
    void chunkLimit_data();
    void chunkLimit();
    void chunkWhileBurstWaits_data();
    void chunkWhileBurstWaits();
    void takeWithNothingGathered();
    void failedOpenAppliesNothing();
    void closeMidBurstStillSignals();
    void lineGoneClosesPort();
    void writeReachesLine_data();
    void writeReachesLine();
    void writeOnClosedPort();
    void lineSettings_data();
    void lineSettings();
    void liveBurst();
    void reopenKeepsOnePoll_data();
    void reopenKeepsOnePoll();
};

void tst_Hcom::portListOnlyOpenable()
{
    // The system's trial open on real lines: a port that another port object holds, or that is
    // not there, is left out.
    PtyPair free;
    PtyPair held;
    QVERIFY(free.isOpen() && held.isOpen());
    QSerialPort holder(held.slavePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    const QStringList present = {free.slavePath(), held.slavePath(),
                                 QStringLiteral("/dev/no-such-serial-port")};
    Hcom com;
    com.setPortSource(PortSource{[&] { return present; }, Hcom::systemPorts().opens});
    QCOMPARE(com.comPortList(), QStringList{free.slavePath()});

    // The trial leaves the port shut, free for the channel.
    QVERIFY(!HcomProbe(com).port().isOpen());
    QVERIFY(com.comOpen(free.slavePath(), ComSettings()));
}

void tst_Hcom::burstSignalledOnce_data()
{
    QTest::addColumn<int>("idleBefore");
    QTest::addColumn<int>("pollsToSignal");
    QTest::newRow("count 0, right after open") << 0 << 5;
    QTest::newRow("count 1") << 1 << 4;
    QTest::newRow("count 2") << 2 << 3;
    QTest::newRow("count 3") << 3 << 2;
    QTest::newRow("count 4") << 4 << 1;
}

void tst_Hcom::burstSignalledOnce()
{
    QFETCH(int, idleBefore);
    QFETCH(int, pollsToSignal);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, pty));
    QSignalSpy spy(&com, SIGNAL(readSignal()));

    QCOMPARE(probe.idleTicks(), 0);
    QVERIFY(probe.emptyPolls(idleBefore));
    QCOMPARE(probe.idleTicks(), idleBefore);

    const QByteArray reply = QByteArray::fromHex("01030200d87840");
    QVERIFY(arrive(pty, probe, reply));
    QCOMPARE(probe.rxState(), 1);
    QCOMPARE(probe.rxCount(), 7);
    QCOMPARE(probe.idleTicks(), idleBefore); // bytes do not reset the count

    QVERIFY(probe.emptyPolls(pollsToSignal - 1));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(probe.rxState(), 1);
    QVERIFY(probe.emptyPolls(1));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(probe.rxState(), 2);
    QCOMPARE(probe.idleTicks(), 0);

    // A complete burst is signalled once, however long it waits.
    QVERIFY(probe.emptyPolls(12));
    QCOMPARE(spy.count(), 1);

    quint8 area[Hcom::RxCapacity];
    quint16 length = 0;
    QCOMPARE(com.comTakeData(area, length), 1);
    QCOMPARE(int(length), 7);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(area), length), reply);
    QCOMPARE(probe.rxState(), 0);
    QCOMPARE(probe.rxCount(), 0);
}

void tst_Hcom::splitReply_data()
{
    QTest::addColumn<int>("idleBefore");
    QTest::addColumn<int>("gap");
    QTest::addColumn<QList<int>>("burstSizes");
    // 3 bytes, then `gap` empty polls, then 4 bytes.
    QTest::newRow("short gap, one burst") << 0 << 1 << QList<int>{7};
    QTest::newRow("four quiet polls from 0, one burst") << 0 << 4 << QList<int>{7};
    QTest::newRow("fifth quiet poll splits") << 0 << 5 << QList<int>{3, 4};
    QTest::newRow("long gap splits") << 0 << 9 << QList<int>{3, 4};
    QTest::newRow("count at 3, two quiet polls split") << 3 << 2 << QList<int>{3, 4};
    QTest::newRow("count at 3, one quiet poll keeps it") << 3 << 1 << QList<int>{7};
}

void tst_Hcom::splitReply()
{
    QFETCH(int, idleBefore);
    QFETCH(int, gap);
    QFETCH(QList<int>, burstSizes);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    BurstTaker taker(com);
    QVERIFY(openHeld(com, pty));

    const QByteArray reply = pattern(7, 1);
    QVERIFY(probe.emptyPolls(idleBefore));
    QVERIFY(arrive(pty, probe, reply.left(3)));
    QVERIFY(probe.emptyPolls(gap));
    QVERIFY(arrive(pty, probe, reply.mid(3)));
    QVERIFY(probe.emptyPolls(5));

    QList<int> sizes;
    for (const QByteArray &b : std::as_const(taker.bursts))
        sizes << b.size();
    QCOMPARE(sizes, burstSizes);
    QCOMPARE(taker.bursts.join(), reply);
    QVERIFY(taker.stateWasComplete);
    QCOMPARE(probe.rxState(), 0);
}

void tst_Hcom::chunkLimit_data()
{
    QTest::addColumn<QList<int>>("chunks");
    QTest::addColumn<QList<int>>("kept"); // indices of the chunks that make up the burst
    QTest::addColumn<int>("stateAfter");
    QTest::newRow("two halves reach 2048") << QList<int>{1024, 1024} << QList<int>{0, 1} << 1;
    QTest::newRow("one chunk of 2048") << QList<int>{2048} << QList<int>{0} << 1;
    QTest::newRow("byte after 2048 dropped") << QList<int>{1024, 1024, 1} << QList<int>{0, 1} << 1;
    QTest::newRow("2049 at once in idle dropped") << QList<int>{2049} << QList<int>{} << 0;
    QTest::newRow("misfit dropped whole, smaller fits")
        << QList<int>{2000, 100, 48} << QList<int>{0, 2} << 1;
}

void tst_Hcom::chunkLimit()
{
    QFETCH(QList<int>, chunks);
    QFETCH(QList<int>, kept);
    QFETCH(int, stateAfter);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, pty));
    QSignalSpy spy(&com, SIGNAL(readSignal()));

    QByteArray expected;
    for (int i = 0; i < chunks.size(); ++i) {
        const QByteArray chunk = pattern(chunks.at(i), i + 2);
        QVERIFY(arrive(pty, probe, chunk));
        if (kept.contains(i))
            expected += chunk;
        QCOMPARE(probe.gathered(), expected);
    }
    QCOMPARE(probe.rxState(), stateAfter);
    QCOMPARE(probe.rxCount(), expected.size());

    QVERIFY(probe.emptyPolls(5));
    QCOMPARE(spy.count(), expected.isEmpty() ? 0 : 1);
    quint8 area[Hcom::RxCapacity];
    quint16 length = 0;
    com.comTakeData(area, length);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(area), length), expected);
}

void tst_Hcom::chunkWhileBurstWaits_data()
{
    QTest::addColumn<int>("burstSize");
    QTest::addColumn<int>("quietPolls");
    QTest::addColumn<int>("waitingState");
    QTest::newRow("buffer full, still receiving") << 2048 << 0 << 1;
    QTest::newRow("burst complete, not yet taken") << 7 << 5 << 2;
}

void tst_Hcom::chunkWhileBurstWaits()
{
    QFETCH(int, burstSize);
    QFETCH(int, quietPolls);
    QFETCH(int, waitingState);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, pty));

    const QByteArray burst = pattern(burstSize, 5);
    QVERIFY(arrive(pty, probe, burst));
    QVERIFY(probe.emptyPolls(quietPolls));
    QCOMPARE(probe.rxState(), waitingState);

    QVERIFY(arrive(pty, probe, pattern(3, 6)));
    QCOMPARE(probe.gathered(), burst);
    QCOMPARE(probe.rxState(), waitingState);

    quint8 area[Hcom::RxCapacity];
    quint16 length = 0;
    com.comTakeData(area, length);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(area), length), burst);

    // Once taken, the next chunk starts a new burst.
    const QByteArray next = pattern(3, 7);
    QVERIFY(arrive(pty, probe, next));
    QCOMPARE(probe.rxState(), 1);
    QCOMPARE(probe.gathered(), next);
}

void tst_Hcom::takeWithNothingGathered()
{
    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, pty));
    QVERIFY(probe.emptyPolls(3));

    quint8 area[Hcom::RxCapacity];
    std::fill(std::begin(area), std::end(area), quint8(0xA5));
    quint16 length = 999;
    QCOMPARE(com.comTakeData(area, length), 1);
    QCOMPARE(int(length), 0);
    QCOMPARE(area[0], quint8(0xA5));
    QCOMPARE(probe.rxState(), 0);
    QCOMPARE(probe.idleTicks(), 3); // the take leaves the quiet count alone
}

void tst_Hcom::failedOpenAppliesNothing()
{
    const QString missing = QStringLiteral("/dev/ldpanel-no-such-port");
    ComSettings odd;
    odd.parity = 2;
    odd.baudRate = 9600;

    // A fresh channel: no port, no poll.
    {
        Hcom com;
        HcomProbe probe(com);
        QVERIFY(!com.comOpen(missing, odd));
        QVERIFY(!probe.port().isOpen());
        QVERIFY(!probe.rxTimer() || !probe.rxTimer()->isActive());
    }

    PtyPair first;
    PtyPair second;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, first));
    QVERIFY(probe.emptyPolls(2));
    QVERIFY(arrive(first, probe, pattern(7, 1)));
    com.comClose(first.slavePath());

    QVERIFY(!com.comOpen(missing, odd));
    QVERIFY(!probe.port().isOpen());
    QCOMPARE(probe.port().baudRate(), 115200);
    QCOMPARE(probe.port().parity(), QSerialPort::NoParity);
    QCOMPARE(probe.rxState(), 1);
    QCOMPARE(probe.idleTicks(), 2);
    QCOMPARE(probe.rxCount(), 7);

    // The next open works normally and starts from idle.
    QSignalSpy spy(&com, SIGNAL(readSignal()));
    QVERIFY(openHeld(com, second));
    QCOMPARE(probe.rxState(), 0);
    QCOMPARE(probe.idleTicks(), 0);
    QCOMPARE(probe.rxCount(), 0);
    const QByteArray reply = pattern(7, 9);
    QVERIFY(arrive(second, probe, reply));
    QVERIFY(probe.emptyPolls(5));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(probe.gathered(), reply);
}

void tst_Hcom::closeMidBurstStillSignals()
{
    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    BurstTaker taker(com);
    QVERIFY(openHeld(com, pty));

    const QByteArray part = pattern(5, 3);
    QVERIFY(arrive(pty, probe, part));
    LogCapture log;
    QCOMPARE(com.comClose(pty.slavePath()), 1);
    QVERIFY(!probe.port().isOpen());

    // The timer is not stopped by a close; here the test runs the polls itself.
    QVERIFY(probe.emptyPolls(5));
    QCOMPARE(taker.bursts, QList<QByteArray>{part});
    // Polling a closed port is quiet.
    QVERIFY(probe.emptyPolls(20));
    QCOMPARE(log.allLines(), QStringList());
}

void tst_Hcom::lineGoneClosesPort()
{
    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    BurstTaker taker(com);
    QVERIFY(openHeld(com, pty));
    int errors = 0;
    connect(&probe.port(), &QSerialPort::errorOccurred, this,
            [&](QSerialPort::SerialPortError e) { errors += e != QSerialPort::NoError; });

    const QByteArray part = pattern(3, 8);
    QVERIFY(arrive(pty, probe, part));
    pty.closeMaster();

    // The next poll gives the port up, whether or not Qt has reported anything yet (Qt 6.8
    // never does); the burst in hand still completes.
    probe.poll();
    QVERIFY(!probe.port().isOpen());
    QVERIFY(probe.emptyPolls(5));
    QCOMPARE(taker.bursts, QList<QByteArray>{part});

    // No more read errors once the port is shut.
    errors = 0;
    QTest::qWait(50);
    QCOMPARE(errors, 0);
}

void tst_Hcom::writeReachesLine_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("nothing") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("request frame") << 8;
    QTest::newRow("beyond one byte of length") << 300;
}

void tst_Hcom::writeReachesLine()
{
    QFETCH(int, length);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, pty));

    // A marker written after the bytes shows that nothing else went out before it.
    const QByteArray bytes = pattern(length, 4);
    const QByteArray marker = QByteArray::fromHex("55aa");
    QCOMPARE(com.comWrite(reinterpret_cast<const quint8 *>(bytes.constData()), quint16(length)), 1);
    QCOMPARE(com.comWrite(reinterpret_cast<const quint8 *>(marker.constData()), 2), 1);
    QVERIFY(probe.flush());
    QCOMPARE(pty.readExactly(length + 2, 5000), bytes + marker);
}

void tst_Hcom::writeOnClosedPort()
{
    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(openHeld(com, pty));
    com.comClose(pty.slavePath());

    LogCapture log;
    const QByteArray lost = pattern(8, 1);
    QCOMPARE(com.comWrite(reinterpret_cast<const quint8 *>(lost.constData()), 8), 1);
    QCOMPARE(log.allLines(), QStringList());

    QVERIFY(openHeld(com, pty));
    const QByteArray marker = QByteArray::fromHex("55aa");
    com.comWrite(reinterpret_cast<const quint8 *>(marker.constData()), 2);
    QVERIFY(probe.flush());
    QCOMPARE(pty.readExactly(2, 5000), marker);
    QCOMPARE(pty.read(20), QByteArray());
}

void tst_Hcom::lineSettings_data()
{
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("speed");
    QTest::newRow("panel: 115200, none") << 0 << 115200 << int(B115200);
    // A pseudo-terminal has no parity bit (the kernel clears it), so even and odd cannot be
    // read back here.
    QTest::newRow("other value is none") << 3 << 9600 << int(B9600);
    QTest::newRow("negative is none") << -1 << 9600 << int(B9600);
}

void tst_Hcom::lineSettings()
{
    QFETCH(int, parity);
    QFETCH(int, baud);
    QFETCH(int, speed);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    ComSettings settings;
    settings.parity = parity;
    settings.baudRate = baud;
    QVERIFY(openHeld(com, pty, settings));

    QSerialPort &port = probe.port();
    QCOMPARE(port.baudRate(QSerialPort::Input), baud);
    QCOMPARE(port.baudRate(QSerialPort::Output), baud);
    QCOMPARE(port.dataBits(), QSerialPort::Data8);
    QCOMPARE(port.parity(), QSerialPort::NoParity);
    QCOMPARE(port.stopBits(), QSerialPort::OneStop);
    QCOMPARE(port.flowControl(), QSerialPort::NoFlowControl);

    // What the line itself was given.
    termios tio{};
    QCOMPARE(::tcgetattr(pty.slaveFd(), &tio), 0);
    QCOMPARE(int(::cfgetispeed(&tio)), speed);
    QCOMPARE(int(::cfgetospeed(&tio)), speed);
    QCOMPARE(int(tio.c_cflag & CSIZE), int(CS8));
    QCOMPARE(bool(tio.c_cflag & CSTOPB), false);
    QCOMPARE(bool(tio.c_cflag & CRTSCTS), false);
    QCOMPARE(bool(tio.c_iflag & (IXON | IXOFF)), false);
}

void tst_Hcom::liveBurst()
{
    // The receive timer on its own: a reply written to the line comes back as one burst.
    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    BurstTaker taker(com);
    QVERIFY(pty.isOpen());
    QVERIFY(com.comOpen(pty.slavePath(), ComSettings()));
    QVERIFY(probe.rxTimer() && probe.rxTimer()->isActive());

    const QByteArray reply = QByteArray::fromHex("01030200d87840");
    QVERIFY(pty.write(reply));
    // A loaded machine may deliver the bytes late enough to end a burst early, so only the
    // bytes and their order are checked.
    QTRY_COMPARE_WITH_TIMEOUT(taker.bursts.join(), reply, 10000);
    QVERIFY(!taker.bursts.contains(QByteArray()));
    QVERIFY(taker.stateWasComplete);
    QVERIFY(probe.rxTimer()->isActive());
}

void tst_Hcom::reopenKeepsOnePoll_data()
{
    // The step check below counts polls modulo 5, so the numbers of opens (cycles + 1) are
    // chosen not to be 1 modulo 5.
    QTest::addColumn<int>("cycles");
    QTest::newRow("first open only") << 0;
    QTest::newRow("one re-open") << 1;
    QTest::newRow("many re-opens") << 13;
}

void tst_Hcom::reopenKeepsOnePoll()
{
    QFETCH(int, cycles);

    PtyPair pty;
    Hcom com;
    HcomProbe probe(com);
    QVERIFY(pty.isOpen());
    for (int i = 0; i < cycles; ++i) {
        QVERIFY(com.comOpen(pty.slavePath(), ComSettings()));
        QCoreApplication::processEvents();
        QCOMPARE(com.comClose(pty.slavePath()), 1);
        QCoreApplication::processEvents();
    }
    QVERIFY(com.comOpen(pty.slavePath(), ComSettings()));
    QTimer *timer = probe.rxTimer();
    QVERIFY(timer && timer->isActive());

    // With the line quiet every poll adds one to the modulo-5 quiet count, so the step seen
    // between two ticks of the timer is the number of polls each tick ran.
    QList<int> steps;
    int last = -1;
    const QMetaObject::Connection watch = connect(timer, &QTimer::timeout, this, [&] {
        if (last >= 0)
            steps << (probe.idleTicks() - last + 5) % 5;
        last = probe.idleTicks();
    });

    TimerWatch timers;
    QTRY_VERIFY_WITH_TIMEOUT(steps.size() >= 100 || timers.total() >= 1000, 20000);
    disconnect(watch);

    QCOMPARE(steps.count(1), steps.size());
    QCOMPARE(timers.hits.keys(), QList<QObject *>{timer});
}

QTEST_GUILESS_MAIN(tst_Hcom)
#include "tst_hcom.moc"
