// Korvane, the tracking station: registers the receptor meta-types, then opens the main window.
#include "ReceptorMetaTypes.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    registerReceptorMetaTypes();
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Korvane - v1.9"));
    window.show();
    return app.exec();
}
