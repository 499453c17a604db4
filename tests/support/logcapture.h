#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects Qt debug-log messages while it lives. One at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    // Debug messages (qDebug) in order.
    QStringList debugLines() const;
    QStringList allLines() const;
    void clear();

private:
    QtMessageHandler previous;
};

#endif // LOGCAPTURE_H
