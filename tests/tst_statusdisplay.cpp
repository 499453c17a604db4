// The read-outs: what each value shows, when the labels are written, and when they are left alone.
#include "crc16.h"
#include "hcom.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "ptypair.h"
#include "registermap.h"
#include "statusdisplay.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString Green = QStringLiteral("color: rgb(0,255,0);");
const QString Red = QStringLiteral("color: rgb(255, 3, 3);");
const QString Grey = QStringLiteral("color: rgb(150, 150, 150);");

// A window whose tick is driven by the test, its port open on a pseudo-terminal that nobody
// answers, so only the test puts readings into the poll table.
struct Panel
{
    // The window's clock is the system's unless the test sets one.
    explicit Panel(CurrentReadings::Clock clock = CurrentReadings::Clock())
    {
        probe.tickTimer().stop();
        if (clock)
            probe.readings().setClock(clock);
        open();
    }
    ~Panel()
    {
        if (probe.portState() == 1)
            form.btn_comSet->click();
    }

    void open()
    {
        form.comb_comName->insertItem(0, pty.slavePath());
        form.comb_comName->setCurrentIndex(0);
        form.btn_comSet->click();
    }

    // A reading from the device for the row.
    void setRow(int row, quint16 value) { probe.master().recordReading(row, value); }

    PtyPair pty;
    MainWindow window;
    MainWindowProbe probe{window};
    MainWindowForm &form = probe.form();
};

// Counts the style changes a widget goes through; each one is a re-polish.
class StyleChangeCounter : public QObject
{
public:
    explicit StyleChangeCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::StyleChange)
            ++count;
        return false;
    }
};

// Two decimals with trailing zeros and then a trailing point removed: the other way of writing
// what 'g' with six digits gives for every 16-bit reading.
QString trimmedTwoDecimals(quint16 value)
{
    QString text = QString::number(value / 100) + QLatin1Char('.') +
                   QStringLiteral("%1").arg(value % 100, 2, 10, QLatin1Char('0'));
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

} // namespace

class TestStatusDisplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void powerText_data();
    void powerText();
    void temperatureText_data();
    void temperatureText();
    void temperatureTextForEveryReading();
    void readouts_data();
    void readouts();
    void ldState_data();
    void ldState();
    void zeroTemperatureKeepsPreviousText();
    void nothingChangesWhileOffline();
    void answerShownOnItsTickAndKeptAfterClose();
    void styleSheetSetOnlyWhenStateChanges();
    void unchangedValuesLeaveLabelsAlone();
    void readoutsNotCurrentTurnGrey_data();
    void readoutsNotCurrentTurnGrey();
};

void TestStatusDisplay::powerText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("2505") << 2505 << "25.05";
    QTest::newRow("2550") << 2550 << "25.50";
    QTest::newRow("2500") << 2500 << "25.00";
    QTest::newRow("5") << 5 << "0.05";
    QTest::newRow("7") << 7 << "0.07";
    QTest::newRow("0") << 0 << "0.00";
    QTest::newRow("100") << 100 << "1.00";
    QTest::newRow("65535") << 65535 << "655.35";
}

void TestStatusDisplay::powerText()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(StatusDisplay::powerText(quint16(value)), text);
}

void TestStatusDisplay::temperatureText_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("2505") << 2505 << "25.05";
    QTest::newRow("2550") << 2550 << "25.5";
    QTest::newRow("2500") << 2500 << "25";
    QTest::newRow("2534") << 2534 << "25.34";
    QTest::newRow("5") << 5 << "0.05";
    QTest::newRow("10") << 10 << "0.1";
    QTest::newRow("65535 unsigned") << 65535 << "655.35";
}

void TestStatusDisplay::temperatureText()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(StatusDisplay::temperatureText(quint16(value)), text);
}

void TestStatusDisplay::temperatureTextForEveryReading()
{
    for (int value = 1; value <= 65535; ++value) {
        const QString expected = trimmedTwoDecimals(quint16(value));
        if (StatusDisplay::temperatureText(quint16(value)) != expected)
            QFAIL(qPrintable(QStringLiteral("reading %1: %2 instead of %3")
                                 .arg(value)
                                 .arg(StatusDisplay::temperatureText(quint16(value)), expected)));
    }
}

void TestStatusDisplay::readouts_data()
{
    QTest::addColumn<int>("tecTemp");
    QTest::addColumn<int>("ldPower");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("maxCurrent");
    QTest::addColumn<QString>("tempText");
    QTest::addColumn<QString>("powerText");

    QTest::newRow("2505") << 2505 << 2505 << 1500 << 2000 << "25.05"
                          << "25.05";
    QTest::newRow("2550") << 2550 << 2550 << 0 << 0 << "25.5"
                          << "25.50";
    QTest::newRow("2500") << 2500 << 2500 << 1 << 1 << "25"
                          << "25.00";
    QTest::newRow("5") << 5 << 5 << 12345 << 54321 << "0.05"
                       << "0.05";
    QTest::newRow("0") << 0 << 0 << 0 << 0 << "-"
                       << "0.00";
    QTest::newRow("65535") << 65535 << 65535 << 65535 << 65535 << "655.35"
                           << "655.35";
}

void TestStatusDisplay::readouts()
{
    QFETCH(int, tecTemp);
    QFETCH(int, ldPower);
    QFETCH(int, current);
    QFETCH(int, maxCurrent);
    QFETCH(QString, tempText);
    QFETCH(QString, powerText);

    Panel panel;
    panel.setRow(RegisterMap::RowTecTemp, quint16(tecTemp));
    panel.setRow(RegisterMap::RowLdPower, quint16(ldPower));
    panel.setRow(RegisterMap::RowCurrentSetting, quint16(current));
    panel.setRow(RegisterMap::RowMaxCurrent, quint16(maxCurrent));
    panel.setRow(RegisterMap::RowTempSetting, 1234);
    panel.setRow(RegisterMap::RowTecOnState, 1);
    panel.probe.deviceOnline() = 1;
    panel.probe.tick();

    QCOMPARE(panel.form.tecRtTemp->text(), tempText);
    QCOMPARE(panel.form.ldSetPower->text(), powerText);
    QCOMPARE(panel.form.ldSetCurrent->text(), QString::number(current));
    QCOMPARE(panel.form.ldMaxCur->text(), QString::number(maxCurrent));

    const DeviceStatus &status = panel.probe.deviceStatus();
    QCOMPARE(int(status.maxCurrent), maxCurrent);
    QCOMPARE(int(status.tempSetting), 1234);
    QCOMPARE(int(status.tecTemp), tecTemp);
    QCOMPARE(int(status.ldPower), ldPower);
    QCOMPARE(int(status.currentSetting), current);
    QCOMPARE(int(status.tecOnState), 1);
    QCOMPARE(int(status.ldOnState), 0);
}

void TestStatusDisplay::ldState_data()
{
    QTest::addColumn<int>("ldOnState");
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");

    QTest::newRow("1 English") << 1 << true << "Work" << Green;
    QTest::newRow("0 English") << 0 << true << "Stop" << Red;
    QTest::newRow("2 English") << 2 << true << "Stop" << Red;
    QTest::newRow("65535 English") << 65535 << true << "Stop" << Red;
    QTest::newRow("1 Chinese") << 1 << false << QString::fromUtf8("工作") << Green;
    QTest::newRow("0 Chinese") << 0 << false << QString::fromUtf8("停止") << Red;
    QTest::newRow("2 Chinese") << 2 << false << QString::fromUtf8("停止") << Red;
}

void TestStatusDisplay::ldState()
{
    QFETCH(int, ldOnState);
    QFETCH(bool, english);
    QFETCH(QString, text);
    QFETCH(QString, style);

    Panel panel;
    panel.probe.useEnglish() = english ? 1 : 0;
    panel.setRow(RegisterMap::RowLdOnState, quint16(ldOnState));
    panel.probe.deviceOnline() = 1;
    panel.probe.tick();
    QCOMPARE(panel.form.ldState->text(), text);
    QCOMPARE(panel.form.ldState->styleSheet(), style);

    // The same on a label of its own, without a window.
    QLabel labelState, labelTemp, labelCurrent, labelPower, labelMax;
    StatusDisplay::Labels labels;
    labels.ldState = &labelState;
    labels.tecRtTemp = &labelTemp;
    labels.ldSetCurrent = &labelCurrent;
    labels.ldSetPower = &labelPower;
    labels.ldMaxCur = &labelMax;
    DeviceStatus status;
    status.ldOnState = quint16(ldOnState);
    StatusDisplay display;
    display.show(status, english, labels);
    QCOMPARE(labelState.text(), text);
    QCOMPARE(labelState.styleSheet(), style);
}

void TestStatusDisplay::zeroTemperatureKeepsPreviousText()
{
    Panel panel;
    panel.probe.deviceOnline() = 1;
    panel.probe.tick();
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("-")); // the form's own text

    panel.setRow(RegisterMap::RowTecTemp, 2534);
    panel.probe.tick();
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("25.34"));

    panel.setRow(RegisterMap::RowTecTemp, 0);
    panel.probe.tick();
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("25.34"));
    QCOMPARE(int(panel.probe.deviceStatus().tecTemp), 0);

    // Back to the reading shown before the 0: still shown, whatever happened in between.
    panel.setRow(RegisterMap::RowTecTemp, 2534);
    panel.probe.tick();
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("25.34"));
    panel.setRow(RegisterMap::RowTecTemp, 2550);
    panel.probe.tick();
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("25.5"));
}

void TestStatusDisplay::nothingChangesWhileOffline()
{
    Panel panel;
    const QString initialStyle = panel.form.ldState->styleSheet();
    panel.setRow(RegisterMap::RowMaxCurrent, 2000);
    panel.setRow(RegisterMap::RowTecTemp, 2505);
    panel.setRow(RegisterMap::RowLdPower, 2505);
    panel.setRow(RegisterMap::RowCurrentSetting, 1500);
    panel.setRow(RegisterMap::RowLdOnState, 1);

    for (int i = 0; i < 300; ++i)
        panel.probe.tick();

    for (QLabel *label : {panel.form.ldState, panel.form.tecRtTemp, panel.form.ldSetCurrent,
                          panel.form.ldSetPower, panel.form.ldMaxCur})
        QCOMPARE(label->text(), QStringLiteral("-"));
    QCOMPARE(panel.form.ldState->styleSheet(), initialStyle);
    QCOMPARE(int(panel.probe.deviceStatus().maxCurrent), 0);
    QCOMPARE(int(panel.probe.deviceOnline()), 0);
}

void TestStatusDisplay::answerShownOnItsTickAndKeptAfterClose()
{
    Panel panel;
    panel.setRow(RegisterMap::RowLdPower, 4321); // not yet answered in this run, shown once online

    // The first request goes out; with no answer yet nothing is shown.
    for (int i = 0; i < 5; ++i)
        panel.probe.tick();
    QCOMPARE(int(panel.probe.deviceOnline()), 0);
    QCOMPARE(panel.form.ldMaxCur->text(), QStringLiteral("-"));

    // The driver answers the request for the maximum current (row 0) with 2000.
    quint8 reply[7] = {RegisterMap::SlaveAddress, RegisterMap::FunctionReadHolding, 2, 0x07, 0xD0};
    const quint16 crc = crc16Modbus(reply, 5);
    reply[5] = quint8(crc & 0xFF);
    reply[6] = quint8(crc >> 8);
    panel.probe.storeResponse(reply, sizeof reply);
    panel.probe.tick();

    QCOMPARE(int(panel.probe.deviceOnline()), 1);
    QCOMPARE(panel.form.ldMaxCur->text(), QStringLiteral("2000"));
    QCOMPARE(int(panel.probe.deviceStatus().maxCurrent), 2000);
    // Registers not heard yet keep the form's text: their 0 was never read, and "Stop" would
    // show a laser that may be working as stopped.
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("-"));
    QCOMPARE(panel.form.ldState->styleSheet(), QString());
    QCOMPARE(panel.form.ldSetCurrent->text(), QStringLiteral("-"));
    QCOMPARE(panel.form.ldSetPower->text(), QStringLiteral("43.21"));
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("-"));

    // The port closes: the device stays online and the read-outs keep the last values.
    panel.form.btn_comSet->click();
    for (int i = 0; i < 200; ++i)
        panel.probe.tick();
    QCOMPARE(int(panel.probe.deviceOnline()), 1);
    QCOMPARE(panel.form.ldMaxCur->text(), QStringLiteral("2000"));
    QCOMPARE(panel.form.ldSetPower->text(), QStringLiteral("43.21"));
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("-"));
    QCOMPARE(int(panel.probe.deviceStatus().maxCurrent), 2000);
}

void TestStatusDisplay::styleSheetSetOnlyWhenStateChanges()
{
    Panel panel;
    StyleChangeCounter styleChanges(panel.form.ldState);
    panel.setRow(RegisterMap::RowLdOnState, 1);
    panel.probe.deviceOnline() = 1;

    panel.probe.tick();
    QCOMPARE(panel.form.ldState->styleSheet(), Green);
    const int afterFirst = styleChanges.count;
    QVERIFY(afterFirst > 0); // the counter does see a style sheet being set

    for (int i = 0; i < 100; ++i)
        panel.probe.tick();
    QCOMPARE(styleChanges.count, afterFirst);

    panel.setRow(RegisterMap::RowLdOnState, 0);
    panel.probe.tick();
    QCOMPARE(panel.form.ldState->styleSheet(), Red);
    const int afterStop = styleChanges.count;
    QVERIFY(afterStop > afterFirst);

    // 0 and 2 both read "Stop" in red: going from one to the other re-polishes nothing.
    panel.setRow(RegisterMap::RowLdOnState, 2);
    for (int i = 0; i < 100; ++i)
        panel.probe.tick();
    QCOMPARE(styleChanges.count, afterStop);
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("Stop"));

    panel.setRow(RegisterMap::RowLdOnState, 1);
    panel.probe.tick();
    QCOMPARE(panel.form.ldState->styleSheet(), Green);
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("Work"));
}

void TestStatusDisplay::unchangedValuesLeaveLabelsAlone()
{
    Panel panel;
    panel.setRow(RegisterMap::RowCurrentSetting, 1500);
    panel.setRow(RegisterMap::RowLdPower, 2505);
    panel.setRow(RegisterMap::RowMaxCurrent, 2000);
    panel.setRow(RegisterMap::RowTecTemp, 2505);
    panel.setRow(RegisterMap::RowLdOnState, 1);
    panel.probe.deviceOnline() = 1;
    panel.probe.tick();

    // Marks written behind the display's back survive ticks with unchanged values, so those
    // ticks wrote nothing.
    const QString mark = QStringLiteral("mark");
    for (QLabel *label : {panel.form.ldState, panel.form.tecRtTemp, panel.form.ldSetCurrent,
                          panel.form.ldSetPower, panel.form.ldMaxCur})
        label->setText(mark);
    for (int i = 0; i < 10; ++i)
        panel.probe.tick();
    for (QLabel *label : {panel.form.ldState, panel.form.tecRtTemp, panel.form.ldSetCurrent,
                          panel.form.ldSetPower, panel.form.ldMaxCur})
        QCOMPARE(label->text(), mark);

    // A change rewrites exactly the label it belongs to.
    panel.setRow(RegisterMap::RowCurrentSetting, 1600);
    panel.probe.tick();
    QCOMPARE(panel.form.ldSetCurrent->text(), QStringLiteral("1600"));
    QCOMPARE(panel.form.ldSetPower->text(), mark);
    panel.setRow(RegisterMap::RowLdPower, 2506);
    panel.setRow(RegisterMap::RowMaxCurrent, 2100);
    panel.setRow(RegisterMap::RowTecTemp, 2506);
    panel.setRow(RegisterMap::RowLdOnState, 0);
    panel.probe.tick();
    QCOMPARE(panel.form.ldSetPower->text(), QStringLiteral("25.06"));
    QCOMPARE(panel.form.ldMaxCur->text(), QStringLiteral("2100"));
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("25.06"));
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("Stop"));
}

void TestStatusDisplay::readoutsNotCurrentTurnGrey_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("tickMs"); // on the window's clock
    QTest::newRow("not read for 5 s, ticks 1 ms apart") << "wait" << 1;
    QTest::newRow("not read for 5 s, ticks 16 ms apart") << "wait" << 16;
    QTest::newRow("port closed by the operator") << "close" << 1;
    QTest::newRow("line gone") << "hang up" << 1;
}

void TestStatusDisplay::readoutsNotCurrentTurnGrey()
{
    QFETCH(QString, how);
    QFETCH(int, tickMs);

    qint64 clockMs = 0;
    Panel panel([&] { return clockMs; });
    const auto tick = [&] {
        clockMs += tickMs;
        panel.probe.tick();
    };
    QLabel *const numbers[] = {panel.form.tecRtTemp, panel.form.ldSetCurrent, panel.form.ldMaxCur};
    StyleChangeCounter stateStyles(panel.form.ldState);
    panel.setRow(RegisterMap::RowLdOnState, 1);
    panel.setRow(RegisterMap::RowTecTemp, 2534);
    panel.setRow(RegisterMap::RowCurrentSetting, 1500);
    panel.setRow(RegisterMap::RowMaxCurrent, 2000);
    panel.probe.deviceOnline() = 1; // the power is never read
    const qint64 readAt = clockMs;
    tick();
    QCOMPARE(panel.form.ldState->styleSheet(), Green);

    if (how == QLatin1String("wait")) {
        // Current up to the last tick short of 5 s after the reading, grey on the next.
        while (clockMs + tickMs < readAt + CurrentReadings::StaleAfterMs)
            tick();
        QCOMPARE(panel.form.ldState->styleSheet(), Green);
    } else if (how == QLatin1String("close")) {
        panel.form.btn_comSet->click();
    } else {
        panel.pty.closeMaster();
        QTRY_VERIFY(!panel.probe.com().comIsOpen());
        QCOMPARE(panel.probe.portState(), 1);
    }
    const int greyed = stateStyles.count + 1;
    for (int i = 0; i < 10; ++i)
        tick();

    // Grey, set once, texts kept; a read-out still showing the form's text keeps its style.
    QCOMPARE(stateStyles.count, greyed);
    QCOMPARE(panel.form.ldState->styleSheet(), Grey);
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("Work"));
    for (QLabel *label : numbers)
        QCOMPARE(label->styleSheet(), Grey);
    QCOMPARE(panel.form.tecRtTemp->text(), QStringLiteral("25.34"));
    QCOMPARE(panel.form.ldSetCurrent->text(), QStringLiteral("1500"));
    QCOMPARE(panel.form.ldSetPower->text(), QStringLiteral("-"));
    QCOMPARE(panel.form.ldSetPower->styleSheet(), QString());

    if (how == QLatin1String("hang up"))
        return;
    if (how == QLatin1String("close")) {
        // Open again, what was read before the close is not current until read anew.
        panel.open();
        panel.probe.tick();
        QCOMPARE(panel.form.ldState->styleSheet(), Grey);
    }
    panel.setRow(RegisterMap::RowLdOnState, 0);
    panel.setRow(RegisterMap::RowCurrentSetting, 1500);
    panel.probe.tick();
    QCOMPARE(panel.form.ldState->styleSheet(), Red);
    QCOMPARE(panel.form.ldState->text(), QStringLiteral("Stop"));
    QCOMPARE(panel.form.ldSetCurrent->styleSheet(), QString());
    QCOMPARE(panel.form.tecRtTemp->styleSheet(), Grey);
}

QTEST_MAIN(TestStatusDisplay)
#include "tst_statusdisplay.moc"
