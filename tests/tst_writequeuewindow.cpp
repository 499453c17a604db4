#include "dialogcatcher.h"
#include "hcom.h"
#include "mainwindow.h"
#include "mainwindowprobe.h"
#include "registermap.h"
#include "rtutestbytes.h"
#include "stdoutcapture.h"
#ifdef Q_OS_UNIX
#include "ptypair.h"
#endif

#include <QtTest>

#include <memory>

using namespace RtuTestBytes;

namespace {

const QByteArray LdOnFrame = hex("01 06 9C 4E 00 01 06 4D");

QByteArray frontFrame(RegisterWriteQueue &queue)
{
    QueuedFrame frame{};
    if (queue.peek(frame) != 1)
        return QByteArray();
    return fromRaw(frame.data, frame.length);
}

} // namespace

// queueRegisterWrite and the master step through a real window. The tick timer is stopped so
// that the test alone decides when the master runs; the port is marked open without a device,
// so the channel has nowhere to write.
class TestWriteQueueWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void portClosedWarns_data();
    void portClosedWarns();
    void portOpenQueuesFrame_data();
    void portOpenQueuesFrame();
    void fullRingWarns_data();
    void fullRingWarns();
    void queuedWriteGoesOutOnTheTick();
    void writeFailureWarnsAfterTheTick_data();
    void writeFailureWarnsAfterTheTick();
    void framesReachTheLine();

private:
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
};

void TestWriteQueueWindow::init()
{
    window.reset(new MainWindow);
    probe.reset(new MainWindowProbe(*window));
    probe->tickTimer().stop();
}

void TestWriteQueueWindow::cleanup()
{
    probe->portState() = 0; // nothing to close
    probe.reset();
    window.reset();
}

void TestWriteQueueWindow::portClosedWarns_data()
{
    QTest::addColumn<int>("useEnglish");
    QTest::addColumn<QString>("text");

    QTest::newRow("English") << 1 << QStringLiteral("ComDevice Not Open!");
    QTest::newRow("Chinese") << 0 << QString::fromUtf8("没有打开设备串口!");
}

void TestWriteQueueWindow::portClosedWarns()
{
    QFETCH(int, useEnglish);
    QFETCH(QString, text);

    probe->useEnglish() = useEnglish;
    probe->writeDelay() = 42;
    DialogCatcher catcher;
    probe->queueRegisterWrite(RegisterMap::LdSwitch, 0);

    QCOMPARE(catcher.seen.size(), 1);
    const DialogCatcher::Seen &seen = catcher.seen.first();
    QCOMPARE(seen.title, QStringLiteral("Warning"));
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.parent, static_cast<QWidget *>(window.get()));

    QVERIFY(probe->writeQueue().isEmpty());
    QCOMPARE(int(probe->writeQueue().tail), -1);
    QCOMPARE(int(probe->writePending()), 0);
    QCOMPARE(int(probe->writeDelay()), 42);
}

void TestWriteQueueWindow::portOpenQueuesFrame_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");

    QTest::newRow("LD on") << int(RegisterMap::LdSwitch) << 1;
    QTest::newRow("low 16 bits only") << 0x20000 + RegisterMap::LdSwitch << 0x10001;
}

void TestWriteQueueWindow::portOpenQueuesFrame()
{
    QFETCH(int, reg);
    QFETCH(int, value);

    probe->portState() = 1;
    probe->writeDelay() = 42;
    DialogCatcher catcher;
    probe->queueRegisterWrite(reg, value);

    QVERIFY(catcher.seen.isEmpty());
    QCOMPARE(frontFrame(probe->writeQueue()), LdOnFrame);
    QCOMPARE(int(probe->writeQueue().tail), 0);
    QCOMPARE(int(probe->writePending()), 1);
    QCOMPARE(int(probe->writeDelay()), 0);
}

void TestWriteQueueWindow::fullRingWarns_data()
{
    QTest::addColumn<int>("useEnglish");
    QTest::addColumn<bool>("takeFirst"); // one frame sent before filling: room for 19
    QTest::addColumn<QString>("text");

    QTest::newRow("English, 20 queued") << 1 << false << QStringLiteral("Command Queue Full!");
    QTest::newRow("Chinese, 20 queued") << 0 << false << QString::fromUtf8("命令队列已满!");
    QTest::newRow("English, 19 after a take") << 1 << true << QStringLiteral("Command Queue Full!");
}

void TestWriteQueueWindow::fullRingWarns()
{
    QFETCH(int, useEnglish);
    QFETCH(bool, takeFirst);
    QFETCH(QString, text);

    probe->useEnglish() = useEnglish;
    probe->portState() = 1;
    RegisterWriteQueue &queue = probe->writeQueue();
    DialogCatcher catcher;

    if (takeFirst) {
        probe->queueRegisterWrite(RegisterMap::LdCurrentSetting, 0);
        QueuedFrame frame{};
        QCOMPARE(queue.peek(frame), 1);
        queue.pop();
    }
    const int room = takeFirst ? 19 : 20;
    for (int i = 0; i < room; ++i)
        probe->queueRegisterWrite(RegisterMap::LdCurrentSetting, i);
    QVERIFY(catcher.seen.isEmpty());
    const qint8 tail = queue.tail;
    const QByteArray last = fromRaw(queue.slots[tail].data, queue.slots[tail].length);
    const QByteArray front = frontFrame(queue);
    QCOMPARE(front, withCrc("01 06 9C AB 00 00"));

    // The wait for the send has been running; a refused write must not restart it.
    probe->writeDelay() = 42;
    probe->queueRegisterWrite(RegisterMap::LdSwitch, 0);

    QCOMPARE(catcher.seen.size(), 1);
    const DialogCatcher::Seen &seen = catcher.seen.first();
    QCOMPARE(seen.title, QStringLiteral("Warning"));
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.parent, static_cast<QWidget *>(window.get()));

    QCOMPARE(int(probe->writePending()), 1);
    QCOMPARE(int(probe->writeDelay()), 42);
    QCOMPARE(queue.tail, tail);
    QCOMPARE(fromRaw(queue.slots[tail].data, queue.slots[tail].length), last);
    QCOMPARE(frontFrame(queue), front);
}

void TestWriteQueueWindow::queuedWriteGoesOutOnTheTick()
{
    probe->portState() = 1;
    probe->queueRegisterWrite(RegisterMap::LdSwitch, 1);

    QByteArray trace;
    {
        StdoutCapture capture;
        for (int i = 0; i < 99; ++i)
            probe->masterStep();
        trace = capture.text();
    }
    QVERIFY(trace.isEmpty());
    QCOMPARE(frontFrame(probe->writeQueue()), LdOnFrame);
    {
        StdoutCapture capture;
        probe->masterStep();
        trace = capture.text();
    }
    QCOMPARE(trace, QByteArray("write_dir 8 :01 06 9c 4e 00 01 06 4d \r\n"));
    // Queued until the driver's copy; no read has told yet whether the line echoes, so the
    // first copy may be the line's own and only a second one confirms.
    QCOMPARE(frontFrame(probe->writeQueue()), LdOnFrame);
    const QByteArray copies = LdOnFrame + LdOnFrame;
    probe->storeResponse(raw(copies), quint16(copies.size()));
    probe->masterStep();
    QVERIFY(probe->writeQueue().isEmpty());
    QCOMPARE(int(probe->writePending()), 0);

    // Polling resumes; the wait ran the poll, as no read had yet shown how the line behaves.
    // At its next send tick a reply is taken for row 0.
    while (probe->pollTable().phase != PollTable::SendPhase)
        probe->masterStep();
    probe->masterStep();
    QCOMPARE(int(probe->pollTable().phase), 2);
    const QByteArray reply = hex("01 03 02 00 64 B9 AF");
    probe->storeResponse(raw(reply), quint16(reply.size()));
    probe->masterStep();
    QCOMPARE(int(probe->pollTable().entries[RegisterMap::RowMaxCurrent].value), 100);
    QCOMPARE(int(probe->deviceOnline()), 1);

    // Closed, the step leaves everything alone.
    probe->portState() = 0;
    probe->storeResponse(raw(reply), quint16(reply.size()));
    const quint16 phase = probe->pollTable().phase;
    for (int i = 0; i < 200; ++i)
        probe->masterStep();
    QCOMPARE(probe->pollTable().phase, phase);
    QCOMPARE(int(probe->responseBuffer().ready), 1);
}

void TestWriteQueueWindow::writeFailureWarnsAfterTheTick_data()
{
    QTest::addColumn<int>("useEnglish");
    QTest::addColumn<QByteArray>("answer"); // empty: none
    QTest::addColumn<int>("ticks");         // until the frame leaves the queue
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("writes"); // queued; more than one only where the port closes first

    const QByteArray refusal = withCrc("01 86 02");
    QTest::newRow("refused") << 1 << refusal << 101 << QStringLiteral("Command Refused!") << 1;
    QTest::newRow("refused, Chinese")
        << 0 << refusal << 101 << QString::fromUtf8("命令被拒绝!") << 1;
    QTest::newRow("not confirmed")
        << 1 << QByteArray() << 400 << QStringLiteral("Command Not Confirmed!") << 1;
    QTest::newRow("not confirmed, Chinese")
        << 0 << QByteArray() << 400 << QString::fromUtf8("命令未确认!") << 1;
    // Closed before the delay ran out: one warning for all that the close dropped.
    QTest::newRow("not sent") << 1 << QByteArray() << 50 << QStringLiteral("Command Not Sent!")
                              << 3;
    QTest::newRow("not sent, Chinese")
        << 0 << QByteArray() << 50 << QString::fromUtf8("命令未发送!") << 1;
}

void TestWriteQueueWindow::writeFailureWarnsAfterTheTick()
{
    QFETCH(int, useEnglish);
    QFETCH(QByteArray, answer);
    QFETCH(int, ticks);
    QFETCH(QString, text);
    QFETCH(int, writes);

    probe->useEnglish() = useEnglish;
    probe->portState() = 1;
    for (int i = 0; i < writes; ++i)
        probe->queueRegisterWrite(RegisterMap::LdSwitch, 1);
    DialogCatcher catcher;
    {
        StdoutCapture capture; // the trace of each send
        for (int i = 1; i <= ticks; ++i) {
            if (i == 101 && !answer.isEmpty())
                probe->storeResponse(raw(answer), quint16(answer.size()));
            probe->masterStep();
        }
        if (ticks < WriteInFlight::DelayTicks) {
            probe->portState() = 0;
            probe->masterStep();
        }
    }
    QVERIFY(probe->writeQueue().isEmpty());

    // Not from inside the step: the dialog opens once the event loop runs again.
    QVERIFY(catcher.seen.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
    QTRY_COMPARE(catcher.seen.size(), 1);
    QCOMPARE(catcher.seen.first().text, text);
    QTest::qWait(50);
    QCOMPARE(catcher.seen.size(), 1);
}

// The poll request and the queued write leave through the channel byte for byte.
void TestWriteQueueWindow::framesReachTheLine()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a pseudo-terminal");
#else
    PtyPair pty;
    QVERIFY(pty.isOpen());
    QVERIFY(probe->com().comOpen(pty.slavePath(), ComSettings()));
    probe->portState() = 1;

    QByteArray line;
    probe->masterStep();
    probe->masterStep();
    QTRY_VERIFY_WITH_TIMEOUT((line += pty.read(), line.size() >= 8), 10000);
    QCOMPARE(line, hex("01 03 9C D2 00 01 0A 63"));

    probe->queueRegisterWrite(RegisterMap::LdSwitch, 1);
    {
        StdoutCapture capture;
        for (int i = 0; i < 100; ++i)
            probe->masterStep();
    }
    line.clear();
    QTRY_VERIFY_WITH_TIMEOUT((line += pty.read(), line.size() >= 8), 10000);
    QCOMPARE(line, LdOnFrame);

    probe->com().comClose(pty.slavePath());
#endif
}

QTEST_MAIN(TestWriteQueueWindow)
#include "tst_writequeuewindow.moc"
