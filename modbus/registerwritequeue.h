#ifndef REGISTERWRITEQUEUE_H
#define REGISTERWRITEQUEUE_H

#include <QtGlobal>

struct QueuedFrame
{
    static constexpr quint16 Capacity = 1024;
    quint8 data[Capacity];
    quint16 length;
};

// Fixed ring of 20 frames. head is the slot taken last, tail the slot filled last; the ring is
// empty when they are equal. Until the first frame is taken it holds 20 frames, afterwards 19.
class RegisterWriteQueue
{
public:
    static constexpr int SlotCount = 20;

    enum PushResult { Stored = 0, FullBeforeFirstTake = 1, FullNextIsHead = 2, TooLong = 3 };

    void reset();
    // 0 stored; 1 or 2 ring full (see PushResult); 3 length above QueuedFrame::Capacity.
    int push(const quint8 *data, quint16 length);
    // 1 and a copy of the front frame, or 0 when empty (frame untouched).
    int peek(QueuedFrame &frame) const;
    // Takes the front frame; only after a peek that returned 1.
    void pop();
    bool isEmpty() const;

    QueuedFrame slots[SlotCount];
    qint8 head = -1;
    qint8 tail = -1;
};

#endif // REGISTERWRITEQUEUE_H
