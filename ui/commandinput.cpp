#include "commandinput.h"

#include "registermap.h"

#include <cmath>
#include <limits>

namespace CommandInput {

namespace {

constexpr double MinTemperature = 15.0;
constexpr double MaxTemperature = 35.0;

// An optional sign followed by digits only, after the whitespace toInt() also skips.
bool isWholeNumber(const QString &text, bool &negative)
{
    const QString trimmed = text.trimmed();
    int start = 0;
    negative = false;
    if (trimmed.startsWith(QLatin1Char('+')) || trimmed.startsWith(QLatin1Char('-'))) {
        negative = trimmed.at(0) == QLatin1Char('-');
        start = 1;
    }
    if (start == trimmed.size())
        return false;
    for (int i = start; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace

qint64 currentValue(const QString &text)
{
    bool ok = false;
    const qint32 value = text.toInt(&ok, 10);
    if (ok)
        return value;
    bool negative = false;
    if (isWholeNumber(text, negative)) {
        // Out of range for 32 bits: keep it out of range.
        return negative ? qint64(std::numeric_limits<qint32>::min()) - 1
                        : qint64(std::numeric_limits<qint32>::max()) + 1;
    }
    return 0;
}

double temperatureValue(const QString &text)
{
    return text.toDouble();
}

bool temperatureInRange(double degrees)
{
    return degrees >= MinTemperature && degrees <= MaxTemperature;
}

int temperatureHundredths(double degrees)
{
    return int(std::lround(degrees * 100.0));
}

quint16 registerValue(const QString &text)
{
    return quint16(text.toInt(nullptr, 10) & 0xFFFF);
}

int modeValue(const QString &modeText)
{
    if (modeText == QString::fromUtf8("连续模式"))
        return RegisterMap::ModeContinuous;
    if (modeText == QString::fromUtf8("内部脉冲模式"))
        return RegisterMap::ModeInternalPulse;
    if (modeText == QString::fromUtf8("外部脉冲模式"))
        return RegisterMap::ModeExternalPulse;
    return -1;
}

} // namespace CommandInput
