#include "registermap.h"
#include "rtuframe.h"
#include "rtutestbytes.h"

#include <QtTest>

using namespace RtuTestBytes;

class TestRtuFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readRequest_data();
    void readRequest();
    void writeRequest_data();
    void writeRequest();
    void responseTest_data();
    void responseTest();
};

static QByteArray bytesOf(const RtuFrame::Request &frame)
{
    return fromRaw(frame.data(), int(frame.size()));
}

void TestRtuFrame::readRequest_data()
{
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QByteArray>("frame");

    using namespace RegisterMap;
    QTest::newRow("40146") << 1 << int(LdMaxCurrent) << hex("01 03 9C D2 00 01 0A 63");
    QTest::newRow("40114") << 1 << int(LdTempSetting) << hex("01 03 9C B2 00 01 0A 7D");
    QTest::newRow("30000") << 1 << int(TecTemp) << hex("01 03 75 30 00 01 9E 09");
    QTest::newRow("30011") << 1 << int(LdPower) << hex("01 03 75 3B 00 01 EF CB");
    QTest::newRow("40107") << 1 << int(LdCurrentSetting) << hex("01 03 9C AB 00 01 DB BA");
    QTest::newRow("40011") << 1 << int(TecSwitch) << hex("01 03 9C 4B 00 01 DA 4C");
    QTest::newRow("40014") << 1 << int(LdSwitch) << hex("01 03 9C 4E 00 01 CA 4D");
    QTest::newRow("register above 65535") << 1 << 65536 + 40146 << hex("01 03 9C D2 00 01 0A 63");
    QTest::newRow("slave low 8 bits")
        << 0x101 << int(LdMaxCurrent) << hex("01 03 9C D2 00 01 0A 63");
    QTest::newRow("other slave") << 0x11 << 0x006B << withCrc("11 03 00 6B 00 01");
}

void TestRtuFrame::readRequest()
{
    QFETCH(int, slave);
    QFETCH(int, reg);
    QFETCH(QByteArray, frame);
    QCOMPARE(bytesOf(RtuFrame::readRequest(slave, reg)), frame);
}

void TestRtuFrame::writeRequest_data()
{
    QTest::addColumn<int>("slave");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("frame");

    using namespace RegisterMap;
    QTest::newRow("LD on") << 1 << int(LdSwitch) << 1 << hex("01 06 9C 4E 00 01 06 4D");
    QTest::newRow("LD temp 2500") << 1 << int(LdTempSetting) << 2500
                                  << hex("01 06 9C B2 09 C4 00 7E");
    QTest::newRow("LD temp 2550") << 1 << int(LdTempSetting) << 2550
                                  << hex("01 06 9C B2 09 F6 81 AB");
    QTest::newRow("value 65536 + 5")
        << 1 << int(LdCurrentSetting) << 65536 + 5 << withCrc("01 06 9C AB 00 05");
    QTest::newRow("value 65535") << 1 << int(LdCurrentSetting) << 65535
                                 << withCrc("01 06 9C AB FF FF");
    QTest::newRow("register above 65535")
        << 1 << 0x30000 + int(LdSwitch) << 0 << withCrc("01 06 9C 4E 00 00");
}

void TestRtuFrame::writeRequest()
{
    QFETCH(int, slave);
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(QByteArray, frame);
    QCOMPARE(bytesOf(RtuFrame::writeRequest(slave, reg, value)), frame);
}

void TestRtuFrame::responseTest_data()
{
    QTest::addColumn<QByteArray>("burst");
    QTest::addColumn<bool>("passes");

    QTest::newRow("read reply 100") << hex("01 03 02 00 64 B9 AF") << true;
    QTest::newRow("CRC of nothing") << hex("FF FF") << true;
    QTest::newRow("CRC bytes swapped") << hex("01 03 02 00 64 AF B9") << false;
    QTest::newRow("exception reply") << withCrc("01 83 02") << true;
    QTest::newRow("write echo") << hex("01 06 9C 4E 00 01 06 4D") << true;
    QTest::newRow("value bit flipped") << hex("01 03 02 00 65 B9 AF") << false;
    QTest::newRow("two bytes not FF FF") << hex("FF FE") << false;
    QTest::newRow("one byte") << hex("FF") << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestRtuFrame::responseTest()
{
    QFETCH(QByteArray, burst);
    QFETCH(bool, passes);
    QCOMPARE(RtuFrame::passesCrc(raw(burst), quint16(burst.size())), passes);
}

QTEST_APPLESS_MAIN(TestRtuFrame)
#include "tst_rtuframe.moc"
