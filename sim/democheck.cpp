#include "democheck.h"

#include "registermap.h"
#include "simulateddriver.h"
#include "statusdisplay.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <cstdio>

namespace {

constexpr int StepMs = 20;

struct Readout
{
    const char *label; // the form's object name
    const char *name;  // as the English form calls it
    quint16 reg;
};

const Readout Readouts[] = {
    {"ldState", "LD State", RegisterMap::LdSwitch},
    {"tecRtTemp", "Tec Temp", RegisterMap::TecTemp},
    {"ldSetCurrent", "LD Current", RegisterMap::LdCurrentSetting},
    {"ldSetPower", "LD Power", RegisterMap::LdPower},
    {"ldMaxCur", "LDMax Current", RegisterMap::LdMaxCurrent},
};

// What the read-out shows for value, in either of the window's languages.
QStringList expectedTexts(quint16 reg, quint16 value)
{
    switch (reg) {
    case RegisterMap::LdSwitch:
        return value == 1 ? QStringList{QStringLiteral("Work"), QString::fromUtf8("工作")}
                          : QStringList{QStringLiteral("Stop"), QString::fromUtf8("停止")};
    case RegisterMap::TecTemp:
        return {StatusDisplay::temperatureText(value)};
    case RegisterMap::LdPower:
        return {StatusDisplay::powerText(value)};
    default:
        return {QString::number(value)};
    }
}

} // namespace

DemoCheck::DemoCheck(QWidget &window, SimulatedDriver &driver) : window(window), driver(driver)
{
    QObject::connect(&timer, &QTimer::timeout, [this] { step(); });
}

void DemoCheck::start(int timeout)
{
    timeoutMs = timeout;
    clock.start();
    timer.start(StepMs);
}

QStringList DemoCheck::differences() const
{
    QStringList found;
    for (const Readout &readout : Readouts) {
        const auto *label = window.findChild<QLabel *>(QLatin1String(readout.label));
        const quint16 value = driver.model().read(readout.reg);
        const QString text = label ? label->text() : QStringLiteral("(no label)");
        if (!expectedTexts(readout.reg, value).contains(text))
            found << QStringLiteral("%1: %2, unit %3")
                         .arg(QLatin1String(readout.name), text,
                              expectedTexts(readout.reg, value).first());
    }
    return found;
}

QString DemoCheck::shown() const
{
    QStringList texts;
    for (const Readout &readout : Readouts) {
        const auto *label = window.findChild<QLabel *>(QLatin1String(readout.label));
        texts << QStringLiteral("%1 %2").arg(QLatin1String(readout.name),
                                             label ? label->text() : QString());
    }
    return texts.join(QStringLiteral(", "));
}

void DemoCheck::step()
{
    const QStringList differ = differences();
    if (setTo < 0) {
        if (!differ.isEmpty()) {
            if (clock.elapsed() > timeoutMs)
                finish(false, QStringLiteral("not online: ") + differ.join(QStringLiteral("; ")));
            return;
        }
        std::printf("online: %s\n", qPrintable(shown()));
        // Another value than the one the unit holds, within its maximum.
        const quint16 held = driver.model().read(RegisterMap::LdCurrentSetting);
        const quint16 most = driver.model().read(RegisterMap::LdMaxCurrent);
        setTo = qMin<int>(held == 1500 ? 1000 : 1500, most);
        auto *entry = window.findChild<QLineEdit *>(QStringLiteral("edLdSetCurrent"));
        auto *set = window.findChild<QPushButton *>(QStringLiteral("btnSetLdCurrent"));
        if (!entry || !set) {
            finish(false, QStringLiteral("the window has no current entry or Set button"));
            return;
        }
        entry->setText(QString::number(setTo));
        // Queued: a warning would open a dialog, which must not open inside this step.
        QTimer::singleShot(0, set, &QPushButton::click);
        return;
    }
    if (driver.model().read(RegisterMap::LdCurrentSetting) == setTo && differ.isEmpty()) {
        finish(true, QStringLiteral("current set to %1 and read back: %2").arg(setTo).arg(shown()));
        return;
    }
    if (clock.elapsed() > timeoutMs)
        finish(false, QStringLiteral("current set to %1, unit holds %2: %3")
                          .arg(setTo)
                          .arg(driver.model().read(RegisterMap::LdCurrentSetting))
                          .arg(differ.join(QStringLiteral("; "))));
}

void DemoCheck::finish(bool passed, const QString &line)
{
    timer.stop();
    std::printf("%s: %s\n", passed ? "passed" : "FAILED", qPrintable(line));
    std::fflush(stdout);
    QCoreApplication::exit(passed ? 0 : 1);
}
