#include "historymemory.h"

#include "currentreadings.h"
#include "registermap.h"
#include "trendhistory.h"

#include <QFile>

#include <cstdio>

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines)
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

} // namespace

void printHistoryMemory()
{
    const qint64 before = residentKiB();
    qint64 clock = 0;
    CurrentReadings readings([&clock] { return clock; });
    TrendHistory history(readings, [&clock] { return 1'800'000'000'000LL + clock; });
    quint16 tec = 2500;
    auto run = [&](qint64 until) {
        for (; clock < until; clock += 100) {
            // A temperature that wanders, and the port closed for a moment every ten minutes.
            tec = quint16(2500 + (clock / 700) % 23 - 11);
            for (int row = 0; row < RegisterMap::PollRowCount; ++row)
                readings.record(row, row == RegisterMap::RowTecTemp ? tec : quint16(row * 100));
            if (clock % (10 * 60 * 1000) == 0)
                readings.closed();
        }
    };
    const qint64 hour = 3600 * 1000LL;
    run(24 * hour);
    const qint64 after24 = residentKiB();
    const std::size_t points24 = history.storedPoints();
    run(26 * hour);
    const qint64 after26 = residentKiB();
    std::printf("history_rss_24h_kib %lld\nhistory_rss_26h_kib %lld\n",
                static_cast<long long>(after24 - before), static_cast<long long>(after26 - before));
    std::printf(
        "trend history: %.1f MiB more resident after 24 h of %d rows read ten times a second "
        "(%zu points kept), %.1f MiB after 26 h\n",
        (after24 - before) / 1024.0, RegisterMap::PollRowCount, points24,
        (after26 - before) / 1024.0);
}
