#ifndef TRENDPLOT_H
#define TRENDPLOT_H

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QWidget>

class QTimer;
class TrendHistory;

// The two plots of the trend on one time axis, drawn with QPainter: the TEC temperature and the
// LD temperature setting above; the LD power (left axis) and the LD current setting with the
// maximum current as a limit (right axis) below; the LD's working periods shaded and each command
// a marker coloured by its outcome. The wheel and +/- zoom, dragging pans back, hovering shows the
// values at that time.
class TrendPlot : public QWidget
{
    Q_OBJECT
public:
    static constexpr qint64 MinSpanMs = 60 * 1000;
    static constexpr qint64 MaxSpanMs = 24 * 3600 * 1000LL;
    static constexpr qint64 DefaultSpanMs = 10 * 60 * 1000;
    static constexpr qint64 PaintEveryMs = 125;
    // How long after a command its outcomes may come and still colour its marker.
    static constexpr qint64 MarkerReachMs = 60 * 1000;

    TrendPlot(const TrendHistory &history, bool english, QWidget *parent = nullptr);

    qint64 span() const { return spanMs; }
    void setSpan(qint64 ms);
    void zoom(int steps); // > 0 in, < 0 out, keeping the right edge
    bool following() const { return follow; }
    // The view's right edge on the readings' clock: the present while following.
    qint64 viewEnd() const;
    void setViewEnd(qint64 monoMs); // stops following, unless at the present
    void followNow();
    // A repaint, now or once PaintEveryMs have passed since the last.
    void requestPaint();
    // Following, and the present has moved a pixel, or a second has passed, since the last paint.
    bool presentMoved() const;

    // The time, every value at that time (or a dash where none was current) and the commands
    // near it, as the hover box shows them.
    QStringList hoverLines(qint64 monoMs) const;
    // Where a time falls across the plots' width, and the two panes.
    int xAt(qint64 monoMs) const;
    QRect upperPane() const;
    QRect lowerPane() const;

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    qint64 timeAt(int x) const;

    const TrendHistory &history;
    bool english;
    qint64 spanMs = DefaultSpanMs;
    bool follow = true;
    qint64 endMs = 0;
    bool hovering = false;
    QPoint hoverAt;
    bool dragging = false;
    int dragFromX = 0;
    qint64 dragFromEnd = 0;
    qint64 paintedEnd = 0;
    QElapsedTimer sincePaint;
    QTimer *paintLater;
    mutable QRect pane;
    mutable QSize paneFor;
};

#endif // TRENDPLOT_H
