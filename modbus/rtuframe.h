#ifndef RTUFRAME_H
#define RTUFRAME_H

#include <QtGlobal>

#include <array>

// The 8-byte RTU request the panel sends, for function 03 (count 1) and function 06.
namespace RtuFrame {

constexpr int RequestLength = 8;
using Request = std::array<quint8, RequestLength>;

// The answers' shapes. A value: slave, 03, byte count, value high, value low, CRC.
constexpr int ValueLength = 7;
constexpr quint8 ValueByteCount = 2;
// An exception: slave, function | ExceptionBit, exception code, CRC.
constexpr int ExceptionLength = 5;
constexpr quint8 ExceptionBit = 0x80;

// Only the low 8 bits of slave and the low 16 bits of reg and value are used.
Request readRequest(int slave, int reg);
Request writeRequest(int slave, int reg, int value);

// True when the last two bytes are the CRC of the ones before, low byte first. Fewer than two
// bytes never pass. Nothing else about the reply is looked at.
bool passesCrc(const quint8 *data, quint16 length);

} // namespace RtuFrame

#endif // RTUFRAME_H
