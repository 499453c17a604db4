// The operator commands: their checks, their warnings in both languages, what they record and the
// frame each one queues.
#include "commandinput.h"
#include "crc16.h"
#include "dialogcatcher.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "registermap.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <limits>

namespace {

// A window with its tick stopped, so nothing drains the queue; the port counts as open unless a
// test closes it (the channel writes nothing while its real port is closed).
struct Panel
{
    Panel()
    {
        probe.tickTimer().stop();
        probe.portState() = 1;
        probe.userSetpoints() = sentinel();
    }

    // Online with the given maximum current, taken in through the poll table like a real answer.
    void bringOnline(quint16 maxCurrent)
    {
        probe.master().recordReading(RegisterMap::RowMaxCurrent, maxCurrent);
        probe.deviceOnline() = 1;
        const qint32 portState = probe.portState();
        probe.portState() = 0; // the master stays still on this tick
        probe.tick();
        probe.portState() = portState;
    }

    bool invoke(const char *slot) { return QMetaObject::invokeMethod(&window, slot); }

    int queued()
    {
        const RegisterWriteQueue &queue = probe.writeQueue();
        int n = queue.tail - queue.head;
        return n < 0 ? n + RegisterWriteQueue::SlotCount : n;
    }

    QByteArray front()
    {
        QueuedFrame frame;
        if (probe.writeQueue().peek(frame) != 1)
            return {};
        return QByteArray(reinterpret_cast<const char *>(frame.data), frame.length);
    }

    static UserSetpoints sentinel()
    {
        UserSetpoints s;
        s.ldTemp = s.ldCurrent = s.ldFrequency = s.ldPulse = s.tecOn = s.ldOn = s.ldPulseCurrent =
            0x5A5A;
        return s;
    }

    MainWindow window;
    MainWindowProbe probe{window};
    MainWindowForm &form = probe.form();
};

QByteArray writeFrame(quint16 reg, quint16 value)
{
    QByteArray frame;
    frame.append(char(1)).append(char(6));
    frame.append(char(reg >> 8)).append(char(reg & 0xFF));
    frame.append(char(value >> 8)).append(char(value & 0xFF));
    const quint16 crc =
        crc16Modbus(reinterpret_cast<const quint8 *>(frame.constData()), quint16(frame.size()));
    frame.append(char(crc & 0xFF)).append(char(crc >> 8));
    return frame;
}

quint16 setpoint(const UserSetpoints &s, const QByteArray &name)
{
    if (name == "ldTemp")
        return s.ldTemp;
    if (name == "ldCurrent")
        return s.ldCurrent;
    if (name == "ldFrequency")
        return s.ldFrequency;
    if (name == "ldPulse")
        return s.ldPulse;
    if (name == "tecOn")
        return s.tecOn;
    if (name == "ldOn")
        return s.ldOn;
    if (name == "ldPulseCurrent")
        return s.ldPulseCurrent;
    qFatal("no field %s", name.constData());
}

bool sameSetpoints(const UserSetpoints &a, const UserSetpoints &b)
{
    return a.ldTemp == b.ldTemp && a.ldCurrent == b.ldCurrent && a.ldFrequency == b.ldFrequency &&
           a.ldPulse == b.ldPulse && a.tecOn == b.tecOn && a.ldOn == b.ldOn &&
           a.ldPulseCurrent == b.ldPulseCurrent;
}

// Every warning is the standard one: "Warning" over the main window, OK only.
void checkWarning(const DialogCatcher &dialogs, QWidget *window, const QString &text)
{
    QCOMPARE(dialogs.texts(), QStringList{text});
    const DialogCatcher::Seen &seen = dialogs.seen.first();
    QCOMPARE(seen.title, QStringLiteral("Warning"));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    // warn() asks for no default button; QMessageBox::warning then makes its one accept button,
    // OK, the default by itself, so there is nothing more to check about the default here.
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.parent, window);
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void currentValue_data();
    void currentValue();
    void notOnlineRefused_data();
    void notOnlineRefused();
    void switches_data();
    void switches();
    void tecOnWhileOffline();
    void ldOnWithPortClosed_data();
    void ldOnWithPortClosed();
    void ldCurrent_data();
    void ldCurrent();
    void ldTemperature_data();
    void ldTemperature();
    void ldTemperatureChineseRangeWarning();
    void mode_data();
    void mode();
    void valueCommands_data();
    void valueCommands();
    void slotsWithoutWidget_data();
    void slotsWithoutWidget();
};

void TestCommands::currentValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    const qint64 aboveInt = qint64(std::numeric_limits<qint32>::max()) + 1;
    const qint64 belowInt = qint64(std::numeric_limits<qint32>::min()) - 1;
    QTest::newRow("leading zeros") << "0150" << qint64(150);
    QTest::newRow("not a number") << "12a" << qint64(0);
    QTest::newRow("32-bit max") << "2147483647" << qint64(2147483647);
    QTest::newRow("just beyond 32 bits") << "2147483648" << aboveInt;
    QTest::newRow("beyond 64 bits") << "123456789012345678901234567890" << aboveInt;
    QTest::newRow("negative beyond 32 bits") << "-99999999999" << belowInt;
}

void TestCommands::currentValue()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);
    QCOMPARE(CommandInput::currentValue(text), value);
}

void TestCommands::notOnlineRefused_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("text");

    const QString chinese = QString::fromUtf8("设备不在线!");
    QTest::newRow("LD current") << QByteArray("on_btnSetLdCurrent_clicked") << true
                                << "Device Not Online";
    QTest::newRow("LD on") << QByteArray("on_btnSetLdOn_clicked") << true << "Device Not Online!";
    QTest::newRow("LD off") << QByteArray("on_btnSetLdOff_clicked") << true << "Device Not Online!";
    QTest::newRow("TEC off") << QByteArray("on_btnSetTecOff_clicked") << true
                             << "Device Not Online!";
    QTest::newRow("LD current Chinese")
        << QByteArray("on_btnSetLdCurrent_clicked") << false << chinese;
    QTest::newRow("LD on Chinese") << QByteArray("on_btnSetLdOn_clicked") << false << chinese;
    QTest::newRow("LD off Chinese") << QByteArray("on_btnSetLdOff_clicked") << false << chinese;
    QTest::newRow("TEC off Chinese") << QByteArray("on_btnSetTecOff_clicked") << false << chinese;
}

void TestCommands::notOnlineRefused()
{
    QFETCH(QByteArray, slot);
    QFETCH(bool, english);
    QFETCH(QString, text);

    Panel panel;
    panel.probe.useEnglish() = english ? 1 : 0;
    panel.form.edLdSetCurrent->setText(QStringLiteral("5"));
    DialogCatcher dialogs;
    QVERIFY(panel.invoke(slot.constData()));

    checkWarning(dialogs, &panel.window, text);
    QCOMPARE(panel.queued(), 0);
    QCOMPARE(int(panel.probe.writePending()), 0);
    QVERIFY(sameSetpoints(panel.probe.userSetpoints(), Panel::sentinel()));
}

void TestCommands::switches_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("wire"); // the frame in full where it is known by heart
    QTest::newRow("LD on") << QByteArray("on_btnSetLdOn_clicked") << int(RegisterMap::LdSwitch) << 1
                           << QByteArray("ldOn") << QByteArray("01069c4e0001064d");
    QTest::newRow("LD off") << QByteArray("on_btnSetLdOff_clicked") << int(RegisterMap::LdSwitch)
                            << 0 << QByteArray("ldOn") << QByteArray();
    QTest::newRow("TEC on") << QByteArray("on_btnSetTECOn_clicked") << int(RegisterMap::TecSwitch)
                            << 1 << QByteArray("tecOn") << QByteArray();
    QTest::newRow("TEC off") << QByteArray("on_btnSetTecOff_clicked") << int(RegisterMap::TecSwitch)
                             << 0 << QByteArray("tecOn") << QByteArray();
}

void TestCommands::switches()
{
    QFETCH(QByteArray, slot);
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, wire);

    Panel panel;
    panel.bringOnline(2000);
    panel.probe.writeDelay() = 42;
    DialogCatcher dialogs;
    QVERIFY(panel.invoke(slot.constData()));

    QVERIFY(dialogs.seen.isEmpty());
    QCOMPARE(panel.queued(), 1);
    QCOMPARE(panel.front(), writeFrame(quint16(reg), quint16(value)));
    if (!wire.isEmpty())
        QCOMPARE(panel.front(), QByteArray::fromHex(wire));
    QCOMPARE(int(setpoint(panel.probe.userSetpoints(), field)), value);
    QCOMPARE(int(panel.probe.writePending()), 1);
    QCOMPARE(int(panel.probe.writeDelay()), 0);
}

void TestCommands::tecOnWhileOffline()
{
    Panel panel;
    DialogCatcher dialogs;
    QVERIFY(panel.invoke("on_btnSetTECOn_clicked"));
    QVERIFY(dialogs.seen.isEmpty());
    QCOMPARE(panel.queued(), 1);
    QCOMPARE(panel.front(), writeFrame(RegisterMap::TecSwitch, 1));
    QCOMPARE(int(panel.probe.userSetpoints().tecOn), 1);
}

void TestCommands::ldOnWithPortClosed_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<QString>("text");
    QTest::newRow("English") << true << "ComDevice Not Open!";
    QTest::newRow("Chinese") << false << QString::fromUtf8("没有打开设备串口!");
}

void TestCommands::ldOnWithPortClosed()
{
    QFETCH(bool, english);
    QFETCH(QString, text);

    Panel panel;
    panel.bringOnline(2000);
    panel.probe.portState() = 0;
    panel.probe.useEnglish() = english ? 1 : 0;
    DialogCatcher dialogs;
    panel.form.btnSetLdOn->click();

    checkWarning(dialogs, &panel.window, text);
    QCOMPARE(panel.queued(), 0);
    QCOMPARE(int(panel.probe.writePending()), 0);
    // Recorded although nothing went into the queue.
    QCOMPARE(int(panel.probe.userSetpoints().ldOn), 1);
}

void TestCommands::ldCurrent_data()
{
    QTest::addColumn<int>("maxCurrent");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("english");
    QTest::addColumn<int>("sent"); // -1: refused
    QTest::addColumn<QString>("warning");

    QTest::newRow("below the maximum") << 2000 << "1500" << true << 1500 << "";
    QTest::newRow("at the maximum") << 2000 << "2000" << true << 2000 << "";
    QTest::newRow("above the maximum") << 2000 << "2001" << true << -1 << "SetCurrent Over!2000mA";
    QTest::newRow("above the maximum, Chinese")
        << 2000 << "2001" << false << -1 << QString::fromUtf8("超过最大电流!2000mA");
    QTest::newRow("maximum 0, entry 0") << 0 << "0" << true << 0 << "";
    QTest::newRow("maximum 0, entry 1") << 0 << "1" << true << -1 << "SetCurrent Over!0mA";
    QTest::newRow("empty entry") << 2000 << "" << true << 0 << "";
    QTest::newRow("maximum 65535") << 65535 << "65535" << true << 65535 << "";
    QTest::newRow("above 16 bits") << 65535 << "65536" << true << -1 << "SetCurrent Over!65535mA";
    QTest::newRow("beyond 32 bits")
        << 2000 << "99999999999" << true << -1 << "SetCurrent Over!2000mA";
    QTest::newRow("just beyond 32 bits")
        << 65535 << "4294967296" << true << -1 << "SetCurrent Over!65535mA";
    QTest::newRow("negative") << 2000 << "-5" << true << -1 << "SetCurrent Over!2000mA";
}

void TestCommands::ldCurrent()
{
    QFETCH(int, maxCurrent);
    QFETCH(QString, entry);
    QFETCH(bool, english);
    QFETCH(int, sent);
    QFETCH(QString, warning);

    Panel panel;
    panel.probe.useEnglish() = english ? 1 : 0;
    panel.bringOnline(quint16(maxCurrent));
    QCOMPARE(int(panel.probe.deviceStatus().maxCurrent), maxCurrent);
    panel.form.edLdSetCurrent->setText(entry);
    DialogCatcher dialogs;
    panel.form.btnSetLdCurrent->click();

    if (sent < 0) {
        checkWarning(dialogs, &panel.window, warning);
        QCOMPARE(panel.queued(), 0);
        QCOMPARE(int(panel.probe.userSetpoints().ldCurrent), int(Panel::sentinel().ldCurrent));
    } else {
        QVERIFY(dialogs.seen.isEmpty());
        QCOMPARE(panel.queued(), 1);
        QCOMPARE(panel.front(), writeFrame(RegisterMap::LdCurrentSetting, quint16(sent)));
        QCOMPARE(int(panel.probe.userSetpoints().ldCurrent), sent);
    }
}

void TestCommands::ldTemperature_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("sent"); // -1: refused

    QTest::newRow("15") << "15" << 1500;
    QTest::newRow("35") << "35" << 3500;
    QTest::newRow("17.15 rounded") << "17.15" << 1715;
    QTest::newRow("33.3 rounded") << "33.3" << 3330;
    QTest::newRow("25.05") << "25.05" << 2505;
    QTest::newRow("25.5") << "25.5" << 2550;
    QTest::newRow("20.994 rounds down") << "20.994" << 2099;
    QTest::newRow("20.996 rounds up") << "20.996" << 2100;
    QTest::newRow("14.99") << "14.99" << -1;
    QTest::newRow("35.01") << "35.01" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("not a number") << "abc" << -1;
    QTest::newRow("nan") << "nan" << -1;
    QTest::newRow("inf") << "inf" << -1;
    QTest::newRow("negative") << "-20" << -1;
}

void TestCommands::ldTemperature()
{
    QFETCH(QString, entry);
    QFETCH(int, sent);

    Panel panel; // no online check for this command
    panel.form.edLdSetTemp->setText(entry);
    LogCapture log;
    DialogCatcher dialogs;
    QVERIFY(panel.invoke("on_btnSetLdTemp_clicked"));

    if (sent < 0) {
        checkWarning(dialogs, &panel.window, QStringLiteral("Temp Set Range 15-35!"));
        QCOMPARE(panel.queued(), 0);
        QVERIFY(log.debugLines().isEmpty());
        QCOMPARE(int(panel.probe.userSetpoints().ldTemp), int(Panel::sentinel().ldTemp));
        return;
    }
    QVERIFY(dialogs.seen.isEmpty());
    const QStringList lines = log.debugLines();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.first().trimmed().toDouble(), entry.toDouble());
    QCOMPARE(panel.queued(), 1);
    QCOMPARE(panel.front(), writeFrame(RegisterMap::LdTempSetting, quint16(sent)));
    QCOMPARE(int(panel.probe.userSetpoints().ldTemp), sent);
}

void TestCommands::ldTemperatureChineseRangeWarning()
{
    Panel panel;
    panel.probe.useEnglish() = 0;
    panel.form.edLdSetTemp->setText(QStringLiteral("40"));
    DialogCatcher dialogs;
    QVERIFY(panel.invoke("on_btnSetLdTemp_clicked"));
    checkWarning(dialogs, &panel.window, QString::fromUtf8("温度设置范围15-35度!"));

    // 25.5 °C in full, as it goes on the wire.
    panel.form.edLdSetTemp->setText(QStringLiteral("25.5"));
    QVERIFY(panel.invoke("on_btnSetLdTemp_clicked"));
    QCOMPARE(panel.front(), QByteArray::fromHex("01069cb209f681ab"));
}

void TestCommands::mode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sent"); // -1: nothing written

    QTest::newRow("continuous") << QString::fromUtf8("连续模式") << 2;
    QTest::newRow("internal pulse") << QString::fromUtf8("内部脉冲模式") << 0;
    QTest::newRow("external pulse") << QString::fromUtf8("外部脉冲模式") << 1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("trailing space") << QString::fromUtf8("连续模式 ") << -1;
    QTest::newRow("other text") << "continuous" << -1;
}

void TestCommands::mode()
{
    QFETCH(QString, text);
    QFETCH(int, sent);

    Panel panel;
    DialogCatcher dialogs;
    panel.probe.selectLdMode(text);
    QVERIFY(dialogs.seen.isEmpty());
    if (sent < 0) {
        QCOMPARE(panel.queued(), 0);
    } else {
        QCOMPARE(panel.queued(), 1);
        QCOMPARE(panel.front(), writeFrame(RegisterMap::LdMode, quint16(sent)));
    }
    QVERIFY(sameSetpoints(panel.probe.userSetpoints(), Panel::sentinel()));
}

void TestCommands::valueCommands_data()
{
    QTest::addColumn<int>("command"); // 0 pulse, 1 frequency, 2 pulse current
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("sent");

    const struct
    {
        const char *name;
        int reg;
        const char *field;
    } commands[] = {{"pulse", RegisterMap::LdPulse, "ldPulse"},
                    {"frequency", RegisterMap::LdFrequency, "ldFrequency"},
                    {"pulse current", RegisterMap::LdPulseCurrent, "ldPulseCurrent"}};
    for (int c = 0; c < 3; ++c) {
        const QByteArray name(commands[c].name);
        const QByteArray field(commands[c].field);
        QTest::newRow(name + " 123") << c << "123" << commands[c].reg << field << 123;
        QTest::newRow(name + " 65535") << c << "65535" << commands[c].reg << field << 65535;
        QTest::newRow(name + " empty") << c << "" << commands[c].reg << field << 0;
        QTest::newRow(name + " not a number") << c << "x1" << commands[c].reg << field << 0;
    }
}

void TestCommands::valueCommands()
{
    QFETCH(int, command);
    QFETCH(QString, text);
    QFETCH(int, reg);
    QFETCH(QByteArray, field);
    QFETCH(int, sent);

    Panel panel;
    DialogCatcher dialogs;
    if (command == 0)
        panel.probe.setPulse(text);
    else if (command == 1)
        panel.probe.setFrequency(text);
    else
        panel.probe.setPulseCurrent(text);

    QVERIFY(dialogs.seen.isEmpty());
    QCOMPARE(panel.queued(), 1);
    QCOMPARE(panel.front(), writeFrame(quint16(reg), quint16(sent)));
    QCOMPARE(int(setpoint(panel.probe.userSetpoints(), field)), sent);
}

void TestCommands::slotsWithoutWidget_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<int>("reg"); // -1: writes nothing
    QTest::addColumn<QByteArray>("field");

    QTest::newRow("mode") << QByteArray("on_btnSetLdMode_clicked") << -1 << QByteArray();
    QTest::newRow("pulse") << QByteArray("on_btnSetPluse_clicked") << int(RegisterMap::LdPulse)
                           << QByteArray("ldPulse");
    QTest::newRow("frequency") << QByteArray("on_btnSetLdFrequare_clicked")
                               << int(RegisterMap::LdFrequency) << QByteArray("ldFrequency");
    QTest::newRow("pulse current")
        << QByteArray("on_btnSetLdPlusCurrent_clicked") << int(RegisterMap::LdPulseCurrent)
        << QByteArray("ldPulseCurrent");
    QTest::newRow("power") << QByteArray("on_btnSetLdPower_clicked") << -1 << QByteArray();
    QTest::newRow("max power") << QByteArray("on_btnSetLdMaxPow_clicked") << -1 << QByteArray();
    QTest::newRow("start") << QByteArray("btMbStartClick") << -1 << QByteArray();
}

void TestCommands::slotsWithoutWidget()
{
    QFETCH(QByteArray, slot);
    QFETCH(int, reg);
    QFETCH(QByteArray, field);

    Panel panel;
    panel.bringOnline(2000);
    DialogCatcher dialogs;
    QVERIFY(panel.invoke(slot.constData()));

    QVERIFY(dialogs.seen.isEmpty());
    if (reg < 0) {
        QCOMPARE(panel.queued(), 0);
        QVERIFY(sameSetpoints(panel.probe.userSetpoints(), Panel::sentinel()));
        return;
    }
    QCOMPARE(panel.queued(), 1);
    QCOMPARE(panel.front(), writeFrame(quint16(reg), 0));
    QCOMPARE(int(setpoint(panel.probe.userSetpoints(), field)), 0);
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
