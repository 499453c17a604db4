// The simulated driver's protocol engine and device model, without any I/O: frames are fed with
// made-up read times, so the framing rules are checked exactly.

#include "faultplan.h"
#include "lddrivermodel.h"
#include "registermap.h"
#include "rtuslave.h"
#include "rtutestbytes.h"

#include <QtTest>

#include <cmath>

namespace {

using RtuTestBytes::crcOk;
using RtuTestBytes::hex;

QByteArrayList answered(const QVector<RtuSlave::Exchange> &exchanges)
{
    QByteArrayList replies;
    for (const RtuSlave::Exchange &exchange : exchanges) {
        if (!exchange.reply.isEmpty())
            replies << exchange.reply;
    }
    return replies;
}

const char *const Read40146 = "01039CD200010A63";
const char *const Reply3000 = "0103020BB8BF06";
const char *const Write1500 = "01069CAB05DCD4B3";
const char *const Read40107 = "01039CAB0001DBBA";
const char *const Reply1500 = "01030205DCBA8D";

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void framing_data();
    void framing();
    void knownLengthNeedsNoSilence_data();
    void knownLengthNeedsNoSilence();
    void ignoredWritesChangeNothing_data();
    void ignoredWritesChangeNothing();
    void broadcastWriteAppliedWithoutReply();
    void exceptions_data();
    void exceptions();
    void ldPower_data();
    void ldPower();
    void tecTemperature_data();
    void tecTemperature();
    void noiseStaysSmallAndRepeatsWithSeed();
    void faultPlan_data();
    void faultPlan();
};

// Chunks are fed with the given pauses between them (the gap is 2 ms); the line then goes quiet.
void TestSimulator::framing_data()
{
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QList<int>>("pausesMs");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<bool>("pollBetween"); // the silence was noticed before the next chunk came

    const QByteArray read = hex(Read40146);
    const QByteArray write = hex(Write1500);
    QByteArray badCrc = read;
    badCrc[7] = char(badCrc[7] ^ 0x01);
    QByteArray swapped = read;
    swapped[6] = read[7];
    swapped[7] = read[6];
    QByteArray badData = read;
    badData[3] = char(badData[3] ^ 0x10);

    QTest::newRow("read in one piece")
        << QByteArrayList{read} << QList<int>{} << QByteArrayList{hex(Reply3000)} << false;
    QTest::newRow("read split 3+5") << QByteArrayList{read.left(3), read.mid(3)} << QList<int>{1}
                                    << QByteArrayList{hex(Reply3000)} << false;
    QTest::newRow("read split 1+6+1")
        << QByteArrayList{read.left(1), read.mid(1, 6), read.mid(7)} << QList<int>{1, 1}
        << QByteArrayList{hex(Reply3000)} << false;
    QByteArrayList single;
    for (char byte : read)
        single << QByteArray(1, byte);
    QTest::newRow("read byte by byte")
        << single << QList<int>{1, 0, 1, 1, 0, 1, 1} << QByteArrayList{hex(Reply3000)} << false;
    QTest::newRow("write split 7+1") << QByteArrayList{write.left(7), write.mid(7)} << QList<int>{1}
                                     << QByteArrayList{write} << false;
    QTest::newRow("two reads in one piece")
        << QByteArrayList{read + hex(Read40107)} << QList<int>{}
        << QByteArrayList{hex(Reply3000), hex("0103020000B844")} << false;
    QTest::newRow("write then read back, one piece")
        << QByteArrayList{write + hex(Read40107)} << QList<int>{}
        << QByteArrayList{write, hex(Reply1500)} << false;
    QTest::newRow("a request and part of the next, then the rest")
        << QByteArrayList{write + hex(Read40107).left(3), hex(Read40107).mid(3)} << QList<int>{1}
        << QByteArrayList{write, hex(Reply1500)} << false;
    QTest::newRow("bad CRC alone")
        << QByteArrayList{badCrc} << QList<int>{} << QByteArrayList{} << false;
    QTest::newRow("CRC bytes swapped")
        << QByteArrayList{swapped} << QList<int>{} << QByteArrayList{} << false;
    QTest::newRow("address byte flipped")
        << QByteArrayList{badData} << QList<int>{} << QByteArrayList{} << false;
    QTest::newRow("bad CRC then good, one piece")
        << QByteArrayList{badCrc + read} << QList<int>{} << QByteArrayList{hex(Reply3000)} << false;
    QTest::newRow("bad CRC then good after a pause")
        << QByteArrayList{badCrc, read} << QList<int>{20} << QByteArrayList{hex(Reply3000)}
        << false;
    QTest::newRow("other slave") << QByteArrayList{hex("02039CD200010A50")} << QList<int>{}
                                 << QByteArrayList{} << false;
    QTest::newRow("other slave then ours")
        << QByteArrayList{hex("02039CD200010A50") + read} << QList<int>{}
        << QByteArrayList{hex(Reply3000)} << false;
    QTest::newRow("broadcast read")
        << QByteArrayList{hex("00039CD200010BB2")} << QList<int>{} << QByteArrayList{} << false;
    QTest::newRow("stray bytes ahead of a request")
        << QByteArrayList{hex("FF00") + read} << QList<int>{} << QByteArrayList{hex(Reply3000)}
        << false;
    QTest::newRow("start of a request, silence, a new request")
        << QByteArrayList{read.left(5), read} << QList<int>{10} << QByteArrayList{hex(Reply3000)}
        << false;
    QTest::newRow("rest of a request read late still completes it")
        << QByteArrayList{read.left(5), read.mid(5)} << QList<int>{10}
        << QByteArrayList{hex(Reply3000)} << false;
    QTest::newRow("start of a request, silence noticed, the rest")
        << QByteArrayList{read.left(5), read.mid(5)} << QList<int>{10} << QByteArrayList{} << true;
    QTest::newRow("request cut short by silence")
        << QByteArrayList{read.left(6)} << QList<int>{} << QByteArrayList{} << false;
    QTest::newRow("unknown function, ended by silence")
        << QByteArrayList{hex("014112905D")} << QList<int>{} << QByteArrayList{hex("01C101B050")}
        << false;
    QTest::newRow("unknown function split, ended by silence")
        << QByteArrayList{hex("0141"), hex("12905D")} << QList<int>{1}
        << QByteArrayList{hex("01C101B050")} << false;
    QTest::newRow("report slave id has a fixed length")
        << QByteArrayList{hex("0111C02C") + read} << QList<int>{}
        << QByteArrayList{hex("019101 8C50"), hex(Reply3000)} << false;
}

void TestSimulator::framing()
{
    QFETCH(QByteArrayList, chunks);
    QFETCH(QList<int>, pausesMs);
    QFETCH(QByteArrayList, replies);
    QFETCH(bool, pollBetween);

    LdDriverModel model;
    RtuSlave slave(model);
    QCOMPARE(slave.gap(), 2);
    qint64 now = 1000;
    QVector<RtuSlave::Exchange> exchanges;
    for (int i = 0; i < chunks.size(); ++i) {
        if (i > 0)
            now += pausesMs.value(i - 1);
        if (pollBetween)
            slave.poll(now);
        slave.feed(chunks[i], now);
    }
    exchanges += slave.takeExchanges();
    slave.poll(now + 1000);
    exchanges += slave.takeExchanges();
    QCOMPARE(answered(exchanges), replies);
    QVERIFY(!slave.hasPendingBytes());

    // Nothing is left over to answer later.
    slave.poll(now + 5000);
    QVERIFY(slave.takeExchanges().isEmpty());
}

// Frames with a length fixed by their function code are answered as soon as the last byte
// comes; others wait for the silent interval, and not a millisecond less.
void TestSimulator::knownLengthNeedsNoSilence_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("needsSilence");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("03") << hex(Read40146) << false << hex(Reply3000);
    QTest::newRow("06") << hex(Write1500) << false << hex(Write1500);
    QTest::newRow("10, length from byte count")
        << hex("01109CAB00010205DCE14B") << false << hex("0190018DC0");
    QTest::newRow("04") << hex("0104753B00015A0B") << false << hex("01840182C0");
    QTest::newRow("unknown 41") << hex("014112905D") << true << hex("01C101B050");
}

void TestSimulator::knownLengthNeedsNoSilence()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, needsSilence);
    QFETCH(QByteArray, reply);

    LdDriverModel model;
    RtuSlave slave(model);
    slave.feed(request, 100);
    if (needsSilence) {
        QVERIFY(slave.takeExchanges().isEmpty());
        QCOMPARE(slave.nextDeadline(), qint64(102));
        slave.poll(101);
        QVERIFY(slave.takeExchanges().isEmpty());
        slave.poll(102);
    }
    QCOMPARE(answered(slave.takeExchanges()), QByteArrayList{reply});
}

// A write that is not answered must not have been carried out either.
void TestSimulator::ignoredWritesChangeNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QByteArray badCrc = hex(Write1500);
    badCrc[6] = char(badCrc[6] ^ 0x80);
    QTest::newRow("bad CRC") << badCrc;
    QTest::newRow("value bit flipped") << QByteArray(hex(Write1500)).replace(5, 1, "\xDD");
    QTest::newRow("other slave") << hex("02069CAB05DCD480");
    QTest::newRow("cut short") << hex(Write1500).left(7);
}

void TestSimulator::ignoredWritesChangeNothing()
{
    QFETCH(QByteArray, bytes);

    LdDriverModel model;
    RtuSlave slave(model);
    slave.feed(bytes, 0);
    slave.poll(100);
    const QVector<RtuSlave::Exchange> exchanges = slave.takeExchanges();
    QCOMPARE(exchanges.size(), 1);
    QVERIFY(exchanges[0].reply.isEmpty());
    QCOMPARE(model.read(RegisterMap::LdCurrentSetting), quint16(0));
}

void TestSimulator::broadcastWriteAppliedWithoutReply()
{
    LdDriverModel model;
    RtuSlave slave(model);
    slave.feed(hex("00069CAB05DCD562"), 0);
    const QVector<RtuSlave::Exchange> exchanges = slave.takeExchanges();
    QCOMPARE(exchanges.size(), 1);
    QCOMPARE(exchanges[0].outcome, RtuSlave::Outcome::Broadcast);
    QVERIFY(exchanges[0].reply.isEmpty());
    QCOMPARE(model.read(RegisterMap::LdCurrentSetting), quint16(1500));
}

void TestSimulator::exceptions_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("valueAfter");

    using namespace RegisterMap;
    QTest::newRow("04 is an illegal function")
        << hex("0104753B00015A0B") << hex("01840182C0") << int(LdPower) << 0;
    QTest::newRow("10 is an illegal function")
        << hex("01109CAB00010205DCE14B") << hex("0190018DC0") << int(LdCurrentSetting) << 0;
    QTest::newRow("read of a register the unit lacks")
        << hex("01039C400001AB8E") << hex("018302C0F1") << int(LdMaxCurrent) << 3000;
    QTest::newRow("read of 0 registers")
        << hex("01039CD20000CBA3") << hex("0183030131") << int(LdMaxCurrent) << 3000;
    QTest::newRow("read of 126 registers")
        << hex("01039CD2007E4B83") << hex("0183030131") << int(LdMaxCurrent) << 3000;
    QTest::newRow("read of 2 running into a gap in the map")
        << hex("01039CA600020A78") << hex("018302C0F1") << int(LdPulseCurrent) << 0;
    QTest::newRow("read of 4 adjacent registers")
        << hex("01039CA80004EBB9") << hex("01030800 0203E800640000 97EC") << int(LdMode)
        << int(ModeContinuous);
    QTest::newRow("write of the maximum current")
        << hex("01069CD207D0040F") << hex("018602C3A1") << int(LdMaxCurrent) << 3000;
    QTest::newRow("write of the TEC temperature")
        << hex("0106753007D09065") << hex("018602C3A1") << int(TecTemp) << 2500;
    QTest::newRow("write of the LD power")
        << hex("0106753B00052208") << hex("018602C3A1") << int(LdPower) << 0;
    QTest::newRow("write of a register the unit lacks")
        << hex("01069C400001678E") << hex("018602C3A1") << int(LdCurrentSetting) << 0;
    QTest::newRow("current above the maximum")
        << hex("01069CAB0BB910F8") << hex("0186030261") << int(LdCurrentSetting) << 0;
    QTest::newRow("current at the maximum")
        << hex("01069CAB0BB8D138") << hex("01069CAB0BB8D138") << int(LdCurrentSetting) << 3000;
    QTest::newRow("LD switch 2") << hex("01069C4E0002464C") << hex("0186030261") << int(LdSwitch)
                                 << 0;
    QTest::newRow("TEC switch 2") << hex("01069C4B0002564D") << hex("0186030261") << int(TecSwitch)
                                  << 1;
    QTest::newRow("LD temperature 14.99")
        << hex("01069CB205DB44B6") << hex("0186030261") << int(LdTempSetting) << 2500;
    QTest::newRow("LD temperature 35.01")
        << hex("01069CB20DADC290") << hex("0186030261") << int(LdTempSetting) << 2500;
    QTest::newRow("LD temperature 15.00")
        << hex("01069CB205DC0574") << hex("01069CB205DC0574") << int(LdTempSetting) << 1500;
    QTest::newRow("LD temperature 25.50")
        << hex("01069CB209F681AB") << hex("01069CB209F681AB") << int(LdTempSetting) << 2550;
    QTest::newRow("mode 3") << hex("01069CA80003667B") << hex("0186030261") << int(LdMode)
                            << int(ModeContinuous);
    QTest::newRow("frequency 0") << hex("01069CA9000077BA") << hex("0186030261") << int(LdFrequency)
                                 << 1000;
    QTest::newRow("pulse current above the maximum")
        << hex("01069CA60BB9813B") << hex("0186030261") << int(LdPulseCurrent) << 0;
}

void TestSimulator::exceptions()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, reg);
    QFETCH(int, valueAfter);

    LdDriverModel model;
    model.setNoise(0);
    RtuSlave slave(model);
    slave.feed(request, 0);
    const QByteArrayList replies = answered(slave.takeExchanges());
    QCOMPARE(replies, QByteArrayList{reply});
    QVERIFY(crcOk(replies[0]));
    QCOMPARE(int(model.read(quint16(reg))), valueAfter);
}

void TestSimulator::ldPower_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("ldOn");
    QTest::addColumn<double>("slope");
    QTest::addColumn<int>("power");

    QTest::newRow("on, 1000") << 1000 << true << 0.5 << 500;
    QTest::newRow("on, maximum") << 3000 << true << 0.5 << 1500;
    QTest::newRow("on, 0") << 0 << true << 0.5 << 0;
    QTest::newRow("off, 1000") << 1000 << false << 0.5 << 0;
    QTest::newRow("on, steep slope clamps") << 3000 << true << 100.0 << 65535;
    QTest::newRow("on, slope 1.37 rounds") << 7 << true << 1.37 << 10;
}

void TestSimulator::ldPower()
{
    QFETCH(int, current);
    QFETCH(bool, ldOn);
    QFETCH(double, slope);
    QFETCH(int, power);

    LdDriverModel model;
    model.setPowerSlope(slope);
    QCOMPARE(model.write(RegisterMap::LdCurrentSetting, quint16(current)), ModbusException::None);
    QCOMPARE(model.write(RegisterMap::LdSwitch, ldOn ? 1 : 0), ModbusException::None);
    model.tick(100);
    QCOMPARE(int(model.read(RegisterMap::LdPower)), power);
    // Switching the LD off always brings the power to 0, whatever the current.
    QCOMPARE(model.write(RegisterMap::LdSwitch, 0), ModbusException::None);
    QCOMPARE(model.read(RegisterMap::LdPower), quint16(0));
}

void TestSimulator::tecTemperature_data()
{
    QTest::addColumn<bool>("tecOn");
    QTest::addColumn<double>("start");
    QTest::addColumn<int>("setting");
    QTest::addColumn<double>("ambient");
    QTest::addColumn<double>("target");

    QTest::newRow("on, cooling to the setting") << true << 2500.0 << 2000 << 2500.0 << 2000.0;
    QTest::newRow("on, warming to the setting") << true << 1800.0 << 3000 << 2200.0 << 3000.0;
    QTest::newRow("off, warming to ambient") << false << 1600.0 << 1500 << 2500.0 << 2500.0;
    QTest::newRow("off, cooling to ambient") << false << 3400.0 << 3500 << 2300.0 << 2300.0;
}

void TestSimulator::tecTemperature()
{
    QFETCH(bool, tecOn);
    QFETCH(double, start);
    QFETCH(int, setting);
    QFETCH(double, ambient);
    QFETCH(double, target);

    LdDriverModel model;
    model.setNoise(0);
    model.setAmbient(ambient);
    model.setTecTemperature(start);
    QCOMPARE(model.write(RegisterMap::TecSwitch, tecOn ? 1 : 0), ModbusException::None);
    QCOMPARE(model.write(RegisterMap::LdTempSetting, quint16(setting)), ModbusException::None);

    const double tau = tecOn ? LdDriverModel::TecOnTauMs : LdDriverModel::TecOffTauMs;
    const double startDistance = std::abs(start - target);
    double distance = startDistance;
    for (int ms = 0; ms < 5 * tau; ms += 100) {
        model.tick(100);
        const double now = std::abs(model.tecTemperature() - target);
        QVERIFY2(now < distance, qPrintable(QString::number(model.tecTemperature())));
        // Never past the target.
        QCOMPARE((model.tecTemperature() - target) * (start - target) >= 0, true);
        distance = now;
    }
    QVERIFY2(distance < startDistance * 0.01, qPrintable(QString::number(distance)));
    QCOMPARE(double(model.read(RegisterMap::TecTemp)), std::round(model.tecTemperature()));
}

void TestSimulator::noiseStaysSmallAndRepeatsWithSeed()
{
    auto readings = [](quint32 seed) {
        LdDriverModel model(3000, seed);
        model.setNoise(3);
        QVector<int> values;
        for (int i = 0; i < 200; ++i) {
            model.tick(50);
            values << model.read(RegisterMap::TecTemp);
        }
        return values;
    };
    const QVector<int> first = readings(7);
    QCOMPARE(readings(7), first);
    QVERIFY(readings(8) != first);
    int lowest = first[0], highest = first[0];
    for (int value : first) {
        lowest = qMin(lowest, value);
        highest = qMax(highest, value);
    }
    // Ambient and setting are both 25.00, so the noise is all that moves.
    QVERIFY2(lowest >= 2497 && highest <= 2503,
             qPrintable(QStringLiteral("%1..%2").arg(lowest).arg(highest)));
    QVERIFY(highest > lowest);
}

// Replies 1 to 6 through a plan; each row lists what happened to every reply.
void TestSimulator::faultPlan_data()
{
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<int>("corruptEvery");
    QTest::addColumn<int>("splitGap");
    QTest::addColumn<int>("stray");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QByteArray>("lead"); // fixed bytes around the reply
    QTest::addColumn<QByteArray>("trail");
    QTest::addColumn<int>("byteGap");
    QTest::addColumn<QVector<int>>("fifo"); // in turn, these delays; the one above then unused
    QTest::addColumn<QString>("expected");  // per reply: o ok, d dropped, c bad CRC

    const QVector<int> none;
    const QByteArray no;
    QTest::newRow("none") << 0 << 0 << 0 << 0 << 0 << no << no << 0 << none << "oooooo";
    QTest::newRow("drop every 3rd") << 3 << 0 << 0 << 0 << 0 << no << no << 0 << none << "oodood";
    QTest::newRow("corrupt every 2nd")
        << 0 << 2 << 0 << 0 << 0 << no << no << 0 << none << "ocococ";
    QTest::newRow("drop wins over corrupt")
        << 2 << 3 << 0 << 0 << 0 << no << no << 0 << none << "odcdod";
    QTest::newRow("split 8 ms") << 0 << 0 << 8 << 0 << 0 << no << no << 0 << none << "oooooo";
    QTest::newRow("delay and split") << 0 << 0 << 8 << 0 << 40 << no << no << 0 << none << "oooooo";
    QTest::newRow("two stray bytes") << 0 << 0 << 0 << 2 << 0 << no << no << 0 << none << "oooooo";
    QTest::newRow("in turn, 40 ms")
        << 0 << 0 << 0 << 0 << 40 << no << no << 0 << QVector<int>{40} << "oooooo";
    QTest::newRow("glitch bytes around")
        << 0 << 0 << 0 << 0 << 0 << hex("00") << hex("FF FF") << 0 << none << "oooooo";
    QTest::newRow("bytes 3 ms apart, split, delayed, corrupt")
        << 0 << 2 << 8 << 0 << 40 << hex("00") << no << 3 << none << "ocococ";
    QTest::newRow("in turn, never")
        << 0 << 0 << 0 << 0 << 0 << no << no << 0 << QVector<int>{-1} << "dddddd";
}

void TestSimulator::faultPlan()
{
    QFETCH(int, dropEvery);
    QFETCH(int, corruptEvery);
    QFETCH(int, splitGap);
    QFETCH(int, stray);
    QFETCH(int, delay);
    QFETCH(QByteArray, lead);
    QFETCH(QByteArray, trail);
    QFETCH(int, byteGap);
    QFETCH(QVector<int>, fifo);
    QFETCH(QString, expected);

    FaultPlan plan;
    plan.fifoDelaysMs = fifo;
    plan.dropEvery = dropEvery;
    plan.corruptCrcEvery = corruptEvery;
    plan.splitGapMs = splitGap;
    plan.strayBytes = stray;
    plan.delayMs = delay;
    plan.leadBytes = lead;
    plan.trailBytes = trail;
    plan.byteGapMs = byteGap;
    const QByteArray reply = hex(Reply3000);
    for (int i = 0; i < expected.size(); ++i) {
        const FaultPlan::Shaped shaped = plan.shape(reply);
        const QString where = QStringLiteral("reply %1").arg(i + 1);
        QCOMPARE(shaped.inTurn, !fifo.isEmpty());
        if (expected[i] == QLatin1Char('d')) {
            QVERIFY2(shaped.writes.isEmpty(), qPrintable(where));
            continue;
        }
        const int length = lead.size() + stray + reply.size() + trail.size();
        QCOMPARE(shaped.writes.size(), byteGap > 0 ? length : splitGap > 0 ? 2 : 1);
        QCOMPARE(shaped.writes[0].afterMs, delay);
        const FaultPlan::Write &last = shaped.writes.constLast();
        if (byteGap > 0)
            // The split's gap stands between the halves in place of one byte gap.
            QCOMPARE(last.afterMs, delay + splitGap + (length - (splitGap > 0 ? 2 : 1)) * byteGap);
        else if (splitGap > 0)
            QCOMPARE(last.afterMs, delay + splitGap);
        QByteArray line;
        for (const FaultPlan::Write &write : shaped.writes) {
            QVERIFY(!write.bytes.isEmpty());
            line += write.bytes;
        }
        QCOMPARE(line.size(), length);
        QCOMPARE(line.left(lead.size()), lead);
        QCOMPARE(line.right(trail.size()), trail);
        const QByteArray framed = line.mid(lead.size() + stray, reply.size());
        QCOMPARE(framed.left(5), reply.left(5));
        QCOMPARE(crcOk(framed), expected[i] == QLatin1Char('o'));
        QVERIFY2(!shaped.note.isEmpty() || (expected[i] == QLatin1Char('o') && !splitGap &&
                                            !stray && !delay && lead.isEmpty() && !byteGap),
                 qPrintable(where));
    }
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
