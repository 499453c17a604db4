#include "statusdisplay.h"

#include <QLabel>

namespace {

const char *const WorkStyle = "color: rgb(0,255,0);";
const char *const StopStyle = "color: rgb(255, 3, 3);";

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
    show(status, english, labels, Heard());
}

void StatusDisplay::show(const DeviceStatus &status, bool english, const Labels &labels,
                         const Heard &heard)
{
    // Any value other than 1 means the LD is stopped.
    const bool working = status.ldOnState == 1;
    const int stateWanted =
        working ? (english ? WorkEnglish : WorkChinese) : (english ? StopEnglish : StopChinese);
    if (heard.ldState && stateWanted != ldStateShown) {
        if (int(working) != ldStyleWorking) {
            labels.ldState->setStyleSheet(QString::fromLatin1(working ? WorkStyle : StopStyle));
            ldStyleWorking = working;
        }
        if (working)
            labels.ldState->setText(english ? QStringLiteral("Work") : QString::fromUtf8("工作"));
        else
            labels.ldState->setText(english ? QStringLiteral("Stop") : QString::fromUtf8("停止"));
        ldStateShown = stateWanted;
    }

    if (heard.current && status.currentSetting != currentShown) {
        labels.ldSetCurrent->setText(QString::number(status.currentSetting));
        currentShown = status.currentSetting;
    }
    if (heard.power && status.ldPower != powerShown) {
        labels.ldSetPower->setText(powerText(status.ldPower));
        powerShown = status.ldPower;
    }
    if (heard.maxCurrent && status.maxCurrent != maxCurrentShown) {
        labels.ldMaxCur->setText(QString::number(status.maxCurrent));
        maxCurrentShown = status.maxCurrent;
    }
    // A reading of 0 leaves the temperature as it was.
    if (heard.tecTemp && status.tecTemp != 0 && status.tecTemp != tecTempShown) {
        labels.tecRtTemp->setText(temperatureText(status.tecTemp));
        tecTempShown = status.tecTemp;
    }
}
