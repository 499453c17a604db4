#ifndef USERSETPOINTS_H
#define USERSETPOINTS_H

#include <QtGlobal>

// The last value each operator command sent; nothing reads these back.
struct UserSetpoints
{
    quint16 ldTemp = 0;
    quint16 ldCurrent = 0;
    quint16 ldFrequency = 0;
    quint16 ldPulse = 0;
    quint16 tecOn = 0;
    quint16 ldOn = 0;
    quint16 ldPulseCurrent = 0;
};

#endif // USERSETPOINTS_H
