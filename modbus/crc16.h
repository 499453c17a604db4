#ifndef CRC16_H
#define CRC16_H

#include <QtGlobal>

// CRC-16/MODBUS (poly 0xA001 reflected, init 0xFFFF, no final XOR), table driven. The low byte of
// the result is the one sent first. No bytes give 0xFFFF; "123456789" gives 0x4B37.
quint16 crc16Modbus(const quint8 *data, quint16 length);

#endif // CRC16_H
