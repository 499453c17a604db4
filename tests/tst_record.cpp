// The record and the bench's events as plain code, on clocks the test sets: the rows each line
// condition gives and the time stamps. A record that cannot be written is run end to end in
// tst_e2e_simulator.
#include "benchrecord.h"
#include "commandlog.h"
#include "currentreadings.h"
#include "registermap.h"
#include "rtuframe.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

using namespace RegisterMap;

namespace {

// 2026-12-09T16:21:40.000Z; the tests run in Central European time, +01:00 in December.
const qint64 Epoch = 1796833300000;

void setTimeZone(const char *zone)
{
    qputenv("TZ", zone);
    tzset();
}

struct Bench
{
    qint64 mono = 0;
    CurrentReadings readings{[this] { return mono; }};
    BenchRecord record{readings, [this] { return Epoch + mono; }};
    CommandLog log{[this] { return mono; }, [this] { return Epoch + mono; },
                   [this](const BenchEvent &event) { record.addEvent(event); }};
    RtuFrame::Request frame;

    // The driver's answers to one poll cycle.
    void readAll()
    {
        const quint16 values[PollRowCount] = {2000, 2500, 2534, 1234, 1500, 1, 1};
        for (int row = 0; row < PollRowCount; ++row)
            readings.record(row, values[row]);
    }

    // "read", "at MS", "tick", "close", "open NAME", "queue REG VALUE", "sent", "answer
    // EXCEPTION", "unconfirmed", "unsent", "refuse REG VALUE WHY", "reason TEXT".
    void run(const QStringList &steps)
    {
        for (const QString &step : steps) {
            const QString verb = step.section(QLatin1Char(' '), 0, 0);
            const QString rest = step.section(QLatin1Char(' '), 1);
            const int a = rest.section(QLatin1Char(' '), 0, 0).toInt();
            const int b = rest.section(QLatin1Char(' '), 1, 1).toInt();
            const quint16 size = RtuFrame::RequestLength;
            if (verb == QLatin1String("read")) {
                readAll();
            } else if (verb == QLatin1String("at")) {
                mono = a;
            } else if (verb == QLatin1String("tick")) {
                record.tick();
            } else if (verb == QLatin1String("close")) {
                readings.closed();
                log.portClosed(QStringLiteral("COM3"));
            } else if (verb == QLatin1String("open")) {
                log.portOpened(rest);
            } else if (verb == QLatin1String("queue")) {
                frame = RtuFrame::writeRequest(SlaveAddress, a, b);
                log.queued(a, b, frame.data(), size);
            } else if (verb == QLatin1String("sent")) {
                log.frameSent(frame.data(), size);
            } else if (verb == QLatin1String("answer")) {
                log.frameAnswered(frame.data(), size, quint8(a));
            } else if (verb == QLatin1String("unconfirmed")) {
                log.frameNotConfirmed(frame.data(), size);
            } else if (verb == QLatin1String("unsent")) {
                log.frameNotSent(frame.data(), size);
            } else if (verb == QLatin1String("refuse")) {
                log.refused(a, b, rest.section(QLatin1Char(' '), 2));
            } else if (verb == QLatin1String("reason")) {
                log.lineReason(rest);
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
    }
};

QStringList fileRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("cannot read ") + path};
    QStringList rows = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    if (rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

} // namespace

class tst_Record : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void rows_data();
    void rows();
    void timeText_data();
    void timeText();
};

void tst_Record::initTestCase()
{
    setTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    // A comma as the decimal point must not reach the file.
    QLocale::setDefault(QLocale(QLocale::German));
}

void tst_Record::rows_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows"); // every row after the header, without its time

    const QString all = QStringLiteral("25.34,25.00,12.34,1500,2000,1,1,");
    const QString none = QStringLiteral(",,,,,,,");
    // A tick more than a second late writes one row, not the ones it missed.
    QTest::newRow("clean") << QStringList{"at 999",  "tick", "at 1000", "tick", "at 1500", "tick",
                                          "at 2100", "tick", "at 4500", "read", "tick",    "tick",
                                          "at 5499", "tick", "at 5500", "tick"}
                           << QStringList{all + "recording started", all, all, all, all};
    // Read last at 0: still current at 4999, gone at 5000.
    QTest::newRow("silent") << QStringList{"at 4000",
                                           "tick",
                                           "at 4999",
                                           "reason Silent for 2 s",
                                           "reason Silent for 2 s",
                                           "at 5000",
                                           "tick",
                                           "reason"}
                            << QStringList{all + "recording started", all,
                                           all + "line: Silent for 2 s", none, none + "line: ok"};
    QTest::newRow("closed") << QStringList{"at 300",  "close", "at 1000", "tick", "open COM3",
                                           "at 1100", "read",  "at 2000", "tick"}
                            << QStringList{all + "recording started", none + "port closed: COM3",
                                           none, none + "port opened: COM3", all};
    QTest::newRow("refused write")
        << QStringList{"queue 40107 1500", "sent", "sent", "answer 3",
                       "refuse 40107 3000 above the maximum current, 2000 mA"}
        << QStringList{all + "recording started", all + "LD current 1500: sent",
                       all + "LD current 1500: refused (exception 3)",
                       all + "\"LD current 3000: refused (above the maximum current, 2000 mA)\""};
    QTest::newRow("confirmed, not confirmed, not sent")
        << QStringList{"queue 40014 0", "sent",        "answer 0",      "queue 40014 1",
                       "sent",          "unconfirmed", "queue 40011 0", "unsent"}
        << QStringList{all + "recording started",    all + "LD off: sent",
                       all + "LD off: confirmed",    all + "LD on: sent",
                       all + "LD on: not confirmed", all + "TEC off: not sent"};
    QTest::newRow("a reason with commas and quotes")
        << QStringList{"reason Bytes arrive, \"never\" a frame"}
        << QStringList{all + "recording started",
                       all + "\"line: Bytes arrive, \"\"never\"\" a frame\""};
}

void tst_Record::rows()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("record.csv"));
    Bench bench;
    bench.readAll();
    QVERIFY(bench.record.start(path));
    bench.run(steps);

    // Every row is in the file as soon as it is made, while the record still runs.
    QStringList written = fileRows(path);
    QVERIFY(bench.record.running());
    QCOMPARE(written.value(0), QString::fromLatin1(BenchRecord::header().trimmed()));
    written.removeFirst();
    QStringList values;
    for (const QString &row : written) {
        const QDateTime at = QDateTime::fromString(row.left(29), Qt::ISODateWithMs);
        QVERIFY2(at.isValid() && at.toMSecsSinceEpoch() >= Epoch &&
                     at.toMSecsSinceEpoch() <= Epoch + bench.mono,
                 qPrintable(row));
        values << row.mid(30);
    }
    QCOMPARE(values, rows);
}

void tst_Record::timeText_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("wallMs");
    QTest::addColumn<QString>("text");

    QTest::newRow("CET, winter") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << Epoch + 123
                                 << "2026-12-09T17:21:40.123+01:00";
    QTest::newRow("CET, summer") << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3")
                                 << Epoch - 150LL * 86400000 << "2026-07-12T18:21:40.000+02:00";
    QTest::newRow("half hour east")
        << QByteArray("IST-5:30") << Epoch << "2026-12-09T21:51:40.000+05:30";
    QTest::newRow("half hour west")
        << QByteArray("NST3:30") << Epoch + 999 << "2026-12-09T12:51:40.999-03:30";
}

void tst_Record::timeText()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, wallMs);
    QFETCH(QString, text);

    setTimeZone(zone.constData());
    const QString made = BenchRecord::timeText(wallMs);
    setTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    QCOMPARE(made, text);
    QCOMPARE(BenchRecord::offeredPath(QStringLiteral("/home/op/Documents"),
                                      QDateTime(QDate(2026, 12, 9), QTime(7, 5, 3))),
             QStringLiteral("/home/op/Documents/ldpanel-20261209-070503.csv"));
}

QTEST_GUILESS_MAIN(tst_Record)
#include "tst_record.moc"
