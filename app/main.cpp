#include "appearance.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Must be set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    // No OpenGL in this window: without this the xcb platform loads the GL stack for every
    // top-level widget, some 50 MiB resident and a slower start.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets, true);
    QApplication app(argc, argv);
    Appearance::apply();
    MainWindow window;
    window.show();
    return app.exec();
}
