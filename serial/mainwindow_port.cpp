// MainWindow's side of the serial link: the port list, the open/close button, the burst hand-over.
#include "mainwindow.h"

#include "hcom.h"
#include "mainwindowform.h"

#include <QComboBox>
#include <QDebug>
#include <QPushButton>

#include <utility>

void MainWindow::setUpPortSelection()
{
    portList = com->comPortList();
    for (const QString &name : std::as_const(portList))
        form->comb_comName->addItem(name);
    portState = 0;
    connect(com, SIGNAL(readSignal()), this, SLOT(readSerialData()));
    connect(form->btn_comSet, SIGNAL(clicked()), this, SLOT(comSetClick()));
}

void MainWindow::comSetClick()
{
    portName = form->comb_comName->currentText();
    baudRate = 115200;
    qDebug() << baudRate;

    if (portState == 0) {
        ComSettings settings;
        settings.parity = 0;
        settings.baudRate = baudRate;
        if (com->comOpen(portName, settings)) {
            form->btn_comSet->setText(useEnglish ? QStringLiteral("ComOpen")
                                                 : QString::fromUtf8("串口已打开"));
            portState = 1;
        } else {
            qDebug().noquote() << QStringLiteral("open err") + portName;
        }
    } else if (portState == 1) {
        form->btn_comSet->setText(useEnglish ? QStringLiteral("ComClose")
                                             : QString::fromUtf8("串口关闭"));
        com->comClose(portName);
        portState = 0;
    }
}

void MainWindow::readSerialData()
{
    // Room for the largest burst the channel can gather.
    quint8 staging[Hcom::RxCapacity];
    quint16 length = 0;
    com->comTakeData(staging, length);
    storeResponse(staging, length);

    // Examine the reply now rather than at the next tick, so the read-out follows the device a
    // tick sooner; the slot still counts its ticks as before.
    if (master->examineNow(portState == 1))
        refreshStatus();
}

void MainWindow::storeResponse(const quint8 *bytes, quint16 length)
{
    responseBuffer.store(bytes, length);
}
