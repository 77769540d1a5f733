// Korvane, the tracking station: memory settings, the values that cross threads, the main window.
#include "KorvaneMainWindow.h"
#include "MemoryTuning.h"
#include "ReceptorMetaTypes.h"
#include "QtFrench.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    keepLargeBlocksMapped();
    registerReceptorMetaTypes();
    QApplication app(argc, argv);
    // Qt's standard dialogs and buttons in French, like the rest of the window.
    installQtFrenchTranslations(app);
    // Declared after the application, so destroyed before it.
    KorvaneMainWindow window;
    window.show();
    return app.exec();
}
