#include "screenfit.h"

#include <QDebug>
#include <QEvent>
#include <QFont>
#include <QLayout>
#include <QMainWindow>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QVariant>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// What each widget had at 1x, kept on the widget the first time the form is scaled.
const char *const Geometry1x = "_ldpanel_geometry1x";
const char *const PointSize1x = "_ldpanel_pointSize1x";
const char *const Margins1x = "_ldpanel_margins1x";
// On the window: the scale of its logical pixels now applied to the form.
const char *const FormScale = "_ldpanel_formScale";

// Each edge rounded on its own, so that neighbours that meet at 1x still meet.
QRect scaled(const QRect &rect, qreal by)
{
    const int left = qRound(rect.left() * by);
    const int top = qRound(rect.top() * by);
    return QRect(left, top, qRound((rect.left() + rect.width()) * by) - left,
                 qRound((rect.top() + rect.height()) * by) - top);
}

QVariant kept(QObject *object, const char *name, const QVariant &now)
{
    QVariant value = object->property(name);
    if (!value.isValid()) {
        object->setProperty(name, now);
        value = now;
    }
    return value;
}

qreal formScaleOf(const QMainWindow *window)
{
    const QVariant value = window->property(FormScale);
    return value.isValid() ? value.toReal() : 1.0;
}

void scaleFont(QWidget *widget, qreal by)
{
    const qreal size1x = kept(widget, PointSize1x, widget->font().pointSizeF()).toReal();
    if (size1x <= 0) // set in pixels: left as it is
        return;
    QFont font = widget->font();
    font.setPointSizeF(size1x * by);
    widget->setFont(font);
}

} // namespace

qreal ScreenFit::factor(const QSize &available, qreal screenFactor, const QSize &formSize,
                        const QMargins &frame)
{
    const int width = available.width() - frame.left() - frame.right();
    const int height = available.height() - frame.top() - frame.bottom();
    if (formSize.isEmpty() ||
        (formSize.width() * screenFactor <= width && formSize.height() * screenFactor <= height))
        return screenFactor;
    // In hundredths, rounded down: the rectangles rounded to whole pixels still fit.
    const qreal fits = std::floor(100 * std::min(qreal(width) / formSize.width(),
                                                 qreal(height) / formSize.height())) /
                       100;
    return std::max(fits, std::min<qreal>(screenFactor, 1));
}

void ScreenFit::scaleForm(QMainWindow *window, qreal factor)
{
    QWidget *form = window->centralWidget();
    QScreen *screen = window->screen();
    if (!form || !screen)
        return;
    // Qt's own factor for this screen; point sizes are drawn at the logical DPI, which is 96
    // unless a rounding policy left part of the screen's factor to the fonts.
    const qreal ratio = screen->devicePixelRatio();
    const qreal fontDpi = screen->logicalDotsPerInchY();
    const qreal rectScale = factor / ratio;
    const qreal fontScale = factor * 96 / (ratio * fontDpi);
    const qreal before = formScaleOf(window);
    const bool untouched = !window->property(PointSize1x).isValid();
    if (untouched && qFuzzyCompare(rectScale, 1) && qFuzzyCompare(fontScale, 1))
        return; // the form as built

    scaleFont(window, fontScale); // the buttons, the group titles and the port list
    QList<QWidget *> widgets = form->findChildren<QWidget *>();
    for (QWidget *widget : std::as_const(widgets)) {
        if (widget->isWindow() || widget->objectName().isEmpty())
            continue;
        if (widget->testAttribute(Qt::WA_SetFont))
            scaleFont(widget, fontScale);
        // Widgets in a layout follow their layout.
        if (!widget->parentWidget()->layout())
            widget->setGeometry(
                scaled(kept(widget, Geometry1x, widget->geometry()).toRect(), rectScale));
    }
    QList<QLayout *> layouts = form->findChildren<QLayout *>();
    for (QLayout *layout : std::as_const(layouts)) {
        const QRect margins1x =
            kept(layout, Margins1x,
                 QRect(
                     QPoint(layout->contentsMargins().left(), layout->contentsMargins().top()),
                     QPoint(layout->contentsMargins().right(), layout->contentsMargins().bottom())))
                .toRect();
        layout->setContentsMargins(
            qRound(margins1x.left() * rectScale), qRound(margins1x.top() * rectScale),
            qRound(margins1x.right() * rectScale), qRound(margins1x.bottom() * rectScale));
    }
    window->setProperty(FormScale, rectScale);
    if (!qFuzzyCompare(before, rectScale))
        window->resize(scaled(QRect(QPoint(), window->size()), rectScale / before).size());
}

void ScreenFit::attach(QMainWindow *window)
{
    window->installEventFilter(new ScreenFit(window));
}

ScreenFit::ScreenFit(QMainWindow *window) : QObject(window), window(window) {}

bool ScreenFit::eventFilter(QObject *watched, QEvent *event)
{
    // The window exists on its screen from here on, not yet drawn.
    if (watched == window && event->type() == QEvent::Show && !shown) {
        shown = true;
        if (QWindow *handle = window->windowHandle())
            connect(handle, &QWindow::screenChanged, this, &ScreenFit::fit);
        fit(window->screen());
        placeInside();
        // Some platforms frame the window only once it is up.
        QTimer::singleShot(0, this, [this] {
            const qreal before = formScaleOf(window);
            fit(window->screen());
            if (!qFuzzyCompare(before, formScaleOf(window)) ||
                !window->screen()->availableGeometry().contains(window->frameGeometry()))
                placeInside();
        });
    }
    return QObject::eventFilter(watched, event);
}

void ScreenFit::fit(QScreen *screen)
{
    if (!screen)
        return;
    const qreal ratio = screen->devicePixelRatio();
    QMargins frame;
    if (QWindow *handle = window->windowHandle())
        frame = handle->frameMargins() * ratio;
    const QSize available = screen->availableGeometry().size() * ratio;
    // The window's size at 1x is its size now, less the form's present scale.
    const QSize form1x = (QSizeF(window->size()) / formScaleOf(window)).toSize();
    const qreal chosen = factor(available, ratio, form1x, frame);
    scaleForm(window, chosen);
    if (chosen < ratio && !qFuzzyCompare(chosen, said)) {
        said = chosen;
        qDebug("ldpanel: at the screen's scale of %.2f the window would not fit the %dx%d pixels "
               "available; drawn at %.2f",
               ratio, available.width(), available.height(), chosen);
    }
}

void ScreenFit::placeInside()
{
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    if (area.contains(frame))
        return;
    // As far as the frame is larger than the area, its top left corner stays on it.
    const int x = std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width()));
    const int y = std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height()));
    window->move(x, y);
}
