#ifndef TRENDWINDOW_H
#define TRENDWINDOW_H

#include <QWidget>

class CurrentReadings;
class QLabel;
class QPushButton;
class QTimer;
class TrendHistory;
class TrendPlot;

// The trend: the TEC temperature against its setting above, the LD power and current setting
// below, the commands and their outcomes as markers. A window of its own; with a parent, a
// Qt::Window of it, closed when the panel is closed, never keeping the program running alone.
// It repaints a few times a second, and only while shown.
class TrendWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int RepaintMs = 250;

    TrendWindow(TrendHistory &history, const CurrentReadings &readings, bool english,
                QWidget *parent = nullptr);

    TrendPlot *plot() const { return trendPlot; }
    // The trend as shown, as a PNG; false when the file could not be written.
    bool savePicture(const QString &path) const;
    // Brings the stable text and the plot up to date; the repaint timer calls it.
    void refresh();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void askAndSavePicture();

    TrendHistory &history;
    const CurrentReadings &readings;
    bool english;
    TrendPlot *trendPlot;
    QLabel *stableLabel;
    QPushButton *nowButton;
    QPushButton *saveButton;
    QTimer *repaintTimer;
};

#endif // TRENDWINDOW_H
