// MainWindow's side of the line diagnosis: the evidence handed over, the reason shown where the
// operator looks when the read-outs stay empty.
#include "mainwindow.h"

#include "commandlog.h"
#include "hcom.h"
#include "mainwindowform.h"
#include "registermap.h"

#include <QComboBox>
#include <QDebug>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

struct Text
{
    const char *english;
    const char *chinese;
};

const Text ClosedText = {"The port is closed.", "串口已关闭。"};
const Text WaitingText = {"Waiting for the driver on %1…", "正在等待%1上的驱动器…"};
const Text NothingText = {
    "Nothing received on %1 for %2 s: is the driver powered, and its cable on this port?",
    "%1上%2秒未收到任何数据:驱动器是否通电?电缆是否接在此串口?"};
const Text OnlyOwnRequestsText = {
    "Only the panel's own requests come back on %1: the adapter echoes them, but no driver "
    "answers.",
    "%1上只收到面板自己发出的请求:适配器回显了请求,但没有驱动器应答。"};
const Text OtherSlaveText = {"Answers on %1 come from slave address %2; this panel reads slave 1.",
                             "%1上的应答来自从站地址%2;本面板读取从站1。"};
const Text NeverAFrameText = {
    "Bytes arrive on %1 but never form a Modbus frame: is the driver set to 115200 baud, 8 data "
    "bits, no parity, 1 stop bit?",
    "%1上收到数据,但始终不成Modbus帧:驱动器是否设为115200波特、8位数据、无校验、1位停止位?"};
const Text SilentText = {"No answer from the driver on %1 for %2 s.", "%1上的驱动器已%2秒无应答。"};
const Text RefusedText = {"The driver refuses to read register %2 (exception %3).",
                          "驱动器拒绝读取寄存器%2(异常码%3)。"};
const Text GoneText = {"%1 has gone (adapter unplugged?): close it and open it again.",
                       "%1已断开(适配器被拔出?):请关闭后重新打开。"};
const Text OpenFailedText = {"%1 could not be opened: %2", "无法打开%1:%2"};
const Text NotListedText = {
    "Not listed: %1. On Linux, add the user to the group that owns the port (usually dialout) "
    "and log in again.",
    "未列出:%1。在Linux上,请将用户加入该串口所属的用户组(通常为dialout)后重新登录。"};

QString pick(const Text &text, bool english)
{
    return QString::fromUtf8(english ? text.english : text.chinese);
}

} // namespace

QString MainWindow::lineReasonText(const LineDiagnosis::Verdict &verdict) const
{
    return lineReasonText(verdict, useEnglish != 0);
}

QString MainWindow::lineReasonText(const LineDiagnosis::Verdict &verdict, bool english) const
{
    using Reason = LineDiagnosis::Reason;
    switch (verdict.reason) {
    case Reason::None:
        return QString();
    case Reason::Closed:
        return pick(ClosedText, english);
    case Reason::Waiting:
        return pick(WaitingText, english).arg(portName);
    case Reason::Nothing:
        return pick(NothingText, english).arg(portName).arg(verdict.seconds);
    case Reason::OnlyOwnRequests:
        return pick(OnlyOwnRequestsText, english).arg(portName);
    case Reason::OtherSlave:
        return pick(OtherSlaveText, english).arg(portName).arg(verdict.slave);
    case Reason::NeverAFrame:
        return pick(NeverAFrameText, english).arg(portName);
    case Reason::Silent:
        return pick(SilentText, english).arg(portName).arg(verdict.seconds);
    case Reason::Gone:
        return pick(GoneText, english).arg(portName);
    }
    return QString();
}

void MainWindow::showDiagnosis()
{
    if (portState != 1) {
        lineDiagnosis.closed();
    } else {
        // The channel closes a line that has gone; the button still says it is open.
        if (!com->comIsOpen())
            lineDiagnosis.gone();
        lineDiagnosis.tick(master->answersTaken());
    }
    // A read-out turns current with an answer and the reason changes with an open or a close;
    // everything else (grey after 5 s, the line's silence, the seconds) can wait a few
    // milliseconds of the clock, however slowly the ticks come.
    const quint32 answers = master->answersTaken();
    const qint64 now = readings.now();
    if (answers == diagnosedAnswers && portState == diagnosedPortState &&
        now - diagnosedAt < RejudgeMs)
        return;
    diagnosedAt = now;
    diagnosedAnswers = answers;
    diagnosedPortState = portState;
    const LineDiagnosis::Verdict verdict = lineDiagnosis.verdict();

    // Most ticks change nothing: compare what would be shown before building any text.
    using namespace RegisterMap;
    static const int rows[ReadoutCount] = {RowLdOnState, RowTecTemp, RowCurrentSetting, RowLdPower,
                                           RowMaxCurrent};
    const bool lineOpen = portState == 1 && com->comIsOpen();
    int readouts[ReadoutCount];
    bool changed = verdict != shownVerdict;
    for (int i = 0; i < ReadoutCount; ++i) {
        readouts[i] = int(reading(rows[i], lineOpen)) << 8 | master->refusal(rows[i]);
        changed = changed || readouts[i] != shownReadouts[i];
    }
    if (!changed)
        return;

    const QString reason = lineReasonText(verdict);
    // The record and the trend hear of each new reason in English; its seconds are not news.
    if (verdict.reason != shownVerdict.reason || verdict.slave != shownVerdict.slave)
        commandLog->lineReason(lineReasonText(verdict, true));
    if (!reason.isEmpty() &&
        (verdict.reason != shownVerdict.reason || verdict.slave != shownVerdict.slave))
        qDebug().noquote() << reason;
    shownVerdict = verdict;
    form->groupBox_4->setToolTip(reason);
    QLabel *const labels[ReadoutCount] = {form->ldState, form->tecRtTemp, form->ldSetCurrent,
                                          form->ldSetPower, form->ldMaxCur};
    for (int i = 0; i < ReadoutCount; ++i) {
        shownReadouts[i] = readouts[i];
        const quint8 refused = master->refusal(rows[i]);
        QString tip;
        if (reading(rows[i], lineOpen) == StatusDisplay::Reading::Current)
            tip.clear();
        else if (refused != 0)
            tip = pick(RefusedText, useEnglish != 0)
                      .arg(pollTable.entries[rows[i]].registerAddress)
                      .arg(refused);
        else
            tip = reason;
        labels[i]->setToolTip(tip);
    }
}

void MainWindow::showOpenFailure()
{
    form->btn_comSet->setToolTip(
        pick(OpenFailedText, useEnglish != 0).arg(portName, com->comOpenError()));
}

void MainWindow::showRefusedPorts()
{
    // Each port with its own reason: which reason is whose cannot be told from two lists.
    const bool english = useEnglish != 0;
    QStringList ports;
    for (const Hcom::Refused &port : com->comRefusedPorts())
        ports << (english ? QStringLiteral("%1 (%2)") : QString::fromUtf8("%1(%2)"))
                     .arg(port.name, port.reason);
    form->comb_comName->setToolTip(
        ports.isEmpty()
            ? QString()
            : pick(NotListedText, english)
                  .arg(ports.join(english ? QStringLiteral(", ") : QString::fromUtf8("、"))));
}
