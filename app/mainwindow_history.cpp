// MainWindow's side of the trend and the record: the two actions and their context menus, the
// bench's events handed to both, the record's second and its failures.
#include "mainwindow.h"

#include "benchrecord.h"
#include "commandlog.h"
#include "mainwindowform.h"
#include "trendhistory.h"
#include "trendwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QStandardPaths>
#include <QTimer>

namespace {

// Often enough that a row is never much later than its second; the record's own clock decides.
constexpr int RecordCheckMs = 200;

} // namespace

void MainWindow::setUpHistory()
{
    const auto wall = [] { return QDateTime::currentMSecsSinceEpoch(); };
    trendHistory = std::make_unique<TrendHistory>(readings, wall);
    benchRecord = std::make_unique<BenchRecord>(readings, wall);
    commandLog =
        std::make_unique<CommandLog>([this] { return readings.now(); }, wall,
                                     [this](const BenchEvent &event) { benchEvent(event); });

    actionTrend = new QAction(this);
    actionTrend->setObjectName(QStringLiteral("actionTrend"));
    actionTrend->setText(useEnglish ? QStringLiteral("Trend") : QString::fromUtf8("趋势图"));
    actionTrend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(actionTrend, &QAction::triggered, this, [this] { showTrend(); });

    actionRecord = new QAction(this);
    actionRecord->setObjectName(QStringLiteral("actionRecord"));
    actionRecord->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(actionRecord, &QAction::triggered, this, [this] { toggleRecord(); });
    showRecordState();

    // On the window itself, so the shortcuts work wherever it has focus; and on the status
    // group and each read-out, where the operator right-clicks.
    addAction(actionTrend);
    addAction(actionRecord);
    QWidget *const targets[] = {form->groupBox_4,   form->ldState,    form->tecRtTemp,
                                form->ldSetCurrent, form->ldSetPower, form->ldMaxCur};
    for (QWidget *target : targets) {
        target->setContextMenuPolicy(Qt::ActionsContextMenu);
        target->addAction(actionTrend);
        target->addAction(actionRecord);
    }

    recordTimer = new QTimer(this);
    recordTimer->setInterval(RecordCheckMs);
    connect(recordTimer, &QTimer::timeout, this, [this] {
        if (!benchRecord->tick())
            recordFailed();
    });
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (trendWindow)
        trendWindow->close();
    QMainWindow::closeEvent(event);
}

void MainWindow::showTrend()
{
    if (!trendWindow)
        trendWindow = new TrendWindow(*trendHistory, readings, useEnglish != 0, this);
    trendWindow->show();
    trendWindow->raise();
    trendWindow->activateWindow();
}

void MainWindow::toggleRecord()
{
    if (benchRecord->running()) {
        benchRecord->stop();
        recordTimer->stop();
        showRecordState();
        return;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // The dialog cannot show a folder that is not there.
    if (!QFileInfo::exists(folder))
        folder = QDir::homePath();
    const QString offered = BenchRecord::offeredPath(folder, QDateTime::currentDateTime());
    const QString path = QFileDialog::getSaveFileName(
        this, useEnglish ? QStringLiteral("Record to file") : QString::fromUtf8("记录到文件"),
        offered, QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        startRecord(path);
}

bool MainWindow::startRecord(const QString &path)
{
    if (!benchRecord->start(path)) {
        recordFailed();
        return false;
    }
    recordTimer->start();
    showRecordState();
    BenchEvent started;
    started.kind = BenchEvent::Kind::RecordingStarted;
    started.text = QStringLiteral("recording started");
    started.wallMs = QDateTime::currentMSecsSinceEpoch();
    started.monoMs = readings.now();
    trendHistory->addEvent(started);
    return true;
}

void MainWindow::showRecordState()
{
    const bool running = benchRecord->running();
    if (useEnglish)
        actionRecord->setText(running ? QStringLiteral("Stop recording")
                                      : QString::fromUtf8("Record to file…"));
    else
        actionRecord->setText(QString::fromUtf8(running ? "停止记录" : "记录到文件…"));
}

void MainWindow::benchEvent(const BenchEvent &event)
{
    trendHistory->addEvent(event);
    if (benchRecord->running() && !benchRecord->addEvent(event))
        recordFailed();
}

void MainWindow::recordFailed()
{
    recordTimer->stop();
    showRecordState();
    const QString path = QDir::toNativeSeparators(benchRecord->path());
    const QString reason = benchRecord->error();
    // Events come from inside the tick and the receive poll: the dialog waits until they return.
    QTimer::singleShot(0, this, [this, path, reason] {
        warn(QStringLiteral("Recording stopped: %1: %2").arg(path, reason),
             QString::fromUtf8("记录已停止:%1:%2").arg(path, reason));
    });
}
