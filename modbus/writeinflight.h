#ifndef WRITEINFLIGHT_H
#define WRITEINFLIGHT_H

#include "answerfinder.h"
#include "registerwritequeue.h"

#include <QtGlobal>

class MasterLink;

// The operator's register writes on their way to the driver: the queue's front frame, its sends
// and the bytes heard since the last of them, and the flush that sends what is queued when the
// port is about to close. The queue and the two pacing flags belong to MainWindow.
//
// Rules:
// - A frame goes out DelayTicks after the last queueing or the last send, in place of a poll;
//   the next frame keeps that pace.
// - Only what is heard since a frame's last send answers it: its copy confirms it (where the
//   line echoes, or may, the copy after the echo), its exception refuses it (reported). No
//   confirmation DelayTicks after the last of MaxSends sends: not confirmed (reported).
// - Where the line is not known to echo, a lone copy after the last send may be the driver's:
//   the write is then taken as done, never reported as failed, and not sent again.
// - Flush: from flush() on, a frame not yet sent goes out at once, while resends keep their
//   pace; once the queue is empty the flush is over. FlushTicks after it began, whatever is left
//   is dropped as dropAll() drops it.
// - dropAll() empties the queue, reporting each frame: not confirmed if it was sent, not sent
//   otherwise. Nothing queued before a close goes out after it.
class WriteInFlight
{
public:
    static constexpr quint16 DelayTicks = 100;
    // Sends of one frame, the first included, before it is given up.
    static constexpr int MaxSends = 3;
    static constexpr quint32 FlushTicks = 1000;

    enum class Answer { None, Confirmed, Refused };

    WriteInFlight(RegisterWriteQueue &queue, quint8 &writePending, quint16 &writeDelay);

    // Builds the function 06 frame for slave 1 and pushes it. On success the delay restarts and
    // a write is pending; on refusal nothing changes. Returns the push result.
    int queue(int reg, int value);
    bool isEmpty() const { return writeQueue.isEmpty(); }
    // The front frame has gone out at least once.
    bool sent() const { return sends > 0; }
    // The front frame waits for its first send on this tick and the next: a poll may go out
    // meanwhile, to learn the line.
    bool firstSendWaits() const;
    void countDelay() { ++writeDelay; }

    void hear(const quint8 *bytes, quint16 count);
    void gap() { answers.gap(); }
    void forgetHeard() { answers.clear(); }

    // The answer to the last send among the bytes heard since; the frame leaves the queue on
    // either answer.
    Answer takeAnswer(bool lineMayEcho, MasterLink &link);
    // Counts the delay; true when the front frame is to go out on this tick. A frame whose time
    // is up without an answer is given up or taken as done first, and the next takes its place.
    bool sendDue(bool lineEchoes, MasterLink &link);
    void send(MasterLink &link);

    // False when nothing is queued.
    bool flush();
    bool flushing() const { return flushActive; }
    // Counts the flush's time; once it is up, drops what is left and returns true.
    bool flushOver(bool lineEchoes, MasterLink &link);
    void dropAll(bool lineEchoes, MasterLink &link);

private:
    // A copy came after the last send where it may be the driver's.
    bool copiedSinceSend(bool lineEchoes) const { return !lineEchoes && !answers.echoDue(); }
    void finish();

    RegisterWriteQueue &writeQueue;
    quint8 &writePending;
    quint16 &writeDelay;
    int sends = 0; // of the front frame so far
    AnswerFinder answers;
    bool flushActive = false;
    quint32 flushTicks = 0;
};

#endif // WRITEINFLIGHT_H
