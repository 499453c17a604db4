#include "trendhistory.h"

#include "currentreadings.h"
#include "registermap.h"

#include <QDateTime>

#include <algorithm>

namespace {

bool after(qint64 at, const TrendHistory::Point &point)
{
    return at < point.at;
}

} // namespace

TrendHistory::TrendHistory(CurrentReadings &readings, std::function<qint64()> wallClock)
    : readings(readings), wallClock(std::move(wallClock)), rows(RegisterMap::PollRowCount)
{
    if (!this->wallClock)
        this->wallClock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    // The readings cannot forget a listener: one that outlives the history does nothing.
    readings.addListener([this, alive = alive](int row, quint16 value, qint64 at) {
        if (!*alive)
            return;
        if (row < 0)
            close(at);
        else
            take(row, value, at);
    });
}

TrendHistory::~TrendHistory()
{
    *alive = false;
}

qint64 TrendHistory::now() const
{
    return readings.now();
}

void TrendHistory::take(int row, quint16 value, qint64 at)
{
    if (row >= int(rows.size()))
        return;
    Row &r = rows[size_t(row)];
    Point point;
    point.at = at;
    point.low = point.high = point.last = value;
    point.breakBefore =
        r.lastAt < 0 || r.closedSince || at - r.lastAt >= CurrentReadings::StaleAfterMs;
    r.fine.push_back(point);
    r.lastAt = at;
    r.closedSince = false;
    fold(r, at);
    tec.take(row, value, at);

    // The wall clock may be set or the machine suspended: a new offset from here on, so the
    // times shown before it stay as they were.
    const qint64 offset = wallClock() - at;
    if (offsets.empty() || std::abs(offset - offsets.back().offset) > 1000)
        offsets.push_back(WallOffset{at, offset});
    const qint64 cutoff = at - KeepMs;
    while (offsets.size() > 1 && offsets[1].fromMono < cutoff)
        offsets.erase(offsets.begin());
    while (!closes.empty() && closes.front() < cutoff)
        closes.erase(closes.begin());
    while (!eventList.empty() && eventList.front().monoMs < cutoff)
        eventList.pop_front();
}

void TrendHistory::close(qint64 at)
{
    for (Row &row : rows)
        row.closedSince = true;
    closes.push_back(at);
    tec.closed();
}

void TrendHistory::fold(Row &row, qint64 newest)
{
    while (!row.fine.empty() && row.fine.front().at < newest - FineMs) {
        const Point point = row.fine.front();
        row.fine.pop_front();
        // A break opens a bucket of its own, so no line is ever drawn across it.
        if (!row.coarse.empty() && !point.breakBefore &&
            row.coarse.back().at / BucketMs == point.at / BucketMs) {
            Point &bucket = row.coarse.back();
            bucket.low = std::min(bucket.low, point.low);
            bucket.high = std::max(bucket.high, point.high);
            bucket.last = point.last;
            bucket.at = point.at;
        } else {
            row.coarse.push_back(point);
        }
    }
    while (!row.coarse.empty() && row.coarse.front().at < newest - KeepMs)
        row.coarse.pop_front();
}

void TrendHistory::addEvent(const BenchEvent &event)
{
    eventList.push_back(event);
    while (eventList.size() > size_t(MaxEvents))
        eventList.pop_front();
}

qint64 TrendHistory::wallAt(qint64 monoMs) const
{
    if (offsets.empty())
        return monoMs + (wallClock() - now());
    auto next = std::upper_bound(offsets.begin(), offsets.end(), monoMs,
                                 [](qint64 at, const WallOffset &o) { return at < o.fromMono; });
    if (next != offsets.begin())
        --next;
    return monoMs + next->offset;
}

const TrendHistory::Point *TrendHistory::pointAtOrBefore(const Row &row, qint64 at) const
{
    if (!row.fine.empty() && row.fine.front().at <= at) {
        auto next = std::upper_bound(row.fine.begin(), row.fine.end(), at, after);
        return &*(next - 1);
    }
    auto next = std::upper_bound(row.coarse.begin(), row.coarse.end(), at, after);
    return next == row.coarse.begin() ? nullptr : &*(next - 1);
}

bool TrendHistory::valueAt(int row, qint64 at, quint16 *value) const
{
    if (row < 0 || row >= int(rows.size()) || at > now())
        return false;
    const Point *point = pointAtOrBefore(rows[size_t(row)], at);
    if (!point || at - point->at >= CurrentReadings::StaleAfterMs)
        return false;
    auto close = std::upper_bound(closes.begin(), closes.end(), point->at);
    if (close != closes.end() && *close <= at)
        return false;
    *value = point->last;
    return true;
}

std::vector<TrendHistory::Point> TrendHistory::points(int row, qint64 from, qint64 to,
                                                      int columns) const
{
    std::vector<Point> out;
    if (row < 0 || row >= int(rows.size()) || to <= from)
        return out;
    columns = std::max(columns, 1);
    const Row &r = rows[size_t(row)];
    int lastColumn = -1;
    auto add = [&](const Point &point) {
        int column = -1; // before the view: a point of its own, for the line into it
        if (point.at > to)
            column = columns;
        else if (point.at >= from)
            column = int(std::min<qint64>((point.at - from) * columns / (to - from), columns - 1));
        if (!out.empty() && !point.breakBefore && column == lastColumn && column >= 0 &&
            column < columns) {
            Point &merged = out.back();
            merged.low = std::min(merged.low, point.low);
            merged.high = std::max(merged.high, point.high);
            merged.last = point.last;
            merged.at = point.at;
        } else {
            out.push_back(point);
        }
        lastColumn = column;
    };
    // From the last point before the view to the first after it, so the lines reach the edges;
    // the coarse tier and then the fine one, as one sequence.
    const size_t coarse = r.coarse.size();
    const size_t total = coarse + r.fine.size();
    auto at = [&](size_t i) -> const Point & {
        return i < coarse ? r.coarse[i] : r.fine[i - coarse];
    };
    size_t low = 0;
    size_t high = total;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (at(middle).at < from)
            low = middle + 1;
        else
            high = middle;
    }
    for (size_t i = low > 0 ? low - 1 : 0; i < total; ++i) {
        add(at(i));
        if (at(i).at > to)
            break;
    }
    return out;
}

std::vector<BenchEvent> TrendHistory::events(qint64 from, qint64 to) const
{
    std::vector<BenchEvent> out;
    for (const BenchEvent &event : eventList)
        if (event.monoMs >= from && event.monoMs <= to)
            out.push_back(event);
    return out;
}

qint64 TrendHistory::oldest() const
{
    qint64 oldest = now();
    for (const Row &row : rows) {
        if (!row.coarse.empty())
            oldest = std::min(oldest, row.coarse.front().at);
        else if (!row.fine.empty())
            oldest = std::min(oldest, row.fine.front().at);
    }
    return oldest;
}

std::size_t TrendHistory::storedPoints() const
{
    std::size_t count = 0;
    for (const Row &row : rows)
        count += row.fine.size() + row.coarse.size();
    return count;
}
