#include "logcapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex mutex;
QList<QPair<QtMsgType, QString>> captured;

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&mutex);
    captured.append(qMakePair(type, message));
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

QStringList LogCapture::debugLines() const
{
    QMutexLocker lock(&mutex);
    QStringList out;
    for (const auto &entry : captured)
        if (entry.first == QtDebugMsg)
            out << entry.second;
    return out;
}

QStringList LogCapture::allLines() const
{
    QMutexLocker lock(&mutex);
    QStringList out;
    for (const auto &entry : captured)
        out << entry.second;
    return out;
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    captured.clear();
}
