#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Must be set before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
