#include "writeinflight.h"

#include "modbusmaster.h"
#include "registermap.h"
#include "rtuframe.h"

#include <algorithm>

WriteInFlight::WriteInFlight(RegisterWriteQueue &queue, quint8 &writePending, quint16 &writeDelay)
    : writeQueue(queue), writePending(writePending), writeDelay(writeDelay)
{}

int WriteInFlight::queue(int reg, int value)
{
    const RtuFrame::Request frame = RtuFrame::writeRequest(RegisterMap::SlaveAddress, reg, value);
    const int result = writeQueue.push(frame.data(), RtuFrame::RequestLength);
    if (result == RegisterWriteQueue::Stored) {
        writePending = 1;
        writeDelay = 0;
    }
    return result;
}

bool WriteInFlight::firstSendWaits() const
{
    return !flushActive && sends == 0 && writePending == 1 && writeDelay + 1 < DelayTicks;
}

void WriteInFlight::hear(const quint8 *bytes, quint16 count)
{
    if (sends > 0)
        answers.hear(bytes, count);
}

WriteInFlight::Answer WriteInFlight::takeAnswer(bool lineMayEcho, MasterLink &link)
{
    for (;;) {
        const AnswerFinder::Frame frame = answers.next(lineMayEcho);
        if (frame.kind == AnswerFinder::Kind::None)
            return Answer::None;
        if (frame.kind == AnswerFinder::Kind::Echo)
            continue;
        QueuedFrame front;
        writeQueue.peek(front);
        if (frame.kind != AnswerFinder::Kind::Exception) {
            link.writeAnswered(front, 0);
            finish();
            return Answer::Confirmed;
        }
        link.writeAnswered(front, quint8(frame.value));
        link.writeFailed(WriteFailure::Refused, front);
        finish();
        return Answer::Refused;
    }
}

bool WriteInFlight::sendDue(bool lineEchoes, MasterLink &link)
{
    if (writePending == 0)
        return false;
    if (!(flushActive && sends == 0) && ++writeDelay < DelayTicks)
        return false;
    writeDelay = 0;
    if (sends > 0) {
        const bool copied = copiedSinceSend(lineEchoes);
        if (!copied && sends < MaxSends)
            return true;
        QueuedFrame front;
        writeQueue.peek(front);
        if (copied)
            link.writeAnswered(front, 0);
        else
            link.writeFailed(WriteFailure::NotConfirmed, front);
        finish();
    }
    return !writeQueue.isEmpty();
}

void WriteInFlight::send(MasterLink &link)
{
    QueuedFrame front;
    writeQueue.peek(front);
    traceFrame("write_dir", front.data, front.length);
    link.writeFrame(front.data, front.length);
    ++sends;
    // Only this send's answer counts: the copy of an earlier send could not be told from this
    // send's echo.
    answers.clear();
    if (front.length == RtuFrame::RequestLength) {
        RtuFrame::Request frame;
        std::copy(front.data, front.data + frame.size(), frame.begin());
        answers.sent(frame);
    }
}

bool WriteInFlight::flush()
{
    if (writeQueue.isEmpty())
        return false;
    flushActive = true;
    flushTicks = 0;
    return true;
}

bool WriteInFlight::flushOver(bool lineEchoes, MasterLink &link)
{
    if (!flushActive || ++flushTicks < FlushTicks)
        return false;
    dropAll(lineEchoes, link);
    return true;
}

void WriteInFlight::dropAll(bool lineEchoes, MasterLink &link)
{
    QueuedFrame frame;
    for (bool front = true; writeQueue.peek(frame) == 1; front = false) {
        if (!front || sends == 0)
            link.writeFailed(WriteFailure::NotSent, frame);
        else if (!copiedSinceSend(lineEchoes))
            link.writeFailed(WriteFailure::NotConfirmed, frame);
        else
            link.writeAnswered(frame, 0);
        writeQueue.pop();
    }
    sends = 0;
    answers.clear();
    writePending = 0;
    writeDelay = 0;
    flushActive = false;
}

void WriteInFlight::finish()
{
    writeQueue.pop();
    sends = 0;
    answers.clear();
    if (writeQueue.isEmpty()) {
        writePending = 0;
        flushActive = false;
    }
}
