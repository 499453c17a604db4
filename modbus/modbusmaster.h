#ifndef MODBUSMASTER_H
#define MODBUSMASTER_H

#include "answerfinder.h"
#include "currentreadings.h"
#include "polltable.h"
#include "registerwritequeue.h"
#include "responsebuffer.h"
#include "rtuframe.h"
#include "writeinflight.h"

#include <QtGlobal>

#include <cstdio>

// How a queued write ended without the driver taking it, as far as the master can tell.
enum class WriteFailure {
    Refused,      // the driver answered it with an exception
    NotConfirmed, // no echo after the last of its sends
    NotSent,      // dropped at a close before it could go out
};

// Where the master's frames go. MainWindow routes them to its serial channel; tests capture them.
class MasterLink
{
public:
    virtual ~MasterLink() = default;
    // Both return what the channel's write returned; the master does not look at it.
    virtual int sendReadRequest(int slave, int reg) = 0;
    virtual int sendWriteRequest(int slave, int reg, int value) = 0;
    virtual void writeFrame(const quint8 *bytes, quint16 length) = 0;
    // Called from inside a step: telling the operator has to wait until the step has returned.
    virtual void writeFailed(WriteFailure failure, const QueuedFrame &frame) = 0;
    // The write is done: the driver's copy came (exception 0), or its exception (the code; a
    // writeFailed follows). Also a write taken as done on a copy that may be the driver's.
    virtual void writeAnswered(const QueuedFrame &, quint8) {}
};

// One line per sent register write: "write_dir 8 :01 06 9c 4e 00 01 06 4d \r\n", flushed.
void traceFrame(const char *name, const quint8 *bytes, quint16 count, FILE *out = stdout);

// The Modbus RTU master, one step per tick: serve the write queue, or advance the poll cycle.
// The poll table, the queue and the flags belong to MainWindow and are held by reference, so a
// test can build the same state on its own and drive it tick by tick without widgets or a port.
// The master's own state is the account of requests still unanswered, the time the driver has
// been seen to take, and the writes on their way (WriteInFlight). Whether a reading is current
// is CurrentReadings' to say: the master hands it every value and every close.
//
// Replies carry no register number. The rule that keeps a reply on its register: a reply is
// credited only while every read request that could still be answered was for the row under the
// cursor, and only to that row. Requests for another row go out only once all of them are
// answered or written off, and they are written off only after the line has been silent for
// longer than the driver has been seen to take to answer, plus a margin.
//
// Only a well-formed answer counts (AnswerFinder has the shapes): the request's exception, a
// read's value, a write's copy. It is looked for in every byte heard since the row's requests
// went out, wherever it stands and however many bursts it came in; anything else only shows that
// the line is not silent. The rest of a cut answer is waited for as any answer is, within the
// slot and write-off rules, never longer.
//
// Two-wire RS-485 adapters often hear what the panel sends; the request heard back is set aside.
// Whether the line echoes is learnt afresh at every open, from the reads: a read request's echo
// says it does, a read answered without one says it does not. On a line that echoes, or may, a
// write's first copy is its echo and only a copy after it confirms the write.
//
// Every burst waiting when a step starts is taken in, whatever the step does next. Where bytes
// were lost between two bursts (ResponseBuffer says so), no answer is looked for across the gap.
//
// Nothing queued crosses a close: the first step with the port closed drops what is left,
// reported. To send it instead, the owner flushes first and closes once flushing() is false.
class ModbusMaster
{
public:
    ModbusMaster(PollTable &pollTable, RegisterWriteQueue &writeQueue,
                 ResponseBuffer &responseBuffer, quint8 &writePending, quint16 &writeDelay,
                 quint8 &deviceOnline);

    static constexpr quint16 WriteDelayTicks = WriteInFlight::DelayTicks;
    static constexpr int MaxWriteSends = WriteInFlight::MaxSends;
    // Bounds of the silence that writes requests off. The lower one stands for every driver
    // until it has shown how slow it is; the upper one is how long a driver that has gone away
    // (or a line that never falls silent) can hold the poll cycle on one row.
    static constexpr quint32 MinWriteOffTicks = 400;
    static constexpr quint32 MaxWriteOffTicks = 2000;

    // Where the values read and the closes go; none until set.
    void setReadings(CurrentReadings *readings) { this->readings = readings; }

    void step(bool portOpen, MasterLink &link);

    // Takes a burst in as soon as it has arrived, so no later burst can land on top of it, and
    // examines it at once where the next tick would listen, so a reply shows a tick sooner. The
    // slot keeps its length: the next tick counts on as if it had examined the burst itself.
    // False when the next tick has to judge the burst.
    bool examineNow(bool portOpen);

    // Builds the function 06 frame for slave 1 and pushes it. On success the delay restarts and
    // a write is pending; on refusal nothing changes. Returns the push result.
    int queueWrite(int reg, int value) { return writes.queue(reg, value); }

    // The port is to close: what is queued goes out at once, as WriteInFlight flushes. False when
    // nothing is queued.
    bool beginFlush() { return writes.flush(); }
    bool flushing() const { return writes.flushing(); }
    // The flush cannot wait any longer: what is left is dropped, reported.
    void endFlush(MasterLink &link) { writes.dropAll(echo == LineEcho::Echoes, link); }

    // A value read from the driver for the row: stored, marked heard, handed to the readings.
    void recordReading(int row, quint16 value);

    // The silence after which the requests still unanswered are written off.
    quint32 writeOffTicks() const;
    quint32 outstandingReads() const { return readsOut; }
    quint32 slowestAnswerTicks() const { return slowestAnswer; }

    // Answers taken since construction, of any kind; tells the line's diagnosis one came.
    quint32 answersTaken() const { return answers; }
    // The exception code of the row's last answer, 0 when it answered with a value.
    quint8 refusal(int row) const { return refusedWith[row]; }

    enum class LineEcho { Unknown, Echoes, NoEcho };
    LineEcho lineEcho() const { return echo; }

private:
    void serveQueue(MasterLink &link);
    void sendTick(MasterLink &link);
    void listen();
    // Moves a burst that has arrived into the bytes heard, where no later burst can overwrite
    // it; what it means is decided where the step would have looked at it. Bytes lost on the
    // way are a gap in the bytes heard.
    void hearWaiting();
    void hearGap();
    // The poll's side of the bytes heard: answers for the row under the cursor.
    void examine();
    void examineWaiting();
    void nextRow();
    void writeOff();
    bool writeOffDue() const;

    PollTable &pollTable;
    CurrentReadings *readings = nullptr;
    ResponseBuffer &responseBuffer;
    quint8 &deviceOnline;
    WriteInFlight writes;

    quint64 now = 0; // ticks stepped with the port open
    bool wasOpen = false;

    // Read requests sent and neither answered nor written off; all of them for the row under
    // the cursor and of the function readFunction.
    quint32 readsOut = 0;
    quint8 readFunction = 0;
    bool rowAnswered = false;       // the row under the cursor has had an answer on this visit
    bool answeredSinceSend = false; // an answer came after the last request
    // The one request out since the account was last clear: its answer times the driver.
    bool loneRequest = false;
    quint64 loneSentAt = 0;
    quint32 slowestAnswer = 0; // ticks, the most the driver has been seen to take
    quint64 lastHeard = 0;     // last request sent or burst of any kind heard
    quint64 lastAnswer = 0;    // last request sent or CRC-valid answer

    // The bytes heard since the row's requests went out.
    AnswerFinder rowAnswers;
    bool unexamined = false; // a burst heard that the step has not looked at yet
    quint16 unexaminedLength = 0;
    LineEcho echo = LineEcho::Unknown;

    quint32 answers = 0;
    quint8 refusedWith[PollTable::Capacity] = {};
};

#endif // MODBUSMASTER_H
