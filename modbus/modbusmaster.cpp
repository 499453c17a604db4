#include "modbusmaster.h"

#include "registermap.h"
#include "rtuframe.h"

#include <cstring>

namespace {

constexpr quint8 ExceptionBit = 0x80;
// Slave, function, CRC: the shortest frame that can be an answer.
constexpr quint16 MinAnswerLength = 4;
// Slave, 03, byte count, value high, value low, CRC.
constexpr quint16 ReadReplyLength = 7;

} // namespace

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
    wasOpen = true;
    ++now;

    // While writes are queued the poll cycle stands still.
    if (!writeQueue.isEmpty()) {
        serveQueue(link);
        return;
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
    // After a send, the driver's echo confirms the write and an exception refuses it; anything
    // else is the poll's.
    if (writeSends > 0 && responseBuffer.ready == 1) {
        responseBuffer.ready = 0;
        QueuedFrame front;
        writeQueue.peek(front);
        const quint8 *data = responseBuffer.data;
        const quint16 length = responseBuffer.length;
        const bool valid = length >= MinAnswerLength && RtuFrame::passesCrc(data, length);
        const bool echo =
            valid && length == front.length && std::memcmp(data, front.data, length) == 0;
        const bool refused = valid && data[1] == (front.data[1] | ExceptionBit);
        if (echo || refused) {
            lastHeard = lastAnswer = now;
            deviceOnline = 1;
            finishWrite();
            if (refused)
                link.writeFailed(WriteFailure::Refused);
            if (writeQueue.isEmpty())
                return;
        } else {
            examine();
        }
    }

    if (writePending == 0)
        return;
    if (++writeDelay < WriteDelayTicks)
        return;
    writeDelay = 0;
    if (writeSends == MaxWriteSends) {
        // No echo in the 100 ticks after the last send: the next frame takes this send's place.
        finishWrite();
        link.writeFailed(WriteFailure::NotConfirmed);
        if (writeQueue.isEmpty())
            return;
    }
    // A burst still waiting is a poll reply; the echo would overwrite it.
    if (responseBuffer.ready == 1) {
        responseBuffer.ready = 0;
        examine();
    }
    sendFront(link);
}

void ModbusMaster::sendFront(MasterLink &link)
{
    QueuedFrame front;
    writeQueue.peek(front);
    traceFrame("write_dir", front.data, front.length);
    link.writeFrame(front.data, front.length);
    ++writeSends;
    lastHeard = lastAnswer = now;
}

void ModbusMaster::finishWrite()
{
    writeQueue.pop();
    writeSends = 0;
    if (writeQueue.isEmpty())
        writePending = 0;
}

void ModbusMaster::sendTick(MasterLink &link)
{
    // A reply that came after its slot ran out is still an answer: take it before deciding.
    if (responseBuffer.ready == 1) {
        responseBuffer.ready = 0;
        examine();
    }
    if (readsOut > 0 && writeOffDue()) {
        readsOut = 0;
        loneRequest = false;
        if (rowAnswered)
            nextRow();
    }
    pollTable.phase = 2;

    // The driver is still working through requests for this row: asking again would only
    // lengthen its queue. Asking the same row again is harmless, since any answer is its own.
    if (readsOut > 0 && answeredSinceSend)
        return;

    const PollEntry &entry = pollTable.entries[pollTable.cursor];
    if (entry.functionCode == RegisterMap::FunctionReadHolding)
        link.sendReadRequest(entry.slave, entry.registerAddress);
    else if (entry.functionCode == RegisterMap::FunctionWriteSingle)
        link.sendWriteRequest(entry.slave, entry.registerAddress, entry.value);
    else
        return;

    loneRequest = readsOut == 0;
    if (loneRequest) {
        loneSentAt = now;
        readFunction = entry.functionCode;
    }
    ++readsOut;
    answeredSinceSend = false;
    lastHeard = lastAnswer = now;
}

void ModbusMaster::listen()
{
    if (responseBuffer.ready != 1) {
        ++pollTable.phase;
        return;
    }
    responseBuffer.ready = 0;
    if (responseBuffer.length < 2) {
        lastHeard = now;
        return;
    }
    ++pollTable.phase;
    examine();
}

bool ModbusMaster::examineNow(bool portOpen)
{
    if (!portOpen || !writeQueue.isEmpty() || pollTable.count == 0)
        return false;
    // Only where the next tick would listen; a send or slot-over tick handles bursts itself.
    if (pollTable.phase == PollTable::SendPhase || pollTable.phase >= PollTable::SlotOver)
        return false;
    // A burst too short to test changes the slot's count on its tick; leave it to the tick.
    if (responseBuffer.ready != 1 || responseBuffer.length < 2)
        return false;
    responseBuffer.ready = 0;
    examine();
    return true;
}

void ModbusMaster::examine()
{
    lastHeard = now;
    const quint8 *data = responseBuffer.data;
    const quint16 length = responseBuffer.length;
    if (length < MinAnswerLength || !RtuFrame::passesCrc(data, length))
        return;
    // Only a reply of the kind the outstanding requests ask for answers one of them: a late
    // write echo, or any reply while nothing is outstanding, answers no row.
    const quint8 function = data[1];
    if (readsOut == 0 || quint8(function & ~ExceptionBit) != readFunction)
        return;

    lastAnswer = now;
    deviceOnline = 1;
    if (function == RegisterMap::FunctionReadHolding && length >= ReadReplyLength)
        recordReading(pollTable.cursor, static_cast<quint16>(data[3] << 8 | data[4]));
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

void ModbusMaster::nextRow()
{
    pollTable.cursor =
        static_cast<quint8>(pollTable.cursor + 1 == pollTable.count ? 0 : pollTable.cursor + 1);
    rowAnswered = false;
}
