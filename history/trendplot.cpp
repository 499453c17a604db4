#include "trendplot.h"

#include "registermap.h"
#include "statusdisplay.h"
#include "trendhistory.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

enum class Axis { Temperature, Power, Current };

struct Series
{
    int row;
    QColor color;
    Qt::PenStyle style;
    Axis axis;
    const char *english;
    const char *chinese;
};

const Series PlotSeries[] = {
    {RegisterMap::RowTecTemp, QColor(200, 30, 30), Qt::SolidLine, Axis::Temperature,
     "TEC temperature ℃", "TEC温度 ℃"},
    {RegisterMap::RowTempSetting, QColor(30, 60, 170), Qt::DashLine, Axis::Temperature,
     "LD temperature setting ℃", "LD温度设定 ℃"},
    {RegisterMap::RowLdPower, QColor(0, 130, 60), Qt::SolidLine, Axis::Power, "LD power", "LD功率"},
    {RegisterMap::RowCurrentSetting, QColor(120, 40, 170), Qt::SolidLine, Axis::Current,
     "LD current setting", "LD电流设定"},
    {RegisterMap::RowMaxCurrent, QColor(230, 90, 0), Qt::DashDotLine, Axis::Current,
     "Maximum current", "LD最大电流"},
};

const QColor WorkingShade(255, 236, 170);

struct Outcome
{
    BenchEvent::Outcome outcome;
    QColor color;
    const char *english;
    const char *chinese;
};

const Outcome Outcomes[] = {
    {BenchEvent::Outcome::Confirmed, QColor(0, 150, 0), "confirmed", "已确认"},
    {BenchEvent::Outcome::Sent, QColor(0, 100, 220), "sent", "已发送"},
    {BenchEvent::Outcome::Refused, QColor(210, 0, 0), "refused", "被拒绝"},
    {BenchEvent::Outcome::NotConfirmed, QColor(230, 130, 0), "not confirmed", "未确认"},
    {BenchEvent::Outcome::NotSent, QColor(110, 110, 110), "not sent", "未发送"},
};

QColor outcomeColor(BenchEvent::Outcome outcome)
{
    for (const Outcome &o : Outcomes)
        if (o.outcome == outcome)
            return o.color;
    return QColor(110, 110, 110);
}

QString text(bool english, const char *inEnglish, const char *inChinese)
{
    return QString::fromUtf8(english ? inEnglish : inChinese);
}

QString hundredths(quint16 value)
{
    return StatusDisplay::powerText(value);
}

// A value as the read-outs show it.
QString valueText(int row, quint16 value, bool english)
{
    switch (row) {
    case RegisterMap::RowTecTemp:
        return StatusDisplay::temperatureText(value) + QString::fromUtf8(" ℃");
    case RegisterMap::RowTempSetting:
        return hundredths(value) + QString::fromUtf8(" ℃");
    case RegisterMap::RowLdPower:
        return hundredths(value);
    case RegisterMap::RowLdOnState:
        return value == 1 ? text(english, "working", "工作") : text(english, "stopped", "停止");
    case RegisterMap::RowTecOnState:
        return value == 1 ? text(english, "on", "开") : text(english, "off", "关");
    default:
        return QString::number(value);
    }
}

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw)
{
    const double power = std::pow(10.0, std::floor(std::log10(std::max(raw, 1e-9))));
    for (double factor : {1.0, 2.0, 5.0, 10.0})
        if (factor * power >= raw)
            return factor * power;
    return 10 * power;
}

struct Range
{
    double low;
    double high;
    double y(const QRect &pane, double value) const
    {
        return pane.bottom() - (value - low) * pane.height() / (high - low);
    }
};

// The readings' range in view, padded; `fromZero` for quantities that start at nothing.
Range rangeOf(const std::vector<std::vector<TrendHistory::Point>> &series, double fallbackLow,
              double fallbackHigh, double minimumSpan, bool fromZero)
{
    double low = 1e9;
    double high = -1e9;
    for (const auto &points : series)
        for (const TrendHistory::Point &point : points) {
            low = std::min(low, double(point.low));
            high = std::max(high, double(point.high));
        }
    if (low > high) {
        low = fallbackLow;
        high = fallbackHigh;
    }
    if (fromZero)
        low = 0;
    if (high - low < minimumSpan) {
        const double middle = (high + low) / 2;
        low = fromZero ? 0 : middle - minimumSpan / 2;
        high = low + minimumSpan;
    }
    const double pad = (high - low) * 0.08;
    return Range{fromZero ? low : low - pad, high + pad};
}

} // namespace

TrendPlot::TrendPlot(const TrendHistory &history, bool english, QWidget *parent)
    : QWidget(parent), history(history), english(english), paintLater(new QTimer(this))
{
    setObjectName(QStringLiteral("trendPlot"));
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);
    setMinimumSize(480, 320);
    setAttribute(Qt::WA_OpaquePaintEvent);
    paintLater->setSingleShot(true);
    connect(paintLater, &QTimer::timeout, this, [this] { update(); });
}

void TrendPlot::setSpan(qint64 ms)
{
    spanMs = std::max(MinSpanMs, std::min(MaxSpanMs, ms));
    requestPaint();
}

void TrendPlot::zoom(int steps)
{
    setSpan(qint64(std::llround(double(spanMs) / std::pow(1.25, steps))));
}

qint64 TrendPlot::viewEnd() const
{
    return follow ? history.now() : endMs;
}

void TrendPlot::setViewEnd(qint64 monoMs)
{
    const qint64 now = history.now();
    follow = monoMs >= now;
    endMs = std::max(std::min(monoMs, now), now - MaxSpanMs);
    requestPaint();
}

void TrendPlot::requestPaint()
{
    // A paint costs a few ms of the thread the 1 ms tick runs on: at most PaintEveryMs apart,
    // however fast the pointer or a held key moves.
    if (!sincePaint.isValid() || sincePaint.elapsed() >= PaintEveryMs)
        update();
    else if (!paintLater->isActive())
        paintLater->start(int(PaintEveryMs - sincePaint.elapsed()));
}

bool TrendPlot::presentMoved() const
{
    const qint64 since = history.now() - paintedEnd;
    return follow && (since * upperPane().width() >= spanMs || since >= 1000);
}

void TrendPlot::followNow()
{
    follow = true;
    requestPaint();
}

QRect TrendPlot::upperPane() const
{
    // Measured once per size: xAt() asks for every point drawn.
    if (paneFor != size()) {
        const QFontMetrics metrics = fontMetrics();
        const int axis = metrics.horizontalAdvance(QStringLiteral("00000.0")) + 8;
        const int legend = metrics.height() + 8;
        const int paneHeight = std::max(20, (height() - 3 * legend - metrics.height() - 6) / 2);
        pane = QRect(axis, legend, std::max(20, width() - 2 * axis), paneHeight);
        paneFor = size();
    }
    return pane;
}

QRect TrendPlot::lowerPane() const
{
    const QRect upper = upperPane();
    return upper.translated(0, upper.height() + fontMetrics().height() + 8);
}

int TrendPlot::xAt(qint64 monoMs) const
{
    const QRect pane = upperPane();
    const qint64 from = viewEnd() - spanMs;
    return pane.left() + int((monoMs - from) * pane.width() / spanMs);
}

qint64 TrendPlot::timeAt(int x) const
{
    const QRect pane = upperPane();
    return viewEnd() - spanMs + qint64(x - pane.left()) * spanMs / std::max(1, pane.width());
}

QStringList TrendPlot::hoverLines(qint64 monoMs) const
{
    QStringList lines;
    lines << QDateTime::fromMSecsSinceEpoch(history.wallAt(monoMs))
                 .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const struct
    {
        int row;
        const char *english;
        const char *chinese;
    } shown[] = {
        {RegisterMap::RowTecTemp, "TEC temperature", "TEC温度"},
        {RegisterMap::RowTempSetting, "LD temperature setting", "LD温度设定"},
        {RegisterMap::RowLdPower, "LD power", "LD功率"},
        {RegisterMap::RowCurrentSetting, "LD current setting", "LD电流设定"},
        {RegisterMap::RowMaxCurrent, "Maximum current", "LD最大电流"},
        {RegisterMap::RowLdOnState, "LD", "LD状态"},
        {RegisterMap::RowTecOnState, "TEC", "TEC开关"},
    };
    for (const auto &row : shown) {
        quint16 value = 0;
        const QString name = text(english, row.english, row.chinese);
        lines << name + QStringLiteral(": ") +
                     (history.valueAt(row.row, monoMs, &value) ? valueText(row.row, value, english)
                                                               : QString::fromUtf8("—"));
    }
    // The commands within a few pixels of the pointer, as the record words them.
    const qint64 near = spanMs * 4 / std::max(1, upperPane().width());
    for (const BenchEvent &event : history.events(monoMs - near, monoMs + near))
        if (event.kind == BenchEvent::Kind::Command)
            lines << QDateTime::fromMSecsSinceEpoch(event.wallMs)
                             .toString(QStringLiteral("HH:mm:ss ")) +
                         event.text;
    return lines;
}

void TrendPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QFontMetrics metrics = fontMetrics();
    const QRect upper = upperPane();
    const QRect lower = lowerPane();
    const qint64 to = viewEnd();
    const qint64 from = to - spanMs;
    const int columns = upper.width();
    paintedEnd = to;
    sincePaint.start();

    std::vector<std::vector<TrendHistory::Point>> points;
    for (const Series &series : PlotSeries)
        points.push_back(history.points(series.row, from, to, columns));
    const Range temperature =
        rangeOf({points[0], points[1]}, 2000, 3000, 50, false); // hundredths of a degree
    const Range power = rangeOf({points[2]}, 0, 100, 100, true);
    const Range current = rangeOf({points[3], points[4]}, 0, 10, 10, true);
    auto rangeFor = [&](Axis axis) -> const Range & {
        return axis == Axis::Temperature ? temperature : axis == Axis::Power ? power : current;
    };

    // The LD's working periods: between two readings of "working" with no break between them.
    const auto working = history.points(RegisterMap::RowLdOnState, from, to, columns);
    for (size_t i = 0; i + 1 < working.size(); ++i) {
        if (working[i].last != 1 || working[i + 1].breakBefore)
            continue;
        const int left = std::max(upper.left(), xAt(working[i].at));
        const int right = std::min(upper.right(), xAt(working[i + 1].at));
        if (right < left)
            continue;
        painter.fillRect(QRect(left, upper.top(), right - left + 1, upper.height()), WorkingShade);
        painter.fillRect(QRect(left, lower.top(), right - left + 1, lower.height()), WorkingShade);
    }

    // Grids and value axes.
    const QColor grid(225, 225, 225);
    const QColor ink(60, 60, 60);
    auto valueAxis = [&](const QRect &pane, const Range &range, double scale, bool right,
                         bool drawGrid, const QColor &color) {
        const double step = niceStep((range.high - range.low) / scale /
                                     std::max(2, pane.height() / (metrics.height() * 2)));
        const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
        for (double v = std::ceil(range.low / scale / step) * step; v * scale <= range.high;
             v += step) {
            const int y = int(std::lround(range.y(pane, v * scale)));
            if (drawGrid) {
                painter.setPen(grid);
                painter.drawLine(pane.left(), y, pane.right(), y);
            }
            painter.setPen(color);
            const QString label = QString::number(v, 'f', decimals);
            const int width = metrics.horizontalAdvance(label);
            painter.drawText(right ? pane.right() + 4 : pane.left() - 4 - width,
                             y + metrics.ascent() / 2, label);
        }
    };
    // Each lower axis in its series' colour: the power on the left, the currents on the right.
    valueAxis(upper, temperature, 100, false, true, ink);
    valueAxis(lower, power, 100, false, true, PlotSeries[2].color);
    valueAxis(lower, current, 1, true, false, PlotSeries[3].color);

    // The time axis, in the desktop's local time.
    {
        static const qint64 steps[] = {1000,    2000,    5000,     10000,    15000,   30000,
                                       60000,   120000,  300000,   600000,   900000,  1800000,
                                       3600000, 7200000, 10800000, 21600000, 43200000};
        const int labelWidth = metrics.horizontalAdvance(QStringLiteral("00:00:00")) + 24;
        qint64 step = steps[sizeof steps / sizeof *steps - 1];
        for (qint64 candidate : steps)
            if (candidate * columns / spanMs >= labelWidth) {
                step = candidate;
                break;
            }
        const qint64 offset = history.wallAt(to) - to;
        const qint64 wallFrom = from + offset;
        const qint64 local =
            qint64(QDateTime::fromMSecsSinceEpoch(wallFrom).offsetFromUtc()) * 1000;
        const qint64 first = ((wallFrom + local) / step + 1) * step - local;
        const QString format = step < 60000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
        for (qint64 wall = first; wall <= to + offset; wall += step) {
            const int x = xAt(wall - offset);
            painter.setPen(grid);
            painter.drawLine(x, upper.top(), x, upper.bottom());
            painter.drawLine(x, lower.top(), x, lower.bottom());
            const QString label = QDateTime::fromMSecsSinceEpoch(wall).toString(format);
            const int left = x - metrics.horizontalAdvance(label) / 2;
            if (left + metrics.horizontalAdvance(label) > lower.right() + 8)
                continue; // under the right axis' labels
            painter.setPen(ink);
            painter.drawText(left, lower.bottom() + 4 + metrics.ascent(), label);
        }
    }

    // The commands: one marker each, where it was given, coloured by what became of it last.
    struct Marker
    {
        int command;
        qint64 at;
        BenchEvent::Outcome outcome;
    };
    std::vector<Marker> markers;
    for (const BenchEvent &event : history.events(from - MarkerReachMs, to)) {
        if (event.kind != BenchEvent::Kind::Command)
            continue;
        auto same = std::find_if(markers.begin(), markers.end(), [&](const Marker &marker) {
            return event.command != 0 && marker.command == event.command;
        });
        if (same != markers.end())
            same->outcome = event.outcome;
        else
            markers.push_back(Marker{event.command, event.monoMs, event.outcome});
    }
    for (const Marker &marker : markers) {
        if (marker.at < from)
            continue;
        const int x = xAt(marker.at);
        const QColor color = outcomeColor(marker.outcome);
        painter.setPen(QPen(color, 1, Qt::DotLine));
        painter.drawLine(x, upper.top(), x, upper.bottom());
        painter.drawLine(x, lower.top(), x, lower.bottom());
        for (const QRect &pane : {upper, lower}) {
            const QPoint triangle[] = {QPoint(x - 4, pane.top()), QPoint(x + 4, pane.top()),
                                       QPoint(x, pane.top() + 7)};
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawPolygon(triangle, 3);
        }
    }
    painter.setBrush(Qt::NoBrush);

    // The readings: a line only between two points with no break between them.
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (size_t s = 0; s < sizeof PlotSeries / sizeof *PlotSeries; ++s) {
        const Series &series = PlotSeries[s];
        const QRect &pane = series.axis == Axis::Temperature ? upper : lower;
        const Range &range = rangeFor(series.axis);
        const auto &line = points[s];
        painter.save();
        painter.setClipRect(pane);
        // One device pixel wide: wider pens go through the stroker, several times the cost.
        QPen pen(series.color, 1, series.style);
        pen.setCosmetic(true);
        painter.setPen(pen);
        QPainterPath path;
        for (size_t i = 0; i < line.size(); ++i) {
            const TrendHistory::Point &point = line[i];
            // On pixel centres: level stretches stay one pixel sharp under antialiasing.
            const double x = xAt(point.at) + 0.5;
            const double y = std::floor(range.y(pane, point.last)) + 0.5;
            if (i == 0 || point.breakBefore)
                path.moveTo(x, y);
            else
                path.lineTo(x, y);
            if (point.low != point.high) {
                path.moveTo(x, std::floor(range.y(pane, point.low)) + 0.5);
                path.lineTo(x, std::floor(range.y(pane, point.high)) + 0.5);
                path.moveTo(x, y);
            }
            const bool alone =
                (i == 0 || point.breakBefore) && (i + 1 == line.size() || line[i + 1].breakBefore);
            if (alone && point.low == point.high)
                painter.drawEllipse(QPointF(x, y), 1.5, 1.5);
        }
        painter.drawPath(path);
        painter.restore();
    }
    painter.setRenderHint(QPainter::Antialiasing, false);

    painter.setPen(QColor(150, 150, 150));
    painter.drawRect(upper);
    painter.drawRect(lower);

    // Legends above each pane; the outcomes' colours at the right of the upper one.
    auto legend = [&](int x, int y, const QColor &color, Qt::PenStyle style, const QString &name,
                      bool swatch) {
        if (swatch)
            painter.fillRect(QRect(x, y - 5, 18, 10), color);
        else {
            painter.setPen(QPen(color, 2, style));
            painter.drawLine(x, y, x + 18, y);
        }
        painter.setPen(ink);
        painter.drawText(x + 22, y + metrics.ascent() / 2 - 1, name);
        return x + 22 + metrics.horizontalAdvance(name) + 14;
    };
    int x = upper.left();
    for (const Series &series : PlotSeries) {
        const QRect &pane = series.axis == Axis::Temperature ? upper : lower;
        if (series.row == RegisterMap::RowLdPower)
            x = lower.left();
        x = legend(x, pane.top() - metrics.height() / 2 - 4, series.color, series.style,
                   text(english, series.english, series.chinese), false);
    }
    legend(x, lower.top() - metrics.height() / 2 - 4, WorkingShade, Qt::SolidLine,
           text(english, "LD working", "LD工作"), true);
    // The outcomes' colours on a row of their own under the time axis.
    int outcomeX = lower.left();
    const int outcomeY = lower.bottom() + metrics.height() + 8 + metrics.height() / 2 + 4;
    painter.setPen(ink);
    const QString commands = text(english, "Commands:", "命令:");
    painter.drawText(outcomeX, outcomeY + metrics.ascent() / 2 - 1, commands);
    outcomeX += metrics.horizontalAdvance(commands) + 10;
    for (const Outcome &outcome : Outcomes) {
        const QPoint triangle[] = {QPoint(outcomeX, outcomeY - 4),
                                   QPoint(outcomeX + 8, outcomeY - 4),
                                   QPoint(outcomeX + 4, outcomeY + 3)};
        painter.setPen(Qt::NoPen);
        painter.setBrush(outcome.color);
        painter.drawPolygon(triangle, 3);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(ink);
        const QString name = text(english, outcome.english, outcome.chinese);
        painter.drawText(outcomeX + 12, outcomeY + metrics.ascent() / 2 - 1, name);
        outcomeX += 12 + metrics.horizontalAdvance(name) + 14;
    }

    // What is under the pointer.
    if (hovering && !dragging && hoverAt.x() >= upper.left() && hoverAt.x() <= upper.right()) {
        painter.setPen(QPen(QColor(80, 80, 80), 1, Qt::DashLine));
        painter.drawLine(hoverAt.x(), upper.top(), hoverAt.x(), lower.bottom());
        const QStringList lines = hoverLines(timeAt(hoverAt.x()));
        int boxWidth = 0;
        for (const QString &line : lines)
            boxWidth = std::max(boxWidth, metrics.horizontalAdvance(line));
        QRect box(0, 0, boxWidth + 12, int(lines.size()) * metrics.height() + 8);
        box.moveTopLeft(hoverAt + QPoint(14, 14));
        if (box.right() > width())
            box.moveRight(hoverAt.x() - 14);
        if (box.bottom() > height())
            box.moveBottom(height() - 1);
        painter.setPen(QColor(120, 120, 120));
        painter.setBrush(QColor(255, 255, 255, 235));
        painter.drawRect(box);
        painter.setPen(ink);
        for (int i = 0; i < lines.size(); ++i)
            painter.drawText(box.left() + 6,
                             box.top() + 4 + i * metrics.height() + metrics.ascent(), lines[i]);
    }
}

void TrendPlot::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        paneFor = QSize(); // measured again
    QWidget::changeEvent(event);
}

void TrendPlot::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta != 0)
        zoom(delta > 0 ? std::max(1, delta / 120) : std::min(-1, delta / 120));
    event->accept();
}

void TrendPlot::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(1);
        break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        zoom(-1);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

namespace {

QPoint positionOf(const QMouseEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position().toPoint();
#else
    return event->pos();
#endif
}

} // namespace

void TrendPlot::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    dragging = true;
    dragFromX = positionOf(event).x();
    dragFromEnd = viewEnd();
    requestPaint();
}

void TrendPlot::mouseMoveEvent(QMouseEvent *event)
{
    hovering = true;
    hoverAt = positionOf(event);
    // Dragging to the right shows what came before.
    if (dragging)
        setViewEnd(dragFromEnd -
                   qint64(hoverAt.x() - dragFromX) * spanMs / std::max(1, upperPane().width()));
    requestPaint();
}

void TrendPlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        dragging = false;
    requestPaint();
}

void TrendPlot::leaveEvent(QEvent *)
{
    hovering = false;
    requestPaint();
}
