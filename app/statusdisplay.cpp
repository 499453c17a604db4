#include "statusdisplay.h"

#include <QLabel>

// Placeholder until the status display is built.
QString StatusDisplay::powerText(quint16) { return {}; }
QString StatusDisplay::temperatureText(quint16) { return {}; }
void StatusDisplay::show(const DeviceStatus &, bool, const Labels &) {}
