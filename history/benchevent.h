#ifndef BENCHEVENT_H
#define BENCHEVENT_H

#include <QString>
#include <QtGlobal>

// Something that happened at the bench, as the trend marks it and the record writes it.
struct BenchEvent
{
    enum class Kind { RecordingStarted, PortOpened, PortClosed, Command, Line };
    // What became of a command; None for the other kinds.
    enum class Outcome { None, Sent, Confirmed, Refused, NotConfirmed, NotSent };

    Kind kind = Kind::Command;
    Outcome outcome = Outcome::None;
    // Command: one number per command the operator gave, the same on each of its outcomes.
    int command = 0;
    // In English whatever the panel's language, as the record's event column has it:
    // "port opened: COM3", "LD off: confirmed", "line: ok".
    QString text;
    qint64 wallMs = 0; // ms since the epoch (UTC), shown in the desktop's local time
    qint64 monoMs = 0; // on the clock of CurrentReadings
};

#endif // BENCHEVENT_H
