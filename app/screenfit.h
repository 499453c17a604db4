#ifndef SCREENFIT_H
#define SCREENFIT_H

#include <QMargins>
#include <QObject>
#include <QSize>

class QMainWindow;
class QScreen;

// The window at its screen's own scale, whole on the screen. Qt scales every window by the
// screen's factor; where that would make the window taller or wider than the screen's available
// area, the form is drawn smaller, by the largest factor that fits but never below 1. The form's
// rectangles and fonts scale together, so every text fits as at 1x.
class ScreenFit : public QObject
{
    Q_OBJECT

public:
    // The factor for a form of formSize pixels at 1x in a frame of frame pixels, on a screen of
    // available pixels whose own factor is screenFactor. All in device pixels.
    static qreal factor(const QSize &available, qreal screenFactor, const QSize &formSize,
                        const QMargins &frame);

    // Draws the window's form at factor times its 1x size in device pixels, on the screen it is on.
    static void scaleForm(QMainWindow *window, qreal factor);

    // From the first show on: the factor for the window's screen, and the window moved inside the
    // screen's available area if the platform put part of it outside; again on another screen.
    static void attach(QMainWindow *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit ScreenFit(QMainWindow *window);
    void fit(QScreen *screen);
    void placeInside();

    QMainWindow *const window;
    bool shown = false;
    // The last factor said on the debug log, so that each is said once.
    qreal said = 0;
};

#endif // SCREENFIT_H
