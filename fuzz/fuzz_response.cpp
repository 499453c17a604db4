// Arbitrary bursts through the response buffer into the master step, over many ticks.
// Input: a sequence of commands. Checked on every tick, and on each examination of a burst as
// it arrives (as the window does from its receive slot), against every byte stored since the
// requests began, however the bursts cut it:
//  - a register value changes only in the row under the cursor, while read requests are
//    outstanding, and to the value of a well-formed reply (slave 1, function 03, byte count 2,
//    CRC valid) whole among the bytes stored since the row's first outstanding request;
//  - a queued write leaves the queue only on its copy or its 5-byte exception (reported as
//    refused) among the bytes stored since its last send, or reported as not confirmed; a
//    refusal is reported only on such an exception; on a line known to echo, a write is
//    confirmed only with a second copy since its send, the first being the echo;
//  - a close empties the queue, each write reported but for one the driver may have taken;
//    after a close no write goes out until one is queued with the port open again (writes are
//    queued only while it is open, as the window refuses them otherwise); a close may flush
//    first, as the window's does, and the port then closes once the flush is over, which ends
//    as a close does when its time is up;
//  - cursor stays below count; phase stays within 0..100.
#include "crc16.h"
#include "fuzzinput.h"
#include "modbusmaster.h"
#include "registermap.h"
#include "rtuframe.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class RecordingLink : public MasterLink
{
public:
    int sendReadRequest(int slave, int reg) override
    {
        last = RtuFrame::readRequest(slave, reg);
        ++polls;
        return 1;
    }
    int sendWriteRequest(int slave, int reg, int value) override
    {
        last = RtuFrame::writeRequest(slave, reg, value);
        ++polls;
        return 1;
    }
    void writeFrame(const quint8 *bytes, quint16 length) override
    {
        if (length == RtuFrame::RequestLength)
            std::memcpy(last.data(), bytes, last.size());
        ++frames;
    }
    void writeFailed(WriteFailure failure, const QueuedFrame &) override
    {
        (failure == WriteFailure::Refused        ? refused
         : failure == WriteFailure::NotConfirmed ? unconfirmed
                                                 : notSent) += 1;
    }
    int refused = 0;
    int unconfirmed = 0;
    int notSent = 0;
    int frames = 0;
    int polls = 0;
    RtuFrame::Request last = {};
};

// The bytes stored toward the master since a point, the latest kept.
struct Heard
{
    static constexpr int Capacity = 4096;
    void clear() { length = 0; }
    void add(const quint8 *data, quint16 n)
    {
        for (quint16 i = 0; i < n; ++i) {
            if (length == Capacity) {
                std::memmove(bytes, bytes + 1, Capacity - 1);
                --length;
            }
            bytes[length++] = data[i];
        }
    }
    // A well-formed frame of this length that starts with these bytes, anywhere.
    int count(const quint8 *head, int headLength, int frameLength) const
    {
        int found = 0;
        for (int at = 0; at + frameLength <= length; ++at) {
            if (std::memcmp(bytes + at, head, size_t(headLength)) == 0 &&
                RtuFrame::passesCrc(bytes + at, quint16(frameLength)))
                ++found;
        }
        return found;
    }
    quint8 bytes[Capacity];
    int length = 0;
};

int queued(const RegisterWriteQueue &queue)
{
    // Until the first take the ring holds 20, and head and tail do not tell 20 from none.
    if (queue.head == -1)
        return queue.tail + 1;
    return (queue.tail - queue.head + RegisterWriteQueue::SlotCount) %
           RegisterWriteQueue::SlotCount;
}

void storeWithCrc(ResponseBuffer &response, quint8 *frame, quint16 length)
{
    const quint16 crc = crc16Modbus(frame, length);
    frame[length] = static_cast<quint8>(crc & 0xFF);
    frame[length + 1] = static_cast<quint8>(crc >> 8);
    response.store(frame, static_cast<quint16>(length + 2));
}

} // namespace

using FuzzInput::check;
using FuzzInput::Reader;

// Every queued write sent is traced on standard output; libFuzzer reports on standard error.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort(); // nowhere to send the trace
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PollTable table;
    table.fillDefault();
    RegisterWriteQueue queue;
    queue.reset();
    ResponseBuffer response;
    quint8 writePending = 0;
    quint16 writeDelay = 0;
    quint8 deviceOnline = 0;
    ModbusMaster master(table, queue, response, writePending, writeDelay, deviceOnline);
    RecordingLink link;
    bool portOpen = true;
    bool writeMayGo = true; // no close since the last write queued
    bool flushThenClose = false;
    quint32 flushSteps = 0;
    Heard sinceRowRequest; // since the first request still outstanding
    Heard sinceWriteSend;  // since the front write's last send
    quint8 rest[7] = {};   // the rest of a reply cut in two, still to come
    quint16 restLength = 0;

    Reader in{data, size};
    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 7) {
        case 0: { // a burst of up to 2047 bytes cut from the input; over 1024 the buffer drops it
            quint16 length = static_cast<quint16>(in.byte() | (in.byte() & 0x07) << 8);
            quint8 burst[2048] = {};
            for (quint16 i = 0; i < length; ++i)
                burst[i] = in.byte();
            response.store(burst, length);
            break;
        }
        case 1: { // a valid reply carrying the next two bytes, so deep paths get reached; or
                  // its first bytes now and the rest at the next such command, as a line cuts it
            if (restLength > 0) {
                response.store(rest, restLength);
                restLength = 0;
                break;
            }
            quint8 reply[7] = {RegisterMap::SlaveAddress, RegisterMap::FunctionReadHolding, 2,
                               in.byte(), in.byte()};
            storeWithCrc(response, reply, 5);
            const quint16 cut = in.byte() % 8;
            if (cut > 0 && cut < 7) {
                restLength = quint16(7 - cut);
                std::memcpy(rest, reply + cut, restLength);
                response.length = cut;
            }
            break;
        }
        case 2: // a queued write
            if (portOpen && !flushThenClose) {
                master.queueWrite(RegisterMap::LdSwitch, in.byte() & 1);
                writeMayGo = true;
            }
            break;
        case 3: { // open or close the port; a close may flush first, and opening ends a flush
            const uint8_t how = in.byte();
            if (flushThenClose) {
                master.endFlush(link);
                check(queue.isEmpty());
                flushThenClose = false;
                portOpen = false;
            } else if (portOpen && (how & 7) == 4 && master.beginFlush()) {
                flushThenClose = true;
                flushSteps = 0;
                break;
            }
            portOpen = (how & 3) != 0;
            break;
        }
        case 4: { // an exception reply to a read or to a write
            quint8 reply[5] = {RegisterMap::SlaveAddress,
                               static_cast<quint8>((in.byte() & 1 ? 0x86 : 0x83)), in.byte()};
            storeWithCrc(response, reply, 3);
            break;
        }
        case 5: { // the echo of the front frame, or of what it would be
            QueuedFrame front{};
            if (queue.peek(front) == 1 && front.length <= 1024)
                response.store(front.data, front.length);
            break;
        }
        case 6: { // the line's echo of the last request, then a reply, a copy or stray bytes
            quint8 burst[64] = {};
            std::memcpy(burst, link.last.data(), link.last.size());
            quint16 length = RtuFrame::RequestLength;
            const quint8 kind = in.byte();
            if (kind % 4 == 1) {
                quint8 *reply = burst + length;
                reply[0] = RegisterMap::SlaveAddress;
                reply[1] = RegisterMap::FunctionReadHolding;
                reply[2] = 2;
                reply[3] = in.byte();
                reply[4] = in.byte();
                const quint16 crc = crc16Modbus(reply, 5);
                reply[5] = static_cast<quint8>(crc & 0xFF);
                reply[6] = static_cast<quint8>(crc >> 8);
                length = static_cast<quint16>(length + 7);
            } else if (kind % 4 == 2) {
                std::memcpy(burst + length, link.last.data(), link.last.size());
                length = static_cast<quint16>(length + RtuFrame::RequestLength);
            } else if (kind % 4 == 3) {
                const quint16 extra = in.byte() % 40;
                for (quint16 i = 0; i < extra; ++i)
                    burst[length++] = in.byte();
            }
            response.store(burst, length);
            break;
        }
        }

        // Each check covers one call: a tick, or the examination as a burst arrives.
        auto checked = [&](bool tick) {
            quint16 before[PollTable::Capacity];
            for (int i = 0; i < PollTable::Capacity; ++i)
                before[i] = table.entries[i].value;
            const quint8 cursorBefore = table.cursor;
            const quint32 readsBefore = master.outstandingReads();
            if (response.ready == 1 && portOpen) {
                sinceRowRequest.add(response.data, response.length);
                sinceWriteSend.add(response.data, response.length);
            }
            QueuedFrame front{};
            const bool hadFront = queue.peek(front) == 1;
            const int queuedBefore = queued(queue);
            const int refusedBefore = link.refused;
            const int unconfirmedBefore = link.unconfirmed;
            const int notSentBefore = link.notSent;
            const int framesBefore = link.frames;
            const int pollsBefore = link.polls;
            const bool echoesBefore = master.lineEcho() == ModbusMaster::LineEcho::Echoes;

            const bool deadline =
                tick && flushThenClose && ++flushSteps == WriteInFlight::FlushTicks;
            if (tick)
                master.step(portOpen, link);
            else
                master.examineNow(portOpen);

            check(table.cursor < table.count);
            check(table.phase <= PollTable::SlotOver);
            for (int i = 0; i < PollTable::Capacity; ++i) {
                if (table.entries[i].value == before[i])
                    continue;
                check(i == cursorBefore);
                check(readsBefore > 0);
                const quint8 reply[5] = {
                    RegisterMap::SlaveAddress, RegisterMap::FunctionReadHolding, 2,
                    quint8(table.entries[i].value >> 8), quint8(table.entries[i].value & 0xFF)};
                check(sinceRowRequest.count(reply, 5, 7) > 0);
            }

            const quint8 exception[2] = {front.data[0], quint8(front.data[1] | 0x80)};
            const int copies =
                hadFront ? sinceWriteSend.count(front.data, front.length, front.length) : 0;
            const bool excepted = hadFront && sinceWriteSend.count(exception, 2, 5) > 0;
            const int refused = link.refused - refusedBefore;
            const int unconfirmed = link.unconfirmed - unconfirmedBefore;
            const int notSent = link.notSent - notSentBefore;
            if (link.frames != framesBefore)
                check(writeMayGo && portOpen);
            if ((tick && !portOpen) || deadline) {
                writeMayGo = writeMayGo && deadline;
                check(queued(queue) == 0);
                check(refused == 0 && unconfirmed <= 1);
                check(notSent + unconfirmed <= queuedBefore);
                check(notSent + unconfirmed >= queuedBefore - 1);
            } else {
                check(notSent == 0);
                check(refused + unconfirmed <= 1);
                check(refused == 0 || excepted);
                if (queued(queue) < queuedBefore) {
                    check(queued(queue) == queuedBefore - 1);
                    check(copies > 0 || excepted || unconfirmed == 1);
                    // Taken as confirmed where the line echoes: only with a copy after the echo.
                    const bool echoes =
                        echoesBefore && master.lineEcho() == ModbusMaster::LineEcho::Echoes;
                    if (refused + unconfirmed == 0 && !excepted && echoes)
                        check(copies >= 2);
                } else {
                    check(refused + unconfirmed == 0);
                }
            }
            // As the window does, the port closes on the tick the flush is over.
            if (flushThenClose && !master.flushing()) {
                flushThenClose = false;
                portOpen = false;
            }
            if (link.frames != framesBefore)
                sinceWriteSend.clear();
            // A request for a row with nothing outstanding: only what follows can answer it.
            if (link.polls != pollsBefore && master.outstandingReads() == 1)
                sinceRowRequest.clear();
        };

        const uint8_t timing = in.byte();
        // The window examines a burst as soon as it is stored, then the ticks go on.
        if (op % 7 != 2 && op % 7 != 3 && (timing & 0x80))
            checked(false);
        int ticks = 1 + (timing & 0x7F) % 150;
        while (ticks-- > 0)
            checked(true);
    }
    return 0;
}
