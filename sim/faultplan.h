#ifndef FAULTPLAN_H
#define FAULTPLAN_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <random>

// Line faults the simulated driver can put on its replies. Every field is off at its default.
// The every-N counters count replies, starting at 1 with the first reply after construction or
// reset(); the random choices (drop rate, stray bytes) come from a seeded generator.
class FaultPlan
{
public:
    int delayMs = 0;         // reply this long after the request
    int dropEvery = 0;       // drop every Nth reply
    double dropRate = 0.0;   // drop each reply with this probability
    int corruptCrcEvery = 0; // spoil the CRC of every Nth reply
    int splitGapMs = 0;      // send the reply in two writes this far apart
    int splitAt = 0;         // bytes in the first write; 0 for half the reply
    int strayBytes = 0;      // random bytes sent just ahead of each reply, in the same write
    bool silent = false;     // take no notice of anything on the line

    struct Write
    {
        int afterMs = 0; // from the request
        QByteArray bytes;
    };
    struct Shaped
    {
        QVector<Write> writes; // empty when the reply is dropped
        QString note;          // the faults applied, for the log; empty when none
    };

    explicit FaultPlan(quint32 seed = 1) : rng(seed) {}

    // What goes on the line for this reply. Advances the reply counter.
    Shaped shape(const QByteArray &reply);

    void reset(quint32 seed);
    int replyCount() const { return replies; }

private:
    bool chance(double probability);

    int replies = 0;
    std::mt19937 rng;
};

#endif // FAULTPLAN_H
