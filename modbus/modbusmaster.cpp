#include "modbusmaster.h"

#include "registermap.h"

#include <QDebug>

#include <cstring>

namespace {

constexpr quint8 ExceptionBit = 0x80;
// Slave, function, CRC: the shortest frame that can be an answer.
constexpr quint16 MinAnswerLength = 4;
// Slave, 03, byte count, value high, value low, CRC.
constexpr quint16 ReadReplyLength = 7;
constexpr quint8 ReadByteCount = 2;
// Slave, function | 0x80, exception code, CRC.
constexpr quint16 ExceptionLength = 5;

bool isCopy(const quint8 *data, quint16 length, const quint8 *frame, quint16 frameLength)
{
    return length == frameLength && std::memcmp(data, frame, length) == 0 &&
           RtuFrame::passesCrc(data, length);
}

bool isException(const quint8 *data, quint16 length, quint8 slave, quint8 function)
{
    return length == ExceptionLength && data[0] == slave && data[1] == (function | ExceptionBit) &&
           RtuFrame::passesCrc(data, length);
}

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
    // Another adapter may be behind the same port name. A send's echo still due stays due: a
    // write sent before the close is not confirmed by its first copy after the open.
    if (!wasOpen)
        echo = LineEcho::Unknown;
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
    // After a send, the driver's copy confirms the write and an exception refuses it; anything
    // else is the poll's.
    if (writeSends > 0 && responseBuffer.ready == 1) {
        responseBuffer.ready = 0;
        QueuedFrame front;
        writeQueue.peek(front);
        const quint8 *data = responseBuffer.data;
        quint16 length = responseBuffer.length;
        const bool echoOnly = skipEcho(data, length) && length == 0;
        const bool confirmed = !echoOnly && isCopy(data, length, front.data, front.length);
        const bool refused = !echoOnly && isException(data, length, front.data[0], front.data[1]);
        if (confirmed || refused) {
            lastHeard = lastAnswer = now;
            deviceOnline = 1;
            finishWrite();
            if (refused)
                link.writeFailed(WriteFailure::Refused);
            if (writeQueue.isEmpty())
                return;
        } else if (!echoOnly) {
            examine(data, length);
        }
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
    // A burst still waiting is a poll reply; the copy would overwrite it.
    examineWaiting();
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
    if (front.length == RtuFrame::RequestLength) {
        RtuFrame::Request frame;
        std::memcpy(frame.data(), front.data, frame.size());
        sent(frame);
    } else {
        echoDue = false;
    }
}

void ModbusMaster::sent(const RtuFrame::Request &frame)
{
    lastSent = frame;
    echoDue = true;
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
    examineWaiting();
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
    if (entry.functionCode == RegisterMap::FunctionReadHolding) {
        link.sendReadRequest(entry.slave, entry.registerAddress);
        sent(RtuFrame::readRequest(entry.slave, entry.registerAddress));
    } else if (entry.functionCode == RegisterMap::FunctionWriteSingle) {
        link.sendWriteRequest(entry.slave, entry.registerAddress, entry.value);
        sent(RtuFrame::writeRequest(entry.slave, entry.registerAddress, entry.value));
    } else {
        return;
    }

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
    examine(responseBuffer.data, responseBuffer.length);
}

bool ModbusMaster::examineNow(bool portOpen)
{
    if (!portOpen || pollTable.count == 0)
        return false;
    if (!writeQueue.isEmpty()) {
        // A write's echo alone is set aside at once: left for the tick, the driver's copy could
        // land on top of it first and be taken for the echo.
        if (writeSends == 0 || responseBuffer.ready != 1)
            return false;
        const quint8 *data = responseBuffer.data;
        quint16 length = responseBuffer.length;
        if (length != RtuFrame::RequestLength || !skipEcho(data, length))
            return false;
        responseBuffer.ready = 0;
        return true;
    }
    // Only where the next tick would listen; a send or slot-over tick handles bursts itself.
    if (pollTable.phase == PollTable::SendPhase || pollTable.phase >= PollTable::SlotOver)
        return false;
    // A burst too short to test changes the slot's count on its tick; leave it to the tick.
    if (responseBuffer.ready != 1 || responseBuffer.length < 2)
        return false;
    examineWaiting();
    return true;
}

void ModbusMaster::examineWaiting()
{
    if (responseBuffer.ready != 1)
        return;
    responseBuffer.ready = 0;
    examine(responseBuffer.data, responseBuffer.length);
}

bool ModbusMaster::skipEcho(const quint8 *&data, quint16 &length)
{
    if (!echoDue || length < lastSent.size() ||
        std::memcmp(data, lastSent.data(), lastSent.size()) != 0)
        return false;
    // A read request can never be an answer, so its copy is always the echo. A write's copy is
    // also the driver's confirmation: it is the echo only on a line that echoes, or may.
    const bool read = lastSent[1] == RegisterMap::FunctionReadHolding;
    if (!read && echo == LineEcho::NoEcho)
        return false;
    echoDue = false;
    data += lastSent.size();
    length = quint16(length - lastSent.size());
    if (read && echo != LineEcho::Echoes) {
        echo = LineEcho::Echoes;
        qDebug("serial line echoes what the panel sends; echoes are set aside");
    }
    return true;
}

bool ModbusMaster::answersRow(const quint8 *data, quint16 length) const
{
    const PollEntry &entry = pollTable.entries[pollTable.cursor];
    if (isException(data, length, entry.slave, readFunction))
        return true;
    if (length < MinAnswerLength || data[0] != entry.slave || data[1] != readFunction)
        return false;
    if (readFunction == RegisterMap::FunctionReadHolding)
        return length == ReadReplyLength && data[2] == ReadByteCount &&
               RtuFrame::passesCrc(data, length);
    const RtuFrame::Request request =
        RtuFrame::writeRequest(entry.slave, entry.registerAddress, entry.value);
    return isCopy(data, length, request.data(), quint16(request.size()));
}

void ModbusMaster::examine(const quint8 *data, quint16 length)
{
    // The panel's own request coming back tells nothing of the driver.
    if (skipEcho(data, length) && length == 0)
        return;
    lastHeard = now;
    // Only an answer to the outstanding requests counts: a late write copy, or any reply while
    // nothing is outstanding, answers no row.
    if (readsOut == 0 || !answersRow(data, length))
        return;

    lastAnswer = now;
    deviceOnline = 1;
    if (readFunction == RegisterMap::FunctionReadHolding) {
        if (data[1] == readFunction)
            recordReading(pollTable.cursor, static_cast<quint16>(data[3] << 8 | data[4]));
        // Answered with nothing before it: the line does not echo, unless it has shown it does.
        if (echoDue && echo == LineEcho::Unknown)
            echo = LineEcho::NoEcho;
    }
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
