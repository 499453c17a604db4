#include "appearance.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    Appearance::prepare();
    QApplication app(argc, argv);
    Appearance::apply();
    MainWindow window;
    window.show();
    return window.run();
}
