#include "burstassembler.h"

#include <cstring>

void BurstAssembler::reset()
{
    rxState = 0;
    idleTicks = 0;
    rxCount = 0;
}

BurstAssembler::Poll BurstAssembler::poll(const char *bytes, int n)
{
    if (n <= 0) {
        // Polls that bring bytes do not clear the quiet count, so a burst ends 1 to 5 empty
        // polls after its last bytes.
        ++idleTicks;
        if (idleTicks < IdlePollsPerBurst)
            return Poll::Quiet;
        idleTicks = 0;
        if (rxState != 1)
            return Poll::Quiet;
        rxState = 2;
        return Poll::Completed;
    }

    // A chunk that does not fit, or that comes while a finished burst waits to be taken, is
    // dropped whole: a partial chunk would splice two frames into one.
    if (rxState == 2 || n > Capacity - rxCount)
        return Poll::Discarded;
    std::memcpy(rxBuffer + rxCount, bytes, size_t(n));
    rxCount += n;
    rxState = 1;
    return Poll::Stored;
}

void BurstAssembler::take(quint8 *dest, quint16 &length)
{
    if (rxCount > 0)
        std::memcpy(dest, rxBuffer, size_t(rxCount));
    length = quint16(rxCount);
    rxCount = 0;
    rxState = 0;
}
