#ifndef POLLTABLE_H
#define POLLTABLE_H

#include <QtGlobal>

struct PollEntry
{
    quint8 slave = 0;
    quint16 registerAddress = 0;
    quint8 functionCode = 0; // 3 read, 6 write value, anything else sends nothing
    quint16 value = 0;       // last value read (function 3) or value to write (function 6)
    bool heard = false;      // value holds a reading from the device
};

// The registers the master visits round-robin, one 100-tick slot each.
struct PollTable
{
    static constexpr int Capacity = 20;
    static constexpr quint16 SendPhase = 1;
    static constexpr quint16 SlotOver = 100;

    // The seven default rows of the register map, cursor and phase at 0.
    void fillDefault();

    PollEntry entries[Capacity];
    quint8 count = 0;
    quint8 cursor = 0;
    quint16 phase = 0; // 0 before the first slot, 1 send, 2..99 listen, 100 slot over
};

#endif // POLLTABLE_H
