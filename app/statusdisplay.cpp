#include "statusdisplay.h"

#include <QLabel>

#include <cstring>

namespace {

const char *const WorkStyle = "color: rgb(0,255,0);";
const char *const StopStyle = "color: rgb(255, 3, 3);";
const char *const StaleStyle = "color: rgb(150, 150, 150);";
const char *const FormStyle = "";

void restyle(QLabel *label, const char *&shown, const char *wanted)
{
    if (shown == wanted)
        return;
    if (std::strcmp(shown, wanted) == 0) {
        shown = wanted; // the next tick takes the test above
        return;
    }
    label->setStyleSheet(QString::fromLatin1(wanted));
    shown = wanted;
}

QString decimalText(quint16 value)
{
    return QString::number(value);
}

} // namespace

QString StatusDisplay::powerText(quint16 ldPower)
{
    return QStringLiteral("%1.%2").arg(ldPower / 100).arg(ldPower % 100, 2, 10, QLatin1Char('0'));
}

QString StatusDisplay::temperatureText(quint16 tecTemp)
{
    return QString::number(tecTemp / 100.0, 'g', 6);
}

void StatusDisplay::show(const DeviceStatus &status, bool english, const Labels &labels)
{
    show(status, english, labels, Readings());
}

void StatusDisplay::show(const DeviceStatus &status, bool english, const Labels &labels,
                         const Readings &readings)
{
    if (readings.ldState == Reading::Current) {
        // Any value other than 1 means the LD is stopped.
        const bool working = status.ldOnState == 1;
        restyle(labels.ldState, ldStyle, working ? WorkStyle : StopStyle);
        const int stateWanted =
            working ? (english ? WorkEnglish : WorkChinese) : (english ? StopEnglish : StopChinese);
        if (stateWanted != ldStateShown) {
            if (working)
                labels.ldState->setText(english ? QStringLiteral("Work")
                                                : QString::fromUtf8("工作"));
            else
                labels.ldState->setText(english ? QStringLiteral("Stop")
                                                : QString::fromUtf8("停止"));
            ldStateShown = stateWanted;
        }
    } else if (readings.ldState == Reading::Stale && ldStateShown != NotShown) {
        restyle(labels.ldState, ldStyle, StaleStyle);
    }

    showNumber(labels.ldSetCurrent, currentShown, readings.current, status.currentSetting,
               decimalText, false);
    showNumber(labels.ldSetPower, powerShown, readings.power, status.ldPower, powerText, false);
    showNumber(labels.ldMaxCur, maxCurrentShown, readings.maxCurrent, status.maxCurrent,
               decimalText, false);
    // A reading of 0 leaves the temperature as it was.
    showNumber(labels.tecRtTemp, tecTempShown, readings.tecTemp, status.tecTemp, temperatureText,
               true);
}

void StatusDisplay::showNumber(QLabel *label, Shown &shown, Reading reading, quint16 value,
                               QString (*text)(quint16), bool zeroKeepsText)
{
    // A read-out that still shows the form's text keeps the form's style.
    switch (reading) {
    case Reading::Unread:
        return;
    case Reading::Stale:
        if (shown.value >= 0)
            restyle(label, shown.style, StaleStyle);
        return;
    case Reading::Current:
        if (value != shown.value && !(zeroKeepsText && value == 0)) {
            label->setText(text(value));
            shown.value = value;
        }
        if (shown.value >= 0)
            restyle(label, shown.style, FormStyle);
        return;
    }
}
