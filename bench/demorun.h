#ifndef DEMORUN_H
#define DEMORUN_H

#include <QString>
#include <QVector>

// One run of ldpanel-demo's arrangement: the window and the simulated unit on the same thread,
// joined by the line in memory or by a pseudo-terminal. Both serve the same unit (every read of
// a shown register answered with a new value), so the two runs' CPU and reply-to-display times
// can be set side by side. The CPU is the whole process's, the unit's share included, as a
// person running the demo pays it; the latency counts from the unit's write of a reply to the
// label showing it, so on the line in memory it includes the reply's time on the wire.
class DemoRun
{
public:
    enum class Line { Memory, PseudoTerminal };

    struct Result
    {
        QString error; // empty when the run worked
        double seconds = 0;
        double cpuPercent = 0;
        double pollsPerSecond = 0;
        double ticksPerSecond = 0;
        QVector<double> latenciesMs;
    };

    static Result run(Line line, int cpuSeconds, int minChanges);
    // Runs both, each in a child process ("--demo-line memory|pty"), and prints a line for each.
    static bool compare(int cpuSeconds, int minChanges);
    // The child's side: one run, its figures as "key value" lines.
    static int runChild(const QString &line, int cpuSeconds, int minChanges);
};

#endif // DEMORUN_H
