#include "faultplan.h"

#include <QStringList>

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
