#include "benchclock.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace BenchClock {

namespace {

qint64 read(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

qint64 monotonicNs()
{
    return read(CLOCK_MONOTONIC);
}

qint64 processCpuNs()
{
    return read(CLOCK_PROCESS_CPUTIME_ID);
}

qint64 threadCpuNs(pthread_t thread)
{
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0)
        return 0;
    return read(clock);
}

qint64 threadWakeups()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

qint64 peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 processStartNs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The command name may hold spaces; the fields are counted after its closing parenthesis.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // Field 22 (starttime) is the 20th after the name, in clock ticks since boot; boot time and
    // the monotonic clock differ only by time spent suspended.
    const qint64 ticks = fields.value(19).toLongLong();
    return ticks * (1000000000 / sysconf(_SC_CLK_TCK)) - (read(CLOCK_BOOTTIME) - monotonicNs());
}

} // namespace BenchClock
