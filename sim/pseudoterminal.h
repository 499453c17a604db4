#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QString>
#include <QtGlobal>

#ifdef Q_OS_UNIX

// A pseudo-terminal pair in raw mode for the simulated driver: the driver reads and writes the
// master side, the panel opens slavePath() as its serial port. The slave side stays open here
// too, so the pair survives the panel closing and re-opening its port.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool open();
    void close();

    bool isOpen() const { return master >= 0; }
    int masterFd() const { return master; } // non-blocking
    QString slavePath() const { return path; }
    QString errorString() const { return error; }

private:
    int master = -1;
    int slave = -1;
    QString path;
    QString error;
};

#endif // Q_OS_UNIX

#endif // PSEUDOTERMINAL_H
