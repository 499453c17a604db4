// The operator commands behind the panel's buttons.
#include "mainwindow.h"

#include "mainwindowform.h"

#include <QMessageBox>

void MainWindow::warn(const QString &english, const QString &chinese)
{
    QMessageBox::warning(this, QStringLiteral("Warning"), useEnglish ? english : chinese,
                         QMessageBox::Ok, QMessageBox::NoButton);
}

// Placeholders until the commands are built.
void MainWindow::on_btnSetLdMode_clicked() {}
void MainWindow::on_btnSetLdTemp_clicked() {}
void MainWindow::on_btnSetPluse_clicked() {}
void MainWindow::on_btnSetLdCurrent_clicked() {}
void MainWindow::on_btnSetLdFrequare_clicked() {}
void MainWindow::on_btnSetTECOn_clicked() {}
void MainWindow::on_btnSetTecOff_clicked() {}
void MainWindow::on_btnSetLdOn_clicked() {}
void MainWindow::on_btnSetLdOff_clicked() {}
void MainWindow::on_btnSetLdPlusCurrent_clicked() {}
void MainWindow::selectLdMode(const QString &) {}
void MainWindow::setPulse(const QString &) {}
void MainWindow::setFrequency(const QString &) {}
void MainWindow::setPulseCurrent(const QString &) {}
