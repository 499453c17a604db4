#ifndef TICKRATE_H
#define TICKRATE_H

#include <QtGlobal>

#include <functional>

// How fast the 1 ms tick really comes, against the clock. The poll slot and the write delay are
// counted in ticks, so a system that throttles the panel's timer slows the protocol: where fewer
// than half the nominal ticks arrive over a window of 5 s, the debug log says so once with the
// measured rate, and once again when the rate has recovered.
class TickRate
{
public:
    static constexpr qint64 WindowMs = 5000;
    static constexpr qint64 NominalPerSecond = 1000;

    // Milliseconds on a clock that never goes back.
    using Clock = std::function<qint64()>;
    explicit TickRate(Clock clock) : clock(std::move(clock)) {}

    void tick();
    // The last whole window had fewer than half the nominal ticks.
    bool slow() const { return slowNow; }
    // Ticks per second over the last whole window; 0 before the first.
    double rate() const { return measured; }

    // Asks Windows not to lower the timer's resolution while the window is minimised or covered
    // (Windows 11 does); elsewhere, and on systems without the call, does nothing.
    static void keepFullRateWhenHidden();

private:
    Clock clock;
    bool started = false;
    qint64 windowStart = 0;
    qint64 ticks = 0;
    bool slowNow = false;
    double measured = 0;
};

#endif // TICKRATE_H
