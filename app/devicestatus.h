#ifndef DEVICESTATUS_H
#define DEVICESTATUS_H

#include <QtGlobal>

// Mirror of the polled registers, copied from the poll table on every online tick.
struct DeviceStatus
{
    quint16 maxCurrent = 0;
    quint16 tempSetting = 0;
    quint16 currentSetting = 0;
    quint16 tecOnState = 0;
    quint16 tecTemp = 0;
    quint16 ldOnState = 0;
    quint16 ldPower = 0;
};

#endif // DEVICESTATUS_H
