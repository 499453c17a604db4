#include "registerwritequeue.h"

#include <cstring>

namespace {

qint8 nextSlot(qint8 index)
{
    return static_cast<qint8>((index + 1) % RegisterWriteQueue::SlotCount);
}

} // namespace

void RegisterWriteQueue::reset()
{
    head = -1;
    tail = -1;
}

int RegisterWriteQueue::push(const quint8 *data, quint16 length)
{
    if (length > QueuedFrame::Capacity)
        return TooLong;
    // Before the first take head is -1, which nextSlot never yields, so this is the only full
    // test that can fire then.
    if (head == -1 && tail == SlotCount - 1)
        return FullBeforeFirstTake;
    const qint8 next = nextSlot(tail);
    if (next == head)
        return FullNextIsHead;
    tail = next;
    std::memcpy(slots[next].data, data, length);
    slots[next].length = length;
    return Stored;
}

int RegisterWriteQueue::peek(QueuedFrame &frame) const
{
    if (head == tail)
        return 0;
    frame = slots[nextSlot(head)];
    return 1;
}

void RegisterWriteQueue::pop()
{
    head = nextSlot(head);
}

bool RegisterWriteQueue::isEmpty() const
{
    return head == tail;
}
