#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "currentreadings.h"
#include "devicestatus.h"
#include "linediagnosis.h"
#include "modbusmaster.h"
#include "polltable.h"
#include "registerwritequeue.h"
#include "responsebuffer.h"
#include "statusdisplay.h"
#include "tickrate.h"
#include "usersetpoints.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class BenchRecord;
class CommandLog;
class Hcom;
class MainWindowForm;
class QAction;
class QEventLoop;
class QTimer;
class TrendHistory;
class TrendWindow;
struct BenchEvent;
struct PortSource;

// The panel's window. It owns the serial channel, the form, the 1 ms tick and the state of the
// Modbus master; everything runs on the GUI thread.
class MainWindow : public QMainWindow, private MasterLink
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Where later refreshes of the port list look; the list made at start-up stays as it is.
    void setPortSource(const PortSource &source);

    // Runs the application's event loop. Once it has ended (the window closed), a command still
    // queued goes out before this returns the loop's result, within a second.
    int run();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Takes the trend window with it.
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void m_timerEvent();
    void comSetClick();
    void readSerialData();
    void btMbStartClick();
    void on_btnSetLdMode_clicked();
    void on_btnSetLdTemp_clicked();
    void on_btnSetPluse_clicked();
    void on_btnSetLdPower_clicked();
    void on_btnSetLdCurrent_clicked();
    void on_btnSetLdFrequare_clicked();
    void on_btnSetTECOn_clicked();
    void on_btnSetTecOff_clicked();
    void on_btnSetLdOn_clicked();
    void on_btnSetLdOff_clicked();
    void on_btnSetLdMaxPow_clicked();
    void on_btnSetLdPlusCurrent_clicked();

private:
    friend class MainWindowProbe; // test access to the window's state

    void setUpPortSelection();
    void refreshPortList();
    void storeResponse(const quint8 *bytes, quint16 length);
    void masterStep();
    // The master runs while the port is open, and while it closes with commands still queued.
    bool masterLineOpen() const { return portState == 1 || closing; }
    // The close itself, once the queue has gone out or cannot wait any longer.
    void closePort();
    void reportWriteFailure(WriteFailure failure, const QString &frame);
    void queueRegisterWrite(int reg, int value);
    void refreshStatus();
    StatusDisplay::Reading reading(int row, bool lineOpen) const;
    // Why the read-outs stay empty, in the tooltips; the failed open and the ports not listed.
    void showDiagnosis();
    QString lineReasonText(const LineDiagnosis::Verdict &verdict) const;
    QString lineReasonText(const LineDiagnosis::Verdict &verdict, bool english) const;
    void showOpenFailure();
    void showRefusedPorts();

    // MasterLink: the master's frames go out through the channel.
    int sendReadRequest(int slave, int reg) override;
    int sendWriteRequest(int slave, int reg, int value) override;
    void writeFrame(const quint8 *bytes, quint16 length) override;
    void writeFailed(WriteFailure failure, const QueuedFrame &frame) override;
    void writeAnswered(const QueuedFrame &frame, quint8 exception) override;

    // The commands whose input has no widget on this form take their text from here.
    void selectLdMode(const QString &modeText);
    void setPulse(const QString &valueText);
    void setFrequency(const QString &valueText);
    void setPulseCurrent(const QString &valueText);

    void warn(const QString &english, const QString &chinese);
    // Until the driver has answered, shows the not-online warning and returns true.
    // The command (register, value; -1 unknown) is told to the event log as refused.
    bool refuseWhileOffline(const QString &english, int reg, int value);

    Hcom *com = nullptr;
    MainWindowForm *form = nullptr;
    QTimer *tickTimer = nullptr;
    qint32 portState = 0;
    // Closed by the operator, the port stays open until what is queued has gone out.
    bool closing = false;
    QElapsedTimer closingSince;
    // The window has gone: failures go to the debug log, and the loop waits for the close.
    bool exiting = false;
    QEventLoop *exitLoop = nullptr;
    // One "Command Not Sent!" for all the commands one close dropped.
    bool notSentQueued = false;
    qint32 baudRate = 0;
    QString portName;
    QStringList portList;
    UserSetpoints userSetpoints;
    DeviceStatus deviceStatus;
    quint16 writeDelay = 0;
    quint8 deviceOnline = 0;
    RegisterWriteQueue *writeQueue = nullptr;
    qint32 useEnglish = 0;
    quint8 writePending = 0;
    ResponseBuffer responseBuffer;
    PollTable pollTable;
    // Which readings are current; its clock is the window's for everything told in seconds.
    CurrentReadings readings;
    TickRate tickRate{[this] { return readings.now(); }};
    // The one master, over the state above; made once the poll table is filled.
    std::unique_ptr<ModbusMaster> master;
    StatusDisplay statusDisplay;
    LineDiagnosis lineDiagnosis{[this] { return readings.now(); }};
    static constexpr int ReadoutCount = 5;
    static constexpr qint64 RejudgeMs = 64;
    quint32 diagnosedAnswers = 0;
    qint32 diagnosedPortState = -1;
    qint64 diagnosedAt = 0;
    LineDiagnosis::Verdict shownVerdict;
    int shownReadouts[ReadoutCount] = {-1, -1, -1, -1, -1};

    // The trend and the record (mainwindow_history.cpp). Last, so they go before what they read.
    void setUpHistory();
    void showTrend();
    void toggleRecord();
    bool startRecord(const QString &path);
    void showRecordState();
    void benchEvent(const BenchEvent &event);
    // The record has stopped on a failed write: the operator is told once the step has returned.
    void recordFailed();
    std::unique_ptr<TrendHistory> trendHistory;
    std::unique_ptr<BenchRecord> benchRecord;
    std::unique_ptr<CommandLog> commandLog;
    QPointer<TrendWindow> trendWindow;
    QAction *actionTrend = nullptr;
    QAction *actionRecord = nullptr;
    QTimer *recordTimer = nullptr;
};

#endif // MAINWINDOW_H
