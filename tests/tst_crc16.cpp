#include "crc16.h"
#include "rtutestbytes.h"

#include <QtTest>

using namespace RtuTestBytes;

class TestCrc16 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownValues_data();
    void knownValues();
    void agreesWithBitwiseReference_data();
    void agreesWithBitwiseReference();
    void readsOnlyTheGivenLength();
};

static quint16 crcOf(const QByteArray &bytes)
{
    return crc16Modbus(raw(bytes), static_cast<quint16>(bytes.size()));
}

void TestCrc16::knownValues_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");

    QTest::newRow("check value") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("no bytes") << QByteArray() << 0xFFFF;
    // Request frames of the seven polled registers: the CRC is the last two bytes, low first.
    QTest::newRow("read 40146") << hex("01 03 9C D2 00 01") << 0x630A;
    QTest::newRow("read 40114") << hex("01 03 9C B2 00 01") << 0x7D0A;
    QTest::newRow("read 30000") << hex("01 03 75 30 00 01") << 0x099E;
    QTest::newRow("read 30011") << hex("01 03 75 3B 00 01") << 0xCBEF;
    QTest::newRow("read 40107") << hex("01 03 9C AB 00 01") << 0xBADB;
    QTest::newRow("read 40011") << hex("01 03 9C 4B 00 01") << 0x4CDA;
    QTest::newRow("read 40014") << hex("01 03 9C 4E 00 01") << 0x4DCA;
    // Write frames of the examples.
    QTest::newRow("LD on") << hex("01 06 9C 4E 00 01") << 0x4D06;
    QTest::newRow("LD temp 25.00") << hex("01 06 9C B2 09 C4") << 0x7E00;
    QTest::newRow("LD temp 25.50") << hex("01 06 9C B2 09 F6") << 0xAB81;
    QTest::newRow("reply value 100") << hex("01 03 02 00 64") << 0xAFB9;
}

void TestCrc16::knownValues()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(crcOf(bytes)), crc);
}

void TestCrc16::agreesWithBitwiseReference_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QByteArray everyByte;
    for (int i = 0; i < 256; ++i)
        everyByte.append(static_cast<char>(i));
    QTest::newRow("every byte value") << everyByte;

    for (int i : {0x00, 0x01, 0x7F, 0x80, 0xA5, 0xFF})
        QTest::addRow("single byte %02x", i) << QByteArray(1, static_cast<char>(i));

    // Longest range the master checks: a 1024-byte burst without its two CRC bytes.
    QByteArray noise;
    quint32 state = 12345;
    for (int i = 0; i < 1022; ++i) {
        state = state * 1103515245u + 12345u;
        noise.append(static_cast<char>(state >> 16));
    }
    QTest::newRow("1022 pseudo-random bytes") << noise;
    QTest::newRow("1022 bytes of FF") << QByteArray(1022, '\xFF');
}

void TestCrc16::agreesWithBitwiseReference()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(crcOf(bytes), bitwiseCrc(bytes));
}

void TestCrc16::readsOnlyTheGivenLength()
{
    const QByteArray bytes = QByteArray("123456789") + QByteArray("trailing");
    QCOMPARE(int(crc16Modbus(raw(bytes), 9)), 0x4B37);
}

QTEST_APPLESS_MAIN(TestCrc16)
#include "tst_crc16.moc"
