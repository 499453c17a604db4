#include "responsebuffer.h"

#include <cstring>

void ResponseBuffer::store(const quint8 *bytes, quint16 count)
{
    if (count > MaxStored)
        return;
    std::memcpy(data, bytes, count);
    length = count;
    ready = 1;
}
