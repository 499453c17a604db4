#ifndef BENCHRECORD_H
#define BENCHRECORD_H

#include "benchevent.h"

#include <QFile>
#include <QString>
#include <QtGlobal>

#include <functional>

class CurrentReadings;
class QDateTime;

// The record: a CSV file of what the driver sent, one row a second and one per event, each row
// handed to the system as it is made so a crash loses at most the last second. Nothing is kept
// to write later and nothing written is rewritten.
//
// A value is written only while CurrentReadings holds it current; otherwise its field is empty.
// Values are written as the read-outs show them, with '.' whatever the locale.
class BenchRecord
{
public:
    static constexpr qint64 RowEveryMs = 1000;
    // Milliseconds since the epoch (UTC); tests set their own.
    using WallClock = std::function<qint64()>;

    explicit BenchRecord(const CurrentReadings &readings, WallClock wallClock = WallClock());

    static QByteArray header();
    // The file the save dialog offers: ldpanel-YYYYMMDD-HHMMSS.csv in the documents folder.
    static QString offeredPath(const QString &folder, const QDateTime &at);
    // ISO 8601 local time with milliseconds and the UTC offset.
    static QString timeText(qint64 wallMs);
    // One field as RFC 4180 has it: quoted where it holds a comma, a quote or a line break.
    static QString quoted(const QString &field);

    // Creates the file (an existing one is replaced) and writes the header and "recording
    // started". False, with the reason in error(), when the file cannot be written.
    bool start(const QString &path);
    void stop();
    bool running() const { return file.isOpen(); }
    QString path() const { return file.fileName(); }
    QString error() const { return failure; }

    // A row with the event empty once a second has passed since the last such row. False when
    // the write failed: the record has stopped, the rows before stay.
    bool tick();
    // A row at the event's time with the values current now.
    bool addEvent(const BenchEvent &event);

private:
    bool writeRow(qint64 wallMs, const QString &event);
    QString valueFields() const;

    const CurrentReadings &readings;
    WallClock wallClock;
    QFile file;
    QString failure;
    qint64 nextRowAt = 0;
};

#endif // BENCHRECORD_H
