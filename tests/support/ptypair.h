#ifndef PTYPAIR_H
#define PTYPAIR_H

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair in raw mode: the panel opens slavePath() through QSerialPort, the test
// plays the device on the master side. POSIX only.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isOpen() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    int fd() const { return masterFd; }
    // The test's own descriptor of the slave side, e.g. to read back the line settings.
    int slaveFd() const { return slaveDescriptor; }

    // Writes all bytes to the master side.
    bool write(const QByteArray &bytes);
    // Whatever the master side can read now, waiting up to waitMs for the first byte.
    QByteArray read(int waitMs = 0);
    // Reads until at least count bytes have come or timeoutMs has passed.
    QByteArray readExactly(int count, int timeoutMs);
    void closeMaster();

private:
    int masterFd = -1;
    int slaveDescriptor = -1; // kept open so the pair survives the panel closing its side
    QString path;
};

#endif // PTYPAIR_H
