// Why the read-outs stay empty: LineDiagnosis driven tick by tick, and the real window, port and
// channel on each kind of line an operator meets, with the reason where the operator looks.
#include "crc16.h"
#include "dialogcatcher.h"
#include "eventwait.h"
#include "hcom.h"
#include "linediagnosis.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "ptypair.h"
#include "registermap.h"
#include "rtuframe.h"
#include "simulateddriver.h"
#include "tickrate.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

#include <memory>

using namespace RegisterMap;
using Reason = LineDiagnosis::Reason;

Q_DECLARE_METATYPE(FaultPlan)
Q_DECLARE_METATYPE(LineDiagnosis::Reason)

namespace {

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc =
        crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), quint16(frame.size()));
    return frame.append(char(crc & 0xFF)).append(char(crc >> 8));
}

// Runs a script of evidence, ticks tickMs apart on the clock: "open", "close", "gone", "send" (a
// read of 40146), "tick N" (N ms of ticks), "answer" (a tick on which the master took one),
// "hear HEX" (a burst), "cut HEX" (a frame, its CRC added, in two bursts), "echo" (the last
// request heard back, cut after a glitch byte).
LineDiagnosis::Verdict run(const QString &script, int tickMs)
{
    qint64 clockMs = 1000;
    LineDiagnosis diagnosis([&] { return clockMs; });
    quint32 answers = 0;
    const RtuFrame::Request request = RtuFrame::readRequest(SlaveAddress, LdMaxCurrent);
    const QByteArray echo(reinterpret_cast<const char *>(request.data()), int(request.size()));
    const auto hear = [&](const QByteArray &bytes) {
        diagnosis.heard(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
    };
    for (const QString &step : script.split(QLatin1Char(';'))) {
        const QString verb = step.trimmed().section(QLatin1Char(' '), 0, 0);
        const QString rest = step.trimmed().section(QLatin1Char(' '), 1);
        if (verb == QLatin1String("open"))
            diagnosis.opened();
        else if (verb == QLatin1String("close"))
            diagnosis.closed();
        else if (verb == QLatin1String("gone"))
            diagnosis.gone();
        else if (verb == QLatin1String("send"))
            diagnosis.sent(request.data(), int(request.size()));
        else if (verb == QLatin1String("answer")) {
            clockMs += tickMs;
            diagnosis.tick(++answers);
        } else if (verb == QLatin1String("tick"))
            for (int left = rest.toInt(); left > 0; left -= tickMs) {
                clockMs += qMin(left, tickMs);
                diagnosis.tick(answers);
            }
        else if (verb == QLatin1String("hear"))
            hear(QByteArray::fromHex(rest.toLatin1()));
        else if (verb == QLatin1String("cut") || verb == QLatin1String("echo")) {
            const QByteArray frame = verb == QLatin1String("echo")
                                         ? echo
                                         : withCrc(QByteArray::fromHex(rest.toLatin1()));
            hear(frame.left(3));
            hear(frame.mid(3));
        } else
            qFatal("unknown step %s", qPrintable(step));
    }
    return diagnosis.verdict();
}

QLabel *readout(MainWindowForm &form, int i)
{
    QLabel *const labels[] = {form.ldState, form.tecRtTemp, form.ldSetCurrent, form.ldSetPower,
                              form.ldMaxCur};
    return labels[i];
}
constexpr int Readouts = 5;

enum class Line {
    Simulated,   // the simulated unit with the row's plan
    Nobody,      // nothing on the far end
    Refusing,    // the simulated unit, refusing to read 40146
    FallsSilent, // the simulated unit answers, then stops
    SlowTicks,   // the same, with the panel's ticks held 16 ms apart as a throttled timer does
    Unplugged,   // the simulated unit's pseudo-terminal goes away once it has answered
    MissingPort, // a port that is not there
    Held,        // a port another program holds
    NotOpenable, // a port the system reports but this user may not open
};

const QString NotListed = QStringLiteral("ttyUSB7");
const QString Missing = QStringLiteral("/dev/ttyLDPANEL-missing");

} // namespace
Q_DECLARE_METATYPE(Line)

class tst_LineDiagnosis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rules_data();
    void rules();
    void lineConditions_data();
    void lineConditions();
    void tickRate_data();
    void tickRate();
};

void tst_LineDiagnosis::rules_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("slave");

    QTest::newRow("closed") << "tick 5000" << Reason::Closed << 0 << 0;
    QTest::newRow("just opened") << "open; send; tick 1999" << Reason::Waiting << 1 << 0;
    QTest::newRow("nothing for 3.9 s") << "open; send; tick 3999" << Reason::Nothing << 3 << 0;
    QTest::newRow("own requests only, cut after a glitch byte")
        << "open; send; hear 00; echo; tick 2000" << Reason::OnlyOwnRequests << 2 << 0;
    QTest::newRow("another slave's value, cut, after an echo")
        << "open; send; echo; cut 11030200 64; tick 2000" << Reason::OtherSlave << 2 << 17;
    QTest::newRow("another slave's exception, among bytes that form nothing")
        << "open; send; hear 00f0fc; cut 078302; hear 00; tick 2000" << Reason::OtherSlave << 2
        << 7;
    QTest::newRow("a bad CRC is no frame")
        << "open; send; hear 0503020064 0000; tick 2000" << Reason::NeverAFrame << 2 << 0;
    QTest::newRow("slave 1's frame answering nothing")
        << "open; send; cut 01030200 64; tick 2000" << Reason::Silent << 2 << 0;
    QTest::newRow("healthy: noise and echoes between answers")
        << "open; send; echo; hear 00; tick 50; answer; send; hear ff13; echo; tick 40; answer; "
           "tick 1999"
        << Reason::None << 0 << 0;
    QTest::newRow("silent after answering")
        << "open; send; answer; tick 2500" << Reason::Silent << 2 << 0;
    QTest::newRow("what came before the last answer is forgotten")
        << "open; send; cut 05030200 64; hear 00ff; answer; tick 2000" << Reason::Silent << 2 << 0;
    QTest::newRow("what came before a re-open is forgotten")
        << "open; send; hear 00f0; answer; close; open; tick 2000" << Reason::Nothing << 2 << 0;
    QTest::newRow("gone beats everything")
        << "open; send; cut 05030200 64; tick 2000; gone" << Reason::Gone << 0 << 0;
    QTest::newRow("closed after gone") << "open; gone; close" << Reason::Closed << 0 << 0;
}

void tst_LineDiagnosis::rules()
{
    QFETCH(QString, script);
    QFETCH(Reason, reason);
    QFETCH(int, seconds);
    QFETCH(int, slave);
    // The seconds are the clock's, however far apart the ticks come.
    for (const int tickMs : {1, 16}) {
        const LineDiagnosis::Verdict verdict = run(script, tickMs);
        QCOMPARE(verdict.reason, reason);
        QCOMPARE(verdict.seconds, seconds);
        QCOMPARE(verdict.slave, slave);
    }
}

void tst_LineDiagnosis::lineConditions_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<FaultPlan>("plan");
    QTest::addColumn<bool>("english");
    // What the status group and the read-outs that are not current say, %1 the port, digits
    // where the seconds go; empty: nothing, once every read-out is current.
    QTest::addColumn<QString>("reason");

    const auto plan = [](const std::function<void(FaultPlan &)> &set) {
        FaultPlan p(5);
        set(p);
        return p;
    };
    const FaultPlan clean(5);
    const QString nothing = QStringLiteral("Nothing received on %1 for \\d+ s: is the driver "
                                           "powered, and its cable on this port\\?");
    QTest::newRow("nothing arrives") << Line::Nobody << clean << true << nothing;
    QTest::newRow("nothing arrives, in Chinese")
        << Line::Nobody << clean << false
        << QString::fromUtf8("%1上\\d+秒未收到任何数据:驱动器是否通电\\?电缆是否接在此串口\\?");
    QTest::newRow("echoing adapter, no driver")
        << Line::Simulated << plan([](FaultPlan &p) {
               p.silent = true;
               p.localEcho = true;
           })
        << true
        << QStringLiteral("Only the panel's own requests come back on %1: the adapter echoes "
                          "them, but no driver answers.");
    QTest::newRow("driver at slave address 5")
        << Line::Simulated << plan([](FaultPlan &p) { p.answerSlave = 5; }) << true
        << QStringLiteral("Answers on %1 come from slave address 5; this panel reads slave 1.");
    const QString neverAFrame = QStringLiteral(
        "Bytes arrive on %1 but never form a Modbus frame: is the driver set to 115200 baud, 8 "
        "data bits, no parity, 1 stop bit\\?");
    QTest::newRow("driver at 9600 baud")
        << Line::Simulated << plan([](FaultPlan &p) { p.answerBaud = 9600; }) << true
        << neverAFrame;
    QTest::newRow("driver refuses one register")
        << Line::Refusing << clean << true
        << QStringLiteral("The driver refuses to read register 40146 \\(exception 2\\)\\.");
    QTest::newRow("driver falls silent")
        << Line::FallsSilent << clean << true
        << QStringLiteral("No answer from the driver on %1 for \\d+ s\\.");
    QTest::newRow("driver falls silent, ticks 16 ms apart")
        << Line::SlowTicks << clean << true
        << QStringLiteral("No answer from the driver on %1 for (\\d+) s\\.");
    QTest::newRow("adapter unplugged")
        << Line::Unplugged << clean << true
        << QStringLiteral("%1 has gone \\(adapter unplugged\\?\\): close it and open it again\\.");
    QTest::newRow("port not there")
        << Line::MissingPort << clean << true << QStringLiteral("The port is closed\\.");
    QTest::newRow("port held by another program")
        << Line::Held << clean << true << QStringLiteral("The port is closed\\.");
    QTest::newRow("port this user may not open")
        << Line::NotOpenable << clean << true << QStringLiteral("The port is closed\\.");

    // Healthy lines: once every read-out is current, no reason anywhere.
    QTest::newRow("healthy: clean line") << Line::Simulated << clean << true << QString();
    QTest::newRow("healthy: glitch bytes, cut replies")
        << Line::Simulated << plan([](FaultPlan &p) {
               p.localEcho = true;
               p.leadBytes = QByteArray(1, '\0');
               p.trailBytes = QByteArray(1, '\xFF');
               p.splitGapMs = 20;
           })
        << true << QString();
    QTest::newRow("healthy: stray bytes, every 2nd CRC bad")
        << Line::Simulated << plan([](FaultPlan &p) {
               p.strayBytes = 3;
               p.corruptCrcEvery = 2;
           })
        << true << QString();
}

void tst_LineDiagnosis::lineConditions()
{
    QFETCH(Line, line);
    QFETCH(FaultPlan, plan);
    QFETCH(bool, english);
    QFETCH(QString, reason);

    PtyPair pty;
    QVERIFY(pty.isOpen());
    auto driver = std::make_unique<SimulatedDriver>();
    driver->faults() = plan;
    QSerialPort holder(pty.slavePath());
    QString port = pty.slavePath();
    if (line == Line::Refusing)
        driver->model().setRefusedRead(LdMaxCurrent);
    const bool fallsSilent = line == Line::FallsSilent || line == Line::SlowTicks;
    if (line == Line::Simulated || fallsSilent || line == Line::Refusing)
        QVERIFY(driver->openFd(pty.fd()));
    else if (line == Line::Unplugged)
        QVERIFY(driver->openPty());
    else if (line == Line::Held)
        QVERIFY(holder.open(QIODevice::ReadWrite));
    port = line == Line::Unplugged     ? driver->slavePath()
           : line == Line::MissingPort ? Missing
           : line == Line::NotOpenable ? NotListed
                                       : port;

    MainWindow window;
    MainWindowProbe probe(window);
    MainWindowForm &form = probe.form();
    probe.useEnglish() = english ? 1 : 0;
    QComboBox *box = form.comb_comName;
    if (line == Line::NotOpenable) {
        // The system reports the port, but the trial open is refused: the list says why.
        QString refusal = QStringLiteral("Permission denied");
        window.setPortSource(PortSource{[] { return QStringList{NotListed}; }, nullptr,
                                        [&](const QString &) { return refusal; }});
        QTest::mouseClick(box, Qt::LeftButton);
        box->hidePopup();
        QCOMPARE(box->count(), 0);
        QCOMPARE(box->toolTip(),
                 QStringLiteral("Not listed: ttyUSB7 (Permission denied). On Linux, add the user "
                                "to the group that owns the port (usually dialout) and log in "
                                "again."));
        refusal.clear();
        QTest::mouseClick(box, Qt::LeftButton);
        box->hidePopup();
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->toolTip(), QString());
        box->clear();
    } else {
        box->insertItem(0, port);
        box->setCurrentIndex(0);
        form.btn_comSet->click();
    }
    if (line == Line::MissingPort || line == Line::Held) {
        // In the port's own words.
        QSerialPort same(port);
        QVERIFY(!same.open(QIODevice::ReadWrite));
        QCOMPARE(form.btn_comSet->toolTip(),
                 QStringLiteral("%1 could not be opened: %2").arg(port, same.errorString()));
    }
    const auto current = [&](int i) {
        static const int rows[Readouts] = {RowLdOnState, RowTecTemp, RowCurrentSetting, RowLdPower,
                                           RowMaxCurrent};
        return probe.readings().isCurrent(rows[i]) && probe.portState() == 1 &&
               probe.com().comIsOpen();
    };
    // The read-outs that are not current, and the status group, say why.
    QString wanted = reason;
    wanted.replace(QStringLiteral("%1"), QRegularExpression::escape(port));
    const QRegularExpression pattern(QStringLiteral("^") + wanted + QStringLiteral("$"));
    const auto tipsSay = [&](bool group) {
        if (group && !pattern.match(form.groupBox_4->toolTip()).hasMatch())
            return false;
        for (int i = 0; i < Readouts; ++i) {
            const QString tip = readout(form, i)->toolTip();
            if (current(i) ? !tip.isEmpty() : !pattern.match(tip).hasMatch())
                return false;
        }
        return true;
    };

    if (line == Line::SlowTicks) {
        QVERIFY(runUntil([&] { return current(0) && current(4); }, 30000));
        probe.tickTimer().setInterval(16);
        runUntil([] { return false; }, 200);
        // Every read-out grey within 6 s of the clock, the reason in the clock's seconds.
        QElapsedTimer silence;
        silence.start();
        driver->faults().silent = true;
        const auto allGrey = [&] {
            for (int i = 0; i < Readouts; ++i)
                if (current(i) || !readout(form, i)->styleSheet().contains(QLatin1String("150")))
                    return false;
            return true;
        };
        QVERIFY(runUntil(allGrey, 8000));
        QVERIFY2(silence.elapsed() <= 6000, qPrintable(QString::number(silence.elapsed())));
        const QRegularExpressionMatch said = pattern.match(form.groupBox_4->toolTip());
        QVERIFY2(said.hasMatch(), qPrintable(form.groupBox_4->toolTip()));
        QVERIFY2(said.captured(1).toInt() >= 4 && said.captured(1).toInt() <= 6,
                 qPrintable(form.groupBox_4->toolTip()));
    }
    if (line == Line::FallsSilent || line == Line::Unplugged) {
        QVERIFY(runUntil([&] { return current(0) && current(4); }, 30000));
        if (line == Line::FallsSilent)
            driver->faults().silent = true;
        else
            driver.reset();
        // The read-outs go grey 5 s after their last reading, at once when the line has gone.
        QVERIFY(runUntil([&] { return pattern.match(form.groupBox_4->toolTip()).hasMatch(); }));
        QVERIFY(tipsSay(true)); // and a read-out still current says nothing
        QVERIFY(runUntil([&] { return !current(0); }));
    }
    if (line == Line::Refusing) {
        // On the refused register's read-out only; the line is healthy.
        QVERIFY(runUntil([&] { return current(0) && tipsSay(false); }, 30000));
        QCOMPARE(form.ldMaxCur->text(), QStringLiteral("-"));
        QCOMPARE(form.groupBox_4->toolTip(), QString());
    } else if (reason.isEmpty()) {
        QVERIFY(runUntil(
            [&] {
                for (int i = 0; i < Readouts; ++i)
                    if (!current(i))
                        return false;
                return tipsSay(false);
            },
            30000));
        // From then on, for longer than a reason takes to show, none does.
        QStringList seen;
        const auto sampler = connect(&probe.tickTimer(), &QTimer::timeout, [&] {
            if (!tipsSay(true) && !seen.contains(form.groupBox_4->toolTip()))
                seen << form.groupBox_4->toolTip() + form.ldState->toolTip();
        });
        runUntil([] { return false; }, 3000);
        disconnect(sampler);
        QVERIFY2(seen.isEmpty(), qPrintable(seen.join(QLatin1Char('\n'))));
    } else {
        QVERIFY2(runUntil([&] { return tipsSay(true); }, 30000),
                 qPrintable(form.groupBox_4->toolTip()));
    }

    // Until the driver has answered, the refusals carry the reason.
    if (probe.deviceOnline() == 0) {
        DialogCatcher dialogs;
        form.btnSetLdOn->click();
        QCOMPARE(dialogs.seen.size(), 1);
        const DialogCatcher::Seen &dialog = dialogs.seen.constFirst();
        QCOMPARE(dialog.title, QStringLiteral("Warning"));
        QCOMPARE(dialog.text,
                 english ? QStringLiteral("Device Not Online!") : QString::fromUtf8("设备不在线!"));
        QCOMPARE(dialog.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!dialog.hasDefaultButton);
        QVERIFY2(pattern.match(dialog.informativeText).hasMatch(),
                 qPrintable(dialog.informativeText));
    }
    if (line == Line::MissingPort || line == Line::Held) {
        // The next open that works clears the failed one's tooltip.
        holder.close();
        box->insertItem(0, pty.slavePath());
        box->setCurrentIndex(0);
        form.btn_comSet->click();
        QCOMPARE(probe.portState(), 1);
        QCOMPARE(form.btn_comSet->toolTip(), QString());
    }
}

void tst_LineDiagnosis::tickRate_data()
{
    // "P x D": ticks P ms apart for D ms of the clock, in turn.
    QTest::addColumn<QString>("pace");
    QTest::addColumn<QStringList>("log");

    const QString slowed = QStringLiteral(
        "timer ticks slowed to %1 per second (1000 expected): the protocol's timing slows with "
        "them");
    const QString back = QStringLiteral("timer ticks back to %1 per second");
    QTest::newRow("full rate") << "1 x 20000" << QStringList();
    QTest::newRow("half the rate is not fewer than half") << "2 x 20000" << QStringList();
    QTest::newRow("a third, said once") << "3 x 20000" << QStringList{slowed.arg(333)};
    QTest::newRow("throttled to 16 ms, then back")
        << "1 x 5000; 16 x 15000; 1 x 10000" << QStringList{slowed.arg(63), back.arg(1000)};
    QTest::newRow("slowed within a window, recovered within the next")
        << "1 x 2000; 16 x 3000; 1 x 10000" << QStringList{slowed.arg(437), back.arg(1000)};
}

void tst_LineDiagnosis::tickRate()
{
    QFETCH(QString, pace);
    QFETCH(QStringList, log);

    qint64 clockMs = 0;
    TickRate rate([&] { return clockMs; });
    LogCapture capture;
    rate.tick();
    for (const QString &phase : pace.split(QLatin1Char(';'))) {
        const int apart = phase.section(QLatin1Char('x'), 0, 0).trimmed().toInt();
        for (int left = phase.section(QLatin1Char('x'), 1).trimmed().toInt(); left > 0;
             left -= apart) {
            clockMs += apart;
            rate.tick();
        }
    }
    QCOMPARE(capture.debugLines(), log);
}

QTEST_MAIN(tst_LineDiagnosis)
#include "tst_linediagnosis.moc"
