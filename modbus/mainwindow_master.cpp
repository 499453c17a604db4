// MainWindow's side of the Modbus master: the tick, the request senders and the write queue.
#include "mainwindow.h"

#include "commandlog.h"
#include "hcom.h"
#include "registermap.h"
#include "rtuframe.h"

#include <QDebug>
#include <QEventLoop>
#include <QString>
#include <QTimer>

void MainWindow::masterStep()
{
    master->step(masterLineOpen(), *this);
    if (!closing)
        return;
    // The ticks may come slower than the clock on a busy machine: the second is the clock's.
    if (master->flushing() && !closingSince.hasExpired(WriteInFlight::FlushTicks))
        return;
    master->endFlush(*this);
    closePort();
}

void MainWindow::closePort()
{
    com->comClose(portName);
    commandLog->portClosed(portName);
    closing = false;
    if (exitLoop)
        exitLoop->quit();
}

int MainWindow::sendReadRequest(int slave, int reg)
{
    const RtuFrame::Request frame = RtuFrame::readRequest(slave, reg);
    lineDiagnosis.sent(frame.data(), RtuFrame::RequestLength);
    return com->comWrite(frame.data(), RtuFrame::RequestLength);
}

int MainWindow::sendWriteRequest(int slave, int reg, int value)
{
    const RtuFrame::Request frame = RtuFrame::writeRequest(slave, reg, value);
    lineDiagnosis.sent(frame.data(), RtuFrame::RequestLength);
    return com->comWrite(frame.data(), RtuFrame::RequestLength);
}

void MainWindow::writeFrame(const quint8 *bytes, quint16 length)
{
    lineDiagnosis.sent(bytes, length);
    com->comWrite(bytes, length);
    commandLog->frameSent(bytes, length);
}

void MainWindow::writeAnswered(const QueuedFrame &frame, quint8 exception)
{
    commandLog->frameAnswered(frame.data, frame.length, exception);
}

void MainWindow::writeFailed(WriteFailure failure, const QueuedFrame &frame)
{
    const QString bytes = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(frame.data), frame.length).toHex(' '));
    // A refusal has been told with its exception code already.
    if (failure == WriteFailure::NotConfirmed)
        commandLog->frameNotConfirmed(frame.data, frame.length);
    else if (failure == WriteFailure::NotSent)
        commandLog->frameNotSent(frame.data, frame.length);
    if (exiting) {
        reportWriteFailure(failure, bytes);
        return;
    }
    if (failure == WriteFailure::NotSent) {
        if (notSentQueued)
            return;
        notSentQueued = true;
    }
    // The master is inside its step: a dialog's event loop must not run in there.
    QTimer::singleShot(0, this, [this, failure, bytes] { reportWriteFailure(failure, bytes); });
}

void MainWindow::reportWriteFailure(WriteFailure failure, const QString &frame)
{
    if (failure == WriteFailure::NotSent)
        notSentQueued = false;
    if (exiting) {
        // The window has gone; the log is all that is left to tell.
        const char *what = failure == WriteFailure::Refused        ? "write refused"
                           : failure == WriteFailure::NotConfirmed ? "write not confirmed"
                                                                   : "write not sent";
        qDebug().noquote() << QString::fromLatin1(what) << frame;
        return;
    }
    if (failure == WriteFailure::Refused)
        warn(QStringLiteral("Command Refused!"), QString::fromUtf8("命令被拒绝!"));
    else if (failure == WriteFailure::NotConfirmed)
        warn(QStringLiteral("Command Not Confirmed!"), QString::fromUtf8("命令未确认!"));
    else
        warn(QStringLiteral("Command Not Sent!"), QString::fromUtf8("命令未发送!"));
}

void MainWindow::queueRegisterWrite(int reg, int value)
{
    if (portState == 0) {
        commandLog->refused(reg, value, QStringLiteral("port not open"));
        warn(QStringLiteral("ComDevice Not Open!"), QString::fromUtf8("没有打开设备串口!"));
        return;
    }
    // A write that does not fit must not vanish: a lost "LD off" matters at a live laser.
    if (master->queueWrite(reg, value) != RegisterWriteQueue::Stored) {
        commandLog->refused(reg, value, QStringLiteral("command queue full"));
        warn(QStringLiteral("Command Queue Full!"), QString::fromUtf8("命令队列已满!"));
        return;
    }
    const RtuFrame::Request frame = RtuFrame::writeRequest(RegisterMap::SlaveAddress, reg, value);
    commandLog->queued(reg, value, frame.data(), RtuFrame::RequestLength);
}
