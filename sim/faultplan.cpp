#include "faultplan.h"

#include "crc16.h"
#include "registermap.h"

#include <QStringList>

#include <utility>

namespace {

bool isNth(int count, int every)
{
    return every > 0 && count % every == 0;
}

constexpr int LineBaud = 115200;
constexpr int BitsPerCharacter = 10; // start, 8 data, stop

// The level of the line during bit `bit` of bytes sent back to back: idle (1) after the last.
int lineLevel(const QByteArray &bytes, qint64 bit)
{
    const qint64 character = bit / BitsPerCharacter;
    if (bit < 0 || character >= bytes.size())
        return 1;
    const int position = int(bit % BitsPerCharacter);
    if (position == 0)
        return 0;
    if (position == BitsPerCharacter - 1)
        return 1;
    return (quint8(bytes[int(character)]) >> (position - 1)) & 1;
}

} // namespace

FaultPlan::Shaped FaultPlan::shape(const QByteArray &reply)
{
    ++replies;
    Shaped shaped;
    QStringList notes;
    int delay = qMax(0, delayMs);
    if (!fifoDelaysMs.isEmpty()) {
        shaped.inTurn = true;
        delay = fifoDelaysMs[std::uniform_int_distribution<int>(0, fifoDelaysMs.size() - 1)(rng)];
        if (delay < 0) {
            shaped.note = QStringLiteral("never answered");
            return shaped;
        }
        notes << QStringLiteral("in turn");
    }
    if (isNth(replies, dropEvery) || chance(dropRate)) {
        shaped.note = QStringLiteral("dropped");
        return shaped;
    }
    QByteArray bytes = reply;
    if (!writeAnswer.isEmpty() && reply.size() > 1 &&
        quint8(reply[1]) == RegisterMap::FunctionWriteSingle) {
        bytes = writeAnswer;
        notes << QStringLiteral("answered amiss");
    }
    if (answerSlave > 0 && bytes.size() > 2) {
        bytes[0] = char(answerSlave);
        const quint16 crc = crc16Modbus(reinterpret_cast<const quint8 *>(bytes.constData()),
                                        quint16(bytes.size() - 2));
        bytes[bytes.size() - 2] = char(crc & 0xFF);
        bytes[bytes.size() - 1] = char(crc >> 8);
        notes << QStringLiteral("from slave %1").arg(answerSlave);
    }
    if (isNth(replies, corruptCrcEvery) && !bytes.isEmpty()) {
        bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 0xFF);
        notes << QStringLiteral("crc corrupted");
    }
    if (strayBytes > 0) {
        std::uniform_int_distribution<int> byte(0, 255);
        QByteArray stray;
        for (int i = 0; i < strayBytes; ++i)
            stray.append(char(byte(rng)));
        bytes.prepend(stray);
        notes << QStringLiteral("%1 stray bytes").arg(strayBytes);
    }
    if (!leadBytes.isEmpty() || !trailBytes.isEmpty()) {
        bytes = leadBytes + bytes + trailBytes;
        notes << QStringLiteral("%1 bytes ahead, %2 after")
                     .arg(leadBytes.size())
                     .arg(trailBytes.size());
    }
    if (answerBaud > 0 && answerBaud != LineBaud) {
        bytes = heardAt(bytes, answerBaud, LineBaud);
        notes << QStringLiteral("sent at %1 baud").arg(answerBaud);
    }
    if (delay > 0)
        notes << QStringLiteral("delayed %1 ms").arg(delay);
    if (splitGapMs > 0 && bytes.size() >= 2) {
        const int first = splitAt > 0 ? qMin(splitAt, bytes.size() - 1) : bytes.size() / 2;
        shaped.writes.append({delay, bytes.left(first)});
        shaped.writes.append({delay + splitGapMs, bytes.mid(first)});
        notes << QStringLiteral("split %1+%2 bytes, %3 ms apart")
                     .arg(first)
                     .arg(bytes.size() - first)
                     .arg(splitGapMs);
    } else {
        shaped.writes.append({delay, bytes});
    }
    if (byteGapMs > 0) {
        QVector<Write> slow;
        int lateBy = 0;
        for (const Write &write : std::as_const(shaped.writes)) {
            for (int i = 0; i < write.bytes.size(); ++i) {
                slow.append({write.afterMs + lateBy, write.bytes.mid(i, 1)});
                if (i + 1 < write.bytes.size())
                    lateBy += byteGapMs;
            }
        }
        shaped.writes = slow;
        notes << QStringLiteral("bytes %1 ms apart").arg(byteGapMs);
    }
    shaped.note = notes.join(QStringLiteral(", "));
    return shaped;
}

QByteArray FaultPlan::heardAt(const QByteArray &bytes, int senderBaud, int receiverBaud)
{
    // Time in units of 1 / (senderBaud * receiverBaud) s, so every edge and sample is whole:
    // a sender's bit lasts receiverBaud units, a receiver's bit senderBaud units.
    const qint64 senderBit = receiverBaud;
    const qint64 receiverBit = senderBaud;
    const qint64 end = qint64(bytes.size()) * BitsPerCharacter * senderBit;
    QByteArray heard;
    qint64 t = 0;
    while (t < end) {
        // The receiver waits for a falling edge: a sender's bit boundary from 1 to 0.
        qint64 bit = (t + senderBit - 1) / senderBit;
        while (bit * senderBit < end && !(lineLevel(bytes, bit) == 0 && lineLevel(bytes, bit - 1)))
            ++bit;
        if (bit * senderBit >= end)
            break;
        const qint64 start = bit * senderBit;
        // Each data bit sampled in its middle; what the stop bit holds does not matter here.
        int byte = 0;
        for (int i = 0; i < 8; ++i) {
            const qint64 sample = start + receiverBit * (2 * i + 3) / 2;
            byte |= lineLevel(bytes, sample / senderBit) << i;
        }
        heard.append(char(byte));
        t = start + receiverBit * 19 / 2;
    }
    return heard;
}

void FaultPlan::reset(quint32 seed)
{
    replies = 0;
    echoes = 0;
    rng.seed(seed);
}

bool FaultPlan::chance(double probability)
{
    if (probability <= 0.0)
        return false;
    if (probability >= 1.0)
        return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < probability;
}
