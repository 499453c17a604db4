#ifndef TECSTABILITY_H
#define TECSTABILITY_H

#include <QString>
#include <QtGlobal>

// Has the TEC settled: its temperature within ±0.10 ℃ of the LD temperature setting for the last
// 30 s, both read without a break. Fed every reading of the two rows and every close, on the
// readings' monotonic clock.
class TecStability
{
public:
    static constexpr int ToleranceHundredths = 10;
    static constexpr qint64 StableAfterMs = 30000;

    void take(int row, quint16 value, qint64 at);
    void closed();

    // "TEC stable", "TEC settling: 0.42 ℃ from the setting", or empty while either reading is not
    // current at `now`.
    QString text(qint64 now, bool english) const;

private:
    bool current(qint64 at, qint64 now) const;

    qint64 tempAt = -1;
    qint64 settingAt = -1;
    quint16 temp = 0;
    quint16 setting = 0;
    qint64 withinSince = -1; // -1: not within, or not for an unbroken stretch
};

#endif // TECSTABILITY_H
