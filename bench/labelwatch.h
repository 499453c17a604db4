#ifndef LABELWATCH_H
#define LABELWATCH_H

#include <QString>
#include <QVector>

#include <array>
#include <atomic>

class QLabel;
class QWidget;
class SimulatedDriver;

// The reply-to-display time of the window's five read-outs: from the simulated unit's write of a
// reply to the label showing it. The unit answers every read of a shown register with a value
// different from the last one, so each reply makes a label change. The reply times are atomic:
// the unit may run on a thread of its own.
class LabelWatch
{
public:
    static constexpr int LabelCount = 5;

    // Sets the unit up to change the shown registers after each request, and notes when each
    // reply is written. Connected directly, so it runs on the unit's thread.
    void serve(SimulatedDriver &driver);
    // Takes the window's labels and what they show now.
    void attach(const QWidget &window);
    // Changes count from now on; until then the labels are not looked at.
    void start(qint64 nowNs);
    // To be called right after the window may have written its labels.
    void look(qint64 nowNs);
    const QVector<double> &latenciesMs() const { return latencies; }

private:
    std::array<std::atomic<qint64>, LabelCount> lastReplyNs{};
    std::atomic<qint64> latestReplyNs{0};
    int handled = 0; // on the unit's thread
    std::array<QLabel *, LabelCount> labels{};
    std::array<QString, LabelCount> shown;
    std::array<qint64, LabelCount> changedAtNs{};
    bool started = false;
    qint64 startNs = 0;
    QVector<double> latencies;
};

#endif // LABELWATCH_H
