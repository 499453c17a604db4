#ifndef PANELRUN_H
#define PANELRUN_H

#include <QString>
#include <QVector>

// One run of the real MainWindow against the simulated driver on a pseudo-terminal. The driver
// lives on a thread of its own, so its CPU time can be taken out of the process's, and its
// "reply written" times share the panel's clock.
//
// Every read of a shown register is answered with a value different from the last one, so each
// reply makes a label change: that is what the latency is measured on. The CPU window opens one
// second after the device came online; the run goes on past it until enough changes were seen.
class PanelRun
{
public:
    struct Options
    {
        int cpuSeconds = 20;
        int minChanges = 200;
        int maxSeconds = 120;
        // The trend window open and a record running throughout.
        bool withHistory = false;
    };

    struct Result
    {
        QString error; // empty when the run worked
        QString platform;
        double seconds = 0; // length of the CPU window
        double ticksPerSecond = 0;
        double pollsPerSecond = 0;
        double wakeupsPerSecond = 0; // of the GUI thread
        double cpuPercent = 0;       // the process less the driver's thread
        double simCpuPercent = 0;    // the driver's thread alone
        qint64 peakRssKiB = 0;
        double latencySeconds = 0; // how long changes were collected
        QVector<double> latenciesMs;
        int recordRows = 0; // written by the end, withHistory only
    };

    static Result run(const Options &options);
};

#endif // PANELRUN_H
