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
        // A burst still waiting now answers an earlier request; crediting it to this one would
        // put another register's value here.
        responseBuffer.ready = 0;
        const PollEntry &entry = pollTable.entries[pollTable.cursor];
        if (entry.functionCode == RegisterMap::FunctionReadHolding)
            link.sendReadRequest(entry.slave, entry.registerAddress);
        else if (entry.functionCode == RegisterMap::FunctionWriteSingle)
            link.sendWriteRequest(entry.slave, entry.registerAddress, entry.value);
        pollTable.awaitingReply = true;
        pollTable.phase = 2;
        return;
    }

    if (pollTable.phase >= PollTable::SlotOver) {
        pollTable.phase = PollTable::SendPhase;
        return;
    }

    listen();
}

void ModbusMaster::listen()
{
    if (responseBuffer.ready != 1) {
        ++pollTable.phase;
        return;
    }
    responseBuffer.ready = 0;
    if (responseBuffer.length < 2)
        return;
    ++pollTable.phase;

    // One answer per request: once the slot has its answer, or before any request went out,
    // a burst answers nothing.
    if (!pollTable.awaitingReply)
        return;
    if (!RtuFrame::passesCrc(responseBuffer.data, responseBuffer.length))
        return;

    const quint8 function = responseBuffer.data[1];
    if (function == RegisterMap::FunctionReadHolding) {
        // slave, 03, byte count, value high, value low, CRC: anything shorter carries no value.
        if (responseBuffer.length < 7)
            return;
        pollTable.entries[pollTable.cursor].value =
            static_cast<quint16>(responseBuffer.data[3] << 8 | responseBuffer.data[4]);
    } else if (function != RegisterMap::FunctionWriteSingle &&
               function != RegisterMap::FunctionWriteMultiple) {
        return;
    }

    deviceOnline = 1;
    pollTable.awaitingReply = false;
    pollTable.cursor =
        static_cast<quint8>(pollTable.cursor + 1 == pollTable.count ? 0 : pollTable.cursor + 1);
}
