#ifndef CURRENTREADINGS_H
#define CURRENTREADINGS_H

#include "polltable.h"

#include <QtGlobal>

#include <functional>
#include <vector>

// Is this reading current, and since when: the one place that answers it. The master hands it
// every value the driver sends; the read-outs, the line's diagnosis, the trend and the record ask
// it.
//
// Time is a monotonic clock in milliseconds, never a count of ticks: a system that throttles the
// panel's timers slows the ticks, not the clock. A reading is current for StaleAfterMs after it
// was taken, and only until the port it came over is closed; one taken before a close is never
// current again, even when the port is opened again at once.
class CurrentReadings
{
public:
    static constexpr int Capacity = PollTable::Capacity;
    static constexpr qint64 StaleAfterMs = 5000;

    // Milliseconds on a clock that never goes back. Tests set their own.
    using Clock = std::function<qint64()>;
    // Told of every reading as it is taken (row, value, the clock then), and of every close
    // (row -1): what is kept of the past is the listener's.
    using Listener = std::function<void(int row, quint16 value, qint64 at)>;

    // Without a clock, the system's monotonic one (QElapsedTimer's).
    explicit CurrentReadings(Clock clock = Clock());

    // The window's one clock: the line's diagnosis and the tick rate read it too.
    qint64 now() const { return clock(); }
    // For a test that sets the time, before anything is read.
    void setClock(Clock clock);

    // A value the driver sent for the row, taken now.
    void record(int row, quint16 value);
    // The port has closed, or the line has gone: nothing read so far is current.
    void closed();

    // Read at least once since the program started (the value may be stale).
    bool heard(int row) const { return valid(row) && rows[row].heard; }
    bool isCurrent(int row) const;
    // The last value taken, current or not; 0 when never heard.
    quint16 value(int row) const { return valid(row) ? rows[row].value : 0; }
    // The clock when the row was last read; -1 when never.
    qint64 takenAt(int row) const { return heard(row) ? rows[row].at : -1; }

    void addListener(Listener listener) { listeners.push_back(std::move(listener)); }

private:
    struct Row
    {
        quint16 value = 0;
        bool heard = false;
        bool sinceClose = false;
        qint64 at = 0;
    };
    static bool valid(int row) { return row >= 0 && row < Capacity; }

    Clock clock;
    Row rows[Capacity];
    std::vector<Listener> listeners;
};

#endif // CURRENTREADINGS_H
