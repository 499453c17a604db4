// Arbitrary bursts through the response buffer into the master step, over many ticks.
// Input: a sequence of commands. Checked on every tick, and on each examination of a burst as
// it arrives (as the window does from its receive slot):
//  - a register value changes only through a CRC-valid function 03 reply of at least 7 bytes,
//    and then to the value that reply carries, in the row under the cursor, while read requests
//    are outstanding;
//  - a queued write leaves the queue only on its echo, on an exception reply (reported as
//    refused), or reported as not confirmed; a refusal is reported only on an exception;
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
    int sendReadRequest(int, int) override { return 1; }
    int sendWriteRequest(int, int, int) override { return 1; }
    void writeFrame(const quint8 *, quint16) override {}
    void writeFailed(WriteFailure failure) override
    {
        (failure == WriteFailure::Refused ? refused : unconfirmed) += 1;
    }
    int refused = 0;
    int unconfirmed = 0;
};

int queued(const RegisterWriteQueue &queue)
{
    // Until the first take the ring holds 20, and head and tail do not tell 20 from none.
    if (queue.head == -1)
        return queue.tail + 1;
    return (queue.tail - queue.head + RegisterWriteQueue::SlotCount) % RegisterWriteQueue::SlotCount;
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

    Reader in{data, size};
    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 6) {
        case 0: { // a burst of up to 2047 bytes cut from the input; over 1024 the buffer drops it
            quint16 length = static_cast<quint16>(in.byte() | (in.byte() & 0x07) << 8);
            quint8 burst[2048] = {};
            for (quint16 i = 0; i < length; ++i)
                burst[i] = in.byte();
            response.store(burst, length);
            break;
        }
        case 1: { // a valid reply carrying the next two bytes, so deep paths get reached
            quint8 reply[7] = {RegisterMap::SlaveAddress, RegisterMap::FunctionReadHolding, 2,
                               in.byte(), in.byte()};
            storeWithCrc(response, reply, 5);
            break;
        }
        case 2: // a queued write
            master.queueWrite(RegisterMap::LdSwitch, in.byte() & 1);
            break;
        case 3: // open or close the port
            portOpen = (in.byte() & 3) != 0;
            break;
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
        }

        // Each check covers one call: a tick, or the examination as a burst arrives.
        auto checked = [&](bool tick) {
            quint16 before[PollTable::Capacity];
            for (int i = 0; i < PollTable::Capacity; ++i)
                before[i] = table.entries[i].value;
            const quint8 cursorBefore = table.cursor;
            const quint32 readsBefore = master.outstandingReads();
            const bool hadBurst = response.ready == 1;
            quint8 burst[ResponseBuffer::Capacity];
            const quint16 length = response.length;
            std::memcpy(burst, response.data, length);
            QueuedFrame front{};
            const bool hadFront = queue.peek(front) == 1;
            const int queuedBefore = queued(queue);
            const int refusedBefore = link.refused;
            const int unconfirmedBefore = link.unconfirmed;

            if (tick)
                master.step(portOpen, link);
            else
                master.examineNow(portOpen);

            check(table.cursor < table.count);
            check(table.phase <= PollTable::SlotOver);
            for (int i = 0; i < PollTable::Capacity; ++i) {
                if (table.entries[i].value == before[i])
                    continue;
                check(hadBurst && response.ready == 0);
                check(i == cursorBefore);
                check(readsBefore > 0);
                check(length >= 7);
                check(RtuFrame::passesCrc(burst, length));
                check(burst[1] == RegisterMap::FunctionReadHolding);
                check(table.entries[i].value == (burst[3] << 8 | burst[4]));
            }

            const bool validBurst = hadBurst && length >= 4 && RtuFrame::passesCrc(burst, length);
            const bool echo = hadFront && validBurst && length == front.length &&
                              std::memcmp(burst, front.data, length) == 0;
            const bool exception = hadFront && validBurst && burst[1] == (front.data[1] | 0x80);
            const int refused = link.refused - refusedBefore;
            const int unconfirmed = link.unconfirmed - unconfirmedBefore;
            check(refused + unconfirmed <= 1);
            check(refused == 0 || exception);
            if (queued(queue) < queuedBefore) {
                check(queued(queue) == queuedBefore - 1);
                check(echo || exception || unconfirmed == 1);
            } else {
                check(refused + unconfirmed == 0);
            }
        };

        const uint8_t timing = in.byte();
        // The window examines a burst as soon as it is stored, then the ticks go on.
        if (op % 6 != 2 && op % 6 != 3 && (timing & 0x80))
            checked(false);
        int ticks = 1 + (timing & 0x7F) % 150;
        while (ticks-- > 0)
            checked(true);
    }
    return 0;
}
