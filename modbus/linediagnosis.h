#ifndef LINEDIAGNOSIS_H
#define LINEDIAGNOSIS_H

#include <QtGlobal>

#include <functional>

// Why the driver's read-outs stay empty, worked out from what the line did; never guessed.
//
// Evidence, fed by the window: the port opened or closed, the line gone, each tick with the
// port open, each request the panel sent, each burst heard, and the number of answers the master
// has taken. Counting only: a burst is searched for frames once, when it arrives. Time is the
// clock's, not a count of ticks: the operator reads the seconds, and a throttled timer slows the
// ticks, not the clock.
//
// The rules, read top down; the first that holds is the reason:
// 1. The port is closed: Closed.
// 2. The line has gone (the channel gave it up): Gone.
// Everything below is judged from what the line did since the port was opened or since the
// last answer, whichever is later (the window):
// 3. Under JudgeAfterMs into the window: nothing yet if the driver has answered since the
//    open (a healthy line shows no reason), else Waiting.
// 4. A well-formed frame from another slave was heard (the same shape and CRC tests as an
//    answer; it is never credited): OtherSlave, with its address.
// 5. Bytes were heard but none of them was part of a frame, not even the panel's own request
//    heard back: NeverAFrame (another baud rate or parity).
// 6. The only frames heard were the panel's own requests: OnlyOwnRequests (an echoing adapter
//    with no driver behind it).
// 7. Nothing at all was heard: Silent if the driver has answered since the open, else Nothing.
// 8. Otherwise (frames from slave 1 that answered no request): Silent.
class LineDiagnosis
{
public:
    enum class Reason {
        None,
        Closed,
        Waiting,
        Nothing,
        OnlyOwnRequests,
        OtherSlave,
        NeverAFrame,
        Silent,
        Gone
    };
    struct Verdict
    {
        Reason reason = Reason::Closed;
        int seconds = 0; // whole seconds into the window
        int slave = 0;   // OtherSlave: the address that answers

        bool operator==(const Verdict &other) const
        {
            return reason == other.reason && seconds == other.seconds && slave == other.slave;
        }
        bool operator!=(const Verdict &other) const { return !(*this == other); }
    };

    static constexpr qint64 JudgeAfterMs = 2000;
    static constexpr int SlaveAddress = 1;

    // Milliseconds on a clock that never goes back; without one, the system's monotonic clock.
    using Clock = std::function<qint64()>;
    explicit LineDiagnosis(Clock clock = Clock());

    void opened();
    void closed();
    void gone();
    // One tick with the port open; answersTaken is the master's running count of answers.
    void tick(quint32 answersTaken);
    void sent(const quint8 *frame, int length);
    void heard(const quint8 *bytes, int length);

    Verdict verdict() const;

private:
    // The longest frame looked for: a request or a write's copy.
    static constexpr int FrameMax = 8;
    static constexpr int SentKept = 4;

    void restartWindow();
    // Length of the frame starting at bytes[at], 0 if none; ownRequest set when it is a copy of
    // a request sent.
    int frameAt(const quint8 *bytes, int count, int at, bool &ownRequest) const;

    bool open = false;
    bool lineGone = false;
    bool answeredSinceOpen = false;
    Clock clock;
    qint64 windowStart = 0;
    quint32 answersSeen = 0;

    // Evidence in the window.
    quint32 bytesHeard = 0;
    quint32 ownRequests = 0;
    quint32 slaveFrames = 0; // from any slave, the panel's requests not counted
    int otherSlave = 0;

    quint8 sentFrames[SentKept][FrameMax] = {};
    int sentCount = 0;
    int sentNext = 0;
    // The bytes at the end of the last burst that may start a frame cut by the next burst.
    quint8 carry[FrameMax - 1] = {};
    int carried = 0;
};

#endif // LINEDIAGNOSIS_H
