#ifndef SIMULATOROPTIONS_H
#define SIMULATOROPTIONS_H

#include <QCommandLineOption>
#include <QString>

#include <functional>
#include <vector>

class QCommandLineParser;
class SimulatedDriver;

// The simulated driver's start values and line faults as command-line options, shared by
// ld-driver-sim and ldpanel-demo so both take the same options with the same checks.
class SimulatorOptions
{
public:
    explicit SimulatorOptions(SimulatedDriver &driver);

    void addTo(QCommandLineParser &parser) const;
    // Parses the application's command line; shows the help and exits on --help. False, with
    // the reason, on an unknown option or a stray argument.
    static bool parseCommandLine(QCommandLineParser &parser, QString &error);
    // Applies the options given on the parsed command line to the driver. On a value out of
    // range, or a start current above the maximum, returns false and leaves errorString().
    bool apply(const QCommandLineParser &parser);
    QString errorString() const { return error; }

private:
    struct NumberOption
    {
        QCommandLineOption option;
        double min;
        double max;
        std::function<void(double)> apply;
    };

    SimulatedDriver &driver;
    std::vector<NumberOption> numbers;
    QCommandLineOption silentOption;
    QCommandLineOption echoOption;
    QCommandLineOption fifoOption;
    QCommandLineOption leadOption;
    QCommandLineOption trailOption;
    QString error;
};

#endif // SIMULATOROPTIONS_H
