#include "mainwindow.h"

#include "benchrecord.h"
#include "commandlog.h"
#include "hcom.h"
#include "mainwindowform.h"
#include "patternvalidator.h"
#include "registermap.h"
#include "screenfit.h"
#include "trendhistory.h"
#include "trendwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

namespace {

const char *const CurrentPattern = "[0-9]+$";
// Kept as the driver's panel has always had it: the two unescaped points match any character,
// and a whole number such as 25 is not complete.
const char *const TemperaturePattern = "^(([0-9]+.[0-9]*[1-9][0-9]*)|([0-9]*[1-9][0-9]*.[0-9]+)|(["
                                       "0-9]*[1-9][0-9]*))?\\d(\\.\\d{1,2})$";

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    form = new MainWindowForm;
    form->setupForm(this);
    // At the screen's own scale, whole on the screen.
    ScreenFit::attach(this);

    com = new Hcom;

    form->edLdSetCurrent->setValidator(newPatternValidator(QString::fromUtf8(CurrentPattern)));
    form->edLdSetTemp->setValidator(newPatternValidator(QString::fromUtf8(TemperaturePattern)));

    // On a Chinese desktop the form keeps its own texts; everywhere else the panel is English.
    // The desktop's language is the first of its user-interface languages: Windows' display
    // language, on Linux LANGUAGE, LC_ALL, LC_MESSAGES or LANG.
    const QString desktopLanguage = QLocale::system().uiLanguages().value(0);
    useEnglish = QLocale(desktopLanguage).language() == QLocale::Chinese ? 0 : 1;
    if (useEnglish) {
        form->label_13->setText(QStringLiteral("TarvoLDDriverV2.31-240224"));
        form->groupBox_2->setTitle(QStringLiteral("CommSet"));
        form->btn_comSet->setText(QStringLiteral("OpenDevice"));
        form->label_2->setText(QStringLiteral("LD State"));
        form->label_11->setText(QStringLiteral("Tec Temp"));
        form->label_3->setText(QStringLiteral("LD Current"));
        form->label_4->setText(QStringLiteral("LD Power"));
        form->label_5->setText(QStringLiteral("LDMax Current"));
        form->label_27->setText(QStringLiteral("LD CurrentSet"));
        form->label_29->setText(QStringLiteral("LD WorkSet"));
        form->btnSetLdOn->setText(QStringLiteral("Open"));
        form->btnSetLdOff->setText(QStringLiteral("Close"));
        form->label_28->setText(QString::fromUtf8("LD Temp(15-35℃)"));
        form->btnSetLdCurrent->setText(QStringLiteral("Set"));
        form->btnSetLdTemp->setText(QStringLiteral("Set"));
    }
    // Once the language is known: the port list's tooltip is in it.
    setUpPortSelection();

    tickTimer = new QTimer;
    tickTimer->setSingleShot(false);
    tickTimer->start(1);
    connect(tickTimer, SIGNAL(timeout()), this, SLOT(m_timerEvent()));

    deviceStatus.maxCurrent = 0;
    responseBuffer.ready = 0;
    deviceOnline = 0;
    writeDelay = 0;
    writePending = 0;

    writeQueue = new RegisterWriteQueue;
    writeQueue->reset();

    pollTable.fillDefault();
    master = std::make_unique<ModbusMaster>(pollTable, *writeQueue, responseBuffer, writePending,
                                            writeDelay, deviceOnline);
    master->setReadings(&readings);
    TickRate::keepFullRateWhenHidden();

    form->edLdSetTemp->setVisible(false);
    form->btnSetLdTemp->setVisible(false);
    form->label_28->setVisible(false);

    setUpHistory();
}

MainWindow::~MainWindow()
{
    // The trend window reads the history, which goes with the window's members.
    delete trendWindow;
    if (portState == 1 || closing)
        com->comClose(portName);
    // The objects made without an owner go with the window, so that nothing outlives it.
    delete tickTimer;
    delete form->edLdSetCurrent->validator();
    delete form->edLdSetTemp->validator();
    delete form;
    master.reset();
    delete writeQueue;
    delete com;
}

int MainWindow::run()
{
    const int result = QApplication::exec();
    // An "LD off" clicked just before the window closed must still reach the driver.
    exiting = true;
    if (portState == 1 && master->beginFlush()) {
        portState = 0;
        closing = true;
        closingSince.start();
    }
    if (closing) {
        QEventLoop loop;
        exitLoop = &loop;
        loop.exec();
        exitLoop = nullptr;
    }
    return result;
}

void MainWindow::m_timerEvent()
{
    tickRate.tick();
    masterStep();
    refreshStatus();
    showDiagnosis();
}

void MainWindow::refreshStatus()
{
    if (deviceOnline == 0)
        return;
    using namespace RegisterMap;
    deviceStatus.maxCurrent = readings.value(RowMaxCurrent);
    deviceStatus.tempSetting = readings.value(RowTempSetting);
    deviceStatus.tecTemp = readings.value(RowTecTemp);
    deviceStatus.ldPower = readings.value(RowLdPower);
    deviceStatus.currentSetting = readings.value(RowCurrentSetting);
    deviceStatus.tecOnState = readings.value(RowTecOnState);
    deviceStatus.ldOnState = readings.value(RowLdOnState);

    StatusDisplay::Labels labels;
    labels.ldState = form->ldState;
    labels.tecRtTemp = form->tecRtTemp;
    labels.ldSetCurrent = form->ldSetCurrent;
    labels.ldSetPower = form->ldSetPower;
    labels.ldMaxCur = form->ldMaxCur;
    // A port closed by the operator, or by the channel when the line went away, reads nothing.
    const bool lineOpen = portState == 1 && com->comIsOpen();
    StatusDisplay::Readings shown;
    shown.ldState = reading(RowLdOnState, lineOpen);
    shown.tecTemp = reading(RowTecTemp, lineOpen);
    shown.current = reading(RowCurrentSetting, lineOpen);
    shown.power = reading(RowLdPower, lineOpen);
    shown.maxCurrent = reading(RowMaxCurrent, lineOpen);
    statusDisplay.show(deviceStatus, useEnglish != 0, labels, shown);
}

StatusDisplay::Reading MainWindow::reading(int row, bool lineOpen) const
{
    if (!readings.heard(row))
        return StatusDisplay::Reading::Unread;
    return lineOpen && readings.isCurrent(row) ? StatusDisplay::Reading::Current
                                               : StatusDisplay::Reading::Stale;
}

// Slots with no button on this form and nothing to do.
void MainWindow::btMbStartClick() {}
void MainWindow::on_btnSetLdPower_clicked() {}
void MainWindow::on_btnSetLdMaxPow_clicked() {}
