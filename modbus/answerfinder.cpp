#include "answerfinder.h"

#include "registermap.h"

#include <cstring>

using RtuFrame::ExceptionBit;
using RtuFrame::ExceptionLength;
using RtuFrame::ValueByteCount;
using RtuFrame::ValueLength;

void AnswerFinder::clear()
{
    count = 0;
    afterGap = false;
}

void AnswerFinder::sent(const RtuFrame::Request &frame)
{
    request = frame;
    echoPending = true;
}

void AnswerFinder::hear(const quint8 *data, quint16 length)
{
    if (afterGap)
        clear();
    int n = length;
    if (n >= Capacity) {
        data += n - Capacity;
        n = Capacity;
    }
    if (count + n > Capacity)
        drop(count + n - Capacity);
    std::memcpy(bytes + count, data, size_t(n));
    count += n;
}

AnswerFinder::Frame AnswerFinder::next(bool lineMayEcho)
{
    const bool read = request[1] == RegisterMap::FunctionReadHolding;
    for (int at = 0; at < count; ++at) {
        Frame frame;
        int length = 0;
        if (count - at >= RtuFrame::RequestLength &&
            std::memcmp(bytes + at, request.data(), request.size()) == 0) {
            const bool echo = read || (echoPending && lineMayEcho);
            if (echo)
                echoPending = false;
            frame.kind = echo ? Kind::Echo : Kind::Confirmed;
            length = RtuFrame::RequestLength;
        } else if (read && isValue(at)) {
            frame.kind = Kind::Value;
            frame.value = quint16(bytes[at + 3] << 8 | bytes[at + 4]);
            length = ValueLength;
        } else if (isException(at)) {
            frame.kind = Kind::Exception;
            frame.value = bytes[at + 2];
            length = ExceptionLength;
        } else {
            continue;
        }
        drop(at + length);
        return frame;
    }
    return Frame();
}

void AnswerFinder::drop(int n)
{
    count -= n;
    std::memmove(bytes, bytes + n, size_t(count));
}

bool AnswerFinder::isException(int at) const
{
    return count - at >= ExceptionLength && bytes[at] == request[0] &&
           bytes[at + 1] == (request[1] | ExceptionBit) &&
           RtuFrame::passesCrc(bytes + at, ExceptionLength);
}

bool AnswerFinder::isValue(int at) const
{
    return count - at >= ValueLength && bytes[at] == request[0] &&
           bytes[at + 1] == RegisterMap::FunctionReadHolding && bytes[at + 2] == ValueByteCount &&
           RtuFrame::passesCrc(bytes + at, ValueLength);
}
