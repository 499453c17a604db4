#include "responsebuffer.h"

#include <cstring>

void ResponseBuffer::store(const quint8 *bytes, quint16 count)
{
    if (count > MaxStored) {
        (ready == 1 ? lostAfter : lostBefore) = 1;
        return;
    }
    if (ready == 1) {
        // The waiting burst, and any gap after it, go under this one.
        lostBefore = 1;
        lostAfter = 0;
    }
    std::memcpy(data, bytes, count);
    length = count;
    ready = 1;
}
