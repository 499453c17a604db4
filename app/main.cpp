#include "appearance.h"
#include "displaycheck.h"
#include "mainwindow.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    const QString noDisplay = DisplayCheck::missing("ldpanel", argc, argv);
    if (!noDisplay.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(noDisplay));
        return 1;
    }
    Appearance::prepare();
    QApplication app(argc, argv);
    Appearance::apply();
    MainWindow window;
    window.show();
    return window.run();
}
