#include "modbusmaster.h"

#include "registermap.h"

#include <QDebug>

#include <algorithm>

void traceFrame(const char *name, const quint8 *bytes, quint16 count, FILE *out)
{
    std::fprintf(out, "%s %d :", name, count);
    for (quint16 i = 0; i < count; ++i)
        std::fprintf(out, "%02x ", bytes[i]);
    std::fprintf(out, "\r\n");
    std::fflush(out);
}

ModbusMaster::ModbusMaster(PollTable &pollTable, RegisterWriteQueue &writeQueue,
                           ResponseBuffer &responseBuffer, quint8 &writePending,
                           quint16 &writeDelay, quint8 &deviceOnline)
    : pollTable(pollTable), writeQueue(writeQueue), responseBuffer(responseBuffer),
      writePending(writePending), writeDelay(writeDelay), deviceOnline(deviceOnline)
{}

int ModbusMaster::queueWrite(int reg, int value)
{
    const RtuFrame::Request frame = RtuFrame::writeRequest(RegisterMap::SlaveAddress, reg, value);
    const int result = writeQueue.push(frame.data(), RtuFrame::RequestLength);
    if (result == RegisterWriteQueue::Stored) {
        writePending = 1;
        writeDelay = 0;
    }
    return result;
}

void ModbusMaster::recordReading(int row, quint16 value)
{
    PollEntry &entry = pollTable.entries[row];
    entry.value = value;
    entry.heard = true;
    refusedWith[row] = 0;
    readAt[row] = now;
    readSinceOpen[row] = true;
}

bool ModbusMaster::isCurrent(int row) const
{
    return pollTable.entries[row].heard && readSinceOpen[row] &&
           now - readAt[row] < StaleAfterTicks;
}

quint32 ModbusMaster::writeOffTicks() const
{
    // Half again what the driver has been seen to take, and a tenth of a second for the timers.
    return qBound(MinWriteOffTicks, slowestAnswer + slowestAnswer / 2 + 100, MaxWriteOffTicks);
}

bool ModbusMaster::writeOffDue() const
{
    // Anything heard, noise included, may be a reply that noise spoilt, with more to follow; so
    // only silence counts, unless the line never falls silent and no answer comes at all.
    return now - lastHeard > writeOffTicks() || now - lastAnswer > MaxWriteOffTicks;
}

void ModbusMaster::step(bool portOpen, MasterLink &link)
{
    if (!portOpen) {
        if (wasOpen) {
            // What was read before the close is not current once the port is open again.
            for (bool &read : readSinceOpen)
                read = false;
            wasOpen = false;
        }
        return;
    }
    // Another adapter may be behind the same port name. A send's echo still due stays due: a
    // write sent before the close is not confirmed by its first copy after the open. Bytes heard
    // before the close do not run on into those after it.
    if (!wasOpen) {
        echo = LineEcho::Unknown;
        rowAnswers.clear();
        writeAnswers.clear();
    }
    wasOpen = true;
    ++now;

    // While writes are queued the poll cycle stands still; but until a read has shown whether
    // the line echoes, a write's copy could not be told from its echo, so the poll goes on while
    // the first send waits and the line is usually known when it goes out.
    if (!writeQueue.isEmpty()) {
        const bool learning = echo == LineEcho::Unknown && writeSends == 0 && writePending == 1 &&
                              writeDelay + 1 < WriteDelayTicks;
        if (!learning) {
            serveQueue(link);
            return;
        }
        ++writeDelay;
    }

    if (pollTable.count == 0)
        return;

    if (pollTable.phase == PollTable::SendPhase) {
        sendTick(link);
        return;
    }

    if (pollTable.phase >= PollTable::SlotOver) {
        pollTable.phase = PollTable::SendPhase;
        return;
    }

    listen();
}

void ModbusMaster::serveQueue(MasterLink &link)
{
    // After a send, the driver's copy confirms the write and an exception refuses it; the poll's
    // answers are taken as they come. Before the first send a poll reply waits for it.
    hearWaiting();
    if (writeSends > 0 && unexamined) {
        examineWaiting();
        if (writeAnswered(link) && writeQueue.isEmpty())
            return;
    }

    if (writePending == 0)
        return;
    if (++writeDelay < WriteDelayTicks)
        return;
    writeDelay = 0;
    if (writeSends == MaxWriteSends) {
        // No copy in the 100 ticks after the last send: the next frame takes this send's place.
        finishWrite();
        link.writeFailed(WriteFailure::NotConfirmed);
        if (writeQueue.isEmpty())
            return;
    }
    examineWaiting();
    sendFront(link);
}

bool ModbusMaster::writeAnswered(MasterLink &link)
{
    for (;;) {
        const AnswerFinder::Frame frame = writeAnswers.next(echo != LineEcho::NoEcho);
        if (frame.kind == AnswerFinder::Kind::None)
            return false;
        if (frame.kind == AnswerFinder::Kind::Echo)
            continue;
        lastAnswer = now;
        deviceOnline = 1;
        ++answers;
        finishWrite();
        if (frame.kind == AnswerFinder::Kind::Exception)
            link.writeFailed(WriteFailure::Refused);
        return true;
    }
}

void ModbusMaster::sendFront(MasterLink &link)
{
    QueuedFrame front;
    writeQueue.peek(front);
    traceFrame("write_dir", front.data, front.length);
    link.writeFrame(front.data, front.length);
    ++writeSends;
    lastHeard = lastAnswer = now;
    // Only this send's answer counts: the copy of an earlier send could not be told from this
    // send's echo.
    writeAnswers.clear();
    if (front.length == RtuFrame::RequestLength) {
        RtuFrame::Request frame;
        std::copy(front.data, front.data + frame.size(), frame.begin());
        writeAnswers.sent(frame);
    }
}

void ModbusMaster::finishWrite()
{
    writeQueue.pop();
    writeSends = 0;
    writeAnswers.clear();
    if (writeQueue.isEmpty())
        writePending = 0;
}

void ModbusMaster::sendTick(MasterLink &link)
{
    // A reply that came after its slot ran out is still an answer: take it before deciding.
    examineWaiting();
    if (readsOut > 0 && writeOffDue())
        writeOff();
    pollTable.phase = 2;

    // The driver is still working through requests for this row: asking again would only
    // lengthen its queue. Asking the same row again is harmless, since any answer is its own.
    if (readsOut > 0 && answeredSinceSend)
        return;

    const PollEntry &entry = pollTable.entries[pollTable.cursor];
    RtuFrame::Request frame;
    if (entry.functionCode == RegisterMap::FunctionReadHolding) {
        link.sendReadRequest(entry.slave, entry.registerAddress);
        frame = RtuFrame::readRequest(entry.slave, entry.registerAddress);
    } else if (entry.functionCode == RegisterMap::FunctionWriteSingle) {
        link.sendWriteRequest(entry.slave, entry.registerAddress, entry.value);
        frame = RtuFrame::writeRequest(entry.slave, entry.registerAddress, entry.value);
    } else {
        return;
    }

    loneRequest = readsOut == 0;
    if (loneRequest) {
        // Nothing heard before the row's first request can be part of its answers.
        rowAnswers.clear();
        loneSentAt = now;
        readFunction = entry.functionCode;
    }
    rowAnswers.sent(frame);
    ++readsOut;
    answeredSinceSend = false;
    lastHeard = lastAnswer = now;
}

void ModbusMaster::listen()
{
    hearWaiting();
    if (!unexamined) {
        ++pollTable.phase;
        return;
    }
    unexamined = false;
    if (unexaminedLength < 2)
        return;
    ++pollTable.phase;
    examine();
}

bool ModbusMaster::examineNow(bool portOpen)
{
    if (!portOpen || pollTable.count == 0)
        return false;
    // Heard at once, so the next burst cannot land on top of it; judged where the step would
    // have judged it, so the cycle keeps its ticks.
    hearWaiting();
    if (!unexamined || !writeQueue.isEmpty())
        return false;
    // Only where the next tick would listen; a send or slot-over tick handles bursts itself.
    if (pollTable.phase == PollTable::SendPhase || pollTable.phase >= PollTable::SlotOver)
        return false;
    // A burst too short to test changes the slot's count on its tick; leave it to the tick.
    if (unexaminedLength < 2)
        return false;
    examineWaiting();
    return true;
}

void ModbusMaster::hearWaiting()
{
    if (responseBuffer.ready != 1)
        return;
    responseBuffer.ready = 0;
    const quint8 *data = responseBuffer.data;
    const quint16 length = responseBuffer.length;
    lastHeard = now;
    if (readsOut > 0)
        rowAnswers.hear(data, length);
    if (writeSends > 0)
        writeAnswers.hear(data, length);
    unexamined = true;
    unexaminedLength = length;
}

void ModbusMaster::examineWaiting()
{
    hearWaiting();
    if (!unexamined)
        return;
    unexamined = false;
    examine();
}

void ModbusMaster::examine()
{
    // Only an answer to the outstanding requests counts, one per request: a late write copy,
    // or any reply while nothing is outstanding, answers no row.
    while (readsOut > 0) {
        const AnswerFinder::Frame frame = rowAnswers.next(echo != LineEcho::NoEcho);
        const bool read = readFunction == RegisterMap::FunctionReadHolding;
        if (frame.kind == AnswerFinder::Kind::None)
            return;
        if (frame.kind == AnswerFinder::Kind::Echo) {
            if (read && echo != LineEcho::Echoes) {
                echo = LineEcho::Echoes;
                qDebug("serial line echoes what the panel sends; echoes are set aside");
            }
            continue;
        }

        lastAnswer = now;
        deviceOnline = 1;
        ++answers;
        if (frame.kind == AnswerFinder::Kind::Value)
            recordReading(pollTable.cursor, frame.value);
        else if (frame.kind == AnswerFinder::Kind::Exception && read)
            refusedWith[pollTable.cursor] = quint8(frame.value);
        // Answered with nothing before it: the line does not echo, unless it has shown it does.
        if (read && rowAnswers.echoDue() && echo == LineEcho::Unknown)
            echo = LineEcho::NoEcho;
        if (loneRequest) {
            const quint64 took = now - loneSentAt;
            slowestAnswer =
                quint32(qMax<quint64>(slowestAnswer, qMin<quint64>(took, MaxWriteOffTicks)));
            loneRequest = false;
        }
        --readsOut;
        rowAnswered = true;
        answeredSinceSend = true;
        if (readsOut == 0)
            nextRow();
    }
}

void ModbusMaster::writeOff()
{
    readsOut = 0;
    loneRequest = false;
    rowAnswers.clear();
    if (rowAnswered)
        nextRow();
}

void ModbusMaster::nextRow()
{
    pollTable.cursor =
        static_cast<quint8>(pollTable.cursor + 1 == pollTable.count ? 0 : pollTable.cursor + 1);
    rowAnswered = false;
    rowAnswers.clear();
}
