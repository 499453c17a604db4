// MainWindow's side of the Modbus master: the tick, the request senders and the write queue.
#include "mainwindow.h"

#include "hcom.h"
#include "rtuframe.h"

#include <QString>
#include <QTimer>

void MainWindow::masterStep()
{
    master->step(portState == 1, *this);
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
}

void MainWindow::writeFailed(WriteFailure failure)
{
    // The master is inside its step: a dialog's event loop must not run in there.
    QTimer::singleShot(0, this, [this, failure] {
        if (failure == WriteFailure::Refused)
            warn(QStringLiteral("Command Refused!"), QString::fromUtf8("命令被拒绝!"));
        else
            warn(QStringLiteral("Command Not Confirmed!"), QString::fromUtf8("命令未确认!"));
    });
}

void MainWindow::queueRegisterWrite(int reg, int value)
{
    if (portState == 0) {
        warn(QStringLiteral("ComDevice Not Open!"), QString::fromUtf8("没有打开设备串口!"));
        return;
    }
    // A write that does not fit must not vanish: a lost "LD off" matters at a live laser.
    if (master->queueWrite(reg, value) != RegisterWriteQueue::Stored)
        warn(QStringLiteral("Command Queue Full!"), QString::fromUtf8("命令队列已满!"));
}
