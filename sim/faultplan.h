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
    // Bytes around every reply, as a transceiver switching its transmitter on or off puts them.
    QByteArray leadBytes;
    QByteArray trailBytes;
    int byteGapMs = 0; // every byte of a reply a write of its own, this far apart: a slow UART
    // Non-empty: a unit that takes every write but answers it with these bytes, not its copy.
    QByteArray writeAnswer;
    // Nonzero: every reply comes from this slave address, as from a unit set to another address
    // that answers whatever it is asked.
    int answerSlave = 0;
    // Nonzero: every reply as a port at 115200 baud hears a unit sending at this rate: bytes
    // that never form a frame.
    int answerBaud = 0;
    bool silent = false; // take no notice of anything on the line
    // The line hears every request back, as a two-wire RS-485 adapter does: by turns in the
    // reply's burst and in one of its own, well ahead of the reply.
    bool localEcho = false;
    // Non-empty: a unit that takes one request at a time, in the order they came. Each reply
    // comes this long after the unit took its request, which is once the reply before it is
    // out; the delay is picked at random from the list, and a negative one means no reply.
    // Takes the place of delayMs.
    QVector<int> fifoDelaysMs;

    struct Write
    {
        int afterMs = 0; // from the request
        QByteArray bytes;
    };
    struct Shaped
    {
        QVector<Write> writes; // empty when the reply is dropped
        QString note;          // the faults applied, for the log; empty when none
        bool inTurn = false;   // afterMs counts from when the unit is done with earlier requests
    };

    explicit FaultPlan(quint32 seed = 1) : rng(seed) {}

    // The bytes a UART at receiverBaud (8N1) makes of bytes sent back to back at senderBaud.
    static QByteArray heardAt(const QByteArray &bytes, int senderBaud, int receiverBaud);

    // What goes on the line for this reply. Advances the reply counter.
    Shaped shape(const QByteArray &reply);
    // Whether the next request's echo goes out with its reply; alternates, starting with yes.
    bool echoJoinsReply() { return echoes++ % 2 == 0; }

    void reset(quint32 seed);
    int replyCount() const { return replies; }

private:
    bool chance(double probability);

    int replies = 0;
    int echoes = 0;
    std::mt19937 rng;
};

#endif // FAULTPLAN_H
