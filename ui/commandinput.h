#ifndef COMMANDINPUT_H
#define COMMANDINPUT_H

#include <QString>
#include <QtGlobal>

// Turns the texts of the command entries into register values. As everywhere on the panel, a text
// that is not a number counts as 0.
namespace CommandInput {

// The LD current entry. A whole number beyond the 32-bit range comes back beyond it (saturated)
// instead of as 0, so that the caller's range check refuses it rather than sending 0.
qint64 currentValue(const QString &text);

// The LD temperature entry in degrees Celsius.
double temperatureValue(const QString &text);
// 15 to 35 degrees, both included; NaN is outside.
bool temperatureInRange(double degrees);
// Degrees as hundredths, rounded to the nearest: 17.15 gives 1715, where truncating the product
// 1714.9999999999998 would give 1714.
int temperatureHundredths(double degrees);

// The pulse, frequency and pulse current entries: a decimal integer, low 16 bits.
quint16 registerValue(const QString &text);

// The value of an operating mode name for the mode register, or -1 for any other text.
int modeValue(const QString &modeText);

} // namespace CommandInput

#endif // COMMANDINPUT_H
