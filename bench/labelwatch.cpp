#include "labelwatch.h"

#include "benchclock.h"
#include "registermap.h"
#include "simulateddriver.h"

#include <QLabel>
#include <QWidget>

namespace {

// How long after a reply the labels are watched. A change later than that is seen in the window
// of the next reply, so its latency comes out too long, never too short.
constexpr qint64 WatchNs = 20000000;
const char *const LabelNames[LabelWatch::LabelCount] = {"ldState", "tecRtTemp", "ldSetCurrent",
                                                        "ldSetPower", "ldMaxCur"};
constexpr quint16 LabelRegisters[LabelWatch::LabelCount] = {
    RegisterMap::LdSwitch, RegisterMap::TecTemp, RegisterMap::LdCurrentSetting,
    RegisterMap::LdPower, RegisterMap::LdMaxCurrent};

int labelOf(quint16 reg)
{
    for (int i = 0; i < LabelWatch::LabelCount; ++i) {
        if (LabelRegisters[i] == reg)
            return i;
    }
    return -1;
}

// Consecutive reads of one register are one poll cycle (7 requests, an odd number) apart, so
// each finds a value it did not find last time.
void churn(LdDriverModel &model, int n)
{
    model.setMaxCurrent(quint16(2000 + n % 1000));
    model.setCurrentSetting(quint16(500 + n % 1000));
    model.setTecTemperature(2000 + n % 1000);
    model.setLdOn(n % 2 == 1);
}

} // namespace

void LabelWatch::serve(SimulatedDriver &driver)
{
    driver.setPhysicsInterval(0);
    driver.model().setNoise(0);
    driver.model().setPowerSlope(0.5);
    churn(driver.model(), 0);
    QObject::connect(
        &driver, &SimulatedDriver::requestHandled, &driver,
        [this, &driver] { churn(driver.model(), ++handled); }, Qt::DirectConnection);
    QObject::connect(
        &driver, &SimulatedDriver::replyWritten, &driver,
        [this, &driver](int index) {
            const qint64 now = BenchClock::monotonicNs();
            const RtuSlave::Exchange &exchange = driver.log().at(index).exchange;
            const int label = labelOf(exchange.reg);
            if (exchange.function == RegisterMap::FunctionReadHolding && label >= 0)
                lastReplyNs[label] = now;
            latestReplyNs = now;
        },
        Qt::DirectConnection);
}

void LabelWatch::attach(const QWidget &window)
{
    for (int i = 0; i < LabelCount; ++i) {
        labels[i] = window.findChild<QLabel *>(QLatin1String(LabelNames[i]));
        shown[i] = labels[i]->text();
    }
}

void LabelWatch::start(qint64 nowNs)
{
    started = true;
    startNs = nowNs;
}

void LabelWatch::look(qint64 nowNs)
{
    // Only for a while after each reply, so that watching adds next to nothing to the CPU time.
    if (!started || nowNs - latestReplyNs >= WatchNs)
        return;
    for (int i = 0; i < LabelCount; ++i) {
        const QString text = labels[i]->text();
        if (text == shown[i])
            continue;
        shown[i] = text;
        // Only a change brought by a reply written since the label last changed.
        const qint64 replyNs = lastReplyNs[i];
        if (replyNs > changedAtNs[i] && replyNs >= startNs)
            latencies.append((nowNs - replyNs) / 1e6);
        changedAtNs[i] = nowNs;
    }
}
