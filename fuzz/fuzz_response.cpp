// Arbitrary bursts through the response buffer into the master step, over many ticks.
// Input: a sequence of commands. Checked on every tick, and on each examination of a burst as
// it arrives (as the window does from its receive slot):
//  - a register value changes only through a well-formed reply (slave 1, function 03, byte
//    count 2, exactly 7 bytes, CRC valid), alone or behind the echo of the last request, and
//    then to the value that reply carries, in the row under the cursor, while read requests are
//    outstanding;
//  - a queued write leaves the queue only on its copy, on its 5-byte exception (reported as
//    refused), either alone or behind the write's echo, or reported as not confirmed; a
//    refusal is reported only on an exception; on a line that echoes, or may, the first copy
//    after a send never confirms it;
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
        return 1;
    }
    int sendWriteRequest(int slave, int reg, int value) override
    {
        last = RtuFrame::writeRequest(slave, reg, value);
        return 1;
    }
    void writeFrame(const quint8 *bytes, quint16 length) override
    {
        if (length == RtuFrame::RequestLength)
            std::memcpy(last.data(), bytes, last.size());
        ++frames;
    }
    void writeFailed(WriteFailure failure) override
    {
        (failure == WriteFailure::Refused ? refused : unconfirmed) += 1;
    }
    int refused = 0;
    int unconfirmed = 0;
    int frames = 0;
    RtuFrame::Request last = {};
};

bool startsWith(const quint8 *burst, quint16 length, const quint8 *frame, quint16 frameLength)
{
    return length >= frameLength && std::memcmp(burst, frame, frameLength) == 0;
}

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
    int copiesSinceSend = 0; // bursts since the front frame's last send that began with it

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
            const bool hadBurst = response.ready == 1;
            quint8 burst[ResponseBuffer::Capacity];
            const quint16 length = response.length;
            std::memcpy(burst, response.data, length);
            QueuedFrame front{};
            const bool hadFront = queue.peek(front) == 1;
            const int queuedBefore = queued(queue);
            const int refusedBefore = link.refused;
            const int unconfirmedBefore = link.unconfirmed;
            const int framesBefore = link.frames;
            const bool mayEcho = master.lineEcho() != ModbusMaster::LineEcho::NoEcho;
            const RtuFrame::Request lastSent = link.last;

            if (tick)
                master.step(portOpen, link);
            else
                master.examineNow(portOpen);

            check(table.cursor < table.count);
            check(table.phase <= PollTable::SlotOver);
            // What follows a leading echo of the last request, if there is one.
            const bool echoed = startsWith(burst, length, lastSent.data(), 8);
            const quint8 *answer = echoed ? burst + 8 : burst;
            const quint16 answerLength = echoed ? quint16(length - 8) : length;
            for (int i = 0; i < PollTable::Capacity; ++i) {
                if (table.entries[i].value == before[i])
                    continue;
                check(hadBurst && response.ready == 0);
                check(i == cursorBefore);
                check(readsBefore > 0);
                check(answerLength == 7);
                check(RtuFrame::passesCrc(answer, answerLength));
                check(answer[0] == RegisterMap::SlaveAddress);
                check(answer[1] == RegisterMap::FunctionReadHolding && answer[2] == 2);
                check(table.entries[i].value == (answer[3] << 8 | answer[4]));
            }

            // A write's answer is the whole burst or what follows the write's echo.
            const bool consumed = hadBurst && response.ready == 0;
            auto isCopy = [&](const quint8 *bytes, quint16 n) {
                return n == front.length && std::memcmp(bytes, front.data, n) == 0 &&
                       RtuFrame::passesCrc(bytes, n);
            };
            auto isException = [&](const quint8 *bytes, quint16 n) {
                return n == 5 && bytes[0] == front.data[0] && bytes[1] == (front.data[1] | 0x80) &&
                       RtuFrame::passesCrc(bytes, n);
            };
            const bool copyAfterEcho =
                hadFront && consumed && echoed && isCopy(answer, answerLength);
            const bool copy = copyAfterEcho || (hadFront && consumed && isCopy(burst, length));
            const bool exception =
                hadFront && consumed &&
                (isException(burst, length) || (echoed && isException(answer, answerLength)));
            const int refused = link.refused - refusedBefore;
            const int unconfirmed = link.unconfirmed - unconfirmedBefore;
            check(refused + unconfirmed <= 1);
            check(refused == 0 || exception);
            if (queued(queue) < queuedBefore) {
                check(queued(queue) == queuedBefore - 1);
                check(copy || exception || unconfirmed == 1);
                // Taken as confirmed while the line may echo: not on the send's first copy.
                if (copy && refused + unconfirmed == 0 && mayEcho)
                    check(copyAfterEcho || copiesSinceSend > 0);
            } else {
                check(refused + unconfirmed == 0);
            }
            if (link.frames != framesBefore)
                copiesSinceSend = 0;
            else if (consumed && hadFront && startsWith(burst, length, front.data, front.length))
                ++copiesSinceSend;
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
