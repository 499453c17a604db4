// The table-driven CRC against a plain bitwise CRC-16/MODBUS, and the response test against it.
#include "crc16.h"
#include "rtuframe.h"

#include <cstdint>
#include <cstdlib>

namespace {

quint16 bitwiseCrc(const uint8_t *data, size_t size)
{
    quint16 crc = 0xFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001)
                            : static_cast<quint16>(crc >> 1);
    }
    return crc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 0xFFFF)
        return 0;
    const quint16 length = static_cast<quint16>(size);
    const quint16 reference = bitwiseCrc(data, size);
    if (crc16Modbus(data, length) != reference)
        std::abort();

    // The response test passes exactly when the last two bytes are the CRC of the rest.
    const bool expected = size >= 2 && [&] {
        const quint16 crc = bitwiseCrc(data, size - 2);
        return data[size - 2] == (crc & 0xFF) && data[size - 1] == (crc >> 8);
    }();
    if (RtuFrame::passesCrc(data, length) != expected)
        std::abort();
    return 0;
}
