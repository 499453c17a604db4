#ifndef STDOUTCAPTURE_H
#define STDOUTCAPTURE_H

#include <QByteArray>

#include <cstdio>

// Sends the process's standard output into a temporary file while it lives; text() returns what
// was written so far. One at a time.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    bool isActive() const { return savedFd >= 0; }
    QByteArray text();

private:
    void restore();

    std::FILE *file = nullptr;
    int savedFd = -1;
};

#endif // STDOUTCAPTURE_H
