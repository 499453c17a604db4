#include "displaycheck.h"

#include <QtGlobal>

#include <cstring>

QString DisplayCheck::missing(const char *program, int argc, const char *const *argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return QString();
    }
    // Qt takes the platform from -platform, and from --platform as well.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return QString();
    }
    return QStringLiteral("%1: no display to show the window on (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set); start it from the desktop or over ssh -X, or "
                          "give -platform offscreen to run it without a window")
        .arg(QString::fromLocal8Bit(program));
#else
    Q_UNUSED(program)
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return QString();
#endif
}
