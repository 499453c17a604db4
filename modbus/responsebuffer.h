#ifndef RESPONSEBUFFER_H
#define RESPONSEBUFFER_H

#include <QtGlobal>

// The last received burst, handed from the receive path to the Modbus master. ready is the only
// handshake: the receive side raises it after writing data and length, the master clears it
// before reading them.
struct ResponseBuffer
{
    static constexpr quint16 Capacity = 2048;
    static constexpr quint16 MaxStored = 1024;

    // Bursts longer than MaxStored are dropped and leave the buffer as it was; otherwise the
    // burst overwrites whatever the master has not looked at yet.
    void store(const quint8 *bytes, quint16 count);

    quint8 ready = 0;
    quint8 data[Capacity] = {};
    quint16 length = 0;
};

#endif // RESPONSEBUFFER_H
