#ifndef DISPLAYCHECK_H
#define DISPLAYCHECK_H

#include <QString>

// Whether a window can be shown at all, asked before the QApplication is made: on Linux without a
// display Qt ends the program (abort) advising a reinstall, which does not help. Where there is
// no display and no platform is named (-platform, QT_QPA_PLATFORM), says so in one line.
class DisplayCheck
{
public:
    // The line to print, naming program, or empty when a window can be tried.
    static QString missing(const char *program, int argc, const char *const *argv);
};

#endif // DISPLAYCHECK_H
