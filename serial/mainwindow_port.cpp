// MainWindow's side of the serial link: the port list, the open/close button, the burst hand-over.
#include "mainwindow.h"

#include "hcom.h"
#include "mainwindowform.h"

// Placeholder until the serial link is built.
void MainWindow::setUpPortSelection() {}
void MainWindow::comSetClick() {}
void MainWindow::readSerialData() {}
void MainWindow::storeResponse(const quint8 *bytes, quint16 length)
{
    responseBuffer.store(bytes, length);
}
