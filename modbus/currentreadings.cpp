#include "currentreadings.h"

#include <QElapsedTimer>

#include <memory>

CurrentReadings::CurrentReadings(Clock clock)
{
    setClock(std::move(clock));
}

void CurrentReadings::setClock(Clock clock)
{
    this->clock = std::move(clock);
    if (!this->clock) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        this->clock = [started] { return started->elapsed(); };
    }
}

void CurrentReadings::record(int row, quint16 value)
{
    if (!valid(row))
        return;
    const qint64 at = now();
    rows[row] = Row{value, true, true, at};
    for (const Listener &listener : listeners)
        listener(row, value, at);
}

void CurrentReadings::closed()
{
    bool anyCurrent = false;
    for (Row &row : rows) {
        anyCurrent = anyCurrent || row.sinceClose;
        row.sinceClose = false;
    }
    if (!anyCurrent)
        return;
    const qint64 at = now();
    for (const Listener &listener : listeners)
        listener(-1, 0, at);
}

bool CurrentReadings::isCurrent(int row) const
{
    return valid(row) && rows[row].sinceClose && now() - rows[row].at < StaleAfterMs;
}
