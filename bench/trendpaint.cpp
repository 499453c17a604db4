#include "trendpaint.h"

#include "benchclock.h"
#include "currentreadings.h"
#include "registermap.h"
#include "trendhistory.h"
#include "trendplot.h"
#include "trendwindow.h"

#include <QApplication>

#include <cstdio>

void printTrendPaint()
{
    qint64 clock = 0;
    CurrentReadings readings([&clock] { return clock; });
    TrendHistory history(readings, [&clock] { return 1'800'000'000'000LL + clock; });
    // Ten readings a second in the poll's order, the TEC temperature wandering.
    for (int row = 0; clock < TrendHistory::KeepMs; clock += 100, row = (row + 1) % 7) {
        const bool tec = row == RegisterMap::RowTecTemp;
        readings.record(row, quint16(tec ? 2500 + (clock / 700) % 23 - 11 : row * 100));
    }
    TrendWindow window(history, readings, true);
    window.resize(1000, 660);
    window.show();
    QApplication::processEvents();
    window.plot()->repaint();
    std::printf("trend paint, CPU ms per paint:");
    for (qint64 span : {600000LL, 3600000LL, TrendHistory::KeepMs}) {
        window.plot()->setSpan(span);
        const int paints = 20;
        const qint64 started = BenchClock::threadCpuNs(pthread_self());
        for (int i = 0; i < paints; ++i)
            window.plot()->repaint();
        const double ms = (BenchClock::threadCpuNs(pthread_self()) - started) / 1e6 / paints;
        std::printf(" %.2f over %lld min%s", ms, static_cast<long long>(span / 60000),
                    span == TrendHistory::KeepMs ? "\n" : ",");
    }
}
