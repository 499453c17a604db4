// The trend: its history's breaks and decimation, the TEC's settled rule, and the window, all on
// clocks the test sets.
#include "currentreadings.h"
#include "registermap.h"
#include "trendhistory.h"
#include "trendplot.h"
#include "trendwindow.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace RegisterMap;

namespace {

// The readings and their history on a clock the script moves. "set ROW VALUE" (-1: the row goes
// unread), "poll S" (every row read every 100 ms for S seconds), "wait S" (silence), "close".
struct Bench
{
    qint64 clock = 0;
    int values[PollRowCount] = {2000, 2500, 2505, 1234, 500, 1, 1};
    CurrentReadings readings{[this] { return clock; }};
    TrendHistory history{readings, [this] { return 1'800'000'000'000LL + clock; }};

    explicit Bench(const QString &script = QString())
    {
        for (const QString &step : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QStringList word = step.simplified().split(QLatin1Char(' '));
            if (word[0] == QLatin1String("set"))
                values[word[1].toInt()] = word[2].toInt();
            else if (word[0] == QLatin1String("close"))
                readings.closed();
            else if (word[0] == QLatin1String("wait"))
                clock += qint64(word[1].toDouble() * 1000);
            else if (word[0] == QLatin1String("poll"))
                for (qint64 end = clock + qint64(word[1].toDouble() * 1000); clock < end;
                     clock += 100)
                    for (int row = 0; row < PollRowCount; ++row)
                        if (values[row] >= 0)
                            readings.record(row, quint16(values[row]));
        }
    }
    int breaks(int row, int columns) const
    {
        int count = 0;
        for (const TrendHistory::Point &point : history.points(row, 0, clock, columns))
            count += point.breakBefore;
        return count;
    }
};

} // namespace

class TestTrend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void breaks_data();
    void breaks();
    void decimation_data();
    void decimation();
    void stable_data();
    void stable();
    void window_data();
    void window();
    void gapDrawn_data();
    void gapDrawn();
    void markers_data();
    void markers();
};

void TestTrend::breaks_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("segments");
    QTest::addColumn<qint64>("probeMs");
    QTest::addColumn<bool>("currentThen");

    QTest::newRow("clean") << "poll 20" << 1 << 10000LL << true;
    QTest::newRow("silent 4.9 s") << "poll 10; wait 4.8; poll 10" << 1 << 14700LL << true;
    QTest::newRow("silent 5.1 s, before 5 s") << "poll 10; wait 5; poll 10" << 2 << 14800LL << true;
    QTest::newRow("silent 5.1 s, after 5 s") << "poll 10; wait 5; poll 10" << 2 << 14950LL << false;
    QTest::newRow("closed, reopened at once")
        << "poll 10; close; wait 0.05; poll 10" << 2 << 10020LL << false;
    QTest::newRow("silent, then closed")
        << "poll 10; wait 6; close; poll 10" << 2 << 15500LL << false;
    QTest::newRow("closed, folded into buckets")
        << "poll 10.5; close; wait 0.05; poll 1900" << 2 << 10520LL << false;
    QTest::newRow("silent, folded into buckets")
        << "poll 10; wait 5; poll 1900" << 2 << 14950LL << false;
    QTest::newRow("folded, current") << "poll 10; wait 4.8; poll 1900" << 1 << 14700LL << true;
}

void TestTrend::breaks()
{
    QFETCH(QString, script);
    QFETCH(int, segments);
    QFETCH(qint64, probeMs);
    QFETCH(bool, currentThen);

    const Bench bench(script);
    // Column by column or folded into a few columns, a break stays a break.
    for (int columns : {1000000, 800, 3})
        QCOMPARE(bench.breaks(RowTecTemp, columns), segments);
    quint16 value = 0;
    QCOMPARE(bench.history.valueAt(RowTecTemp, probeMs, &value), currentThen);
    if (currentThen)
        QCOMPARE(value, quint16(2505));
}

void TestTrend::decimation_data()
{
    QTest::addColumn<int>("perSecond");
    QTest::addColumn<double>("spikeHoursAgo");
    QTest::addColumn<bool>("spikeKept");

    QTest::newRow("10/s, spike 20 h ago") << 10 << 20.0 << true;
    QTest::newRow("10/s, spike 23.9 h ago") << 10 << 23.9 << true;
    QTest::newRow("10/s, spike 10 min ago") << 10 << 1.0 / 6 << true;
    QTest::newRow("10/s, spike 24.1 h ago") << 10 << 24.1 << false;
    QTest::newRow("1/s, spike 2 h ago") << 1 << 2.0 << true;
}

void TestTrend::decimation()
{
    QFETCH(int, perSecond);
    QFETCH(double, spikeHoursAgo);
    QFETCH(bool, spikeKept);

    // 25 hours of one row, one reading high and the next low at the spike.
    Bench bench;
    const qint64 step = 1000 / perSecond;
    const qint64 end = 25 * 3600 * 1000LL;
    const qint64 spike = end - qint64(spikeHoursAgo * 3600 * 1000);
    for (; bench.clock < end; bench.clock += step) {
        const bool atSpike = bench.clock >= spike && bench.clock < spike + 2 * step;
        bench.readings.record(RowTecTemp,
                              atSpike ? (bench.clock < spike + step ? 9000 : 100) : 2500);
    }
    const auto points = bench.history.points(RowTecTemp, end - TrendHistory::KeepMs, end, 900);
    quint16 low = 65535;
    quint16 high = 0;
    for (const TrendHistory::Point &point : points) {
        low = std::min(low, point.low);
        high = std::max(high, point.high);
    }
    QCOMPARE(high, quint16(spikeKept ? 9000 : 2500));
    QCOMPARE(low, quint16(spikeKept ? 100 : 2500));
    // 24 hours back from the last reading, and no further.
    QVERIFY(bench.history.oldest() >= end - step - TrendHistory::KeepMs);
    // Half an hour reading by reading, the rest in 2 s buckets: a bound that does not grow with
    // the rate of readings.
    const qint64 bound =
        TrendHistory::FineMs / step + TrendHistory::KeepMs / TrendHistory::BucketMs + 2;
    QVERIFY2(qint64(bench.history.storedPoints()) <= bound,
             qPrintable(QString::number(bench.history.storedPoints())));
}

void TestTrend::stable_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");

    const QString stable = QStringLiteral("TEC stable");
    const QString stableZh = QString::fromUtf8("TEC稳定");
    auto settling = [](const char *degrees) {
        return QString::fromUtf8("TEC settling: %1 ℃ from the setting").arg(QLatin1String(degrees));
    };
    auto settlingZh = [](const char *degrees) {
        return QString::fromUtf8("TEC稳定中:与设定值相差%1 ℃").arg(QLatin1String(degrees));
    };
    QTest::newRow("never read") << ""
                                << ""
                                << "";
    QTest::newRow("0.05 off for 31 s") << "poll 31" << stable << stableZh;
    QTest::newRow("0.05 off for 29 s") << "poll 29" << settling("0.05") << settlingZh("0.05");
    QTest::newRow("0.10 above for 31 s") << "set 2 2510; poll 31" << stable << stableZh;
    QTest::newRow("0.10 below for 31 s") << "set 2 2490; poll 31" << stable << stableZh;
    QTest::newRow("0.11 above for 40 s")
        << "set 2 2511; poll 40" << settling("0.11") << settlingZh("0.11");
    QTest::newRow("0.42 below") << "set 2 2458; poll 40" << settling("0.42") << settlingZh("0.42");
    QTest::newRow("12.34 above") << "set 2 3734; poll 40" << settling("12.34")
                                 << settlingZh("12.34");
    QTest::newRow("one reading out, then 20 s in")
        << "poll 20; set 2 2520; poll 0.1; set 2 2505; poll 20" << settling("0.05")
        << settlingZh("0.05");
    QTest::newRow("settled after an excursion")
        << "set 2 2600; poll 20; set 2 2505; poll 31" << stable << stableZh;
    QTest::newRow("setting silent 5.5 s within the 30 s")
        << "poll 20; set 1 -1; poll 5.5; set 1 2500; poll 20" << settling("0.05")
        << settlingZh("0.05");
    QTest::newRow("silent 5.5 s within the 30 s")
        << "poll 20; wait 5.4; poll 20" << settling("0.05") << settlingZh("0.05");
    QTest::newRow("closed and reopened within the 30 s")
        << "poll 20; close; poll 20" << settling("0.05") << settlingZh("0.05");
    QTest::newRow("setting changed")
        << "poll 40; set 1 3000; poll 1" << settling("4.95") << settlingZh("4.95");
    QTest::newRow("stable, then silent 5 s") << "poll 40; wait 4.9"
                                             << ""
                                             << "";
    QTest::newRow("stable, then silent 4.8 s") << "poll 40; wait 4.8" << stable << stableZh;
    QTest::newRow("stable, then closed") << "poll 40; close"
                                         << ""
                                         << "";
}

void TestTrend::stable()
{
    QFETCH(QString, script);
    QFETCH(QString, english);
    QFETCH(QString, chinese);

    const Bench bench(script);
    QCOMPARE(bench.history.stability().text(bench.clock, true), english);
    QCOMPARE(bench.history.stability().text(bench.clock, false), chinese);
}

void TestTrend::window_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("save");
    QTest::addColumn<QString>("stable");
    QTest::addColumn<QString>("hoverLine");

    QTest::newRow("English") << true << "Trend"
                             << "Now" << QString::fromUtf8("Save picture…") << "TEC stable"
                             << QString::fromUtf8("TEC temperature: 25.05 ℃");
    QTest::newRow("Chinese") << false << QString::fromUtf8("趋势图") << QString::fromUtf8("当前")
                             << QString::fromUtf8("保存图片…") << QString::fromUtf8("TEC稳定")
                             << QString::fromUtf8("TEC温度: 25.05 ℃");
}

void TestTrend::window()
{
    QFETCH(bool, english);
    QFETCH(QString, title);
    QFETCH(QString, now);
    QFETCH(QString, save);
    QFETCH(QString, stable);
    QFETCH(QString, hoverLine);

    Bench bench(QStringLiteral("poll 40"));
    QTemporaryDir tmp;
    QWidget panel;
    TrendWindow window(bench.history, bench.readings, english, &panel);
    QCOMPARE(window.objectName(), QStringLiteral("trendWindow"));
    QVERIFY(window.isWindow());
    QVERIFY(!window.testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("nowButton"))->text(), now);
    QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("savePictureButton"))->text(), save);
    window.refresh();
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("stableLabel"))->text(), stable);
    const QStringList hover = window.plot()->hoverLines(30000);
    QVERIFY(hover.contains(hoverLine));
    // The time in the desktop's local time, from the wall clock when the readings were taken.
    QCOMPARE(hover.value(0), QDateTime::fromMSecsSinceEpoch(1'800'000'030'000LL)
                                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));

    // From 1 minute to 24 hours, and back to the present after a pan.
    TrendPlot *plot = window.plot();
    QCOMPARE(plot->span(), TrendPlot::DefaultSpanMs);
    for (int i = 0; i < 40; ++i)
        QTest::keyClick(plot, Qt::Key_Minus);
    QCOMPARE(plot->span(), TrendPlot::MaxSpanMs);
    for (int i = 0; i < 80; ++i)
        QTest::keyClick(plot, Qt::Key_Plus);
    QCOMPARE(plot->span(), TrendPlot::MinSpanMs);
    // Dragging to the right shows what came before; the wheel zooms out.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint middle = plot->upperPane().center();
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, middle);
    // QTest::mouseMove only moves the cursor on Qt 5: the move as the platform sends it.
    const QPoint to = middle + QPoint(plot->upperPane().width() / 4, 0);
    QMouseEvent move(QEvent::MouseMove, to, plot->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, to);
    QVERIFY(!plot->following());
    QVERIFY(qAbs(plot->viewEnd() - (bench.clock - TrendPlot::MinSpanMs / 4)) < 1000);
    QWheelEvent wheel(QPointF(middle), QPointF(plot->mapToGlobal(middle)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    QCOMPARE(plot->span(), TrendPlot::MinSpanMs * 5 / 4);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("nowButton")), Qt::LeftButton);
    QVERIFY(plot->following());
    QCOMPARE(plot->viewEnd(), bench.clock);

    // The picture as shown, and a failure told as one.
    const QString path = QDir(tmp.path()).filePath(QStringLiteral("trend.png"));
    QVERIFY(window.savePicture(path));
    QCOMPARE(QImage(path).size(), plot->size());
    QVERIFY(!window.savePicture(QDir(tmp.path()).filePath(QStringLiteral("none/trend.png"))));

    // Closed with the panel.
    panel.show();
    window.show();
    panel.close();
    QVERIFY(!window.isVisible());
}

void TestTrend::gapDrawn_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("gap");

    QTest::newRow("clean") << "poll 150" << false;
    QTest::newRow("silent for 30 s") << "poll 60; wait 30; poll 60" << true;
    QTest::newRow("closed for 30 s") << "poll 60; close; wait 30; poll 60" << true;
}

void TestTrend::gapDrawn()
{
    QFETCH(QString, script);
    QFETCH(bool, gap);

    Bench bench(script);
    TrendWindow window(bench.history, bench.readings, true);
    window.plot()->setSpan(TrendPlot::MinSpanMs * 3);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage image = window.plot()->grab().toImage();
    const QRect pane = window.plot()->upperPane();
    // Columns with the TEC temperature's red in them, at 10 s, in the silence and at 140 s.
    auto red = [&](qint64 atMs) {
        const int x = window.plot()->xAt(atMs);
        for (int y = pane.top() + 10; y < pane.bottom(); ++y) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.red() - pixel.green() > 50 && pixel.red() - pixel.blue() > 50)
                return true;
        }
        return false;
    };
    QVERIFY(red(10000));
    QVERIFY(red(140000));
    QCOMPARE(red(75000), !gap);
    const QStringList lines = window.plot()->hoverLines(75000);
    QCOMPARE(lines.contains(QString::fromUtf8("TEC temperature: —")), gap);
}

void TestTrend::markers_data()
{
    QTest::addColumn<QString>("outcomes");
    QTest::addColumn<QColor>("color");

    QTest::newRow("sent") << "S" << QColor(0, 100, 220);
    QTest::newRow("sent, confirmed") << "SC" << QColor(0, 150, 0);
    QTest::newRow("sent, refused") << "SR" << QColor(210, 0, 0);
    QTest::newRow("sent, not confirmed") << "SN" << QColor(230, 130, 0);
    QTest::newRow("not sent") << "X" << QColor(110, 110, 110);
}

void TestTrend::markers()
{
    QFETCH(QString, outcomes);
    QFETCH(QColor, color);

    // A command given at 60 s, its outcomes 300 ms apart; another command later, confirmed.
    Bench bench(QStringLiteral("poll 100"));
    const QString letters = QStringLiteral("SCRNX");
    const BenchEvent::Outcome outcome[] = {
        BenchEvent::Outcome::Sent, BenchEvent::Outcome::Confirmed, BenchEvent::Outcome::Refused,
        BenchEvent::Outcome::NotConfirmed, BenchEvent::Outcome::NotSent};
    for (int i = 0; i < outcomes.size(); ++i)
        bench.history.addEvent(BenchEvent{BenchEvent::Kind::Command,
                                          outcome[letters.indexOf(outcomes[i])], 7,
                                          QStringLiteral("LD on"), 0, 60000 + 300 * i});
    bench.history.addEvent(BenchEvent{BenchEvent::Kind::Command, BenchEvent::Outcome::Confirmed, 8,
                                      QStringLiteral("LD off"), 0, 61000});
    TrendWindow window(bench.history, bench.readings, true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.plot()->setSpan(TrendPlot::MinSpanMs * 2);
    const QImage image = window.plot()->grab().toImage();
    const int top = window.plot()->upperPane().top() + 2;
    QCOMPARE(image.pixelColor(window.plot()->xAt(60000), top), color);
    QCOMPARE(image.pixelColor(window.plot()->xAt(61000) + 1, top), QColor(0, 150, 0));
}

QTEST_MAIN(TestTrend)
#include "tst_trend.moc"
