// Qt's own texts in French (standard buttons, file dialogs, context menus), so that the dialogs
// Qt draws match the programs' French interface. The programs' own texts are not touched: they
// are written in French and no catalog is loaded for them.
#pragma once

class QCoreApplication;

// Loads Qt's French catalog (Debian package qttranslations5-l10n) from Qt's translations folder
// into the application. False when it is not installed: Qt's texts then stay in English.
bool installQtFrenchTranslations(QCoreApplication &app);
