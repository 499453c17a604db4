#include "trendwindow.h"

#include "currentreadings.h"
#include "trendhistory.h"
#include "trendplot.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

TrendWindow::TrendWindow(TrendHistory &history, const CurrentReadings &readings, bool english,
                         QWidget *parent)
    : QWidget(parent, parent ? Qt::Window : Qt::WindowFlags()), history(history),
      readings(readings), english(english), trendPlot(new TrendPlot(history, english, this)),
      stableLabel(new QLabel(this)),
      nowButton(new QPushButton(english ? QStringLiteral("Now") : QString::fromUtf8("当前"), this)),
      saveButton(new QPushButton(
          english ? QString::fromUtf8("Save picture…") : QString::fromUtf8("保存图片…"), this)),
      repaintTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("trendWindow"));
    setWindowTitle(english ? QStringLiteral("Trend") : QString::fromUtf8("趋势图"));
    // Beside the panel, never instead of it: the program ends when the panel closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    stableLabel->setObjectName(QStringLiteral("stableLabel"));
    nowButton->setObjectName(QStringLiteral("nowButton"));
    saveButton->setObjectName(QStringLiteral("savePictureButton"));
    nowButton->setFocusPolicy(Qt::NoFocus);
    saveButton->setFocusPolicy(Qt::NoFocus);

    auto *top = new QHBoxLayout;
    top->addWidget(stableLabel, 1);
    top->addWidget(nowButton);
    top->addWidget(saveButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(trendPlot, 1);
    resize(960, 640);

    connect(nowButton, &QPushButton::clicked, trendPlot, &TrendPlot::followNow);
    connect(saveButton, &QPushButton::clicked, this, &TrendWindow::askAndSavePicture);
    // Closed with the panel; a minimised panel (a hide the system makes) leaves it open.
    if (parent)
        parent->window()->installEventFilter(this);
    repaintTimer->setInterval(RepaintMs);
    connect(repaintTimer, &QTimer::timeout, this, &TrendWindow::refresh);
    refresh();
}

void TrendWindow::refresh()
{
    stableLabel->setText(history.stability().text(readings.now(), english));
    // A paint costs milliseconds: only when the view has moved by a pixel. The plot repaints
    // itself on a zoom, a pan or a hover.
    if (trendPlot->presentMoved())
        trendPlot->requestPaint();
}

bool TrendWindow::savePicture(const QString &path) const
{
    return trendPlot->grab().save(path, "PNG");
}

bool TrendWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide && !event->spontaneous() && parentWidget() &&
        watched == parentWidget()->window())
        close();
    return QWidget::eventFilter(watched, event);
}

void TrendWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    repaintTimer->start();
    trendPlot->setFocus();
}

void TrendWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    repaintTimer->stop();
}

void TrendWindow::askAndSavePicture()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    const QString offered = QDir(folder).filePath(
        QDateTime::currentDateTime().toString(QStringLiteral("'trend-'yyyyMMdd-HHmmss'.png'")));
    const QString path = QFileDialog::getSaveFileName(
        this, english ? QString::fromUtf8("Save picture…") : QString::fromUtf8("保存图片…"),
        offered, QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (!savePicture(path))
        QMessageBox::warning(this, QStringLiteral("Warning"),
                             (english ? QStringLiteral("The picture could not be saved to %1.")
                                      : QString::fromUtf8("无法将图片保存到%1。"))
                                 .arg(QDir::toNativeSeparators(path)));
}
