#ifndef STATUSDISPLAY_H
#define STATUSDISPLAY_H

#include "devicestatus.h"

#include <QString>

class QLabel;

// Writes the five read-outs. A label or style sheet is only touched when what it shows changes:
// setting a style sheet re-polishes the widget, which on a 1 ms tick costs real CPU, and on a tick
// where nothing changed no string is built at all. One StatusDisplay drives one set of labels; it
// remembers what it wrote there, so the labels are not to be written by anyone else.
class StatusDisplay
{
public:
    struct Labels
    {
        QLabel *ldState = nullptr;
        QLabel *tecRtTemp = nullptr;
        QLabel *ldSetCurrent = nullptr;
        QLabel *ldSetPower = nullptr;
        QLabel *ldMaxCur = nullptr;
    };

    // 2505 gives "25.05", 7 gives "0.07", 0 gives "0.00".
    static QString powerText(quint16 ldPower);
    // Hundredths of a degree as degrees, at most six significant digits and no trailing zeros:
    // 2505 gives "25.05", 2550 "25.5", 2500 "25". show() never writes a reading of 0.
    static QString temperatureText(quint16 tecTemp);

    // What a read-out's register holds for the display. Until it has been read, a read-out keeps
    // the form's text: a 0 that was never read would show a working LD as stopped. A reading
    // that is no longer current keeps its text, in grey.
    enum class Reading { Unread, Current, Stale };
    struct Readings
    {
        Reading ldState = Reading::Current;
        Reading tecTemp = Reading::Current;
        Reading current = Reading::Current;
        Reading power = Reading::Current;
        Reading maxCurrent = Reading::Current;
    };

    void show(const DeviceStatus &status, bool english, const Labels &labels,
              const Readings &readings);
    // Every read-out current.
    void show(const DeviceStatus &status, bool english, const Labels &labels);

private:
    // What a number read-out shows: the value written there (-1 for the form's text; a quint16
    // always differs from it) and the style sheet last set.
    struct Shown
    {
        int value = -1;
        const char *style = ""; // the form's
    };
    static void showNumber(QLabel *label, Shown &shown, Reading reading, quint16 value,
                           QString (*text)(quint16), bool zeroKeepsText);

    enum LdStateShown { NotShown = -1, StopEnglish, StopChinese, WorkEnglish, WorkChinese };
    int ldStateShown = NotShown;
    const char *ldStyle = ""; // the form's
    Shown tecTempShown;
    Shown currentShown;
    Shown powerShown;
    Shown maxCurrentShown;
};

#endif // STATUSDISPLAY_H
