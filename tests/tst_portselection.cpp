// The window's side of the serial link: the port list, the open/close button with its labels and
// debug lines, the hand-over of bursts into the response buffer, and closing at destruction.
// The panel's own tick is stopped so that only the test talks on the line.
#include "desktoplanguage.h"
#include "hcom.h"
#include "hcomprobe.h"
#include "logcapture.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "ptypair.h"
#include "rtutestbytes.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QString Missing = QStringLiteral("/dev/ldpanel-no-such-port");

QByteArray pattern(int size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 13 + seed * 17 + 3) & 0xff);
    return out;
}

QStringList itemsOf(const QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

// A window with its tick stopped.
struct Panel
{
    Panel() : probe(window) { probe.tickTimer().stop(); }

    // Puts name in the drop-down list (once) and selects it.
    void choose(const QString &name)
    {
        QComboBox *box = probe.form().comb_comName;
        if (box->findText(name) < 0)
            box->addItem(name);
        box->setCurrentIndex(box->findText(name));
    }
    void click() { probe.form().btn_comSet->click(); }
    QString label() { return probe.form().btn_comSet->text(); }

    MainWindow window;
    MainWindowProbe probe;
};

// True when bytes written through the window's channel come out of this pty.
bool reaches(Hcom &com, PtyPair &pty)
{
    const QByteArray marker = QByteArray::fromHex("a55a0102");
    com.comWrite(reinterpret_cast<const quint8 *>(marker.constData()), quint16(marker.size()));
    HcomProbe(com).flush();
    return pty.readExactly(marker.size(), 3000) == marker;
}

} // namespace

class tst_PortSelection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portListFillsDropDown_data();
    void portListFillsDropDown();
    void dropDownFollowsPorts_data();
    void dropDownFollowsPorts();
    void handOver_data();
    void handOver();
    void replyShownOnArrival();
    void openAndClose_data();
    void openAndClose();
    void failedOpenKeepsLabel_data();
    void failedOpenKeepsLabel();
    void closeWithOtherPortSelected();
    void lineGoneThenClicks();
    void reopenLeavesSessionState();
    void reopenCyclesKeepOnePoll();
    void destructorClosesOpenPort();
};

void tst_PortSelection::portListFillsDropDown_data()
{
    QTest::addColumn<QStringList>("refused"); // name, reason, name, reason...; none: the machine's
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");
    QTest::newRow("this machine's ports") << QStringList() << QString() << QString();
    // The list is made before the window's language is known: its tooltip must be in it anyway.
    QTest::newRow("two refused at start-up")
        << QStringList{"/dev/ttyUSB0", "Permission denied", "/dev/ttyUSB1",
                       "No such file or directory"}
        << QStringLiteral("Not listed: /dev/ttyUSB0 (Permission denied), /dev/ttyUSB1 (No such "
                          "file or directory). On Linux, add the user to the group that owns the "
                          "port (usually dialout) and log in again.")
        << QString::fromUtf8("未列出:/dev/ttyUSB0(Permission denied)、/dev/ttyUSB1(No such file "
                             "or directory)。在Linux上,请将用户加入该串口所属的用户组(通常为"
                             "dialout)后重新登录。");
}

void tst_PortSelection::portListFillsDropDown()
{
    QFETCH(QStringList, refused);
    QFETCH(QString, english);
    QFETCH(QString, chinese);
    if (!refused.isEmpty()) {
        Hcom::setDefaultPortSource(PortSource{
            [&] {
                QStringList names;
                for (int i = 0; i < refused.size(); i += 2)
                    names << refused[i];
                return names;
            },
            nullptr,
            [&](const QString &name) { return refused.value(refused.indexOf(name) + 1); }});
        Panel panel;
        Hcom::setDefaultPortSource(Hcom::systemPorts());
        QComboBox *box = panel.probe.form().comb_comName;
        QCOMPARE(box->count(), 0);
        QCOMPARE(box->toolTip(), DesktopLanguage::chinese() ? chinese : english);
        return;
    }
    // Whatever ports this machine has: those the system reports that can be opened, in its
    // order. Every panel starting meanwhile, in other tests too, tries the same ports and holds
    // each for a moment, and a port caught so is left out; so a mismatch is tried again.
    auto openable = [] {
        QStringList names;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            QSerialPort port(info.portName());
            if (port.open(QIODevice::ReadOnly))
                names << info.portName();
        }
        return names;
    };
    QStringList expected;
    std::unique_ptr<Panel> panel;
    for (int attempt = 0; attempt < 5 && (!panel || panel->probe.portList() != expected);
         ++attempt) {
        expected = openable();
        panel = std::make_unique<Panel>();
    }
    QComboBox *box = panel->probe.form().comb_comName;
    const QStringList items = itemsOf(box);
    QCOMPARE(items, expected);
    QCOMPARE(panel->probe.portList(), items);
    QVERIFY(!box->isEditable());
    QCOMPARE(box->currentText(), items.value(0));
    QCOMPARE(panel->probe.portState(), 0);
    QVERIFY(panel->probe.portName().isEmpty());
    QVERIFY(!HcomProbe(panel->probe.com()).port().isOpen());
}

void tst_PortSelection::dropDownFollowsPorts_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("clicked") << false;
    QTest::newRow("Alt+Down") << true;
}

void tst_PortSelection::dropDownFollowsPorts()
{
    QFETCH(bool, byKey);
    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    QComboBox *box = panel.probe.form().comb_comName;
    // ttyS4 is there but held by another program.
    QStringList present = {"ttyUSB0", "ttyUSB1", "ttyS4"};
    QStringList tried;
    panel.window.setPortSource(PortSource{[&] { return present; },
                                          [&](const QString &name) {
                                              tried << name;
                                              return name != QLatin1String("ttyS4");
                                          }});
    auto openList = [&] {
        tried.clear();
        if (byKey)
            QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
        else
            QTest::mouseClick(box, Qt::LeftButton);
        box->hidePopup();
        return itemsOf(box);
    };
    QCOMPARE(openList(), (QStringList{"ttyUSB0", "ttyUSB1"}));
    QCOMPARE(tried, present);

    // The panel holds the pseudo-terminal, which the system does not list; ttyUSB1 is chosen.
    panel.choose(pty.slavePath());
    panel.click();
    QCOMPARE(panel.probe.portState(), 1);
    box->setCurrentIndex(box->findText("ttyUSB1"));
    present = QStringList{"ttyACM0", "ttyUSB1", "ttyS4"};
    QCOMPARE(openList(), (QStringList{"ttyUSB1", pty.slavePath(), "ttyACM0"}));
    QCOMPARE(tried, (QStringList{"ttyACM0", "ttyS4"}));
    QCOMPARE(box->currentText(), QStringLiteral("ttyUSB1"));
    QVERIFY(HcomProbe(panel.probe.com()).port().isOpen());

    // Closed, the pseudo-terminal goes as well.
    panel.click();
    QCOMPARE(openList(), (QStringList{"ttyUSB1", "ttyACM0"}));
    QCOMPARE(tried, QStringList{"ttyS4"});
}

void tst_PortSelection::handOver_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("stored");
    QTest::newRow("reply frame") << 7 << true;
    QTest::newRow("1024 stored") << 1024 << true;
    QTest::newRow("1025 dropped") << 1025 << false;
    QTest::newRow("full channel buffer dropped") << 2048 << false;
}

void tst_PortSelection::handOver()
{
    QFETCH(int, size);
    QFETCH(bool, stored);

    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    panel.choose(pty.slavePath());
    panel.click();
    QCOMPARE(panel.probe.portState(), 1);
    HcomProbe channel(panel.probe.com());
    channel.holdTimer();

    // An earlier burst the master has already looked at.
    const QByteArray earlier = QByteArray::fromHex("112233");
    panel.probe.storeResponse(reinterpret_cast<const quint8 *>(earlier.constData()), 3);
    ResponseBuffer &buffer = panel.probe.responseBuffer();
    buffer.ready = 0;
    // The master takes a burst in on arrival; with no rows to poll it leaves it in the buffer,
    // so the buffer shows what was handed over.
    panel.probe.pollTable().count = 0;

    const QByteArray burst = pattern(size, size);
    QVERIFY(pty.write(burst));
    QVERIFY(channel.waitBuffered(size));
    channel.poll();
    QVERIFY(channel.emptyPolls(5));

    const QByteArray expected = stored ? burst : earlier;
    QCOMPARE(int(buffer.ready), stored ? 1 : 0);
    QCOMPARE(int(buffer.length), expected.size());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data), buffer.length), expected);
    // Taken either way: the channel is idle and ready for the next reply.
    QCOMPARE(channel.rxState(), 0);
    QCOMPARE(channel.rxCount(), 0);

    panel.click();
}

void tst_PortSelection::replyShownOnArrival()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    panel.choose(pty.slavePath());
    panel.click();
    HcomProbe channel(panel.probe.com());
    channel.holdTimer();

    // The master sends its maximum-current request and listens for the answer.
    PollTable &table = panel.probe.pollTable();
    for (int i = 0; i < 5; ++i)
        panel.probe.masterStep();
    QCOMPARE(int(table.phase), 5);
    const QByteArray reply = RtuTestBytes::withCrc(RtuTestBytes::hex("01 03 02 07 D0"));
    QVERIFY(pty.write(reply));
    QVERIFY(channel.waitBuffered(reply.size()));
    channel.poll();
    QVERIFY(channel.emptyPolls(5));

    // No tick has run: the burst was examined and shown as it arrived, the slot's count kept.
    QCOMPARE(table.entries[0].value, quint16(2000));
    QCOMPARE(panel.probe.deviceOnline(), quint8(1));
    QCOMPARE(int(table.cursor), 1);
    QCOMPARE(int(table.phase), 5);
    QCOMPARE(panel.probe.form().ldMaxCur->text(), QStringLiteral("2000"));
    QCOMPARE(int(panel.probe.responseBuffer().ready), 0);

    panel.click();
}

void tst_PortSelection::openAndClose_data()
{
    QTest::addColumn<int>("english");
    QTest::addColumn<QString>("openLabel");
    QTest::addColumn<QString>("closeLabel");
    QTest::newRow("english") << 1 << QStringLiteral("ComOpen") << QStringLiteral("ComClose");
    QTest::newRow("chinese") << 0 << QString::fromUtf8("串口已打开")
                             << QString::fromUtf8("串口关闭");
}

void tst_PortSelection::openAndClose()
{
    QFETCH(int, english);
    QFETCH(QString, openLabel);
    QFETCH(QString, closeLabel);

    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    panel.probe.useEnglish() = english;
    panel.choose(pty.slavePath());
    QSerialPort &port = HcomProbe(panel.probe.com()).port();

    LogCapture log;
    panel.click();
    QCOMPARE(panel.label(), openLabel);
    QCOMPARE(panel.probe.portState(), 1);
    QCOMPARE(panel.probe.portName(), pty.slavePath());
    QCOMPARE(panel.probe.baudRate(), 115200);
    QCOMPARE(log.debugLines(), QStringList{QStringLiteral("115200")});
    QVERIFY(port.isOpen());
    QCOMPARE(port.baudRate(), 115200);
    QVERIFY(reaches(panel.probe.com(), pty));

    panel.click();
    QCOMPARE(panel.label(), closeLabel);
    QCOMPARE(panel.probe.portState(), 0);
    QVERIFY(!port.isOpen());
    QCOMPARE(log.debugLines(), (QStringList{QStringLiteral("115200"), QStringLiteral("115200")}));
}

void tst_PortSelection::failedOpenKeepsLabel_data()
{
    QTest::addColumn<QString>("name"); // empty: the drop-down list is empty
    QTest::addColumn<bool>("closedBefore");
    QTest::addColumn<QString>("errorLine");
    QTest::newRow("missing port") << Missing << false << QStringLiteral("open err") + Missing;
    QTest::newRow("missing port after a close")
        << Missing << true << QStringLiteral("open err") + Missing;
    QTest::newRow("no port listed") << QString() << false << QStringLiteral("open err");
}

void tst_PortSelection::failedOpenKeepsLabel()
{
    QFETCH(QString, name);
    QFETCH(bool, closedBefore);
    QFETCH(QString, errorLine);

    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    if (closedBefore) {
        panel.choose(pty.slavePath());
        panel.click();
        panel.click();
        QCOMPARE(panel.probe.portState(), 0);
    }
    if (name.isEmpty())
        panel.probe.form().comb_comName->clear();
    else
        panel.choose(name);
    const QString before = panel.label();

    LogCapture log;
    panel.click();
    QCOMPARE(log.debugLines(), (QStringList{QStringLiteral("115200"), errorLine}));
    QCOMPARE(panel.label(), before);
    QCOMPARE(panel.probe.portState(), 0);
    QCOMPARE(panel.probe.portName(), name);
    QVERIFY(!HcomProbe(panel.probe.com()).port().isOpen());
}

void tst_PortSelection::closeWithOtherPortSelected()
{
    PtyPair first;
    PtyPair second;
    QVERIFY(first.isOpen() && second.isOpen());
    Panel panel;
    QSerialPort &port = HcomProbe(panel.probe.com()).port();

    panel.choose(first.slavePath());
    panel.click();
    QVERIFY(reaches(panel.probe.com(), first));

    // The closing click takes the new name but closes the port that is open.
    panel.choose(second.slavePath());
    panel.click();
    QCOMPARE(panel.probe.portState(), 0);
    QCOMPARE(panel.probe.portName(), second.slavePath());
    QCOMPARE(panel.label(), QStringLiteral("ComClose"));
    QVERIFY(!port.isOpen());

    panel.click();
    QCOMPARE(panel.probe.portState(), 1);
    QVERIFY(reaches(panel.probe.com(), second));
    QCOMPARE(first.read(20), QByteArray());
    panel.click();
}

void tst_PortSelection::lineGoneThenClicks()
{
    PtyPair gone;
    PtyPair next;
    QVERIFY(gone.isOpen() && next.isOpen());
    Panel panel;
    QSerialPort &port = HcomProbe(panel.probe.com()).port();
    panel.choose(gone.slavePath());
    panel.click();
    QVERIFY(port.isOpen());

    // The receive poll gives up a line that has gone; the panel still shows it open.
    gone.closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!port.isOpen(), 5000);
    QCOMPARE(panel.probe.portState(), 1);
    QCOMPARE(panel.label(), QStringLiteral("ComOpen"));

    // The operator's next click closes quietly, and the one after opens another port.
    LogCapture log;
    panel.click();
    QCOMPARE(panel.probe.portState(), 0);
    QCOMPARE(panel.label(), QStringLiteral("ComClose"));
    QCOMPARE(log.allLines(), QStringList{QStringLiteral("115200")});
    panel.choose(next.slavePath());
    panel.click();
    QCOMPARE(panel.probe.portState(), 1);
    QVERIFY(reaches(panel.probe.com(), next));
    panel.click();
}

void tst_PortSelection::reopenLeavesSessionState()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    panel.choose(pty.slavePath());
    panel.click();
    panel.probe.deviceOnline() = 1;
    const QByteArray last = QByteArray::fromHex("0103020001");
    panel.probe.storeResponse(reinterpret_cast<const quint8 *>(last.constData()), 5);

    panel.click();
    panel.click();
    QCOMPARE(panel.probe.portState(), 1);
    QCOMPARE(int(panel.probe.deviceOnline()), 1);
    ResponseBuffer &buffer = panel.probe.responseBuffer();
    QCOMPARE(int(buffer.ready), 1);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data), buffer.length), last);
    panel.click();
}

void tst_PortSelection::reopenCyclesKeepOnePoll()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    Panel panel;
    panel.choose(pty.slavePath());
    // 14 opens: the step check counts polls modulo 5, and 14 is not 1 modulo 5.
    for (int i = 0; i < 13; ++i) {
        panel.click();
        panel.click();
        QCoreApplication::processEvents();
    }
    panel.click();
    QCOMPARE(panel.probe.portState(), 1);

    HcomProbe channel(panel.probe.com());
    QTimer *timer = channel.rxTimer();
    QVERIFY(timer && timer->isActive());
    // On a quiet line each poll adds one to the modulo-5 quiet count; the step between two
    // ticks of the receive timer is the number of polls each tick ran.
    QList<int> steps;
    int last = -1;
    int ticks = 0;
    const auto watch = connect(timer, &QTimer::timeout, this, [&] {
        ++ticks;
        if (last >= 0)
            steps << (channel.idleTicks() - last + 5) % 5;
        last = channel.idleTicks();
    });
    QTRY_VERIFY_WITH_TIMEOUT(ticks > 100, 20000);
    disconnect(watch);
    QCOMPARE(steps.count(1), steps.size());
    panel.click();
}

void tst_PortSelection::destructorClosesOpenPort()
{
    PtyPair pty;
    QVERIFY(pty.isOpen());
    auto panel = std::make_unique<Panel>();
    panel->choose(pty.slavePath());
    panel->click();
    QCOMPARE(panel->probe.portState(), 1);

    // An open port is held exclusively; once the window is gone, someone else can have it.
    QSerialPort other(pty.slavePath());
    QVERIFY(!other.open(QIODevice::ReadWrite));
    panel.reset();
    QVERIFY(other.open(QIODevice::ReadWrite));
}

QTEST_MAIN(tst_PortSelection)
#include "tst_portselection.moc"
