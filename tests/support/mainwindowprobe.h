#ifndef MAINWINDOWPROBE_H
#define MAINWINDOWPROBE_H

#include "mainwindow.h"

class Hcom;
class MainWindowForm;
class QTimer;

// Reaches into a MainWindow for tests: its state, and the operations that are not slots.
class MainWindowProbe
{
public:
    explicit MainWindowProbe(MainWindow &window) : w(window) {}

    MainWindowForm &form() { return *w.form; }
    Hcom &com() { return *w.com; }
    QTimer &tickTimer() { return *w.tickTimer; }
    qint32 &portState() { return w.portState; }
    qint32 baudRate() const { return w.baudRate; }
    const QString &portName() const { return w.portName; }
    const QStringList &portList() const { return w.portList; }
    UserSetpoints &userSetpoints() { return w.userSetpoints; }
    DeviceStatus &deviceStatus() { return w.deviceStatus; }
    quint16 &writeDelay() { return w.writeDelay; }
    quint8 &deviceOnline() { return w.deviceOnline; }
    RegisterWriteQueue &writeQueue() { return *w.writeQueue; }
    qint32 &useEnglish() { return w.useEnglish; }
    quint8 &writePending() { return w.writePending; }
    ResponseBuffer &responseBuffer() { return w.responseBuffer; }
    PollTable &pollTable() { return w.pollTable; }
    ModbusMaster &master() { return *w.master; }
    CurrentReadings &readings() { return w.readings; }

    void storeResponse(const quint8 *bytes, quint16 length) { w.storeResponse(bytes, length); }
    void masterStep() { w.masterStep(); }
    void tick() { w.m_timerEvent(); }
    void queueRegisterWrite(int reg, int value) { w.queueRegisterWrite(reg, value); }
    void selectLdMode(const QString &text) { w.selectLdMode(text); }
    void setPulse(const QString &text) { w.setPulse(text); }
    void setFrequency(const QString &text) { w.setFrequency(text); }
    void setPulseCurrent(const QString &text) { w.setPulseCurrent(text); }
    // The record without its save dialog.
    bool startRecord(const QString &path) { return w.startRecord(path); }

private:
    MainWindow &w;
};

#endif // MAINWINDOWPROBE_H
