#ifndef BENCHCLOCK_H
#define BENCHCLOCK_H

#include <QtGlobal>

#include <pthread.h>

// The clocks the benchmark reads. All wall times are CLOCK_MONOTONIC nanoseconds, so a time
// taken in one process can be compared with one taken in another.
namespace BenchClock {

qint64 monotonicNs();
qint64 processCpuNs();
qint64 threadCpuNs(pthread_t thread);
// Voluntary context switches of the calling thread: how often it slept and woke.
qint64 threadWakeups();
// Peak resident set size of this process (VmHWM), in KiB.
qint64 peakRssKiB();
// When this process started, on the monotonic clock, from /proc/self/stat (10 ms steps).
qint64 processStartNs();

} // namespace BenchClock

#endif // BENCHCLOCK_H
