#include "stdoutcapture.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fileno _fileno
#define close _close
#else
#include <unistd.h>
#endif

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    file = std::tmpfile();
    if (!file)
        return;
    savedFd = dup(fileno(stdout));
    if (savedFd < 0 || dup2(fileno(file), fileno(stdout)) < 0) {
        if (savedFd >= 0)
            close(savedFd);
        savedFd = -1;
    }
}

StdoutCapture::~StdoutCapture()
{
    restore();
    if (file)
        std::fclose(file);
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    if (!file)
        return QByteArray();
    QByteArray out;
    std::rewind(file);
    char chunk[512];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        out.append(chunk, static_cast<int>(n));
    std::fseek(file, 0, SEEK_END);
    return out;
}

void StdoutCapture::restore()
{
    if (savedFd < 0)
        return;
    std::fflush(stdout);
    dup2(savedFd, fileno(stdout));
    close(savedFd);
    savedFd = -1;
}
