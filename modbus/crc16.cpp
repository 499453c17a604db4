#include "crc16.h"

#include <array>

namespace {

// T[i]: the reflected polynomial 0xA001 run over byte i from a zero register.
constexpr quint16 crcEntry(int i)
{
    quint16 crc = static_cast<quint16>(i);
    for (int bit = 0; bit < 8; ++bit)
        crc =
            (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001) : static_cast<quint16>(crc >> 1);
    return crc;
}

template <int Shift> constexpr std::array<quint8, 256> crcTable()
{
    std::array<quint8, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<quint8>(crcEntry(i) >> Shift);
    return table;
}

// Table of CRC values for the low-order byte (00 C1 81 40 ...).
constexpr std::array<quint8, 256> LowTable = crcTable<0>();
// Table of CRC values for the high-order byte (00 C0 C1 01 ...).
constexpr std::array<quint8, 256> HighTable = crcTable<8>();

static_assert(LowTable[1] == 0xC1 && LowTable[2] == 0x81 && LowTable[3] == 0x40, "low table");
static_assert(HighTable[1] == 0xC0 && HighTable[2] == 0xC1 && HighTable[3] == 0x01, "high table");

} // namespace

quint16 crc16Modbus(const quint8 *data, quint16 length)
{
    quint8 first = 0xFF;  // low byte of the CRC, sent first
    quint8 second = 0xFF; // high byte
    for (quint16 i = 0; i < length; ++i) {
        const quint8 index = first ^ data[i];
        first = second ^ LowTable[index];
        second = HighTable[index];
    }
    return static_cast<quint16>(first | (second << 8));
}
