#ifndef DEMOCHECK_H
#define DEMOCHECK_H

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>

class QWidget;
class SimulatedDriver;

// ldpanel-demo's own check, for a run nobody watches (the Windows build under Wine): once the
// line is open, every read-out must come to show what the simulated unit holds, and a current
// set in the window must reach the unit and be read back. It says what it saw on standard output
// and ends the event loop with 0, or with 1 and what was missing once timeoutMs have passed.
class DemoCheck
{
public:
    DemoCheck(QWidget &window, SimulatedDriver &driver);
    void start(int timeoutMs);

private:
    // The read-outs that differ from the unit's registers, as "Tec Temp: 25.1, unit 25".
    QStringList differences() const;
    QString shown() const;
    void step();
    void finish(bool passed, const QString &line);

    QWidget &window;
    SimulatedDriver &driver;
    QTimer timer;
    QElapsedTimer clock;
    int timeoutMs = 0;
    int setTo = -1; // the current set, once the read-outs were all right
};

#endif // DEMOCHECK_H
