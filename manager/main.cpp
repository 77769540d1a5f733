// Quorvel, the module manager: registers the values that cross threads, then runs the main window.
#include "QuorvelMainWindow.h"
#include "QuorvelMetaTypes.h"
#include "QtFrench.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    registerQuorvelMetaTypes();
    QApplication app(argc, argv);
    // Qt's standard dialogs and buttons in French, like the rest of the window.
    installQtFrenchTranslations(app);
    // Declared after the application, so destroyed before it.
    QuorvelMainWindow window;
    window.show();
    return app.exec();
}
