#include "commandlog.h"

#include "registermap.h"

namespace {

QString temperatureValue(int hundredths)
{
    return QStringLiteral("%1.%2")
        .arg(hundredths / 100)
        .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

// The register and value of a function 06 frame; -1 where the frame is not one.
void decode(const quint8 *frame, quint16 length, int &reg, int &value)
{
    reg = -1;
    value = -1;
    if (length < 6 || frame[1] != RegisterMap::FunctionWriteSingle)
        return;
    reg = frame[2] << 8 | frame[3];
    value = frame[4] << 8 | frame[5];
}

} // namespace

CommandLog::CommandLog(Clock monotonic, Clock wall, Sink sink)
    : monotonic(std::move(monotonic)), wall(std::move(wall)), sink(std::move(sink))
{}

QString CommandLog::commandText(int reg, int value)
{
    using namespace RegisterMap;
    const bool known = value >= 0;
    auto withValue = [&](const char *name) {
        const QString text = QString::fromLatin1(name);
        return known ? text + QLatin1Char(' ') + QString::number(value) : text;
    };
    switch (reg) {
    case LdSwitch:
        return !known       ? QStringLiteral("LD switch")
               : value == 1 ? QStringLiteral("LD on")
                            : QStringLiteral("LD off");
    case TecSwitch:
        return !known       ? QStringLiteral("TEC switch")
               : value == 1 ? QStringLiteral("TEC on")
                            : QStringLiteral("TEC off");
    case LdCurrentSetting:
        return withValue("LD current");
    case LdTempSetting:
        return known ? QStringLiteral("LD temperature ") + temperatureValue(value)
                     : QStringLiteral("LD temperature");
    case LdMode:
        return withValue("LD mode");
    case LdPulse:
        return withValue("LD pulse");
    case LdPulseCurrent:
        return withValue("LD pulse current");
    case LdFrequency:
        return withValue("LD frequency");
    default: {
        const QString name = QStringLiteral("register %1").arg(reg);
        return known ? name + QLatin1Char(' ') + QString::number(value) : name;
    }
    }
}

void CommandLog::emitEvent(BenchEvent::Kind kind, BenchEvent::Outcome outcome, int command,
                           const QString &text)
{
    BenchEvent event;
    event.kind = kind;
    event.outcome = outcome;
    event.command = command;
    event.text = text;
    event.wallMs = wall();
    event.monoMs = monotonic();
    sink(event);
}

void CommandLog::portOpened(const QString &name)
{
    emitEvent(BenchEvent::Kind::PortOpened, BenchEvent::Outcome::None, 0,
              QStringLiteral("port opened: ") + name);
}

void CommandLog::portClosed(const QString &name)
{
    emitEvent(BenchEvent::Kind::PortClosed, BenchEvent::Outcome::None, 0,
              QStringLiteral("port closed: ") + name);
}

void CommandLog::queued(int reg, int value, const quint8 *frame, quint16 length)
{
    pending.push_back(Pending{nextNumber++, commandText(reg, value),
                              QByteArray(reinterpret_cast<const char *>(frame), length), false});
}

void CommandLog::refused(int reg, int value, const QString &why)
{
    emitEvent(BenchEvent::Kind::Command, BenchEvent::Outcome::Refused, nextNumber++,
              commandText(reg, value) + QStringLiteral(": refused (") + why + QLatin1Char(')'));
}

std::deque<CommandLog::Pending>::iterator CommandLog::find(const quint8 *frame, quint16 length)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(frame), length);
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->frame == bytes)
            return it;
    }
    return pending.end();
}

CommandLog::Pending CommandLog::take(const quint8 *frame, quint16 length, bool keep)
{
    const auto it = find(frame, length);
    if (it == pending.end()) {
        // Not queued through the log: still told, under a number of its own.
        int reg = 0;
        int value = 0;
        decode(frame, length, reg, value);
        Pending stray{nextNumber++, commandText(reg, value), QByteArray(), true};
        return stray;
    }
    Pending found = *it;
    if (keep)
        it->sent = true;
    else
        pending.erase(it);
    return found;
}

void CommandLog::frameSent(const quint8 *frame, quint16 length)
{
    const auto it = find(frame, length);
    // Resends are not news; only the first time a command goes out.
    if (it == pending.end() || it->sent)
        return;
    const Pending command = take(frame, length, true);
    emitEvent(BenchEvent::Kind::Command, BenchEvent::Outcome::Sent, command.number,
              command.text + QStringLiteral(": sent"));
}

void CommandLog::outcome(const quint8 *frame, quint16 length, BenchEvent::Outcome outcome,
                         const QString &word)
{
    const Pending command = take(frame, length, false);
    emitEvent(BenchEvent::Kind::Command, outcome, command.number,
              command.text + QStringLiteral(": ") + word);
}

void CommandLog::frameAnswered(const quint8 *frame, quint16 length, quint8 exception)
{
    if (exception == 0)
        outcome(frame, length, BenchEvent::Outcome::Confirmed, QStringLiteral("confirmed"));
    else
        outcome(frame, length, BenchEvent::Outcome::Refused,
                QStringLiteral("refused (exception %1)").arg(exception));
}

void CommandLog::frameNotConfirmed(const quint8 *frame, quint16 length)
{
    outcome(frame, length, BenchEvent::Outcome::NotConfirmed, QStringLiteral("not confirmed"));
}

void CommandLog::frameNotSent(const quint8 *frame, quint16 length)
{
    outcome(frame, length, BenchEvent::Outcome::NotSent, QStringLiteral("not sent"));
}

void CommandLog::lineReason(const QString &reason)
{
    if (reasonKnown && reason == lastReason)
        return;
    reasonKnown = true;
    lastReason = reason;
    emitEvent(BenchEvent::Kind::Line, BenchEvent::Outcome::None, 0,
              QStringLiteral("line: ") + (reason.isEmpty() ? QStringLiteral("ok") : reason));
}
