#ifndef TRENDHISTORY_H
#define TRENDHISTORY_H

#include "benchevent.h"
#include "tecstability.h"

#include <QtGlobal>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class CurrentReadings;

// What the driver sent over the last 24 hours, row by row, for the trend. Times are on the
// readings' monotonic clock; wallAt() turns one into ms since the epoch for the time axis.
//
// A line is only ever drawn between two readings that were both current: a reading taken 5 s or
// more after the one before it (the line was silent), or the first after a close, starts a new
// segment. The last half hour is kept reading by reading; older readings are folded into 2 s
// buckets that keep the lowest, the highest and the last value, so the extremes survive and 24
// hours of ten readings a second per row take about 7 MiB (bench/historymemory.cpp measures it).
class TrendHistory
{
public:
    static constexpr qint64 KeepMs = 24 * 3600 * 1000LL;
    static constexpr qint64 FineMs = 30 * 60 * 1000LL;
    static constexpr qint64 BucketMs = 2000;
    static constexpr int MaxEvents = 20000;

    // One reading, or the readings of a bucket (or of a column, from points()).
    struct Point
    {
        qint64 at = 0; // the last reading's time
        quint16 low = 0;
        quint16 high = 0;
        quint16 last = 0;
        bool breakBefore = false; // no line from the point before
    };

    // Registers itself as a listener of the readings. Wall clock: ms since the epoch, settable for
    // tests.
    explicit TrendHistory(CurrentReadings &readings, std::function<qint64()> wallClock = {});
    ~TrendHistory();
    TrendHistory(const TrendHistory &) = delete;
    TrendHistory &operator=(const TrendHistory &) = delete;

    // A command and each of its outcomes, opens, closes.
    void addEvent(const BenchEvent &event);

    // The readings' clock now.
    qint64 now() const;
    // The wall clock (ms since the epoch) at a time on the readings' clock.
    qint64 wallAt(qint64 monoMs) const;

    // The row's readings from just before `from` to `to`, folded into at most `columns` points of
    // equal width (each keeps its lowest and highest), with the breaks kept.
    std::vector<Point> points(int row, qint64 from, qint64 to, int columns) const;
    // The reading of the row in force at a time, if one was current then.
    bool valueAt(int row, qint64 at, quint16 *value) const;
    // Events from `from` to `to`, in time order.
    std::vector<BenchEvent> events(qint64 from, qint64 to) const;
    // The oldest time still kept; now() when nothing is.
    qint64 oldest() const;
    // Points held, all rows, both tiers: what the memory bound rests on.
    std::size_t storedPoints() const;

    const TecStability &stability() const { return tec; }

private:
    struct Row
    {
        std::deque<Point> fine;   // reading by reading, the last FineMs
        std::deque<Point> coarse; // folded into buckets, up to KeepMs
        qint64 lastAt = -1;
        bool closedSince = false;
    };
    struct WallOffset
    {
        qint64 fromMono;
        qint64 offset; // wall minus mono
    };

    void take(int row, quint16 value, qint64 at);
    void close(qint64 at);
    void fold(Row &row, qint64 newest);
    const Point *pointAtOrBefore(const Row &row, qint64 at) const;

    CurrentReadings &readings;
    std::function<qint64()> wallClock;
    std::vector<Row> rows;
    std::vector<qint64> closes; // for valueAt(): none current across a close
    std::deque<BenchEvent> eventList;
    std::vector<WallOffset> offsets;
    TecStability tec;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

#endif // TRENDHISTORY_H
