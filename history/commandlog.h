#ifndef COMMANDLOG_H
#define COMMANDLOG_H

#include "benchevent.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <functional>

// The bench's events as the panel meets them: each command the operator gives, numbered, and
// what became of it; the port opening and closing; the line's reason changing. Every event goes
// to the sink with its wall time and the monotonic time.
//
// The master reports a write by its frame. Frames leave the write queue in the order they were
// queued, so each report belongs to the oldest command still waiting with the same frame.
class CommandLog
{
public:
    using Sink = std::function<void(const BenchEvent &event)>;
    using Clock = std::function<qint64()>;

    CommandLog(Clock monotonic, Clock wall, Sink sink);

    // "LD current 1500", "TEC off"; without the value where it is not known (value < 0).
    static QString commandText(int reg, int value);

    void portOpened(const QString &name);
    void portClosed(const QString &name);
    // The panel took the command into its write queue.
    void queued(int reg, int value, const quint8 *frame, quint16 length);
    // The panel itself turned the command down: why, in English.
    void refused(int reg, int value, const QString &why);

    // The master's side: the write frame went out, was answered, or was given up.
    void frameSent(const quint8 *frame, quint16 length);
    // exception 0: the driver's copy confirmed it.
    void frameAnswered(const quint8 *frame, quint16 length, quint8 exception);
    void frameNotConfirmed(const quint8 *frame, quint16 length);
    void frameNotSent(const quint8 *frame, quint16 length);

    // The line's reason in English, empty when the line is well; told only when it changes.
    void lineReason(const QString &reason);

private:
    struct Pending
    {
        int number;
        QString text;
        QByteArray frame;
        bool sent;
    };

    std::deque<Pending>::iterator find(const quint8 *frame, quint16 length);
    // The command behind a report, taken off the list unless it is only a send.
    Pending take(const quint8 *frame, quint16 length, bool keep);
    void emitEvent(BenchEvent::Kind kind, BenchEvent::Outcome outcome, int command,
                   const QString &text);
    void outcome(const quint8 *frame, quint16 length, BenchEvent::Outcome outcome,
                 const QString &word);

    Clock monotonic;
    Clock wall;
    Sink sink;
    std::deque<Pending> pending;
    int nextNumber = 1;
    bool reasonKnown = false;
    QString lastReason;
};

#endif // COMMANDLOG_H
