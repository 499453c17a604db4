#ifndef RTUSLAVE_H
#define RTUSLAVE_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

class LdDriverModel;

// The Modbus RTU slave side of the simulated driver, without any I/O: bytes go in with the time
// they were read, answered frames come out. Frames are cut by their length where the function
// code fixes it (8 bytes for 03 and 06) and by the silent interval otherwise, never by how the
// bytes happened to be read.
//
// Like a real slave it stays silent on a bad CRC, on frames for another address and on
// broadcasts (a broadcast write is still carried out).
class RtuSlave
{
public:
    enum class Outcome {
        Answered,     // reply holds the answer (normal or exception)
        Broadcast,    // write carried out, no reply
        OtherAddress, // valid frame for another slave, ignored
        Discarded,    // bytes that made no valid frame (bad CRC, cut short), ignored
    };

    struct Exchange
    {
        qint64 atMs = 0;
        Outcome outcome = Outcome::Answered;
        quint8 slave = 0;
        quint8 function = 0;
        quint16 reg = 0;
        quint16 value = 0; // count for reads, value for writes
        quint8 exception = 0;
        QVector<quint16> values; // what a read returned
        QByteArray request;      // the frame, or the discarded bytes
        QByteArray reply;        // empty when nothing is to be sent
    };

    explicit RtuSlave(LdDriverModel &model, quint8 address = 1);

    // A practical silent interval: 3.5 characters at 115200 are 0.3 ms, far below what a
    // desktop's timers and serial drivers can resolve.
    static constexpr int DefaultGapMs = 2;
    void setGapMs(int ms) { gapMs = qMax(1, ms); }
    int gap() const { return gapMs; }

    // Bytes read from the line at nowMs.
    void feed(const QByteArray &bytes, qint64 nowMs);
    // Ends a frame whose silent interval has passed by nowMs.
    void poll(qint64 nowMs);
    // True while bytes wait for more bytes or for the silent interval.
    bool hasPendingBytes() const { return !pending.isEmpty(); }
    // When poll() has something to decide, or -1 if nothing is pending.
    qint64 nextDeadline() const { return pending.isEmpty() ? -1 : lastByteMs + gapMs; }

    QVector<Exchange> takeExchanges();

    // The request length the function code fixes: >0 the length, 0 not enough bytes yet to know,
    // -1 not known from the bytes (ended by the silent interval).
    static int requestLength(const QByteArray &bytes);

private:
    void extract(qint64 nowMs, bool silence);
    bool startsWithFrame(const QByteArray &bytes) const;
    void handleFrame(const QByteArray &frame, qint64 nowMs);
    void discard(int count);
    void flushDiscarded(qint64 nowMs);
    QByteArray answer(Exchange &exchange, const QByteArray &frame);

    LdDriverModel &model;
    quint8 address;
    int gapMs = DefaultGapMs;
    QByteArray pending;
    QByteArray discarded;
    qint64 lastByteMs = 0;
    QVector<Exchange> exchanges;
};

#endif // RTUSLAVE_H
