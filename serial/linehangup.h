#ifndef LINEHANGUP_H
#define LINEHANGUP_H

class QSerialPort;

// True once the open port's line has gone away for good (adapter unplugged, far end of a
// pseudo-terminal closed). Qt 5 reports that as a read error, Qt 6.8 reports nothing, so this
// asks the handle itself. On Windows Qt reports a removed device as a resource error, and this
// says false.
bool lineHungUp(QSerialPort &port);

#endif // LINEHANGUP_H
