#include "faultplan.h"

#include "registermap.h"

#include <QStringList>

#include <utility>

namespace {

bool isNth(int count, int every)
{
    return every > 0 && count % every == 0;
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
