// The panel against a Modbus RTU slave built on libmodbus, on the other end of a
// pseudo-terminal: our frames and CRC have to satisfy independent code.
#include "eventwait.h"
#include "mainwindow.h"
#include "mainwindowform.h"
#include "mainwindowprobe.h"
#include "ptypair.h"
#include "registermap.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#ifdef HAVE_LIBMODBUS
#include <modbus/modbus.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace {

// libmodbus serving holding registers 30000..40199 on a file descriptor, in its own thread.
class LibmodbusSlave
{
public:
    static constexpr int First = 30000;
    static constexpr int Count = 10200;

    explicit LibmodbusSlave(int fd)
    {
        ctx = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);
        modbus_set_slave(ctx, RegisterMap::SlaveAddress);
        modbus_set_socket(ctx, fd);
        modbus_set_indication_timeout(ctx, 0, 50000);
        mapping = modbus_mapping_new_start_address(0, 0, 0, 0, First, Count, 0, 0);
        worker = std::thread([this] { serve(); });
    }
    ~LibmodbusSlave()
    {
        stop = true;
        worker.join();
        modbus_mapping_free(mapping);
        modbus_free(ctx);
    }

    void set(int reg, quint16 value)
    {
        std::lock_guard<std::mutex> lock(mutex);
        mapping->tab_registers[reg - First] = value;
    }
    quint16 get(int reg)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return mapping->tab_registers[reg - First];
    }
    int repliesSent() const { return replies; }

private:
    void serve()
    {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop) {
            const int length = modbus_receive(ctx, query);
            if (length <= 0)
                continue;
            std::lock_guard<std::mutex> lock(mutex);
            if (modbus_reply(ctx, query, length, mapping) > 0)
                ++replies;
        }
    }

    modbus_t *ctx = nullptr;
    modbus_mapping_t *mapping = nullptr;
    std::mutex mutex;
    std::atomic<bool> stop{false};
    std::atomic<int> replies{0};
    std::thread worker;
};

} // namespace
#endif

class tst_E2eLibmodbus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pollsAndWrites();
};

void tst_E2eLibmodbus::pollsAndWrites()
{
#ifndef HAVE_LIBMODBUS
    QSKIP("libmodbus is not installed");
#else
    PtyPair pty;
    QVERIFY(pty.isOpen());
    LibmodbusSlave slave(pty.fd());
    using namespace RegisterMap;
    slave.set(LdMaxCurrent, 2000);
    slave.set(LdTempSetting, 2500);
    slave.set(TecTemp, 2534);
    slave.set(LdPower, 1234);
    slave.set(LdCurrentSetting, 1500);
    slave.set(TecSwitch, 1);
    slave.set(LdSwitch, 1);

    MainWindow window;
    MainWindowProbe probe(window);
    MainWindowForm &form = probe.form();
    form.comb_comName->addItem(pty.slavePath());
    form.comb_comName->setCurrentText(pty.slavePath());
    form.btn_comSet->click();
    QCOMPARE(probe.portState(), 1);

    // One sweep of the seven registers takes 700 ticks; the waits allow for a slow machine.
    WAIT_COMPARE(form.ldState->text(), QStringLiteral("Work"));
    WAIT_COMPARE(form.ldMaxCur->text(), QStringLiteral("2000"));
    WAIT_COMPARE(form.tecRtTemp->text(), QStringLiteral("25.34"));
    WAIT_COMPARE(form.ldSetPower->text(), QStringLiteral("12.34"));
    WAIT_COMPARE(form.ldSetCurrent->text(), QStringLiteral("1500"));
    QCOMPARE(form.ldState->styleSheet(), QStringLiteral("color: rgb(0,255,0);"));
    QCOMPARE(probe.deviceStatus().maxCurrent, quint16(2000));

    // A current within the limit reaches the slave and comes back in the read-out.
    form.edLdSetCurrent->setText(QStringLiteral("1800"));
    form.btnSetLdCurrent->click();
    WAIT_COMPARE(slave.get(LdCurrentSetting), quint16(1800));
    WAIT_COMPARE(form.ldSetCurrent->text(), QStringLiteral("1800"));

    form.btnSetLdOff->click();
    WAIT_COMPARE(slave.get(LdSwitch), quint16(0));
    WAIT_COMPARE(form.ldState->text(), QStringLiteral("Stop"));
    QCOMPARE(form.ldState->styleSheet(), QStringLiteral("color: rgb(255, 3, 3);"));

    form.btnSetLdOn->click();
    WAIT_COMPARE(slave.get(LdSwitch), quint16(1));
    WAIT_COMPARE(form.ldState->text(), QStringLiteral("Work"));

    form.btn_comSet->click();
    QCOMPARE(probe.portState(), 0);
    QVERIFY(slave.repliesSent() >= 7);
#endif
}

QTEST_MAIN(tst_E2eLibmodbus)
#include "tst_e2e_libmodbus.moc"
