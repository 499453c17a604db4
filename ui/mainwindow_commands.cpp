// The operator commands behind the panel's buttons.
#include "mainwindow.h"

#include "commandinput.h"
#include "commandlog.h"
#include "mainwindowform.h"
#include "registermap.h"

#include <QDebug>
#include <QLineEdit>
#include <QMessageBox>

namespace {

QString notOnlineChinese()
{
    return QString::fromUtf8("设备不在线!");
}

} // namespace

bool MainWindow::refuseWhileOffline(const QString &english, int reg, int value)
{
    if (deviceOnline != 0)
        return false;
    commandLog->refused(reg, value, QStringLiteral("driver not online"));
    // Why the driver has not answered goes with the refusal.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                    useEnglish ? english : notOnlineChinese(), QMessageBox::Ok, this);
    box.setInformativeText(lineReasonText(lineDiagnosis.verdict()));
    box.exec();
    return true;
}

void MainWindow::warn(const QString &english, const QString &chinese)
{
    QMessageBox::warning(this, QStringLiteral("Warning"), useEnglish ? english : chinese,
                         QMessageBox::Ok, QMessageBox::NoButton);
}

void MainWindow::on_btnSetLdCurrent_clicked()
{
    const qint64 value = CommandInput::currentValue(form->edLdSetCurrent->text());
    const int logged = value < 0 || value > 0xFFFF ? -1 : int(value);
    if (refuseWhileOffline(QStringLiteral("Device Not Online"), RegisterMap::LdCurrentSetting,
                           logged))
        return;
    // Below 0 as well: the register would take its low 16 bits as a huge current.
    if (value < 0 || value > deviceStatus.maxCurrent) {
        const QString limit = QString::number(deviceStatus.maxCurrent) + QStringLiteral("mA");
        commandLog->refused(RegisterMap::LdCurrentSetting, logged,
                            QStringLiteral("above the maximum of ") + limit);
        warn(QStringLiteral("SetCurrent Over!") + limit,
             QString::fromUtf8("超过最大电流!") + limit);
        return;
    }
    userSetpoints.ldCurrent = quint16(value);
    queueRegisterWrite(RegisterMap::LdCurrentSetting, int(value));
}

void MainWindow::on_btnSetLdTemp_clicked()
{
    const double degrees = CommandInput::temperatureValue(form->edLdSetTemp->text());
    if (!CommandInput::temperatureInRange(degrees)) {
        commandLog->refused(RegisterMap::LdTempSetting, -1, QStringLiteral("outside 15 to 35 C"));
        warn(QStringLiteral("Temp Set Range 15-35!"), QString::fromUtf8("温度设置范围15-35度!"));
        return;
    }
    qDebug() << degrees;
    const int hundredths = CommandInput::temperatureHundredths(degrees);
    userSetpoints.ldTemp = quint16(hundredths);
    queueRegisterWrite(RegisterMap::LdTempSetting, hundredths);
}

void MainWindow::on_btnSetLdOn_clicked()
{
    if (refuseWhileOffline(QStringLiteral("Device Not Online!"), RegisterMap::LdSwitch, 1))
        return;
    userSetpoints.ldOn = 1;
    queueRegisterWrite(RegisterMap::LdSwitch, 1);
}

void MainWindow::on_btnSetLdOff_clicked()
{
    if (refuseWhileOffline(QStringLiteral("Device Not Online!"), RegisterMap::LdSwitch, 0))
        return;
    userSetpoints.ldOn = 0;
    queueRegisterWrite(RegisterMap::LdSwitch, 0);
}

// Switching the TEC on needs no answer from the driver first; switching it off does.
void MainWindow::on_btnSetTECOn_clicked()
{
    userSetpoints.tecOn = 1;
    queueRegisterWrite(RegisterMap::TecSwitch, 1);
}

void MainWindow::on_btnSetTecOff_clicked()
{
    if (refuseWhileOffline(QStringLiteral("Device Not Online!"), RegisterMap::TecSwitch, 0))
        return;
    userSetpoints.tecOn = 0;
    queueRegisterWrite(RegisterMap::TecSwitch, 0);
}

// This form has no entry for the mode or the pulse settings, so these commands get empty texts:
// the mode command writes nothing and the others send 0.
void MainWindow::on_btnSetLdMode_clicked()
{
    selectLdMode(QString());
}

void MainWindow::on_btnSetPluse_clicked()
{
    setPulse(QString());
}

void MainWindow::on_btnSetLdFrequare_clicked()
{
    setFrequency(QString());
}

void MainWindow::on_btnSetLdPlusCurrent_clicked()
{
    setPulseCurrent(QString());
}

void MainWindow::selectLdMode(const QString &modeText)
{
    const int mode = CommandInput::modeValue(modeText);
    if (mode >= 0)
        queueRegisterWrite(RegisterMap::LdMode, mode);
}

void MainWindow::setPulse(const QString &valueText)
{
    userSetpoints.ldPulse = CommandInput::registerValue(valueText);
    queueRegisterWrite(RegisterMap::LdPulse, userSetpoints.ldPulse);
}

void MainWindow::setFrequency(const QString &valueText)
{
    userSetpoints.ldFrequency = CommandInput::registerValue(valueText);
    queueRegisterWrite(RegisterMap::LdFrequency, userSetpoints.ldFrequency);
}

void MainWindow::setPulseCurrent(const QString &valueText)
{
    userSetpoints.ldPulseCurrent = CommandInput::registerValue(valueText);
    queueRegisterWrite(RegisterMap::LdPulseCurrent, userSetpoints.ldPulseCurrent);
}
