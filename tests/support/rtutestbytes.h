#ifndef RTUTESTBYTES_H
#define RTUTESTBYTES_H

#include <QByteArray>
#include <QtGlobal>

// Byte helpers for the Modbus tests. The CRC here is the plain bitwise one, written independently
// of the table-driven code under test, so that the two check each other.
namespace RtuTestBytes {

inline quint16 bitwiseCrc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001)
                            : static_cast<quint16>(crc >> 1);
    }
    return crc;
}

// "01 03 9C D2" -> bytes; blanks are skipped.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// The bytes followed by their CRC, low byte first.
inline QByteArray withCrc(const QByteArray &bytes)
{
    const quint16 crc = bitwiseCrc(bytes);
    QByteArray out = bytes;
    out.append(static_cast<char>(crc & 0xFF));
    out.append(static_cast<char>(crc >> 8));
    return out;
}

inline QByteArray withCrc(const char *text)
{
    return withCrc(hex(text));
}

// True when the last two bytes are the CRC of the ones before, low byte first.
inline bool crcOk(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return false;
    const quint16 crc = bitwiseCrc(bytes.left(bytes.size() - 2));
    return static_cast<quint8>(bytes[bytes.size() - 2]) == (crc & 0xFF) &&
           static_cast<quint8>(bytes[bytes.size() - 1]) == (crc >> 8);
}

inline const quint8 *raw(const QByteArray &bytes)
{
    return reinterpret_cast<const quint8 *>(bytes.constData());
}

inline QByteArray fromRaw(const quint8 *bytes, int length)
{
    return QByteArray(reinterpret_cast<const char *>(bytes), length);
}

} // namespace RtuTestBytes

#endif // RTUTESTBYTES_H
