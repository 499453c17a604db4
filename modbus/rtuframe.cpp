#include "rtuframe.h"

#include "crc16.h"
#include "registermap.h"

namespace RtuFrame {

namespace {

Request build(int slave, quint8 function, int reg, int fourth)
{
    Request frame{};
    frame[0] = static_cast<quint8>(slave & 0xFF);
    frame[1] = function;
    frame[2] = static_cast<quint8>((reg >> 8) & 0xFF);
    frame[3] = static_cast<quint8>(reg & 0xFF);
    frame[4] = static_cast<quint8>((fourth >> 8) & 0xFF);
    frame[5] = static_cast<quint8>(fourth & 0xFF);
    const quint16 crc = crc16Modbus(frame.data(), 6);
    frame[6] = static_cast<quint8>(crc & 0xFF);
    frame[7] = static_cast<quint8>(crc >> 8);
    return frame;
}

} // namespace

Request readRequest(int slave, int reg)
{
    return build(slave, RegisterMap::FunctionReadHolding, reg, 1);
}

Request writeRequest(int slave, int reg, int value)
{
    return build(slave, RegisterMap::FunctionWriteSingle, reg, value);
}

bool passesCrc(const quint8 *data, quint16 length)
{
    if (length < 2)
        return false;
    const quint16 crc = crc16Modbus(data, static_cast<quint16>(length - 2));
    return data[length - 2] == (crc & 0xFF) && data[length - 1] == (crc >> 8);
}

} // namespace RtuFrame
