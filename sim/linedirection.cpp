#include "linedirection.h"

#include "faultplan.h"

namespace {

constexpr int BitsPerCharacter = 10;

} // namespace

qint64 LineDirection::characterNs(int baud)
{
    return qint64(BitsPerCharacter) * 1000000000 / qMax(1, baud);
}

void LineDirection::put(const QByteArray &sent, qint64 nowNs, int senderBaud, int receiverBaud)
{
    if (sent.isEmpty())
        return;
    // A receiver has each byte it makes of the sender's once the last bit it sampled has come.
    const qint64 startNs = qMax(nowNs, busyUntilNs);
    const qint64 durationNs = sent.size() * characterNs(senderBaud);
    const QByteArray heard =
        senderBaud == receiverBaud ? sent : FaultPlan::heardAt(sent, senderBaud, receiverBaud);
    for (int i = 0; i < heard.size(); ++i)
        arrivesNs.append(startNs + durationNs * (i + 1) / heard.size());
    bytes.append(heard);
    busyUntilNs = startNs + durationNs;
}

QByteArray LineDirection::take(qint64 nowNs)
{
    int count = 0;
    while (count < arrivesNs.size() && arrivesNs[count] <= nowNs)
        ++count;
    if (count == 0)
        return QByteArray();
    const QByteArray arrived = bytes.left(count);
    bytes.remove(0, count);
    arrivesNs.remove(0, count);
    return arrived;
}

void LineDirection::clear()
{
    bytes.clear();
    arrivesNs.clear();
    busyUntilNs = 0;
}
