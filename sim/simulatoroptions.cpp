#include "simulatoroptions.h"

#include "registermap.h"
#include "simulateddriver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {

QCommandLineOption option(const char *name, const char *text, const char *value)
{
    return QCommandLineOption(QLatin1String(name), QLatin1String(text), QLatin1String(value));
}

// "00", "ff", "00ff" or "00 ff": whole bytes in hexadecimal, at most 64 of them.
bool parseHexBytes(QString text, QByteArray &bytes)
{
    text.remove(QLatin1Char(' '));
    if (text.isEmpty() || text.size() % 2 != 0 || text.size() > 128)
        return false;
    for (const QChar c : std::as_const(text)) {
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return false;
    }
    bytes = QByteArray::fromHex(text.toLatin1());
    return true;
}

} // namespace

SimulatorOptions::SimulatorOptions(SimulatedDriver &driver)
    : driver(driver),
      silentOption(QStringLiteral("silent"), QStringLiteral("Fault: never answer, ignore writes.")),
      echoOption(QStringLiteral("local-echo"),
                 QStringLiteral("Line: every request comes back before its reply, as on a "
                                "two-wire RS-485 adapter that hears itself; by turns in the "
                                "reply's burst and in a burst of its own.")),
      fifoOption(QStringLiteral("fifo-delays"),
                 QStringLiteral("Fault: take one request at a time, in order, and answer each "
                                "after a delay picked from the list, counted from the answer "
                                "before (-1: no answer), e.g. 150,0,-1."),
                 QStringLiteral("ms,...")),
      leadOption(QStringLiteral("lead-bytes"),
                 QStringLiteral("Line: these bytes ahead of every reply, in hexadecimal (e.g. 00), "
                                "as a transceiver turning its transmitter on puts them."),
                 QStringLiteral("hex")),
      trailOption(QStringLiteral("trail-bytes"),
                  QStringLiteral("Line: these bytes after every reply, in hexadecimal (e.g. ff), "
                                 "as a transceiver turning its transmitter off puts them."),
                  QStringLiteral("hex"))
{
    LdDriverModel &model = driver.model();
    FaultPlan &faults = driver.faults();
    numbers = {
        {option("max-current", "Maximum LD current, fixed by the device (default 3000).", "n"), 0,
         65535, [&model](double v) { model.setMaxCurrent(quint16(v)); }},
        {option("current", "LD current setting at start (default 0).", "n"), 0, 65535,
         [&model](double v) { model.setCurrentSetting(quint16(v)); }},
        {option("ld-on", "LD working at start: 1 or 0 (default 0).", "0|1"), 0, 1,
         [&model](double v) { model.setLdOn(v != 0); }},
        {option("tec-on", "TEC on at start: 1 or 0 (default 1).", "0|1"), 0, 1,
         [&model](double v) { model.setTecOn(v != 0); }},
        {option("temp-setting", "LD temperature setting, hundredths of a degree (default 2500).",
                "n"),
         LdDriverModel::TempSettingMin, LdDriverModel::TempSettingMax,
         [&model](double v) { model.setTempSetting(quint16(v)); }},
        {option("tec-temp", "TEC temperature at start, hundredths of a degree (default: ambient).",
                "n"),
         1, 65535, [&model](double v) { model.setTecTemperature(v); }},
        {option("ambient", "Ambient temperature, hundredths of a degree (default 2500).", "n"), 1,
         65535, [&model](double v) { model.setAmbient(v); }},
        {option("noise", "Noise on the TEC temperature, +- hundredths (default 3).", "n"), 0, 1000,
         [&model](double v) { model.setNoise(v); }},
        {option("power-slope", "LD power in hundredths per unit of current (default 0.5).", "x"), 0,
         100, [&model](double v) { model.setPowerSlope(v); }},
        {option("delay", "Fault: answer this many ms after the request.", "ms"), 0, 60000,
         [&faults](double v) { faults.delayMs = int(v); }},
        {option("drop-every", "Fault: drop every Nth reply.", "n"), 0, 1e9,
         [&faults](double v) { faults.dropEvery = int(v); }},
        {option("drop-rate", "Fault: drop each reply with probability p (0 to 1).", "p"), 0, 1,
         [&faults](double v) { faults.dropRate = v; }},
        {option("corrupt-crc-every", "Fault: spoil the CRC of every Nth reply.", "n"), 0, 1e9,
         [&faults](double v) { faults.corruptCrcEvery = int(v); }},
        {option("split", "Fault: send each reply in two writes this many ms apart.", "ms"), 0,
         60000, [&faults](double v) { faults.splitGapMs = int(v); }},
        {option("stray-bytes", "Fault: send n random bytes just ahead of each reply.", "n"), 0,
         1000, [&faults](double v) { faults.strayBytes = int(v); }},
        {option("byte-gap",
                "Line: send the bytes of each reply this many ms apart, as a slow UART does.",
                "ms"),
         0, 1000, [&faults](double v) { faults.byteGapMs = int(v); }},
        {option("refuse-read",
                "Fault: answer every read of this register with exception 02 (illegal data "
                "address), as a unit whose firmware lacks it.",
                "reg"),
         0, 65535, [&model](double v) { model.setRefusedRead(int(v)); }},
        {option("answer-slave",
                "Line: answer every request, for whatever slave, from this slave address, as a "
                "unit set to another address would if it answered them all.",
                "n"),
         1, 247, [&faults](double v) { faults.answerSlave = int(v); }},
        {option("answer-baud",
                "Line: every reply as the panel's port (115200 baud) hears a unit sending at "
                "this rate, e.g. 9600: bytes that never form a Modbus frame.",
                "baud"),
         50, 4000000, [&faults](double v) { faults.answerBaud = int(v); }},
        {option("gap", "Silent interval that ends a request of unknown length (default 2).", "ms"),
         1, 1000, [&driver](double v) { driver.slave().setGapMs(int(v)); }},
        {option("seed", "Seed of the noise and of the random faults (default 1).", "n"), 0,
         4294967295.0,
         [&model, &faults](double v) {
             model.setSeed(quint32(v));
             faults.reset(quint32(v));
         }},
    };
    // The seed first, so it does not undo anything set after it.
    std::stable_partition(numbers.begin(), numbers.end(), [](const NumberOption &number) {
        return number.option.names().first() == QLatin1String("seed");
    });
}

void SimulatorOptions::addTo(QCommandLineParser &parser) const
{
    // In the order of the help text, the seed last.
    for (const NumberOption &number : numbers) {
        if (number.option.names().first() != QLatin1String("seed"))
            parser.addOption(number.option);
    }
    parser.addOption(numbers.front().option);
    parser.addOption(silentOption);
    parser.addOption(echoOption);
    parser.addOption(fifoOption);
    parser.addOption(leadOption);
    parser.addOption(trailOption);
}

bool SimulatorOptions::apply(const QCommandLineParser &parser)
{
    LdDriverModel &model = driver.model();
    for (const NumberOption &number : numbers) {
        if (!parser.isSet(number.option))
            continue;
        const QString text = parser.value(number.option);
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok || value < number.min || value > number.max) {
            error = QStringLiteral("--%1: %2 is not a number from %3 to %4")
                        .arg(number.option.names().first(), text)
                        .arg(number.min, 0, 'g', 10)
                        .arg(number.max, 0, 'g', 10);
            return false;
        }
        number.apply(value);
    }
    if (parser.isSet(QStringLiteral("ambient")) && !parser.isSet(QStringLiteral("tec-temp")))
        model.setTecTemperature(model.ambientTemperature());
    if (model.read(RegisterMap::LdCurrentSetting) > model.maximumCurrent()) {
        error =
            QStringLiteral("--current is above the maximum current %1").arg(model.maximumCurrent());
        return false;
    }
    driver.faults().silent = parser.isSet(silentOption);
    driver.faults().localEcho = parser.isSet(echoOption);
    for (const QCommandLineOption *wrap : {&leadOption, &trailOption}) {
        if (!parser.isSet(*wrap))
            continue;
        QByteArray bytes;
        if (!parseHexBytes(parser.value(*wrap), bytes)) {
            error = QStringLiteral("--%1: %2 is not 1 to 64 bytes in hexadecimal")
                        .arg(wrap->names().first(), parser.value(*wrap));
            return false;
        }
        (wrap == &leadOption ? driver.faults().leadBytes : driver.faults().trailBytes) = bytes;
    }
    if (parser.isSet(fifoOption)) {
        QVector<int> delays;
        const QString text = parser.value(fifoOption);
        for (const QString &item : text.split(QLatin1Char(','))) {
            bool ok = false;
            const int ms = item.trimmed().toInt(&ok);
            if (!ok || ms < -1 || ms > 60000) {
                error = QStringLiteral("--fifo-delays: %1 is not a list of delays from -1 to "
                                       "60000 ms")
                            .arg(text);
                return false;
            }
            delays.append(ms);
        }
        driver.faults().fifoDelaysMs = delays;
    }
    error.clear();
    return true;
}

bool SimulatorOptions::parseCommandLine(QCommandLineParser &parser, QString &error)
{
    if (!parser.parse(QCoreApplication::arguments())) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
        return false;
    }
    return true;
}
