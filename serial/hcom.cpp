#include "hcom.h"

#include <QSerialPort>
#include <QTimer>

// Placeholder until the channel is built.
Hcom::Hcom(QObject *parent) : QObject(parent), serialPort(new QSerialPort) {}
Hcom::~Hcom() = default;
QStringList Hcom::comPortList() { return {}; }
bool Hcom::comOpen(QString, ComSettings) { return false; }
int Hcom::comClose(QString) { return 1; }
int Hcom::comWrite(const quint8 *, quint16) { return 1; }
int Hcom::comTakeData(quint8 *, quint16 &length) { length = 0; return 1; }
void Hcom::comRead() {}
