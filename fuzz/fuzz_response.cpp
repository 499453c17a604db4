// Arbitrary bursts through the response buffer into the master step, over many ticks.
// Input: a sequence of commands. Checked on every tick, and on each examination of a burst as
// it arrives (as the window does from its receive slot):
//  - a register value changes only through a CRC-valid function 03 reply of at least 7 bytes,
//    and then to the value that reply carries, in the row under the cursor;
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

class NullLink : public MasterLink
{
public:
    int sendReadRequest(int, int) override { return 1; }
    int sendWriteRequest(int, int, int) override { return 1; }
    void writeFrame(const quint8 *, quint16) override {}
};

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
    NullLink link;
    bool portOpen = true;

    Reader in{data, size};
    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 4) {
        case 0: { // a burst of up to 2047 bytes cut from the input; over 1024 the buffer drops it
            quint16 length = static_cast<quint16>(in.byte() | (in.byte() & 0x07) << 8);
            quint8 burst[2048] = {};
            for (quint16 i = 0; i < length; ++i)
                burst[i] = in.byte();
            response.store(burst, length);
            break;
        }
        case 1: { // a valid reply carrying the next two bytes, so deep paths get reached
            const quint8 hi = in.byte(), lo = in.byte();
            quint8 reply[7] = {
                RegisterMap::SlaveAddress, RegisterMap::FunctionReadHolding, 2, hi, lo, 0, 0};
            const quint16 crc = crc16Modbus(reply, 5);
            const quint8 crcLow = static_cast<quint8>(crc & 0xFF);
            const quint8 crcHigh = static_cast<quint8>(crc >> 8);
            reply[5] = crcLow;
            reply[6] = crcHigh;
            response.store(reply, sizeof reply);
            break;
        }
        case 2: // a queued write
            master.queueWrite(RegisterMap::LdSwitch, in.byte() & 1);
            break;
        case 3: // open or close the port
            portOpen = (in.byte() & 3) != 0;
            break;
        }

        // Each check covers one call: a tick, or the examination as a burst arrives.
        auto checked = [&](bool tick) {
            quint16 before[PollTable::Capacity];
            for (int i = 0; i < PollTable::Capacity; ++i)
                before[i] = table.entries[i].value;
            const quint8 cursorBefore = table.cursor;
            const bool hadBurst = response.ready == 1;
            quint8 burst[ResponseBuffer::Capacity];
            const quint16 length = response.length;
            std::memcpy(burst, response.data, length);

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
                check(length >= 7);
                check(RtuFrame::passesCrc(burst, length));
                check(burst[1] == RegisterMap::FunctionReadHolding);
                check(table.entries[i].value == (burst[3] << 8 | burst[4]));
            }
        };

        const uint8_t timing = in.byte();
        // The window examines a burst as soon as it is stored, then the ticks go on.
        if ((op % 4) <= 1 && (timing & 0x80))
            checked(false);
        int ticks = 1 + (timing & 0x7F) % 150;
        while (ticks-- > 0)
            checked(true);
    }
    return 0;
}
