#ifndef LINEGONE_H
#define LINEGONE_H

class QSerialPort;

// True once the open port's line has gone away for good (adapter unplugged, far end of a
// pseudo-terminal closed): the port reports a resource or read error, or its tty was hung up.
// Qt 5 reports a hang-up as a read error, Qt 6.8 reports nothing, so on Unix this also asks the
// handle itself; on Windows Qt reports a removed device as a resource error.
bool lineGone(QSerialPort &port);

#endif // LINEGONE_H
