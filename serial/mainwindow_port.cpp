// MainWindow's side of the serial link: the port list, the open/close button, the burst hand-over.
#include "mainwindow.h"

#include "commandlog.h"
#include "hcom.h"
#include "mainwindowform.h"

#include <QComboBox>
#include <QDebug>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace {

// The presses and keys with which a QComboBox opens its list.
bool opensDropDown(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return static_cast<const QMouseEvent *>(event)->button() == Qt::LeftButton;
    case QEvent::KeyPress: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        switch (key->key()) {
        case Qt::Key_F4:
            return key->modifiers() == Qt::NoModifier;
        case Qt::Key_Up:
        case Qt::Key_Down:
            return (key->modifiers() & Qt::AltModifier) != 0;
        case Qt::Key_Space:
        case Qt::Key_Select:
            return true;
        default:
            return false;
        }
    }
    default:
        return false;
    }
}

} // namespace

void MainWindow::setUpPortSelection()
{
    portList = com->comPortList();
    for (const QString &name : std::as_const(portList))
        form->comb_comName->addItem(name);
    showRefusedPorts();
    portState = 0;
    // An adapter plugged in after start-up shows up the next time the list is opened.
    form->comb_comName->installEventFilter(this);
    connect(com, SIGNAL(readSignal()), this, SLOT(readSerialData()));
    connect(form->btn_comSet, SIGNAL(clicked()), this, SLOT(comSetClick()));
}

void MainWindow::setPortSource(const PortSource &source)
{
    com->setPortSource(source);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Before the combo box sees the press: the list it then opens is already the new one.
    if (watched == form->comb_comName && opensDropDown(event))
        refreshPortList();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::refreshPortList()
{
    QComboBox *box = form->comb_comName;
    QStringList listed;
    for (int i = 0; i < box->count(); ++i)
        listed << box->itemText(i);
    const QStringList present = com->comPortList(listed);
    showRefusedPorts();
    const QString selected = box->currentText();
    // The open port stays while the panel holds it, even when the system no longer reports it.
    const QString held = portState == 1 ? portName : QString();

    // The rows still present keep their order; new ports come after them.
    for (int i = box->count() - 1; i >= 0; --i) {
        const QString name = box->itemText(i);
        if (name != held && !present.contains(name))
            box->removeItem(i);
    }
    for (const QString &name : present) {
        if (box->findText(name) < 0)
            box->addItem(name);
    }
    int current = box->findText(selected);
    if (current < 0 && !held.isEmpty())
        current = box->findText(held);
    box->setCurrentIndex(std::max(current, 0));
}

void MainWindow::comSetClick()
{
    if (closing) {
        // Opening again does not wait for the last close: what it could not send is told.
        master->endFlush(*this);
        closePort();
    }
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
            form->btn_comSet->setToolTip(QString());
            lineDiagnosis.opened();
            commandLog->portOpened(portName);
        } else {
            qDebug().noquote() << QStringLiteral("open err") + portName;
            showOpenFailure();
        }
    } else if (portState == 1) {
        form->btn_comSet->setText(useEnglish ? QStringLiteral("ComClose")
                                             : QString::fromUtf8("串口关闭"));
        portState = 0;
        // Commands still queued go out first; the port closes once they have, within a second.
        if (master->beginFlush()) {
            closing = true;
            closingSince.start();
        } else {
            com->comClose(portName);
            commandLog->portClosed(portName);
        }
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
    if (master->examineNow(masterLineOpen()))
        refreshStatus();
}

void MainWindow::storeResponse(const quint8 *bytes, quint16 length)
{
    lineDiagnosis.heard(bytes, length);
    responseBuffer.store(bytes, length);
}
