#include "linediagnosis.h"

#include "registermap.h"
#include "rtuframe.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using RtuFrame::ExceptionBit;
using RtuFrame::ExceptionLength;
using RtuFrame::ValueLength;
constexpr int WriteLength = RtuFrame::RequestLength;
constexpr quint8 MaxSlaveAddress = 247;

} // namespace

LineDiagnosis::LineDiagnosis(Clock clock) : clock(std::move(clock))
{
    if (!this->clock) {
        auto started = std::make_shared<QElapsedTimer>();
        started->start();
        this->clock = [started] { return started->elapsed(); };
    }
}

void LineDiagnosis::opened()
{
    open = true;
    lineGone = false;
    answeredSinceOpen = false;
    carried = 0;
    sentCount = 0;
    restartWindow();
}

void LineDiagnosis::closed()
{
    open = false;
}

void LineDiagnosis::gone()
{
    lineGone = true;
}

void LineDiagnosis::tick(quint32 answersTaken)
{
    if (answersTaken != answersSeen) {
        answersSeen = answersTaken;
        answeredSinceOpen = true;
        restartWindow();
    }
}

void LineDiagnosis::restartWindow()
{
    windowStart = clock();
    bytesHeard = 0;
    ownRequests = 0;
    slaveFrames = 0;
    otherSlave = 0;
}

void LineDiagnosis::sent(const quint8 *frame, int length)
{
    if (length != FrameMax)
        return;
    std::memcpy(sentFrames[sentNext], frame, FrameMax);
    sentNext = (sentNext + 1) % SentKept;
    sentCount = std::min(sentCount + 1, SentKept);
}

void LineDiagnosis::heard(const quint8 *bytes, int length)
{
    if (length <= 0)
        return;
    bytesHeard += quint32(length);
    // A frame cut by the burst's end is found once its rest arrives.
    quint8 line[FrameMax - 1 + 2048];
    const int n = carried + std::min(length, 2048);
    std::memcpy(line, carry, size_t(carried));
    std::memcpy(line + carried, bytes + (length - (n - carried)), size_t(n - carried));

    int unframedFrom = 0;
    for (int at = 0; at < n;) {
        bool own = false;
        const int frame = frameAt(line, n, at, own);
        if (frame == 0) {
            ++at;
            continue;
        }
        if (own) {
            ++ownRequests;
        } else {
            ++slaveFrames;
            if (line[at] != SlaveAddress)
                otherSlave = line[at];
        }
        at += frame;
        unframedFrom = at;
    }
    carried = std::min(n - unframedFrom, FrameMax - 1);
    std::memmove(carry, line + n - carried, size_t(carried));
}

int LineDiagnosis::frameAt(const quint8 *bytes, int count, int at, bool &ownRequest) const
{
    const quint8 *p = bytes + at;
    const int left = count - at;
    if (left >= FrameMax) {
        for (int i = 0; i < sentCount; ++i) {
            if (std::memcmp(p, sentFrames[i], FrameMax) == 0) {
                ownRequest = true;
                return FrameMax;
            }
        }
    }
    if (left < ExceptionLength || p[0] == 0 || p[0] > MaxSlaveAddress)
        return 0;
    const quint8 function = p[1];
    if (left >= ValueLength && function == RegisterMap::FunctionReadHolding &&
        p[2] == RtuFrame::ValueByteCount && RtuFrame::passesCrc(p, ValueLength))
        return ValueLength;
    if (left >= WriteLength && function == RegisterMap::FunctionWriteSingle &&
        RtuFrame::passesCrc(p, WriteLength))
        return WriteLength;
    if (left >= ExceptionLength &&
        (function == (RegisterMap::FunctionReadHolding | ExceptionBit) ||
         function == (RegisterMap::FunctionWriteSingle | ExceptionBit)) &&
        RtuFrame::passesCrc(p, ExceptionLength))
        return ExceptionLength;
    return 0;
}

LineDiagnosis::Verdict LineDiagnosis::verdict() const
{
    Verdict v;
    const qint64 into = clock() - windowStart;
    v.seconds = int(into / 1000);
    if (!open) {
        v.reason = Reason::Closed;
    } else if (lineGone) {
        v.reason = Reason::Gone;
    } else if (into < JudgeAfterMs) {
        v.reason = answeredSinceOpen ? Reason::None : Reason::Waiting;
    } else if (otherSlave != 0) {
        v.reason = Reason::OtherSlave;
        v.slave = otherSlave;
    } else if (bytesHeard > 0 && slaveFrames == 0 && ownRequests == 0) {
        v.reason = Reason::NeverAFrame;
    } else if (ownRequests > 0 && slaveFrames == 0) {
        v.reason = Reason::OnlyOwnRequests;
    } else if (bytesHeard == 0 && !answeredSinceOpen) {
        v.reason = Reason::Nothing;
    } else {
        v.reason = Reason::Silent;
    }
    if (v.reason == Reason::Closed || v.reason == Reason::Gone || v.reason == Reason::None)
        v.seconds = 0;
    return v;
}
