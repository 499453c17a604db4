#include "benchrecord.h"

#include "currentreadings.h"
#include "registermap.h"
#include "statusdisplay.h"

#include <QDateTime>
#include <QDir>

namespace {

// Hundredths as the power read-out's fixed point: 2534 is "25.34", 2500 "25.00".
QString hundredthsText(quint16 value)
{
    return StatusDisplay::powerText(value);
}

QString wholeText(quint16 value)
{
    return QString::number(value);
}

// Anything but 1 is off, as the LD's state read-out shows it.
QString switchText(quint16 value)
{
    return value == 1 ? QStringLiteral("1") : QStringLiteral("0");
}

struct Column
{
    int row;
    QString (*text)(quint16);
};

const Column Columns[] = {
    {RegisterMap::RowTecTemp, hundredthsText}, {RegisterMap::RowTempSetting, hundredthsText},
    {RegisterMap::RowLdPower, hundredthsText}, {RegisterMap::RowCurrentSetting, wholeText},
    {RegisterMap::RowMaxCurrent, wholeText},   {RegisterMap::RowLdOnState, switchText},
    {RegisterMap::RowTecOnState, switchText},
};

} // namespace

BenchRecord::BenchRecord(const CurrentReadings &readings, WallClock wallClock)
    : readings(readings), wallClock(std::move(wallClock))
{
    if (!this->wallClock)
        this->wallClock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

QByteArray BenchRecord::header()
{
    return QByteArrayLiteral("time,tec_temp_c,ld_temp_setting_c,ld_power,ld_current_setting,"
                             "ld_max_current,ld_on,tec_on,event\r\n");
}

QString BenchRecord::offeredPath(const QString &folder, const QDateTime &at)
{
    return QDir(folder).filePath(at.toString(QStringLiteral("'ldpanel-'yyyyMMdd-HHmmss'.csv'")));
}

QString BenchRecord::timeText(qint64 wallMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(wallMs, Qt::LocalTime);
    const int offset = local.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString BenchRecord::quoted(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString inner = field;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

bool BenchRecord::start(const QString &path)
{
    stop();
    failure.clear();
    file.setFileName(path);
    // Unbuffered: every row goes to the system as one write, none waits in the process.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        failure = file.errorString();
        return false;
    }
    const QByteArray head = header();
    if (file.write(head) != head.size()) {
        failure = file.errorString();
        file.close();
        return false;
    }
    nextRowAt = readings.now() + RowEveryMs;
    return writeRow(wallClock(), QStringLiteral("recording started"));
}

void BenchRecord::stop()
{
    if (file.isOpen())
        file.close();
}

bool BenchRecord::tick()
{
    if (!running())
        return false;
    const qint64 now = readings.now();
    if (now < nextRowAt)
        return true;
    // A late timer shifts the next row; it never brings two at once.
    nextRowAt += RowEveryMs;
    if (nextRowAt <= now)
        nextRowAt = now + RowEveryMs;
    return writeRow(wallClock(), QString());
}

bool BenchRecord::addEvent(const BenchEvent &event)
{
    if (!running())
        return false;
    return writeRow(event.wallMs, event.text);
}

QString BenchRecord::valueFields() const
{
    QString fields;
    for (const Column &column : Columns) {
        fields += QLatin1Char(',');
        if (readings.isCurrent(column.row))
            fields += column.text(readings.value(column.row));
    }
    return fields;
}

bool BenchRecord::writeRow(qint64 wallMs, const QString &event)
{
    const QByteArray row = (timeText(wallMs) + valueFields() + QLatin1Char(',') + quoted(event) +
                            QStringLiteral("\r\n"))
                               .toUtf8();
    if (file.write(row) == row.size())
        return true;
    failure = file.errorString();
    if (failure.isEmpty())
        failure = QStringLiteral("the row could not be written");
    file.close();
    return false;
}
