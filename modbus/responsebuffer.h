#ifndef RESPONSEBUFFER_H
#define RESPONSEBUFFER_H

#include <QtGlobal>

// The last received burst, handed from the receive path to the Modbus master. ready is the only
// handshake: the receive side raises it after writing data and length, the master clears it
// before reading them.
//
// A burst can be lost on the way: dropped for its size, or overwritten before the master took
// it. The two flags say where the bytes went missing, so that the master never joins the bytes
// on either side of the gap into one frame. The master clears them once it has taken note.
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
    // Bytes were lost before the burst in data (with ready 0: since the last burst taken).
    quint8 lostBefore = 0;
    // Bytes were lost after the burst in data, which is still waiting (ready 1).
    quint8 lostAfter = 0;
};

#endif // RESPONSEBUFFER_H
