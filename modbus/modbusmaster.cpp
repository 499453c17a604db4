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
    : pollTable(pollTable), responseBuffer(responseBuffer), deviceOnline(deviceOnline),
      writes(writeQueue, writePending, writeDelay)
{}

void ModbusMaster::recordReading(int row, quint16 value)
{
    PollEntry &entry = pollTable.entries[row];
    entry.value = value;
    entry.heard = true;
    refusedWith[row] = 0;
    if (readings)
        readings->record(row, value);
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
            if (readings)
                readings->closed();
            // A command sent minutes later, perhaps to another driver, is not what was asked.
            writes.dropAll(echo == LineEcho::Echoes, link);
            wasOpen = false;
        }
        return;
    }
    // Another adapter may be behind the same port name. Bytes heard before the close do not run
    // on into those after it.
    if (!wasOpen) {
        echo = LineEcho::Unknown;
        rowAnswers.clear();
        writes.forgetHeard();
    }
    wasOpen = true;
    ++now;
    hearWaiting();

    // While writes are queued the poll cycle stands still; but until a read has shown whether
    // the line echoes, a write's copy could not be told from its echo, so the poll goes on while
    // the first send waits and the line is usually known when it goes out.
    if (!writes.isEmpty()) {
        if (echo != LineEcho::Unknown || !writes.firstSendWaits()) {
            serveQueue(link);
            return;
        }
        writes.countDelay();
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
    if (writes.flushOver(echo == LineEcho::Echoes, link))
        return;
    // After a send, the driver's copy confirms the write and an exception refuses it; the poll's
    // answers are taken as they come. Before the first send a poll reply waits for it.
    if (writes.sent() && unexamined) {
        examineWaiting();
        if (writes.takeAnswer(echo != LineEcho::NoEcho, link) != WriteInFlight::Answer::None) {
            lastAnswer = now;
            deviceOnline = 1;
            ++answers;
            if (writes.isEmpty())
                return;
        }
    }
    if (!writes.sendDue(echo == LineEcho::Echoes, link))
        return;
    examineWaiting();
    writes.send(link);
    lastHeard = lastAnswer = now;
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
    if (!unexamined || !writes.isEmpty())
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
    if (responseBuffer.lostBefore == 1) {
        responseBuffer.lostBefore = 0;
        hearGap();
    }
    if (responseBuffer.ready == 1) {
        responseBuffer.ready = 0;
        const quint8 *data = responseBuffer.data;
        const quint16 length = responseBuffer.length;
        lastHeard = now;
        if (readsOut > 0)
            rowAnswers.hear(data, length);
        writes.hear(data, length);
        unexamined = true;
        unexaminedLength = length;
    }
    if (responseBuffer.lostAfter == 1) {
        responseBuffer.lostAfter = 0;
        hearGap();
    }
}

void ModbusMaster::hearGap()
{
    rowAnswers.gap();
    writes.gap();
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
