#include "modbusmaster.h"
#include "registermap.h"
#include "rtuframe.h"
#include "rtutestbytes.h"
#include "stdoutcapture.h"

#include <QtTest>

#include <memory>
#include <random>

using namespace RtuTestBytes;

namespace {

const QByteArray Read40146 = hex("01 03 9C D2 00 01 0A 63");
const QByteArray Read40114 = hex("01 03 9C B2 00 01 0A 7D");
const QByteArray LdOnFrame = hex("01 06 9C 4E 00 01 06 4D");
const QByteArray LdOnTrace = "write_dir 8 :01 06 9c 4e 00 01 06 4d \r\n";
const QByteArray LdOffFrame = hex("01 06 9C 4E 00 00 C7 8D");

QByteArray readReply(quint16 value)
{
    QByteArray bytes = hex("01 03 02");
    bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xFF));
    return withCrc(bytes);
}

// The master's state as MainWindow holds it, driven tick by tick; every frame the master hands
// to the link is recorded with the tick that sent it.
class Bench : public MasterLink
{
public:
    struct Sent
    {
        int tick;
        QByteArray bytes;
    };

    Bench() { table.fillDefault(); }

    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            ++ticks;
            master.step(portOpen, *this);
        }
    }

    // Ticks until the next frame goes out (at most limit ticks); returns the tick that sent it.
    int tickUntilSent(int limit = 1000)
    {
        const int before = sent.size();
        for (int i = 0; i < limit && sent.size() == before; ++i)
            tick();
        return sent.size() > before ? sent.last().tick : -1;
    }

    void deliver(const QByteArray &burst) { response.store(raw(burst), quint16(burst.size())); }

    // The first read answered, after its echo or with none: the line is then known.
    void learnLine(bool echoes)
    {
        tickUntilSent();
        tick(5);
        deliver((echoes ? sent.last().bytes : QByteArray()) + readReply(100));
        tick();
    }

    int sendReadRequest(int slave, int reg) override
    {
        const RtuFrame::Request frame = RtuFrame::readRequest(slave, reg);
        sent.append({ticks, fromRaw(frame.data(), RtuFrame::RequestLength)});
        return 1;
    }
    int sendWriteRequest(int slave, int reg, int value) override
    {
        const RtuFrame::Request frame = RtuFrame::writeRequest(slave, reg, value);
        sent.append({ticks, fromRaw(frame.data(), RtuFrame::RequestLength)});
        return 1;
    }
    void writeFrame(const quint8 *bytes, quint16 length) override
    {
        sent.append({ticks, fromRaw(bytes, length)});
    }
    void writeFailed(WriteFailure failure, const QueuedFrame &) override
    {
        failures.append(failure);
    }
    void writeAnswered(const QueuedFrame &, quint8 exception) override
    {
        answered.append(exception);
    }

    PollTable table;
    std::unique_ptr<RegisterWriteQueue> queue{makeQueue()};
    ResponseBuffer response;
    quint8 writePending = 0;
    quint16 writeDelay = 0;
    quint8 deviceOnline = 0;
    bool portOpen = true;
    int ticks = 0;
    QList<Sent> sent;
    QList<WriteFailure> failures;
    QList<int> answered; // the exception code of each write answered, 0 for a copy
    ModbusMaster master{table, *queue, response, writePending, writeDelay, deviceOnline};

private:
    static RegisterWriteQueue *makeQueue()
    {
        auto *queue = new RegisterWriteQueue;
        queue->reset();
        return queue;
    }
};

// Runs ticks with standard output sent to a file and returns what was written. QCOMPARE output
// would be swallowed too, so the checks stay outside.
QByteArray tickCapturingStdout(Bench &bench, int n)
{
    StdoutCapture capture;
    bench.tick(n);
    return capture.text();
}

} // namespace

class TestModbusMaster : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void traceFormat_data();
    void traceFormat();
    void firstRequestOnSecondTick();
    void silentDeviceIsAskedAgain();
    void answerTiming_data();
    void answerTiming();
    void sweepStoresEachRowAndWraps();
    void badCrcThenGoodReplyInOneSlot();
    void oneByteBurstLeavesPhase();
    void repliesByFunction_data();
    void repliesByFunction();
    void oneAnswerPerRequest();
    void burstBeforeFirstRequestAnswersNothing();
    void writeQueuedMidSlotFreezesPoll();
    void writesQueuedApartGoOutAfterLastQueueing();
    void writeOutcomes_data();
    void writeOutcomes();
    void queuedFrameWaitsWithoutPending();
    void closedPortDoesNothing();
    void flushAtClose_data();
    void flushAtClose();
    void reopenContinuesSlot();
    void pollRowFunctions_data();
    void pollRowFunctions();
    void noFrameAcrossAGap_data();
    void noFrameAcrossAGap();
    void responseBufferLimit_data();
    void responseBufferLimit();
    void lateRepliesNeverReachAnotherRow_data();
    void lateRepliesNeverReachAnotherRow();
    void examiningOnArrivalKeepsTheCycle_data();
    void examiningOnArrivalKeepsTheCycle();
    void examiningOnArrivalLeavesOtherTicksAlone_data();
    void examiningOnArrivalLeavesOtherTicksAlone();
};

void TestModbusMaster::traceFormat_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("LD on") << LdOnFrame << LdOnTrace;
    QTest::newRow("no bytes") << QByteArray() << QByteArray("write_dir 0 :\r\n");
    QTest::newRow("high bytes") << hex("FF 80 0A") << QByteArray("write_dir 3 :ff 80 0a \r\n");
}

void TestModbusMaster::traceFormat()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, line);

    std::FILE *file = std::tmpfile();
    QVERIFY(file);
    traceFrame("write_dir", raw(bytes), quint16(bytes.size()), file);
    // No flush of our own: traceFrame must have flushed.
    const long size = std::ftell(file);
    std::rewind(file);
    QByteArray written(int(size), '\0');
    const size_t got = std::fread(written.data(), 1, size_t(size), file);
    std::fclose(file);
    QCOMPARE(int(got), int(size));
    QCOMPARE(written, line);
}

void TestModbusMaster::firstRequestOnSecondTick()
{
    Bench bench;
    bench.tick();
    QVERIFY(bench.sent.isEmpty());
    QCOMPARE(int(bench.table.phase), 1);
    bench.tick();
    QCOMPARE(bench.sent.size(), 1);
    QCOMPARE(bench.sent[0].bytes, Read40146);
    QCOMPARE(int(bench.table.phase), 2);
}

void TestModbusMaster::silentDeviceIsAskedAgain()
{
    Bench bench;
    bench.tick(302);
    QCOMPARE(bench.sent.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(bench.sent[i].tick, 2 + 100 * i);
        QCOMPARE(bench.sent[i].bytes, Read40146);
    }
    QCOMPARE(int(bench.table.cursor), 0);
    QCOMPARE(int(bench.deviceOnline), 0);
}

void TestModbusMaster::answerTiming_data()
{
    QTest::addColumn<int>("delay"); // ticks after the send tick before the reply lands

    // Wherever in its slot the reply lands, it answers the request; one that came before the
    // request is burstBeforeFirstRequestAnswersNothing's.
    QTest::newRow("first listening tick") << 0;
    QTest::newRow("mid slot") << 40;
    QTest::newRow("last listening tick") << 97;
    // Lands before the closing tick, which does not look; the send tick takes it before it asks.
    QTest::newRow("after the slot") << 98;
}

void TestModbusMaster::answerTiming()
{
    QFETCH(int, delay);

    Bench bench;
    QCOMPARE(bench.tickUntilSent(), 2);
    bench.tick(delay);
    bench.deliver(readReply(100));
    const int second = bench.tickUntilSent();

    // The next request waits for the end of the slot, and asks for the next row.
    QCOMPARE(second, 102);
    QCOMPARE(bench.sent.last().bytes, Read40114);
    QCOMPARE(int(bench.table.entries[0].value), 100);
    QCOMPARE(int(bench.deviceOnline), 1);
    QCOMPARE(int(bench.table.cursor), 1);
    QCOMPARE(int(bench.response.ready), 0);
}

void TestModbusMaster::sweepStoresEachRowAndWraps()
{
    const QList<QByteArray> frames = {
        Read40146,
        Read40114,
        hex("01 03 75 30 00 01 9E 09"),
        hex("01 03 75 3B 00 01 EF CB"),
        hex("01 03 9C AB 00 01 DB BA"),
        hex("01 03 9C 4B 00 01 DA 4C"),
        hex("01 03 9C 4E 00 01 CA 4D"),
    };
    const quint16 values[7] = {500, 2500, 2534, 1234, 300, 1, 65535};

    Bench bench;
    for (int row = 0; row < 7; ++row) {
        QCOMPARE(bench.tickUntilSent(), 2 + 100 * row);
        QCOMPARE(bench.sent.last().bytes, frames[row]);
        bench.tick(5);
        bench.deliver(readReply(values[row]));
        bench.tick();
        QCOMPARE(int(bench.table.cursor), row == 6 ? 0 : row + 1);
    }
    for (int row = 0; row < 7; ++row)
        QCOMPARE(bench.table.entries[row].value, values[row]);
    QCOMPARE(bench.tickUntilSent(), 702);
    QCOMPARE(bench.sent.last().bytes, Read40146);
}

void TestModbusMaster::badCrcThenGoodReplyInOneSlot()
{
    Bench bench;
    bench.tickUntilSent();
    bench.tick(3);
    bench.deliver(hex("01 03 02 00 64 AF B9"));
    bench.tick();
    QCOMPARE(int(bench.response.ready), 0);
    QCOMPARE(int(bench.table.cursor), 0);
    QCOMPARE(int(bench.deviceOnline), 0);
    bench.tick(3);
    bench.deliver(hex("01 03 02 00 64 B9 AF"));
    bench.tick();
    QCOMPARE(int(bench.table.entries[0].value), 100);
    QCOMPARE(int(bench.table.cursor), 1);
    QCOMPARE(int(bench.deviceOnline), 1);
}

void TestModbusMaster::oneByteBurstLeavesPhase()
{
    Bench bench;
    bench.tickUntilSent();
    bench.tick(10);
    const int phase = bench.table.phase;
    bench.deliver(hex("01"));
    bench.tick();
    QCOMPARE(int(bench.response.ready), 0);
    QCOMPARE(int(bench.table.phase), phase);
    bench.tick();
    QCOMPARE(int(bench.table.phase), phase + 1);
    QCOMPARE(int(bench.table.cursor), 0);
    QCOMPARE(int(bench.deviceOnline), 0);
}

void TestModbusMaster::repliesByFunction_data()
{
    QTest::addColumn<QByteArray>("burst");
    QTest::addColumn<QByteArray>("rest"); // a second burst on the next tick: the answer cut
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("value"); // of the row at the cursor afterwards, 77 before

    const QByteArray no;

    QTest::newRow("read reply") << hex("01 03 02 00 64 B9 AF") << no << true << 100;
    // The driver lacks the register: answered, nothing to store, the cycle goes on.
    QTest::newRow("exception reply") << withCrc("01 83 02") << no << true << 77;
    // Answers to writes answer no read; taken for one, they let the row's own reply come late.
    QTest::newRow("write echo") << LdOnFrame << no << false << 77;
    QTest::newRow("write refused") << withCrc("01 86 02") << no << false << 77;
    QTest::newRow("function 16 reply") << withCrc("01 10 9C 4E 00 01") << no << false << 77;
    QTest::newRow("CRC of nothing") << hex("FF FF") << no << false << 77;
    QTest::newRow("function 04 reply") << withCrc("01 04 02 00 64") << no << false << 77;
    // Answers too short to carry a value; bytes 3 and 4 of the buffer still hold 12 34.
    QTest::newRow("03 without byte count") << withCrc("01 03") << no << false << 77;
    QTest::newRow("03 with byte count only") << withCrc("01 03 02") << no << false << 77;
    QTest::newRow("03 with one value byte") << withCrc("01 03 02 00") << no << false << 77;
    // Not the answer to a one-register read, whatever their CRC says.
    QTest::newRow("another slave's reply") << withCrc("02 03 02 00 64") << no << false << 77;
    QTest::newRow("byte count 4") << withCrc("01 03 04 00 64 00 65") << no << false << 77;
    QTest::newRow("byte count 4, 7 bytes") << withCrc("01 03 04 00 64") << no << false << 77;
    QTest::newRow("another slave's exception") << withCrc("02 83 02") << no << false << 77;
    // The panel's own request heard back: set aside, and what follows it is the answer.
    QTest::newRow("echo alone") << Read40146 << no << false << 77;
    QTest::newRow("echo and reply") << Read40146 + readReply(100) << no << true << 100;
    QTest::newRow("echo and exception") << Read40146 + withCrc("01 83 02") << no << true << 77;
    // As real buses wrap it: a transceiver's glitch byte around it, cut by an adapter's timer.
    const QByteArray reply = readReply(100);
    QTest::newRow("glitch byte ahead") << hex("00") + reply << no << true << 100;
    QTest::newRow("byte after") << reply + hex("FF") << no << true << 100;
    QTest::newRow("cut in two") << reply.left(3) << reply.mid(3) << true << 100;
    QTest::newRow("glitch, echo cut")
        << hex("FF") + Read40146.left(5) << Read40146.mid(5) + reply << true << 100;
    QTest::newRow("cut, the rest never comes") << reply.left(6) << no << false << 77;
    // Noise inside the reply spoils it: a frame is only ever found whole.
    QTest::newRow("glitch inside") << reply.left(4) + hex("00") << reply.mid(4) << false << 77;
}

void TestModbusMaster::repliesByFunction()
{
    QFETCH(QByteArray, burst);
    QFETCH(QByteArray, rest);
    QFETCH(bool, accepted);
    QFETCH(int, value);

    Bench bench;
    for (int row = 0; row < 7; ++row)
        bench.table.entries[row].value = 77;
    bench.tickUntilSent();
    bench.tick(5);
    bench.deliver(hex("01 03 02 12 34 00 00")); // bad CRC, dropped
    bench.tick();
    bench.deliver(burst);
    const int phase = bench.table.phase;
    bench.tick();

    QCOMPARE(int(bench.table.phase), phase + 1);
    if (!rest.isEmpty()) {
        QCOMPARE(int(bench.table.cursor), 0);
        bench.deliver(rest);
        bench.tick();
    }
    QCOMPARE(int(bench.response.ready), 0);
    QCOMPARE(int(bench.deviceOnline), accepted ? 1 : 0);
    QCOMPARE(int(bench.table.cursor), accepted ? 1 : 0);
    QCOMPARE(int(bench.table.entries[0].value), value);
    for (int row = 1; row < 7; ++row)
        QCOMPARE(int(bench.table.entries[row].value), 77);
}

void TestModbusMaster::oneAnswerPerRequest()
{
    Bench bench;
    bench.tickUntilSent();
    bench.tick(5);
    bench.deliver(readReply(100));
    bench.tick();
    QCOMPARE(int(bench.table.cursor), 1);

    // A second answer in the same slot (for instance the device's reply to an earlier repeat of
    // this request) must not become the value of the next row.
    bench.tick(5);
    bench.deliver(readReply(999));
    bench.tick();
    QCOMPARE(int(bench.response.ready), 0);
    QCOMPARE(int(bench.table.entries[0].value), 100);
    QCOMPARE(int(bench.table.entries[1].value), 0);
    QCOMPARE(int(bench.table.cursor), 1);

    // The next row's own answer is taken.
    QCOMPARE(bench.tickUntilSent(), 102);
    QCOMPARE(bench.sent.last().bytes, Read40114);
    bench.tick(5);
    bench.deliver(readReply(2500));
    bench.tick();
    QCOMPARE(int(bench.table.entries[1].value), 2500);
    QCOMPARE(int(bench.table.cursor), 2);
}

void TestModbusMaster::burstBeforeFirstRequestAnswersNothing()
{
    Bench bench;
    bench.deliver(readReply(100));
    bench.tick();
    QCOMPARE(int(bench.response.ready), 0);
    QCOMPARE(int(bench.table.phase), 1);
    QCOMPARE(bench.tickUntilSent(), 2);
    bench.tick(50);
    QCOMPARE(int(bench.table.cursor), 0);
    QCOMPARE(int(bench.table.entries[0].value), 0);
    QCOMPARE(int(bench.deviceOnline), 0);
}

void TestModbusMaster::writeQueuedMidSlotFreezesPoll()
{
    Bench bench;
    bench.learnLine(false);
    bench.tickUntilSent();
    bench.tick(28);
    const int frozen = bench.table.phase;
    QCOMPARE(bench.master.queueWrite(RegisterMap::LdSwitch, 1), 0);
    QCOMPARE(int(bench.writePending), 1);
    QCOMPARE(int(bench.writeDelay), 0);

    // The poll reply lands during the wait and is kept for the poll cycle.
    bench.tick(40);
    bench.deliver(readReply(100));
    bench.tick(59);
    QCOMPARE(bench.sent.size(), 2);
    QCOMPARE(int(bench.table.phase), frozen);
    QCOMPARE(int(bench.table.cursor), 1);
    QCOMPARE(int(bench.writeDelay), 99);

    // It is credited just before the frame goes out.
    const QByteArray trace = tickCapturingStdout(bench, 1);
    QCOMPARE(bench.sent.size(), 3);
    QCOMPARE(bench.sent.last().bytes, LdOnFrame);
    QCOMPARE(trace, LdOnTrace);
    QCOMPARE(int(bench.table.entries[1].value), 100);
    QCOMPARE(int(bench.table.cursor), 2);
    QCOMPARE(int(bench.response.ready), 0);
    QCOMPARE(int(bench.writeDelay), 0);

    // The frame stays queued until its echo.
    bench.tick(3);
    QVERIFY(!bench.queue->isEmpty());
    bench.deliver(LdOnFrame);
    bench.tick();
    QVERIFY(bench.queue->isEmpty());
    QCOMPARE(int(bench.writePending), 0);
    QVERIFY(bench.failures.isEmpty());
    QCOMPARE(int(bench.table.phase), frozen);

    // The slot resumes where it stopped.
    const int resumed = bench.ticks + 1;
    bench.tick();
    QCOMPARE(int(bench.table.phase), frozen + 1);
    QCOMPARE(bench.tickUntilSent(), resumed + (100 - frozen) + 1);
    QCOMPARE(bench.sent.last().bytes,
             fromRaw(RtuFrame::readRequest(1, RegisterMap::TecTemp).data(), 8));
}

void TestModbusMaster::writesQueuedApartGoOutAfterLastQueueing()
{
    Bench bench;
    bench.learnLine(false);
    bench.tick(4);
    const int frozen = bench.table.phase;
    bench.master.queueWrite(RegisterMap::LdSwitch, 1);
    bench.tick(30);
    bench.master.queueWrite(RegisterMap::LdSwitch, 0);
    const int secondQueued = bench.ticks;

    QByteArray trace = tickCapturingStdout(bench, 100);
    QCOMPARE(bench.sent.size(), 2);
    QCOMPARE(bench.sent[1].tick, secondQueued + 100);
    QCOMPARE(bench.sent[1].bytes, LdOnFrame);
    QCOMPARE(int(bench.writePending), 1);

    // Echoed at once, the second still keeps the pace of one send per 100 ticks.
    bench.tick(4);
    bench.deliver(LdOnFrame);
    trace += tickCapturingStdout(bench, 96);
    QCOMPARE(bench.sent.size(), 3);
    QCOMPARE(bench.sent[2].tick, secondQueued + 200);
    QCOMPARE(bench.sent[2].bytes, LdOffFrame);
    QCOMPARE(trace, LdOnTrace + "write_dir 8 :01 06 9c 4e 00 00 c7 8d \r\n");

    bench.tick(4);
    bench.deliver(LdOffFrame);
    bench.tick();
    QCOMPARE(int(bench.writePending), 0);
    QVERIFY(bench.queue->isEmpty());
    QCOMPARE(int(bench.table.phase), frozen);
    bench.tick();
    QCOMPARE(int(bench.table.phase), frozen + 1);
}

void TestModbusMaster::writeOutcomes_data()
{
    // 0 not yet known, 1 without echo, 2 echoing, 3 without echo, shown by a read answered while
    // the write waits
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("later"); // a second burst, 5 ticks after the answer
    QTest::addColumn<int>("answeredSend"); // the send the answer follows; 0 none
    QTest::addColumn<int>("sends");
    QTest::addColumn<int>("failure"); // -1 none, else a WriteFailure

    const int none = -1;
    const int refused = int(WriteFailure::Refused);
    const int unconfirmed = int(WriteFailure::NotConfirmed);
    const QByteArray no;
    const QByteArray refusal = withCrc("01 86 02");
    QTest::newRow("echoed") << 1 << LdOnFrame << no << 1 << 1 << none;
    QTest::newRow("echoed after a resend") << 1 << LdOnFrame << no << 2 << 2 << none;
    QTest::newRow("refused") << 1 << refusal << no << 1 << 1 << refused;
    QTest::newRow("never answered") << 1 << no << no << 0 << 3 << unconfirmed;
    QTest::newRow("echo with a bad CRC")
        << 1 << hex("01 06 9C 4E 00 01 06 4E") << no << 1 << 3 << unconfirmed;
    QTest::newRow("echo of another write") << 1 << LdOffFrame << no << 1 << 3 << unconfirmed;
    QTest::newRow("a poll reply instead") << 1 << readReply(5) << no << 1 << 3 << unconfirmed;
    QTest::newRow("another slave's copy")
        << 1 << withCrc("02 06 9C 4E 00 01") << no << 1 << 3 << unconfirmed;
    QTest::newRow("another slave's exception")
        << 1 << withCrc("02 86 02") << no << 1 << 3 << unconfirmed;
    // The driver's copy found among glitch bytes, or whole once its rest has come.
    QTest::newRow("two copies in one burst") << 1 << LdOnFrame + LdOnFrame << no << 1 << 1 << none;
    QTest::newRow("copy between glitch bytes")
        << 1 << hex("00") + LdOnFrame + hex("FF") << no << 1 << 1 << none;
    QTest::newRow("copy cut in two")
        << 1 << LdOnFrame.left(3) << LdOnFrame.mid(3) << 1 << 1 << none;
    // On a line that echoes, the first copy is the line's own.
    QTest::newRow("line's echo alone") << 2 << LdOnFrame << no << 1 << 3 << unconfirmed;
    QTest::newRow("echo, then the copy") << 2 << LdOnFrame << LdOnFrame << 1 << 1 << none;
    QTest::newRow("echo and copy in one burst")
        << 2 << LdOnFrame + LdOnFrame << no << 1 << 1 << none;
    QTest::newRow("echo and refusal") << 2 << LdOnFrame + refusal << no << 1 << 1 << refused;
    QTest::newRow("glitch, echo, copy cut") << 2 << hex("00") + LdOnFrame + LdOnFrame.left(5)
                                            << LdOnFrame.mid(5) + hex("FF") << 1 << 1 << none;
    QTest::newRow("echo cut, nothing more")
        << 2 << LdOnFrame.left(5) << LdOnFrame.mid(5) << 1 << 3 << unconfirmed;
    // Before the line is known a lone copy may be the driver's: not sent again, not failed.
    QTest::newRow("unknown line, one copy") << 0 << LdOnFrame << no << 1 << 1 << none;
    QTest::newRow("unknown line, two copies") << 0 << LdOnFrame << LdOnFrame << 1 << 1 << none;
    QTest::newRow("line learnt while the write waits") << 3 << LdOnFrame << no << 1 << 1 << none;
}

void TestModbusMaster::writeOutcomes()
{
    QFETCH(int, line);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, later);
    QFETCH(int, answeredSend);
    QFETCH(int, sends);
    QFETCH(int, failure);

    Bench bench;
    if (line == 1 || line == 2)
        bench.learnLine(line == 2);
    const int queuedAt = bench.ticks;
    bench.master.queueWrite(RegisterMap::LdSwitch, 1);
    QByteArray trace;
    QList<int> sendTicks;
    int dueAnswer = -1;
    for (int t = 0; t < 400 && !bench.queue->isEmpty(); ++t) {
        const int before = bench.sent.size();
        trace += tickCapturingStdout(bench, 1);
        if (line == 3 && bench.sent.size() > before && bench.sent.last().bytes == Read40146)
            bench.deliver(readReply(100));
        if (bench.sent.size() > before && bench.sent.last().bytes == LdOnFrame) {
            sendTicks.append(bench.ticks);
            if (sendTicks.size() == answeredSend)
                dueAnswer = bench.ticks + 5;
        }
        if (bench.ticks == dueAnswer)
            bench.deliver(answer);
        if (bench.ticks == dueAnswer + 5 && !later.isEmpty())
            bench.deliver(later);
    }

    // One send per 100 ticks, each traced; then the frame has left the queue.
    QVERIFY(bench.queue->isEmpty());
    QCOMPARE(int(bench.writePending), 0);
    QCOMPARE(sendTicks.size(), sends);
    for (int i = 0; i < sends; ++i)
        QCOMPARE(sendTicks[i], queuedAt + 100 * (i + 1));
    QCOMPARE(trace, LdOnTrace.repeated(sends));
    QCOMPARE(bench.failures.size(), failure < 0 ? 0 : 1);
    if (failure >= 0)
        QCOMPARE(int(bench.failures.first()), failure);
    // Each write ends once: answered (its exception code, 0 for a copy) or not confirmed.
    QCOMPARE(bench.answered, failure < 0                             ? QList<int>{0}
                             : failure == int(WriteFailure::Refused) ? QList<int>{2}
                                                                     : QList<int>());
    if (failure == int(WriteFailure::NotConfirmed))
        QCOMPARE(bench.ticks, queuedAt + 100 * (sends + 1));
    QCOMPARE(bench.master.lineEcho(), line == 0   ? ModbusMaster::LineEcho::Unknown
                                      : line == 2 ? ModbusMaster::LineEcho::Echoes
                                                  : ModbusMaster::LineEcho::NoEcho);
    // Polling resumes.
    QVERIFY(bench.tickUntilSent() > 0);
    QCOMPARE(bench.sent.last().bytes, line > 0 ? Read40114 : Read40146);
}

void TestModbusMaster::queuedFrameWaitsWithoutPending()
{
    Bench bench;
    bench.tickUntilSent();
    const int phase = bench.table.phase;
    QCOMPARE(bench.queue->push(raw(LdOnFrame), 8), 0);
    bench.tick(300);
    QCOMPARE(bench.sent.size(), 1);
    QCOMPARE(int(bench.table.phase), phase);
    QCOMPARE(int(bench.writeDelay), 0);
}

void TestModbusMaster::closedPortDoesNothing()
{
    Bench bench;
    bench.tickUntilSent();
    bench.tick(5);
    bench.deliver(readReply(100));
    bench.tick();
    QCOMPARE(int(bench.deviceOnline), 1);
    bench.master.queueWrite(RegisterMap::LdSwitch, 0);
    bench.master.queueWrite(RegisterMap::LdSwitch, 1);
    bench.tick(50);
    bench.deliver(readReply(200));

    // Closed without a flush: nothing queued waits for the next open, and the operator is told.
    bench.portOpen = false;
    bench.tick(1000);
    QCOMPARE(bench.sent.size(), 1);
    QCOMPARE(bench.failures, QList<WriteFailure>({WriteFailure::NotSent, WriteFailure::NotSent}));
    QVERIFY(bench.queue->isEmpty());
    QCOMPARE(int(bench.writePending), 0);
    QCOMPARE(int(bench.response.ready), 1);
    QCOMPARE(int(bench.table.phase), 8);
    QCOMPARE(int(bench.deviceOnline), 1);

    // Re-opened, only polls go out.
    bench.portOpen = true;
    bench.tick(500);
    for (const Bench::Sent &sent : bench.sent)
        QCOMPARE(sent.bytes.at(1), '\x03');
}

void TestModbusMaster::flushAtClose_data()
{
    QTest::addColumn<int>("writes");
    QTest::addColumn<QByteArray>("answer"); // 5 ticks after every send; empty: none
    QTest::addColumn<bool>("lineKnown");
    QTest::addColumn<bool>("sentBefore");      // the first write's first send came before the flush
    QTest::addColumn<QList<int>>("sendTicks"); // after the flush began
    QTest::addColumn<QList<int>>("failures");
    QTest::addColumn<int>("over"); // the tick, after the flush began, when it was over

    const int nc = int(WriteFailure::NotConfirmed);
    const int ns = int(WriteFailure::NotSent);
    const QByteArray no;
    QTest::newRow("one, confirmed")
        << 1 << LdOnFrame << true << false << QList<int>{1} << QList<int>{} << 7;
    QTest::newRow("three, each sent once the last is confirmed")
        << 3 << LdOnFrame << true << false << QList<int>{1, 7, 13} << QList<int>{} << 19;
    QTest::newRow("one, never answered")
        << 1 << no << true << false << QList<int>{1, 101, 201} << QList<int>{nc} << 301;
    QTest::newRow("sent before, keeps its pace")
        << 1 << no << true << true << QList<int>{60, 160} << QList<int>{nc} << 260;
    QTest::newRow("five, never answered: a second, then dropped")
        << 5 << no << true << false << QList<int>{1, 101, 201, 301, 401, 501, 601, 701, 801, 901}
        << QList<int>{nc, nc, nc, nc, ns} << 1000;
    QTest::newRow("unknown line, one copy")
        << 1 << LdOnFrame << false << false << QList<int>{1} << QList<int>{} << 101;
}

void TestModbusMaster::flushAtClose()
{
    QFETCH(int, writes);
    QFETCH(QByteArray, answer);
    QFETCH(bool, lineKnown);
    QFETCH(bool, sentBefore);
    QFETCH(QList<int>, sendTicks);
    QFETCH(QList<int>, failures);
    QFETCH(int, over);

    Bench bench;
    if (lineKnown)
        bench.learnLine(false);
    for (int i = 0; i < writes; ++i)
        bench.master.queueWrite(RegisterMap::LdSwitch, 1);
    tickCapturingStdout(bench, sentBefore ? 140 : 10);
    QVERIFY(bench.master.beginFlush());
    const int begun = bench.ticks;
    QList<int> sent;
    int overAt = -1;
    for (int t = 0; t < 1100 && overAt < 0; ++t) {
        const int before = bench.sent.size();
        tickCapturingStdout(bench, 1);
        if (bench.sent.size() > before) { // writes only, no poll
            QCOMPARE(bench.sent.last().bytes, LdOnFrame);
            sent.append(bench.ticks - begun);
        }
        // Heard on the tick after.
        if (!answer.isEmpty() && !sent.isEmpty() && bench.ticks - begun == sent.last() + 5)
            bench.deliver(answer);
        if (!bench.master.flushing())
            overAt = bench.ticks - begun;
    }
    QCOMPARE(sent, sendTicks);
    QCOMPARE(overAt, over);
    QVERIFY(bench.queue->isEmpty());
    QList<int> failed;
    for (WriteFailure failure : std::as_const(bench.failures))
        failed.append(int(failure));
    QCOMPARE(failed, failures);
    // Every write queued ends once, answered or failed: the event log pairs them with commands.
    QCOMPARE(bench.answered.size() + failures.size(), writes);
}

void TestModbusMaster::reopenContinuesSlot()
{
    Bench bench;
    bench.tickUntilSent();
    bench.tick(48);
    QCOMPARE(int(bench.table.phase), 50);

    bench.portOpen = false;
    bench.tick(500);
    QCOMPARE(int(bench.table.phase), 50);
    bench.portOpen = true;
    const int reopened = bench.ticks;

    // The request sent before closing still gets its answer in this slot.
    bench.tick(10);
    bench.deliver(readReply(100));
    bench.tick();
    QCOMPARE(int(bench.table.cursor), 1);
    // 50 -> 100 takes 50 ticks, the closing tick one more, then the send tick.
    QCOMPARE(bench.tickUntilSent(), reopened + 52);
    QCOMPARE(bench.sent.last().bytes, Read40114);
}

void TestModbusMaster::pollRowFunctions_data()
{
    QTest::addColumn<int>("functionCode");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("frame"); // empty: nothing is sent

    QTest::newRow("read") << 3 << 1 << Read40146;
    QTest::newRow("write row") << 6 << 1 << withCrc("01 06 9C D2 01 F4");
    QTest::newRow("other code") << 4 << 1 << QByteArray();
    QTest::newRow("empty table") << 3 << 0 << QByteArray();
}

void TestModbusMaster::pollRowFunctions()
{
    QFETCH(int, functionCode);
    QFETCH(int, count);
    QFETCH(QByteArray, frame);

    Bench bench;
    bench.table.count = quint8(count);
    bench.table.entries[0].functionCode = quint8(functionCode);
    bench.table.entries[0].value = 500;
    bench.tick(250);
    if (frame.isEmpty()) {
        QVERIFY(bench.sent.isEmpty());
        return;
    }
    QCOMPARE(bench.sent.size(), 3);
    for (const Bench::Sent &sent : bench.sent)
        QCOMPARE(sent.bytes, frame);
}

void TestModbusMaster::noFrameAcrossAGap_data()
{
    QTest::addColumn<int>("loss"); // 0 none, 1 overwritten, 2 dropped for its size, 3 so while
                                   // the first burst waits
    QTest::addColumn<bool>("credited");

    QTest::newRow("nothing lost") << 0 << true;
    QTest::newRow("a burst overwritten between") << 1 << false;
    QTest::newRow("a burst dropped for its size between") << 2 << false;
    QTest::newRow("dropped while the first waits") << 3 << false;
}

void TestModbusMaster::noFrameAcrossAGap()
{
    QFETCH(int, loss);
    QFETCH(bool, credited);

    // Joined, the bytes either side of the lost echo make a well-formed reply that never was.
    Bench bench;
    bench.tickUntilSent();
    bench.tick(5);
    bench.deliver(hex("01 03 02"));
    if (loss != 3)
        bench.tick();
    if (loss == 1)
        bench.deliver(Read40146);
    if (loss >= 2)
        bench.deliver(QByteArray(ResponseBuffer::MaxStored + 1, '\x5A'));
    if (loss == 3)
        bench.tick();
    bench.deliver(hex("63 01 51 74"));
    bench.tick();
    QCOMPARE(bench.table.entries[0].heard, credited);
    QCOMPARE(int(bench.table.cursor), credited ? 1 : 0);
}

void TestModbusMaster::responseBufferLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("stored");

    QTest::newRow("1024") << 1024 << true;
    QTest::newRow("1025") << 1025 << false;
    QTest::newRow("2048") << 2048 << false;
}

void TestModbusMaster::responseBufferLimit()
{
    QFETCH(int, length);
    QFETCH(bool, stored);

    std::unique_ptr<ResponseBuffer> buffer(new ResponseBuffer);
    const QByteArray earlier = hex("01 03 02 00 64 B9 AF");
    buffer->store(raw(earlier), quint16(earlier.size()));
    buffer->ready = 0; // the master has taken it
    const QByteArray burst(length, '\x5A');
    buffer->store(raw(burst), quint16(length));

    QCOMPARE(int(buffer->ready), stored ? 1 : 0);
    QCOMPARE(int(buffer->length), stored ? length : earlier.size());
    QCOMPARE(fromRaw(buffer->data, buffer->length), stored ? burst : earlier);
}

QTEST_APPLESS_MAIN(TestModbusMaster)
#include "tst_modbusmaster.moc"

void TestModbusMaster::lateRepliesNeverReachAnotherRow_data()
{
    QTest::addColumn<int>("delay");      // ticks from request to reply on the line
    QTest::addColumn<int>("dropEvery");  // every Nth request goes unanswered; 0 none
    QTest::addColumn<int>("spoilEvery"); // every Nth reply arrives with a broken CRC; 0 none
    QTest::addColumn<int>("noiseEvery"); // a garbage burst every N ticks; 0 none
    // Non-empty: the device takes one request at a time, and each reply comes one of these
    // delays (picked at random; -1 never) after the reply before it; delay is not used.
    QTest::addColumn<QList<int>>("inTurn");

    const QList<int> pipelined;
    const QList<int> slowFastNever = {130, 150, 170, 0, -1};
    QTest::newRow("prompt") << 5 << 0 << 0 << 0 << pipelined;
    QTest::newRow("prompt, every third dropped") << 5 << 3 << 0 << 0 << pipelined;
    QTest::newRow("just inside the slot") << 97 << 0 << 0 << 0 << pipelined;
    QTest::newRow("half a slot late") << 150 << 0 << 0 << 0 << pipelined;
    QTest::newRow("one and a half slots late") << 250 << 0 << 0 << 0 << pipelined;
    QTest::newRow("four slots late") << 420 << 0 << 0 << 0 << pipelined;
    QTest::newRow("late, every fourth dropped") << 150 << 4 << 0 << 0 << pipelined;
    QTest::newRow("late, every third spoilt") << 250 << 0 << 3 << 0 << pipelined;
    QTest::newRow("late, with noise") << 250 << 0 << 0 << 37 << pipelined;
    QTest::newRow("late, spoilt and noise") << 250 << 0 << 2 << 61 << pipelined;
    QTest::newRow("prompt, with constant noise") << 5 << 0 << 0 << 13 << pipelined;
    QTest::newRow("in turn, 150 each") << 0 << 0 << 0 << 0 << QList<int>{150};
    QTest::newRow("in turn, about 150, 0 or never") << 0 << 0 << 0 << 0 << slowFastNever;
    QTest::newRow("in turn, about 150, 0 or never, spoilt") << 0 << 0 << 3 << 0 << slowFastNever;
    QTest::newRow("in turn, about 150, 0 or never, noise") << 0 << 0 << 0 << 37 << slowFastNever;
}

void TestModbusMaster::lateRepliesNeverReachAnotherRow()
{
    QFETCH(int, delay);
    QFETCH(int, dropEvery);
    QFETCH(int, spoilEvery);
    QFETCH(int, noiseEvery);
    QFETCH(QList<int>, inTurn);

    // The device answers every register with its own number, so a value in the wrong row shows.
    Bench bench;
    QMap<int, QList<QByteArray>> dueReplies;
    std::mt19937 pick(9);
    int busyUntil = 0;
    int requests = 0;
    int replies = 0;
    int handled = 0;
    QSet<int> rowsRead;
    for (int t = 0; t < 40000; ++t) {
        for (const QByteArray &reply : dueReplies.take(bench.ticks + 1))
            bench.deliver(reply);
        if (noiseEvery > 0 && t % noiseEvery == 0)
            bench.deliver(hex("01 03 9C").repeated(1 + t % 3));
        bench.tick();
        for (; handled < bench.sent.size(); ++handled) {
            const QByteArray &request = bench.sent.at(handled).bytes;
            const int reg = quint8(request[2]) << 8 | quint8(request[3]);
            int due = bench.ticks + delay;
            if (!inTurn.isEmpty()) {
                const int taken = qMax(bench.ticks, busyUntil);
                const int took = inTurn.at(int(pick() % unsigned(inTurn.size())));
                busyUntil = took < 0 ? taken : taken + took;
                if (took < 0)
                    continue;
                due = busyUntil;
            }
            if (dropEvery != 0 && ++requests % dropEvery == 0)
                continue;
            QByteArray reply = readReply(quint16(reg));
            if (spoilEvery != 0 && ++replies % spoilEvery == 0)
                reply[5] = char(reply[5] ^ 0x5A);
            dueReplies[due].append(reply);
        }
        for (int row = 0; row < RegisterMap::PollRowCount; ++row) {
            const quint16 value = bench.table.entries[row].value;
            if (value == 0)
                continue;
            QCOMPARE(value, RegisterMap::PollOrder[row]);
            rowsRead.insert(row);
        }
    }
    // Slower, but every register still gets read.
    QCOMPARE(rowsRead.size(), RegisterMap::PollRowCount);
}

void TestModbusMaster::examiningOnArrivalKeepsTheCycle_data()
{
    QTest::addColumn<int>("delay");
    QTest::newRow("prompt") << 4;
    QTest::newRow("mid-slot") << 60;
    QTest::newRow("late") << 150;
}

void TestModbusMaster::examiningOnArrivalKeepsTheCycle()
{
    QFETCH(int, delay);

    // The same device answers two masters; one examines each burst on arrival. Both must send
    // the same frames on the same ticks and end with the same table.
    Bench onTick, onArrival;
    QMap<int, QByteArray> due[2];
    Bench *benches[2] = {&onTick, &onArrival};
    for (int t = 0; t < 3000; ++t) {
        for (int b = 0; b < 2; ++b) {
            Bench &bench = *benches[b];
            if (due[b].contains(bench.ticks + 1)) {
                bench.deliver(due[b].take(bench.ticks + 1));
                if (b == 1 && bench.master.examineNow(true))
                    QCOMPARE(bench.response.ready, quint8(0));
            }
            const int before = bench.sent.size();
            bench.tick();
            if (bench.sent.size() > before) {
                const QByteArray &request = bench.sent.last().bytes;
                due[b][bench.ticks + delay] = readReply(quint16(quint8(request[3]) + t));
            }
        }
    }
    QCOMPARE(onArrival.sent.size(), onTick.sent.size());
    for (int i = 0; i < onTick.sent.size(); ++i) {
        QCOMPARE(onArrival.sent[i].tick, onTick.sent[i].tick);
        QCOMPARE(onArrival.sent[i].bytes, onTick.sent[i].bytes);
    }
    QCOMPARE(onArrival.table.cursor, onTick.table.cursor);
    QCOMPARE(onArrival.table.phase, onTick.table.phase);
    for (int row = 0; row < RegisterMap::PollRowCount; ++row)
        QCOMPARE(onArrival.table.entries[row].value, onTick.table.entries[row].value);
    QCOMPARE(onArrival.deviceOnline, quint8(1));
}

void TestModbusMaster::examiningOnArrivalLeavesOtherTicksAlone_data()
{
    QTest::addColumn<int>("ticksBefore"); // ticks run before the burst arrives
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<bool>("writeQueued");
    QTest::addColumn<QByteArray>("burst");
    QTest::addColumn<bool>("examined");

    const QByteArray reply = readReply(100);
    QTest::newRow("listening") << 5 << true << false << reply << true;
    QTest::newRow("last listening tick next") << 99 << true << false << reply << true;
    QTest::newRow("send tick next") << 101 << true << false << reply << false;
    QTest::newRow("slot over next") << 100 << true << false << reply << false;
    QTest::newRow("port closed") << 5 << false << false << reply << false;
    QTest::newRow("write queued") << 5 << true << true << reply << false;
    QTest::newRow("one byte") << 5 << true << false << QByteArray(1, '\x01') << false;
}

void TestModbusMaster::examiningOnArrivalLeavesOtherTicksAlone()
{
    QFETCH(int, ticksBefore);
    QFETCH(bool, portOpen);
    QFETCH(bool, writeQueued);
    QFETCH(QByteArray, burst);
    QFETCH(bool, examined);

    Bench bench;
    bench.tick(ticksBefore);
    if (writeQueued)
        bench.master.queueWrite(RegisterMap::LdSwitch, 1);
    bench.deliver(burst);
    const quint16 phase = bench.table.phase;
    QCOMPARE(bench.master.examineNow(portOpen), examined);
    QCOMPARE(bench.table.phase, phase);
    // Heard at once while the port is open, so nothing can land on top of it; judged later.
    QCOMPARE(bench.response.ready, quint8(portOpen ? 0 : 1));
    QCOMPARE(bench.table.entries[0].value, quint16(examined ? 100 : 0));
}
