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

    // Which read-outs hold a reading from the device. Until its register has answered, a
    // read-out keeps the form's text: a 0 that was never read would show a working LD as
    // stopped.
    struct Heard
    {
        bool ldState = true;
        bool tecTemp = true;
        bool current = true;
        bool power = true;
        bool maxCurrent = true;
    };

    void show(const DeviceStatus &status, bool english, const Labels &labels, const Heard &heard);
    // Every read-out heard.
    void show(const DeviceStatus &status, bool english, const Labels &labels);

private:
    // What the labels show, -1 before the first write. A quint16 always differs from -1.
    enum LdStateShown { NotShown = -1, StopEnglish, StopChinese, WorkEnglish, WorkChinese };
    int ldStateShown = NotShown;
    int ldStyleWorking = -1; // 1 green, 0 red
    int tecTempShown = -1;
    int currentShown = -1;
    int powerShown = -1;
    int maxCurrentShown = -1;
};

#endif // STATUSDISPLAY_H
