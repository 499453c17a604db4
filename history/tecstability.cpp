#include "tecstability.h"

#include "currentreadings.h"
#include "registermap.h"

#include <cstdlib>

void TecStability::take(int row, quint16 value, qint64 at)
{
    if (row == RegisterMap::RowTecTemp) {
        temp = value;
        tempAt = at;
    } else if (row == RegisterMap::RowTempSetting) {
        setting = value;
        settingAt = at;
    } else {
        return;
    }
    // Either one silent for 5 s: what the TEC did then is unknown, so the 30 s start again.
    if (!current(tempAt, at) || !current(settingAt, at) ||
        std::abs(int(temp) - int(setting)) > ToleranceHundredths)
        withinSince = -1;
    else if (withinSince < 0)
        withinSince = at;
}

void TecStability::closed()
{
    tempAt = -1;
    settingAt = -1;
    withinSince = -1;
}

bool TecStability::current(qint64 at, qint64 now) const
{
    return at >= 0 && now - at < CurrentReadings::StaleAfterMs;
}

QString TecStability::text(qint64 now, bool english) const
{
    if (!current(tempAt, now) || !current(settingAt, now))
        return QString();
    const int off = std::abs(int(temp) - int(setting));
    if (withinSince >= 0 && now - withinSince >= StableAfterMs)
        return english ? QStringLiteral("TEC stable") : QString::fromUtf8("TEC稳定");
    const QString degrees =
        QStringLiteral("%1.%2").arg(off / 100).arg(off % 100, 2, 10, QLatin1Char('0'));
    return english ? QString::fromUtf8("TEC settling: %1 ℃ from the setting").arg(degrees)
                   : QString::fromUtf8("TEC稳定中:与设定值相差%1 ℃").arg(degrees);
}
