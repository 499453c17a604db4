#ifndef ANSWERFINDER_H
#define ANSWERFINDER_H

#include "rtuframe.h"

#include <QtGlobal>

// Finds the driver's answer to one request in the bytes the line delivers, however the line
// wraps it: a glitch byte ahead of it or after it (a transceiver switching its transmitter on
// or off), the panel's own request heard back before it, an answer cut into bursts by an
// adapter's latency timer or a slow UART. Bytes are kept across bursts, not judged burst by
// burst.
//
// Contract:
// - Only bytes heard since the last clear() are looked at. The owner clears before the first
//   request of an exchange, so no byte heard before a request can be part of its answer.
// - next() returns the first complete frame, searching from the oldest byte kept, of these:
//   - Echo: a copy of the request. For a read it is always the line's echo, since a request is
//     never an answer. For a write the copy is also the driver's confirmation: the first copy
//     after each send is the echo when the line echoes or may, and only a copy after it is
//     Confirmed. On a line that does not echo, the first copy is Confirmed.
//   - Value, for a read: slave, 03, byte count 2, the register's two bytes, the CRC (7 bytes).
//   - Exception: slave, the request's function with 0x80, a code, the CRC (5 bytes).
//   The frame and every byte before it are used up; bytes after it stay for the next call.
//   None: no complete frame yet. Everything stays: a frame cut short may still be completed.
// - Never noise as a frame: a frame must match its fixed bytes and its CRC at one position.
//   For random bytes that is 1 in 2^40 per position for a value (slave, function, byte count
//   and the CRC), 1 in 2^32 for an exception, 1 in 2^64 for a copy of the request; the store
//   holds a few hundred bytes at most, so a false frame is negligible.
// - Never a frame across a gap: after gap(), the bytes kept may still give their frames, but the
//   next bytes heard start the store afresh, since what the line lost between them may have
//   stood in the middle of either.
// - The store is bounded: beyond Capacity bytes the oldest are dropped.
class AnswerFinder
{
public:
    static constexpr int Capacity = 256;

    enum class Kind { None, Echo, Value, Confirmed, Exception };
    struct Frame
    {
        Kind kind = Kind::None;
        quint16 value = 0; // Value: the register's; Exception: its code
    };

    // Forgets every byte heard.
    void clear();
    // The request has just gone out: its echo, where the line echoes, comes before its answer.
    void sent(const RtuFrame::Request &frame);
    void hear(const quint8 *bytes, quint16 count);
    // Bytes were lost on the line after those heard so far.
    void gap() { afterGap = true; }
    // lineMayEcho: the line echoes or is not known yet; only a write's copy depends on it.
    Frame next(bool lineMayEcho);

    // Nothing has been found to be the echo since the last send.
    bool echoDue() const { return echoPending; }
    int stored() const { return count; }

private:
    // Drops the first n bytes kept.
    void drop(int n);
    bool isException(int at) const;
    bool isValue(int at) const;

    RtuFrame::Request request = {};
    bool echoPending = false;
    quint8 bytes[Capacity] = {};
    int count = 0;
    bool afterGap = false;
};

#endif // ANSWERFINDER_H
