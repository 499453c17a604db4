#include "modbusmaster.h"

#include "registermap.h"
#include "rtuframe.h"

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

void ModbusMaster::step(bool portOpen, MasterLink &link)
{
    if (!portOpen)
        return;

    // While writes are queued the poll cycle stands still.
    if (!writeQueue.isEmpty()) {
        if (writePending == 0)
            return;
        if (++writeDelay < WriteDelayTicks)
            return;
        writeDelay = 0;
        QueuedFrame front;
        writeQueue.peek(front);
        traceFrame("write_dir", front.data, front.length);
        link.writeFrame(front.data, front.length);
        writeQueue.pop();
        if (writeQueue.isEmpty())
            writePending = 0;
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

void ModbusMaster::sendTick(MasterLink &link)
{
    // A burst still waiting answers an earlier request; crediting it to this one would put
    // another register's value here.
    if (responseBuffer.ready == 1) {
        noteBurst();
        responseBuffer.ready = 0;
    }

    const PollEntry &entry = pollTable.entries[pollTable.cursor];
    if (pollTable.awaitingReply) {
        // The slot ran out; its reply may still come. The row is asked again, so a late reply
        // still lands on the right register, but it must not reach the next row.
        pollTable.awaitingReply = false;
        if (pollTable.lateReplies < 0xFF)
            ++pollTable.lateReplies;
        pollTable.lateFunction = entry.functionCode;
    }

    if (pollTable.settling) {
        // Anything heard, noise included, may be a late reply that noise spoiled, so only a
        // whole slot of silence ends the wait early. A line that never falls silent gets a
        // bounded wait: no reply comes a second late.
        if (pollTable.lateReplies > 0 && pollTable.heardInSlot &&
            ++pollTable.quietSlots < PollTable::MaxQuietSlots) {
            pollTable.heardInSlot = false;
            pollTable.phase = 2; // one more quiet slot
            return;
        }
        // Every late reply came, or the line stayed silent for a slot: the rest are lost.
        pollTable.settling = false;
        pollTable.lateReplies = 0;
        pollTable.quietSlots = 0;
    }

    if (entry.functionCode == RegisterMap::FunctionReadHolding)
        link.sendReadRequest(entry.slave, entry.registerAddress);
    else if (entry.functionCode == RegisterMap::FunctionWriteSingle)
        link.sendWriteRequest(entry.slave, entry.registerAddress, entry.value);
    pollTable.awaitingReply = true;
    pollTable.phase = 2;
}

bool ModbusMaster::burstAnswers(quint8 function) const
{
    const quint16 length = responseBuffer.length;
    if (length < 2 || responseBuffer.data[1] != function ||
        !RtuFrame::passesCrc(responseBuffer.data, length))
        return false;
    // slave, 03, byte count, value high, value low, CRC: anything shorter carries no value.
    if (function == RegisterMap::FunctionReadHolding)
        return length >= 7;
    return function == RegisterMap::FunctionWriteSingle ||
           function == RegisterMap::FunctionWriteMultiple;
}

void ModbusMaster::noteBurst()
{
    if (pollTable.settling)
        pollTable.heardInSlot = true;
    if (pollTable.lateReplies > 0 && burstAnswers(pollTable.lateFunction))
        --pollTable.lateReplies;
}

void ModbusMaster::listen()
{
    if (responseBuffer.ready != 1) {
        ++pollTable.phase;
        return;
    }
    responseBuffer.ready = 0;
    if (responseBuffer.length < 2) {
        noteBurst();
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
    // One answer per request: once the slot has its answer, or before any request went out,
    // a burst answers nothing (though it may be a late reply we were waiting for).
    if (!pollTable.awaitingReply) {
        noteBurst();
        return;
    }

    const quint8 function = responseBuffer.data[1];
    if (!burstAnswers(function))
        return;
    if (function == RegisterMap::FunctionReadHolding) {
        PollEntry &entry = pollTable.entries[pollTable.cursor];
        entry.value = static_cast<quint16>(responseBuffer.data[3] << 8 | responseBuffer.data[4]);
        entry.heard = true;
    }

    deviceOnline = 1;
    pollTable.awaitingReply = false;
    // Late replies for this row may still be on their way: wait them out before the next row.
    if (pollTable.lateReplies > 0) {
        pollTable.settling = true;
        pollTable.heardInSlot = true; // the rest of this slot does not count as silence
        pollTable.quietSlots = 0;
    }
    pollTable.cursor =
        static_cast<quint8>(pollTable.cursor + 1 == pollTable.count ? 0 : pollTable.cursor + 1);
}
