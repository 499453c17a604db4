// The panel against our simulated driver, both in this process, over a real pseudo-terminal and
// the panel's own QSerialPort, or with LDPANEL_TEST_LINE=memory (and on Windows) over the demo's
// line in memory: what the operator sees and what reaches the unit.
#include "desktoplanguage.h"
#include "dialogcatcher.h"
#include "eventwait.h"
#include "hcom.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "modbusmaster.h"
#include "registermap.h"
#include "simulateddriver.h"
#include "simulatedline.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <utility>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace RegisterMap;

Q_DECLARE_METATYPE(FaultPlan)

namespace {

const QString Green = QStringLiteral("color: rgb(0,255,0);");
const QString Red = QStringLiteral("color: rgb(255, 3, 3);");

int writesIn(const SimulatedDriver &driver)
{
    int writes = 0;
    for (const SimulatedDriver::LogEntry &entry : driver.log()) {
        if (entry.exchange.request.size() > 1 && quint8(entry.exchange.request[1]) == 0x06)
            ++writes;
    }
    return writes;
}

bool onMemoryLine()
{
#ifdef Q_OS_UNIX
    return qgetenv("LDPANEL_TEST_LINE") == "memory";
#else
    return true;
#endif
}

// The window and the simulated unit on either end of a pseudo-terminal or of the line in memory,
// with the panel's ticks counted so waits can be measured in the panel's own time.
struct Bench
{
    SimulatedDriver driver;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowProbe> probe;
    int ticks = 0;

    bool start()
    {
        // Physics frozen: the read-outs must match the model exactly.
        driver.setPhysicsInterval(0);
        driver.model().setNoise(0);
        QString port = QStringLiteral("Simulated driver");
        if (!onMemoryLine()) {
#ifdef Q_OS_UNIX
            if (!driver.openPty())
                return false;
            port = driver.slavePath();
#endif
        }
        window = std::make_unique<MainWindow>();
        probe = std::make_unique<MainWindowProbe>(*window);
        // Connected after the window's own tick slot, so it sees the refresh of the same tick.
        QObject::connect(&probe->tickTimer(), &QTimer::timeout, [this] { ++ticks; });
        if (onMemoryLine()) {
            PortSource source = Hcom::systemPorts();
            source.line = [this, port](const QString &name) -> std::unique_ptr<SerialLine> {
                if (name != port)
                    return nullptr;
                return std::make_unique<SimulatedLine>(driver);
            };
            window->setPortSource(std::move(source));
        }
        form().comb_comName->insertItem(0, port);
        form().comb_comName->setCurrentIndex(0);
        return true;
    }
    MainWindowForm &form()
    {
        return probe->form();
    }
    LdDriverModel &model()
    {
        return driver.model();
    }

    void open()
    {
        form().btn_comSet->click();
    }
    // Until the unit's maximum current is known to the panel: the first answer.
    bool waitOnline()
    {
        return runUntil([this] {
            return probe->deviceOnline() == 1 &&
                   probe->deviceStatus().maxCurrent == model().maximumCurrent();
        });
    }
    void waitTicks(int count)
    {
        const int until = ticks + count;
        runUntil([&] { return ticks >= until; });
    }
    // Starts the record as the operator does: the action, then the save dialog.
    QString offeredRecord;
    bool startRecord(const QString &path)
    {
        QTimer pick;
        QObject::connect(&pick, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            offeredRecord = dialog->selectedFiles().value(0);
            dialog->selectFile(path);
            static_cast<QDialog *>(dialog)->accept();
        });
        pick.start(5);
        auto *action = window->findChild<QAction *>(QStringLiteral("actionRecord"));
        action->trigger();
        return action->text() == DesktopLanguage::shown("Stop recording");
    }
    QString powerText()
    {
        const quint16 power = driver.model().read(LdPower);
        return QStringLiteral("%1.%2").arg(power / 100).arg(power % 100, 2, 10, QLatin1Char('0'));
    }
};

} // namespace

class tst_E2eSimulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readOutsWithinOneSweep_data();
    void readOutsWithinOneSweep();
    void setCurrent_data();
    void setCurrent();
    void switchLd_data();
    void switchLd();
    void record_data();
    void record();
    void recordFailure_data();
    void recordFailure();
    void offlineCommandsRefused_data();
    void offlineCommandsRefused();
    void closeStopsPolling();
};

void tst_E2eSimulator::initTestCase()
{
    const QString mismatch = DesktopLanguage::localeMismatch();
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
}

void tst_E2eSimulator::readOutsWithinOneSweep_data()
{
    QTest::addColumn<int>("maxCurrent");
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("ldOn");
    QTest::addColumn<int>("tecTemp");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("temperature");
    QTest::addColumn<QString>("power");
    QTest::addColumn<bool>("localEcho");

    // Power is 0.5 hundredths per unit of current while the LD works.
    QTest::newRow("working") << 2500 << 1234 << true << 2534 << "Work" << Green << "25.34"
                             << "6.17" << false;
    QTest::newRow("stopped") << 3000 << 800 << false << 1850 << "Stop" << Red << "18.5"
                             << "0.00" << false;
    QTest::newRow("extremes") << 65535 << 65535 << true << 65535 << "Work" << Green << "655.35"
                              << "327.68" << false;
    // Every request heard back ahead of its reply, as through a two-wire RS-485 adapter.
    QTest::newRow("working, line echoes")
        << 2500 << 1234 << true << 2534 << "Work" << Green << "25.34"
        << "6.17" << true;
}

void tst_E2eSimulator::readOutsWithinOneSweep()
{
    QFETCH(int, maxCurrent);
    QFETCH(int, current);
    QFETCH(bool, ldOn);
    QFETCH(int, tecTemp);
    QFETCH(QString, state);
    QFETCH(QString, colour);
    QFETCH(QString, temperature);
    QFETCH(QString, power);
    QFETCH(bool, localEcho);

    Bench bench;
    QVERIFY(bench.start());
    bench.driver.faults().localEcho = localEcho;
    bench.model().setMaxCurrent(quint16(maxCurrent));
    bench.model().setCurrentSetting(quint16(current));
    bench.model().setLdOn(ldOn);
    bench.model().setTecTemperature(tecTemp);
    MainWindowForm &form = bench.form();

    // Checked on every tick right after the refresh, so the tick of the first full picture is
    // known exactly.
    int allShownAt = -1;
    auto allShown = [&] {
        return form.ldState->text() == state && form.ldState->styleSheet() == colour &&
               form.ldMaxCur->text() == QString::number(maxCurrent) &&
               form.tecRtTemp->text() == temperature && form.ldSetPower->text() == power &&
               form.ldSetCurrent->text() == QString::number(current);
    };
    QObject::connect(&bench.probe->tickTimer(), &QTimer::timeout, [&] {
        if (allShownAt < 0 && bench.probe->deviceOnline() && allShown())
            allShownAt = bench.ticks;
    });
    bench.ticks = 0;
    bench.open();
    QCOMPARE(bench.probe->portState(), 1);
    QVERIFY(runUntil([&] { return allShownAt >= 0; }));

    // The first request goes out on the second tick; the seventh answer comes in the seventh
    // slot, before the eighth request at tick 702.
    QVERIFY2(allShownAt <= 702, qPrintable(QStringLiteral("all shown at tick %1").arg(allShownAt)));
    QCOMPARE(form.ldSetPower->text(), bench.powerText());
    const DeviceStatus &status = bench.probe->deviceStatus();
    QCOMPARE(status.maxCurrent, bench.model().read(LdMaxCurrent));
    QCOMPARE(status.currentSetting, bench.model().read(LdCurrentSetting));
    QCOMPARE(status.tecTemp, bench.model().read(TecTemp));
    QCOMPARE(status.ldPower, bench.model().read(LdPower));
    QCOMPARE(status.ldOnState, bench.model().read(LdSwitch));
    // Not shown, so the picture may be complete before their answers; they follow in the sweep.
    WAIT_COMPARE(status.tempSetting, bench.model().read(LdTempSetting));
    WAIT_COMPARE(status.tecOnState, bench.model().read(TecSwitch));
    QCOMPARE(writesIn(bench.driver), 0);
}

void tst_E2eSimulator::setCurrent_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<FaultPlan>("line");
    QTest::addColumn<int>("unitMax");     // the unit's maximum once the panel has read 2500
    QTest::addColumn<QString>("warning"); // once the write has been sent; empty when taken

    const auto plan = [](const std::function<void(FaultPlan &)> &set) {
        FaultPlan line;
        set(line);
        return line;
    };
    const FaultPlan clean;
    const FaultPlan echoes = plan([](FaultPlan &p) { p.localEcho = true; });
    const QString none;
    // The maximum is 2500.
    QTest::newRow("within") << "1800" << true << clean << 2500 << none;
    QTest::newRow("at the maximum") << "2500" << true << clean << 2500 << none;
    QTest::newRow("zero") << "0" << true << clean << 2500 << none;
    QTest::newRow("one over") << "2501" << false << clean << 2500 << none;
    QTest::newRow("beyond 16 bits") << "65537" << false << clean << 2500 << none;
    // The line's echo of the write is not the unit's confirmation, nor its refusal.
    QTest::newRow("within, line echoes") << "1800" << true << echoes << 2500 << none;
    QTest::newRow("refused by the unit, line echoes")
        << "1800" << true << echoes << 1500 << "Command Refused!";
    // The copy found between glitch bytes and put together from its two halves, once.
    QTest::newRow("within, line glitches and cuts") << "1800" << true << plan([](FaultPlan &p) {
        p.leadBytes = QByteArray(1, '\0');
        p.trailBytes = QByteArray(1, '\xFF');
        p.splitGapMs = 20;
    }) << 2500 << none;
    // Only the write's own copy confirms it: the unit took it, but the panel cannot know.
    QTest::newRow("answered with a poll reply") << "1800" << true << plan([](FaultPlan &p) {
        p.writeAnswer = QByteArray::fromHex("0103020708bbb2");
    }) << 2500 << "Command Not Confirmed!";
    QTest::newRow("answered with another write's copy") << "1800" << true << plan([](FaultPlan &p) {
        p.writeAnswer = QByteArray::fromHex("01069c4e0001064d");
    }) << 2500 << "Command Not Confirmed!";
}

void tst_E2eSimulator::setCurrent()
{
    QFETCH(QString, entry);
    QFETCH(bool, accepted);
    QFETCH(FaultPlan, line);
    QFETCH(int, unitMax);
    QFETCH(QString, warning);

    Bench bench;
    QVERIFY(bench.start());
    bench.driver.faults() = line;
    bench.model().setMaxCurrent(2500);
    bench.model().setCurrentSetting(1000);
    bench.model().setLdOn(true);
    bench.open();
    QVERIFY(bench.waitOnline());
    MainWindowForm &form = bench.form();
    bench.model().setMaxCurrent(quint16(unitMax));

    DialogCatcher dialogs;
    form.edLdSetCurrent->setText(entry);
    form.btnSetLdCurrent->click();

    if (!warning.isEmpty()) {
        QVERIFY(dialogs.seen.isEmpty());
        QVERIFY(runUntil([&] { return !dialogs.seen.isEmpty(); }));
        QCOMPARE(dialogs.texts(), QStringList{warning});
        const bool refused = unitMax < 2500;
        QCOMPARE(writesIn(bench.driver), refused ? 1 : ModbusMaster::MaxWriteSends);
        QCOMPARE(bench.model().read(LdCurrentSetting), quint16(refused ? 1000 : entry.toInt()));
        return;
    }

    if (!accepted) {
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("SetCurrent Over!2500mA")});
        QCOMPARE(dialogs.seen.first().title, QStringLiteral("Warning"));
        QCOMPARE(bench.probe->writePending(), quint8(0));
        // Three slots later a queued write would long have gone out; the polls go on instead.
        const int requestsBefore = bench.driver.log().size();
        bench.waitTicks(300);
        QCOMPARE(writesIn(bench.driver), 0);
        QVERIFY(bench.driver.log().size() >= requestsBefore + 2);
        QCOMPARE(bench.model().read(LdCurrentSetting), quint16(1000));
        return;
    }

    const quint16 value = quint16(entry.toInt());
    QVERIFY(dialogs.seen.isEmpty());
    WAIT_COMPARE(bench.model().read(LdCurrentSetting), value);
    QCOMPARE(writesIn(bench.driver), 1);
    WAIT_COMPARE(form.ldSetCurrent->text(), entry);
    // The LD works, so its power follows the new current.
    WAIT_COMPARE(form.ldSetPower->text(), bench.powerText());
    QCOMPARE(bench.probe->deviceStatus().ldPower, quint16(value / 2));
    QVERIFY(dialogs.seen.isEmpty());
}

void tst_E2eSimulator::switchLd_data()
{
    QTest::addColumn<bool>("startOn");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<QString>("power");
    // 0 nothing more; 1 the port closed 20 ms after the click, opened again 2 s later; 2 the
    // window closed 20 ms after the click; 3 the click right after the port was opened again;
    // 4 a unit that never confirms, the port closed at once and opened again; 5 clicked five
    // times at a unit that never confirms, the window closed at once
    QTest::addColumn<int>("then");

    // 1600 at 0.5 hundredths per unit.
    QTest::newRow("on") << false << "Work" << Green << "8.00" << 0;
    QTest::newRow("off") << true << "Stop" << Red << "0.00" << 0;
    QTest::newRow("off, port closed 20 ms after") << true << "Stop" << Red << "0.00" << 1;
    QTest::newRow("off, window closed 20 ms after") << true << "Stop" << Red << "0.00" << 2;
    QTest::newRow("off, right after a reopen") << true << "Stop" << Red << "0.00" << 3;
    QTest::newRow("off, never confirmed, port closed at once")
        << true << "Stop" << Red << "0.00" << 4;
    QTest::newRow("off five times, never confirmed, window closed at once")
        << true << "Stop" << Red << "0.00" << 5;
}

void tst_E2eSimulator::switchLd()
{
    QFETCH(bool, startOn);
    QFETCH(QString, state);
    QFETCH(QString, colour);
    QFETCH(QString, power);
    QFETCH(int, then);

    Bench bench;
    QVERIFY(bench.start());
    bench.model().setCurrentSetting(1600);
    bench.model().setLdOn(startOn);
    if (then >= 4)
        bench.driver.faults().writeAnswer = QByteArray::fromHex("0103020708bbb2");
    bench.open();
    MainWindowForm &form = bench.form();
    // The panel shows the starting state first, so the change below is the command's doing.
    WAIT_COMPARE(form.ldState->text(), DesktopLanguage::shown(startOn ? "Work" : "Stop"));
    WAIT_COMPARE(bench.probe->deviceStatus().ldOnState, quint16(startOn ? 1 : 0));
    if (then == 3) {
        form.btn_comSet->click();
        bench.waitTicks(5);
        form.btn_comSet->click();
    }

    DialogCatcher dialogs;
    const auto closePort = [&] {
        form.btn_comSet->click();
        QCOMPARE(form.btn_comSet->text(), DesktopLanguage::shown("ComClose"));
    };
    (startOn ? form.btnSetLdOff : form.btnSetLdOn)->click();
    if (then == 1 || then == 4) {
        if (then == 1)
            bench.waitTicks(20);
        closePort();
        // From the click on, the panel takes no new command.
        form.btnSetLdOn->click();
        QCOMPARE(dialogs.texts(), QStringList{DesktopLanguage::shown("ComDevice Not Open!")});
        dialogs.seen.clear();
        QVERIFY(runUntil([&] { return !bench.probe->com().comIsOpen(); }, 2000));
        QCOMPARE(writesIn(bench.driver), then == 4 ? ModbusMaster::MaxWriteSends : 1);
        QCOMPARE(bench.model().ldWorking(), false);
        const QStringList told{DesktopLanguage::shown("Command Not Confirmed!")};
        WAIT_COMPARE(dialogs.texts(), then == 4 ? told : QStringList());
        // Opened again later, nothing of the command goes out again.
        bench.waitTicks(then == 1 ? 2000 : 100);
        bench.open();
        QVERIFY(bench.waitOnline());
        bench.waitTicks(500);
        QCOMPARE(writesIn(bench.driver), then == 4 ? ModbusMaster::MaxWriteSends : 1);
        QCOMPARE(dialogs.texts(), then == 4 ? told : QStringList());
        return;
    }
    if (then == 2 || then == 5) {
        for (int i = 1; then == 5 && i < 5; ++i)
            form.btnSetLdOff->click();
        // As the panel's main runs it: the window goes, the commands still reach the unit.
        LogCapture log;
        bench.window->show();
        QTimer::singleShot(then == 2 ? 20 : 0, bench.window.get(), &QWidget::close);
        QCOMPARE(bench.window->run(), 0);
        QCOMPARE(bench.model().ldWorking(), false);
        QVERIFY(!bench.probe->com().comIsOpen());
        QVERIFY(dialogs.seen.isEmpty());
        if (then == 2) {
            QCOMPARE(writesIn(bench.driver), 1);
            return;
        }
        // Within the second, each write sent three times in turn, unconfirmed; the fifth
        // cannot have gone out (its turn would come after 1200 ticks). How far the ticks got
        // depends on the machine.
        const QString frame = QStringLiteral("01 06 9c 4e 00 00 c7 8d");
        const QStringList failures = log.debugLines().filter(QStringLiteral("write "));
        QCOMPARE(failures.size(), 5);
        QCOMPARE(failures.last(), QStringLiteral("write not sent ") + frame);
        const int confirmedNot = failures.indexOf(QStringLiteral("write not sent ") + frame);
        QVERIFY(confirmedNot >= 1);
        QStringList expected;
        for (int i = 0; i < 5; ++i)
            expected << (i < confirmedNot ? QStringLiteral("write not confirmed ")
                                          : QStringLiteral("write not sent ")) +
                            frame;
        QVERIFY(writesIn(bench.driver) >= ModbusMaster::MaxWriteSends * (confirmedNot - 1));
        QVERIFY(writesIn(bench.driver) <= ModbusMaster::MaxWriteSends * confirmedNot);
        QCOMPARE(failures, expected);
        return;
    }
    WAIT_COMPARE(bench.model().ldWorking(), !startOn);
    WAIT_COMPARE(form.ldState->text(), DesktopLanguage::shown(qPrintable(state)));
    QCOMPARE(form.ldState->styleSheet(), colour);
    WAIT_COMPARE(form.ldSetPower->text(), power);
    QCOMPARE(writesIn(bench.driver), 1);
    QVERIFY(dialogs.seen.isEmpty());
}

namespace {

// The record's rows as another program reads them while the panel still writes: split at the
// commas (no field here is quoted).
QList<QStringList> recordRows(const QString &path)
{
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        if (!line.isEmpty())
            rows << line.split(QLatin1Char(','));
    }
    return rows;
}

QString hundredths(quint16 value)
{
    return QStringLiteral("%1.%2").arg(value / 100).arg(value % 100, 2, 10, QLatin1Char('0'));
}

} // namespace

void tst_E2eSimulator::record_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("unitMax"); // the unit's maximum once the panel has read 2500
    QTest::addColumn<QStringList>("commands");

    QTest::newRow("current changed")
        << "1800" << 2500 << QStringList{"LD current 1800: sent", "LD current 1800: confirmed"};
    QTest::newRow("refused by the panel")
        << "2600" << 2500 << QStringList{"LD current 2600: refused (above the maximum of 2500mA)"};
    QTest::newRow("refused by the unit")
        << "1800" << 1500
        << QStringList{"LD current 1800: sent", "LD current 1800: refused (exception 3)"};
}

void tst_E2eSimulator::record()
{
    QFETCH(QString, entry);
    QFETCH(int, unitMax);
    QFETCH(QStringList, commands);

    Bench bench;
    QVERIFY(bench.start());
    bench.model().setMaxCurrent(2500);
    bench.model().setCurrentSetting(1000);
    bench.model().setLdOn(true);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("bench.csv"));
    const qint64 startedAt = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(bench.startRecord(path));
    // In the documents folder, or at home where there is none.
    const QFileInfo offered(bench.offeredRecord);
    QVERIFY2(QRegularExpression(QStringLiteral("^ldpanel-\\d{8}-\\d{6}\\.csv$"))
                 .match(offered.fileName())
                 .hasMatch(),
             qPrintable(bench.offeredRecord));
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QCOMPARE(offered.absolutePath(), QFileInfo::exists(documents) ? documents : QDir::homePath());
    bench.open();
    QVERIFY(bench.waitOnline());
    WAIT_COMPARE(bench.form().ldSetCurrent->text(), QStringLiteral("1000"));
    bench.waitTicks(1500);
    bench.model().setMaxCurrent(quint16(unitMax));
    DialogCatcher dialogs;
    bench.form().edLdSetCurrent->setText(entry);
    bench.form().btnSetLdCurrent->click();
    const QString changed =
        commands.size() == 2 && commands.last().endsWith(QLatin1String("confirmed"))
            ? entry
            : QStringLiteral("1000");
    WAIT_COMPARE(bench.form().ldSetCurrent->text(), changed);
    bench.waitTicks(2500);

    // Read while the panel still runs and records.
    const QList<QStringList> rows = recordRows(path);
    QCOMPARE(rows.value(0).join(QLatin1Char(',')),
             QStringLiteral("time,tec_temp_c,ld_temp_setting_c,ld_power,ld_current_setting,"
                            "ld_max_current,ld_on,tec_on,event"));
    QStringList events;
    qint64 previous = startedAt - 1;
    qint64 recordStart = -1;
    int seconds = 0;
    // Each value is the unit's own, before or after the command, or empty while not yet read.
    const QStringList allowed[7] = {{hundredths(bench.model().read(TecTemp))},
                                    {hundredths(bench.model().read(LdTempSetting))},
                                    {hundredths(1000 / 2), hundredths(quint16(entry.toInt() / 2))},
                                    {QStringLiteral("1000"), entry},
                                    {QStringLiteral("2500"), QString::number(unitMax)},
                                    {QStringLiteral("1")},
                                    {QStringLiteral("1")}};
    for (int i = 1; i < rows.size(); ++i) {
        const QStringList &row = rows[i];
        const QString where = QStringLiteral("row %1: ").arg(i) + row.join(QLatin1Char(','));
        QVERIFY2(row.size() == 9, qPrintable(where));
        const QDateTime at = QDateTime::fromString(row[0], Qt::ISODateWithMs);
        QVERIFY2(at.isValid() && at.toMSecsSinceEpoch() >= previous, qPrintable(where));
        previous = at.toMSecsSinceEpoch();
        for (int field = 1; field <= 7; ++field)
            QVERIFY2(row[field].isEmpty() || allowed[field - 1].contains(row[field]),
                     qPrintable(where));
        if (!row[8].isEmpty()) {
            if (recordStart < 0)
                recordStart = previous;
            events << row[8];
            continue;
        }
        // One row a second: never before its second, late only as far as the timers are (the
        // wall clock and the panel's monotonic one may differ by a few ms over the run).
        ++seconds;
        QVERIFY2(previous >= recordStart + seconds * 1000 - 50, qPrintable(where));
    }
    QVERIFY2(seconds >= 4 && seconds >= (previous - recordStart) / 1000 - 1,
             qPrintable(QString::number(seconds)));
    // Every value was read by the end.
    for (int field = 1; field <= 7; ++field)
        QVERIFY(!rows.last()[field].isEmpty());
    QCOMPARE(rows.last()[4], changed);

    const QString port = bench.probe->portName();
    const QStringList lineEvents = events.filter(QRegularExpression(QStringLiteral("^line: ")));
    QCOMPARE(lineEvents.value(lineEvents.size() - 1), QStringLiteral("line: ok"));
    for (const QString &line : lineEvents)
        events.removeOne(line);
    QCOMPARE(events, QStringList({"recording started", "port opened: " + port}) + commands);

    // Stopped: the file stays as it is.
    auto *action = bench.window->findChild<QAction *>(QStringLiteral("actionRecord"));
    action->trigger();
    QCOMPARE(action->text(), DesktopLanguage::shown("Record to file…"));
    const int kept = recordRows(path).size();
    bench.waitTicks(1500);
    QCOMPARE(recordRows(path).size(), kept);
}

void tst_E2eSimulator::recordFailure_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("sizeLimit"); // bytes the file may grow to; 0: cannot be opened

    QTest::newRow("cannot be opened") << "missing/bench.csv" << 0;
    // The size limit stands in for a full disk: writes past it fail as on a full one.
    QTest::newRow("disk full after a few rows") << "bench.csv" << 600;
}

void tst_E2eSimulator::recordFailure()
{
    QFETCH(QString, file);
    QFETCH(int, sizeLimit);

#ifdef Q_OS_UNIX
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    struct Restore
    {
        rlimit limit;
        ~Restore() { setrlimit(RLIMIT_FSIZE, &limit); }
    } restore{saved};
#else
    if (sizeLimit > 0)
        QSKIP("no file size limit to stand in for a full disk");
#endif
    Bench bench;
    QVERIFY(bench.start());
    bench.model().setMaxCurrent(2500);
    bench.model().setCurrentSetting(1000);
    bench.open();
    QVERIFY(bench.waitOnline());

    QTemporaryDir folder;
    const QString path = folder.filePath(file);
    DialogCatcher dialogs;
#ifdef Q_OS_UNIX
    if (sizeLimit > 0) {
        rlimit limited = saved;
        limited.rlim_cur = rlim_t(sizeLimit);
        setrlimit(RLIMIT_FSIZE, &limited);
    }
#endif
    const bool started = bench.startRecord(path);
    QCOMPARE(started, sizeLimit > 0);
    QVERIFY(runUntil([&] { return !dialogs.seen.isEmpty(); }, 15000));
    QCOMPARE(dialogs.seen.size(), 1);
    QCOMPARE(dialogs.seen.first().title, QStringLiteral("Warning"));
    QVERIFY2(dialogs.seen.first().text.contains(QDir::toNativeSeparators(path)),
             qPrintable(dialogs.seen.first().text));
    auto *action = bench.window->findChild<QAction *>(QStringLiteral("actionRecord"));
    QCOMPARE(action->text(), DesktopLanguage::shown("Record to file…"));
    if (sizeLimit > 0) {
        // The rows before the failure stay whole; the last, cut short, is where the disk ended.
        const QList<QStringList> rows = recordRows(path);
        QVERIFY(rows.size() >= 4);
        QCOMPARE(rows.value(1).value(8), QStringLiteral("recording started"));
        for (int i = 0; i + 1 < rows.size(); ++i)
            QCOMPARE(rows[i].size(), 9);
        QCOMPARE(QFileInfo(path).size(), qint64(sizeLimit));
    }

    // The panel goes on polling and commanding.
    const int requests = bench.driver.log().size();
    bench.form().edLdSetCurrent->setText(QStringLiteral("1200"));
    bench.form().btnSetLdCurrent->click();
    WAIT_COMPARE(bench.model().read(LdCurrentSetting), quint16(1200));
    WAIT_COMPARE(bench.form().ldSetCurrent->text(), QStringLiteral("1200"));
    // The write and a whole sweep of polls after it.
    QVERIFY(runUntil([&] { return bench.driver.log().size() > requests + PollRowCount + 1; }));
    QCOMPARE(bench.probe->deviceOnline(), quint8(1));
    QCOMPARE(dialogs.seen.size(), 1);
}

void tst_E2eSimulator::offlineCommandsRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");

    QTest::newRow("current") << "btnSetLdCurrent"
                             << "Device Not Online";
    QTest::newRow("LD on") << "btnSetLdOn"
                           << "Device Not Online!";
    QTest::newRow("LD off") << "btnSetLdOff"
                            << "Device Not Online!";
}

void tst_E2eSimulator::offlineCommandsRefused()
{
    QFETCH(QString, button);
    QFETCH(QString, message);

    // A unit that has not answered yet: the port is open, the requests reach it, no reply.
    Bench bench;
    QVERIFY(bench.start());
    bench.driver.faults().silent = true;
    bench.open();
    QVERIFY(runUntil([&] { return !bench.driver.log().isEmpty(); }));
    QCOMPARE(bench.probe->deviceOnline(), quint8(0));

    DialogCatcher dialogs;
    bench.form().edLdSetCurrent->setText(QStringLiteral("100"));
    auto *target = bench.window->findChild<QPushButton *>(button);
    QVERIFY(target);
    target->click();
    QCOMPARE(dialogs.texts(), QStringList{DesktopLanguage::shown(qPrintable(message))});
    QCOMPARE(bench.probe->writePending(), quint8(0));

    // Once the unit answers, nothing of the refused command goes out after all.
    bench.driver.faults().silent = false;
    QVERIFY(bench.waitOnline());
    bench.waitTicks(300);
    QCOMPARE(writesIn(bench.driver), 0);
    QCOMPARE(bench.model().read(LdCurrentSetting), quint16(0));
    QCOMPARE(bench.model().ldWorking(), false);
}

void tst_E2eSimulator::closeStopsPolling()
{
    Bench bench;
    QVERIFY(bench.start());
    bench.model().setCurrentSetting(700);
    bench.open();
    MainWindowForm &form = bench.form();
    QCOMPARE(form.btn_comSet->text(), DesktopLanguage::shown("ComOpen"));
    WAIT_COMPARE(form.ldSetCurrent->text(), QStringLiteral("700"));

    form.btn_comSet->click();
    QCOMPARE(form.btn_comSet->text(), DesktopLanguage::shown("ComClose"));
    QCOMPARE(bench.probe->portState(), 0);
    // A request already on its way may still be handled; after that the line stays quiet.
    bench.waitTicks(20);
    const int requests = bench.driver.log().size();
    bench.waitTicks(400);
    QCOMPARE(bench.driver.log().size(), requests);
    // The read-outs keep the last values received.
    QCOMPARE(form.ldSetCurrent->text(), QStringLiteral("700"));

    // The unit is still there: opening again resumes the polls.
    form.btn_comSet->click();
    QCOMPARE(bench.probe->portState(), 1);
    QVERIFY(runUntil([&] { return bench.driver.log().size() > requests; }));
}

QTEST_MAIN(tst_E2eSimulator)
#include "tst_e2e_simulator.moc"
