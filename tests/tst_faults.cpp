// The real window, port and channel against a simulated unit on a pseudo-terminal, with the
// line misbehaving: noise, spoilt and late replies, garbage, exceptions, silence, the far end
// going away, and commands given faster than the write ring drains.
//
// The unit's physics is frozen, so the texts each read-out may show are known: what the window
// shows before it has heard anything, then only what the unit holds for that register. Every
// text a read-out takes is recorded on every tick.
#include "crc16.h"
#include "dialogcatcher.h"
#include "eventwait.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "ptypair.h"
#include "registermap.h"
#include "registerwritequeue.h"
#include "simulateddriver.h"
#include "statusdisplay.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QSocketNotifier>
#include <QtTest>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <random>

#include <sys/resource.h>
#include <unistd.h>

using namespace RegisterMap;

Q_DECLARE_METATYPE(FaultPlan)

namespace {

enum Readout {
    LabelLdState,
    LabelTecTemp,
    LabelCurrent,
    LabelPower,
    LabelMaxCurrent,
    ReadoutCount
};
const char *const ReadoutNames[ReadoutCount] = {"ldState", "tecRtTemp", "ldSetCurrent",
                                                "ldSetPower", "ldMaxCur"};

QLabel *readoutLabel(MainWindowForm &form, int which)
{
    switch (which) {
    case LabelLdState:
        return form.ldState;
    case LabelTecTemp:
        return form.tecRtTemp;
    case LabelCurrent:
        return form.ldSetCurrent;
    case LabelPower:
        return form.ldSetPower;
    default:
        return form.ldMaxCur;
    }
}

using TextSets = std::array<QSet<QString>, ReadoutCount>;

// What each read-out shows for the values the unit holds now.
std::array<QString, ReadoutCount> deviceTexts(const LdDriverModel &model)
{
    std::array<QString, ReadoutCount> texts;
    texts[LabelLdState] =
        model.read(LdSwitch) == 1 ? QStringLiteral("Work") : QStringLiteral("Stop");
    texts[LabelTecTemp] = StatusDisplay::temperatureText(model.read(TecTemp));
    texts[LabelCurrent] = QString::number(model.read(LdCurrentSetting));
    texts[LabelPower] = StatusDisplay::powerText(model.read(LdPower));
    texts[LabelMaxCurrent] = QString::number(model.read(LdMaxCurrent));
    return texts;
}

// Values that differ from register to register, so a value credited to the wrong row shows.
// TEC off: a switch value of 0 in the LD state row would show as "Stop".
void prepareUnit(SimulatedDriver &driver)
{
    driver.setPhysicsInterval(0);
    LdDriverModel &model = driver.model();
    model.setNoise(0);
    model.setTecOn(false);
    model.setTecTemperature(2345);
    model.setLdOn(true);
    model.setCurrentSetting(1234);
    model.setTempSetting(2500);
}

quint64 cpuMicroseconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return quint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000u +
           quint64(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc =
        crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), quint16(frame.size()));
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

// The window, with every text of the five read-outs recorded after each tick.
class Panel
{
public:
    Panel() : probe(window)
    {
        probe.useEnglish() = 1;
        sample();
        // Until its register has been heard, a read-out keeps the form's text.
        for (int i = 0; i < ReadoutCount; ++i)
            before[i].insert(history[i].constFirst());
        // Connected after the window's own tick slot: sees the refresh of the same tick.
        QObject::connect(&probe.tickTimer(), &QTimer::timeout, [this] { sample(); });
    }

    MainWindowForm &form() { return probe.form(); }

    void open(const QString &path)
    {
        form().comb_comName->insertItem(0, path);
        form().comb_comName->setCurrentIndex(0);
        form().btn_comSet->click();
    }

    void allow(const LdDriverModel &model)
    {
        const auto texts = deviceTexts(model);
        for (int i = 0; i < ReadoutCount; ++i)
            device[i].insert(texts[i]);
    }

    bool showsDevice(const LdDriverModel &model)
    {
        sample();
        const auto texts = deviceTexts(model);
        for (int i = 0; i < ReadoutCount; ++i) {
            if (readoutLabel(form(), i)->text() != texts[i])
                return false;
        }
        return true;
    }

    bool showsNothingYet() const
    {
        for (int i = 0; i < ReadoutCount; ++i) {
            for (const QString &text : history[i]) {
                if (!before[i].contains(text))
                    return false;
            }
        }
        return true;
    }

    // Empty when every read-out only ever showed its texts from before its register was heard
    // and then texts the unit holds, never going back; otherwise what went wrong.
    QString violation() const
    {
        for (int i = 0; i < ReadoutCount; ++i) {
            bool heard = false;
            for (const QString &text : history[i]) {
                if (device[i].contains(text))
                    heard = true;
                else if (heard || !before[i].contains(text))
                    return QStringLiteral("%1 showed \"%2\"; all it showed: %3")
                        .arg(QLatin1String(ReadoutNames[i]), text,
                             history[i].join(QStringLiteral(" | ")));
            }
        }
        return QString();
    }

    QString describe() const
    {
        QStringList lines;
        for (int i = 0; i < ReadoutCount; ++i)
            lines << QLatin1String(ReadoutNames[i]) + QStringLiteral(": ") +
                         history[i].join(QStringLiteral(" | "));
        return lines.join(QLatin1Char('\n'));
    }

    MainWindow window;
    MainWindowProbe probe;

private:
    void sample()
    {
        for (int i = 0; i < ReadoutCount; ++i) {
            const QString text = readoutLabel(form(), i)->text();
            if (history[i].isEmpty() || history[i].constLast() != text)
                history[i].append(text);
        }
    }

    std::array<QStringList, ReadoutCount> history;
    TextSets before;
    TextSets device;
};

// Bytes of noise written toward the panel at random moments, between replies and into them.
class NoiseSource
{
public:
    NoiseSource(PtyPair &pty, quint32 seed) : line(pty), rng(seed)
    {
        timer.setInterval(37);
        QObject::connect(&timer, &QTimer::timeout, [this] { spray(); });
    }
    void start() { timer.start(); }
    int bytesWritten = 0;

private:
    void spray()
    {
        if (rng() % 2)
            return;
        QByteArray bytes;
        const int n = 1 + int(rng() % 8);
        for (int i = 0; i < n; ++i)
            bytes.append(char(rng()));
        if (line.write(bytes))
            bytesWritten += n;
    }

    PtyPair &line;
    std::mt19937 rng;
    QTimer timer;
};

// A unit written by hand on the line: the first requests for each register get an exception,
// later ones the value the model holds.
class ExceptionUnit
{
public:
    ExceptionUnit(PtyPair &pty, const LdDriverModel &values, bool padded)
        : line(pty), model(values), padded(padded)
    {
        notifier = std::make_unique<QSocketNotifier>(pty.fd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { serve(); });
    }
    static constexpr int ExceptionsEach = 2;
    QHash<quint16, int> exceptions; // exceptions sent, by register

private:
    void serve()
    {
        pending += line.read();
        while (pending.size() >= 8) {
            if (quint8(pending[0]) != SlaveAddress) {
                pending.remove(0, 1);
                continue;
            }
            const QByteArray request = pending.left(8);
            pending.remove(0, 8);
            const quint8 function = quint8(request[1]);
            const quint16 reg = quint16(quint8(request[2]) << 8 | quint8(request[3]));
            QByteArray reply;
            reply.append(char(SlaveAddress));
            if (function == FunctionReadHolding && exceptions[reg] >= ExceptionsEach) {
                const quint16 value = model.read(reg);
                reply.append(char(function)).append(char(2));
                reply.append(char(value >> 8)).append(char(value & 0xFF));
            } else {
                reply.append(char(function | 0x80));
                reply.append(char(0x02)); // illegal data address
                // Padded, it is as long as a value reply and carries 8000 in bytes 3 and 4,
                // a value the unit holds nowhere: only the function code tells it apart.
                if (padded)
                    reply.append(char(0x1F)).append(char(0x40));
                ++exceptions[reg];
            }
            line.write(withCrc(reply));
        }
    }

    PtyPair &line;
    const LdDriverModel &model;
    bool padded;
    QByteArray pending;
    std::unique_ptr<QSocketNotifier> notifier;
};

// The event loop alone for ms milliseconds, with nothing of the test's own polling.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int requestsSeen(const SimulatedDriver &driver)
{
    return driver.log().size();
}

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readOutsShowOnlyWhatTheUnitHolds_data();
    void readOutsShowOnlyWhatTheUnitHolds();
    void garbageBurstIsDropped();
    void exceptionRepliesLeaveReadOutsAlone_data();
    void exceptionRepliesLeaveReadOutsAlone();
    void silentUnit();
    void farEndClosesWhileOpen_data();
    void farEndClosesWhileOpen();
    void commandsFasterThanTheQueueDrains();
};

void tst_Faults::readOutsShowOnlyWhatTheUnitHolds_data()
{
    QTest::addColumn<FaultPlan>("plan");
    QTest::addColumn<bool>("noise");
    // Whether every read-out must still come to show the unit's value.
    QTest::addColumn<bool>("allShown");

    // The plans' random choices all come from the same seed.
    const auto line = [](const std::function<void(FaultPlan &)> &set) {
        FaultPlan plan(5);
        set(plan);
        return plan;
    };
    const FaultPlan clean(5);
    QTest::newRow("clean line") << clean << false << true;
    QTest::newRow("every 2nd reply with a bad CRC")
        << line([](FaultPlan &p) { p.corruptCrcEvery = 2; }) << false << true;
    QTest::newRow("30% of replies lost")
        << line([](FaultPlan &p) { p.dropRate = 0.3; }) << false << true;
    // Lines that wrap the answer as real buses do: each is found wherever it stands.
    QTest::newRow("stray bytes ahead of every reply")
        << line([](FaultPlan &p) { p.strayBytes = 3; }) << false << true;
    QTest::newRow("a byte after every reply")
        << line([](FaultPlan &p) { p.trailBytes = QByteArray(1, '\xFF'); }) << false << true;
    QTest::newRow("replies split 3 ms apart")
        << line([](FaultPlan &p) { p.splitGapMs = 3; }) << false << true;
    QTest::newRow("replies split 40 ms apart")
        << line([](FaultPlan &p) { p.splitGapMs = 40; }) << false << true;
    QTest::newRow("reply bytes 3 ms apart")
        << line([](FaultPlan &p) { p.byteGapMs = 3; }) << false << true;
    QTest::newRow("echoing line, a glitch byte ahead, replies cut") << line([](FaultPlan &p) {
        p.localEcho = true;
        p.leadBytes = QByteArray(1, '\0');
        p.splitGapMs = 20;
    }) << false << true;
    QTest::newRow("noise between and inside replies") << clean << true << false;
    QTest::newRow("noise and split replies")
        << line([](FaultPlan &p) { p.splitGapMs = 3; }) << true << true;
    QTest::newRow("replies 150 ms late")
        << line([](FaultPlan &p) { p.delayMs = 150; }) << false << true;
    QTest::newRow("replies 250 ms late")
        << line([](FaultPlan &p) { p.delayMs = 250; }) << false << true;
    QTest::newRow("replies 250 ms late, with noise")
        << line([](FaultPlan &p) { p.delayMs = 250; }) << true << false;
    QTest::newRow("replies 150 ms late, with noise")
        << line([](FaultPlan &p) { p.delayMs = 150; }) << true << false;
    // The unit takes one request at a time, each reply one of these delays after it took the
    // request (-1: never answered).
    const auto slowFastNever = [](FaultPlan &p) { p.fifoDelaysMs = {120, 150, 180, 0, -1}; };
    QTest::newRow("one request at a time, 120 to 180 ms, at once or never")
        << line(slowFastNever) << false << true;
    QTest::newRow("one request at a time, 120 to 180 ms, at once or never, with noise")
        << line(slowFastNever) << true << false;
}

void tst_Faults::readOutsShowOnlyWhatTheUnitHolds()
{
    QFETCH(FaultPlan, plan);
    QFETCH(bool, noise);
    QFETCH(bool, allShown);

    PtyPair pty;
    QVERIFY(pty.isOpen());
    SimulatedDriver driver;
    prepareUnit(driver);
    driver.faults() = plan;
    QVERIFY2(driver.openFd(pty.fd()), qPrintable(driver.errorString()));
    NoiseSource noiseSource(pty, 11);

    Panel panel;
    panel.allow(driver.model());
    panel.open(pty.slavePath());
    QCOMPARE(panel.probe.portState(), 1);
    if (noise)
        noiseSource.start();

    // Five sweeps' worth of requests.
    QVERIFY(runUntil([&] { return requestsSeen(driver) >= 5 * PollRowCount; }, 60000));
    if (allShown)
        QVERIFY2(runUntil([&] { return panel.showsDevice(driver.model()); }, 60000),
                 qPrintable(panel.describe()));
    const QString wrong = panel.violation();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

    // The fault really was on the line.
    int spoilt = 0;
    for (const SimulatedDriver::LogEntry &entry : driver.log())
        spoilt += entry.faults.isEmpty() ? 0 : 1;
    if (QByteArray(QTest::currentDataTag()) != "clean line" && !noise)
        QVERIFY(spoilt > 0);
    if (noise)
        QVERIFY(noiseSource.bytesWritten > 0);
}

void tst_Faults::garbageBurstIsDropped()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    SimulatedDriver driver;
    prepareUnit(driver);
    QVERIFY2(driver.openFd(pty.fd()), qPrintable(driver.errorString()));

    Panel panel;
    panel.allow(driver.model());
    panel.open(pty.slavePath());
    QVERIFY(runUntil([&] { return panel.showsDevice(driver.model()); }, 60000));

    // 3000 bytes in one write: more than the channel gathers and more than a response holds.
    std::mt19937 rng(3);
    QByteArray garbage;
    for (int i = 0; i < 3000; ++i)
        garbage.append(char(rng()));
    QVERIFY(pty.write(garbage));

    // The panel goes on reading: a new current setting comes through.
    driver.model().setCurrentSetting(1500);
    panel.allow(driver.model());
    runUntil([&] { return panel.form().ldSetCurrent->text() == QStringLiteral("1500"); }, 60000);
    QCOMPARE(panel.form().ldSetCurrent->text(), QStringLiteral("1500"));
    const int requests = requestsSeen(driver);
    QVERIFY(runUntil([&] { return requestsSeen(driver) >= requests + PollRowCount; }, 60000));
    QVERIFY(panel.showsDevice(driver.model()));
    const QString wrong = panel.violation();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(panel.probe.responseBuffer().length <= 1024);
}

void tst_Faults::exceptionRepliesLeaveReadOutsAlone_data()
{
    QTest::addColumn<bool>("padded");
    QTest::newRow("5-byte exceptions") << false;
    QTest::newRow("7-byte exceptions carrying a value") << true;
}

void tst_Faults::exceptionRepliesLeaveReadOutsAlone()
{
    QFETCH(bool, padded);

    PtyPair pty;
    QVERIFY(pty.isOpen());
    SimulatedDriver values; // only its model: the values behind the exceptions
    prepareUnit(values);
    ExceptionUnit unit(pty, values.model(), padded);
    Panel panel;
    panel.allow(values.model());
    panel.open(pty.slavePath());

    // Every polled register is refused twice before it answers; then the values show.
    QVERIFY2(runUntil([&] { return panel.showsDevice(values.model()); }, 60000),
             qPrintable(panel.describe()));
    for (quint16 reg : PollOrder)
        QCOMPARE(unit.exceptions.value(reg), ExceptionUnit::ExceptionsEach);
    const QString wrong = panel.violation();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    for (int row = 0; row < PollRowCount; ++row)
        QCOMPARE(panel.probe.pollTable().entries[row].value, values.model().read(PollOrder[row]));
}

void tst_Faults::silentUnit()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    SimulatedDriver driver;
    prepareUnit(driver);
    driver.faults().silent = true;
    QVERIFY2(driver.openFd(pty.fd()), qPrintable(driver.errorString()));

    Panel panel;
    panel.allow(driver.model());
    panel.open(pty.slavePath());

    // The panel keeps asking and shows nothing it was not told.
    QVERIFY(runUntil([&] { return requestsSeen(driver) >= 2 * PollRowCount; }, 60000));
    for (const SimulatedDriver::LogEntry &entry : driver.log()) {
        QVERIFY(entry.silenced);
        QVERIFY(entry.writes.isEmpty());
    }
    QVERIFY2(panel.showsNothingYet(), qPrintable(panel.describe()));
    QCOMPARE(panel.probe.deviceOnline(), quint8(0));

    // The unit speaks again: its values come through.
    driver.faults().silent = false;
    QVERIFY(runUntil([&] { return panel.showsDevice(driver.model()); }, 60000));
    const QString wrong = panel.violation();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_Faults::farEndClosesWhileOpen_data()
{
    QTest::addColumn<bool>("midReply");
    QTest::newRow("between replies") << false;
    QTest::newRow("in the middle of a reply") << true;
}

void tst_Faults::farEndClosesWhileOpen()
{
    QFETCH(bool, midReply);

    auto driver = std::make_unique<SimulatedDriver>();
    prepareUnit(*driver);
    QVERIFY2(driver->openPty(), qPrintable(driver->errorString()));
    Panel panel;
    panel.allow(driver->model());
    panel.open(driver->slavePath());
    QVERIFY(runUntil([&] { return panel.showsDevice(driver->model()); }, 60000));
    const auto lastShown = deviceTexts(driver->model());

    if (midReply) {
        // The first half of the next reply is on the line when the unit goes away.
        driver->faults().splitGapMs = 2000;
        bool halfWritten = false;
        QObject::connect(driver.get(), &SimulatedDriver::lineWritten,
                         [&](int, int part) { halfWritten = halfWritten || part == 0; });
        QVERIFY(runUntil([&] { return halfWritten; }, 60000));
    }
    driver.reset();

    // The channel gives the line up instead of spinning on its errors: over two seconds the
    // process stays far below a full core (a busy loop takes all of one).
    spin(200);
    QElapsedTimer wall;
    wall.start();
    const quint64 cpuBefore = cpuMicroseconds();
    spin(2000);
    const double cpuShare = double(cpuMicroseconds() - cpuBefore) / 1000.0 / double(wall.elapsed());
    QVERIFY2(cpuShare < 0.5, qPrintable(QStringLiteral("CPU share %1").arg(cpuShare)));

    // The read-outs keep the last values they had.
    for (int i = 0; i < ReadoutCount; ++i)
        QCOMPARE(readoutLabel(panel.form(), i)->text(), lastShown[i]);

    // The unit is back on another line; the operator closes and opens again.
    SimulatedDriver back;
    prepareUnit(back);
    back.model().setCurrentSetting(1500);
    QVERIFY2(back.openPty(), qPrintable(back.errorString()));
    panel.allow(back.model());
    panel.form().btn_comSet->click();
    QCOMPARE(panel.probe.portState(), 0);
    panel.open(back.slavePath());
    QCOMPARE(panel.probe.portState(), 1);
    QVERIFY(runUntil([&] { return panel.showsDevice(back.model()); }, 60000));
    const QString wrong = panel.violation();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void tst_Faults::commandsFasterThanTheQueueDrains()
{
    SimulatedDriver driver;
    prepareUnit(driver);
    QVERIFY2(driver.openPty(), qPrintable(driver.errorString()));
    Panel panel;
    panel.open(driver.slavePath());
    QCOMPARE(panel.probe.portState(), 1);

    // Thirty temperature settings in a row, far faster than one write per 100 ticks.
    DialogCatcher dialogs;
    QVector<quint16> accepted;
    int refused = 0;
    for (int i = 0; i < 30; ++i) {
        const int seen = dialogs.seen.size();
        const double degrees = 15.0 + 0.5 * i;
        panel.form().edLdSetTemp->setText(QString::number(degrees));
        panel.form().btnSetLdTemp->click();
        if (dialogs.seen.size() == seen) {
            accepted.append(quint16(degrees * 100));
        } else {
            ++refused;
            QCOMPARE(dialogs.seen.size(), seen + 1);
            QCOMPARE(dialogs.seen.constLast().text, QStringLiteral("Command Queue Full!"));
        }
    }
    // The ring holds 20 frames before the first is taken.
    QVERIFY(accepted.size() >= RegisterWriteQueue::SlotCount);
    QVERIFY(refused >= 1);
    QCOMPARE(accepted.size() + refused, 30);

    // Every accepted setting reaches the unit, in order, and nothing else is written.
    auto written = [&] {
        QVector<quint16> values;
        for (const SimulatedDriver::LogEntry &entry : driver.log()) {
            if (entry.exchange.function == FunctionWriteSingle)
                values.append(entry.exchange.value);
        }
        return values;
    };
    runUntil([&] { return written().size() == accepted.size(); }, 120000);
    QCOMPARE(written().size(), accepted.size());
    QCOMPARE(written(), accepted);
    QCOMPARE(driver.model().read(LdTempSetting), accepted.constLast());
    QCOMPARE(dialogs.seen.size(), refused);
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
