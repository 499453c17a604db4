#ifndef BURSTASSEMBLER_H
#define BURSTASSEMBLER_H

#include <QtGlobal>

// The channel's receive state machine without a port: each receive poll hands in the bytes it
// found (none for an empty poll), and the assembler gathers them into one burst. A burst is
// complete when an empty poll brings the modulo-5 count of empty polls round to 5; it then
// waits, refusing further bytes, until it is taken.
class BurstAssembler
{
public:
    static constexpr int Capacity = 2048;
    static constexpr int IdlePollsPerBurst = 5;

    enum class Poll {
        Quiet,     // empty poll that completed nothing
        Stored,    // the bytes were appended to the burst
        Discarded, // the bytes did not fit, or a completed burst waits; none of them was kept
        Completed  // empty poll that completed the burst: signal it once
    };

    // Back to idle with nothing gathered and the quiet count at 0.
    void reset();
    // One receive poll that found n bytes; n == 0 is an empty poll.
    Poll poll(const char *bytes, int n);
    // Copies the burst out (dest has room for Capacity bytes) and returns to idle. The quiet
    // count is left alone.
    void take(quint8 *dest, quint16 &length);

    qint32 state() const { return rxState; }
    qint32 idleCount() const { return idleTicks; }
    qint32 count() const { return rxCount; }
    const quint8 *data() const { return rxBuffer; }

private:
    friend class HcomProbe; // test access to the receive state

    qint32 rxState = 0; // 0 idle, 1 receiving, 2 burst complete
    qint32 idleTicks = 0;
    qint32 rxCount = 0;
    quint8 rxBuffer[Capacity] = {};
};

#endif // BURSTASSEMBLER_H
