#ifndef STATUSDISPLAY_H
#define STATUSDISPLAY_H

#include "devicestatus.h"

#include <QString>

class QLabel;

// Writes the five read-outs. A label or style sheet is only touched when what it shows changes:
// setting a style sheet re-polishes the widget, which on a 1 ms tick costs real CPU.
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

    static QString powerText(quint16 ldPower);
    static QString temperatureText(quint16 tecTemp);

    void show(const DeviceStatus &status, bool english, const Labels &labels);

private:
    // TODO(status display): what was last written, to skip unchanged labels.
};

#endif // STATUSDISPLAY_H
