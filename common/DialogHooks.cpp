// The standard Qt dialogs behind each hook.
#include "DialogHooks.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

DialogHooks::DialogHooks()
    : textPrompt([](QWidget *parent, const QString &title, const QString &label, const QString &text, bool *ok) {
          return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
      }),
      errorBox([](QWidget *parent, const QString &title, const QString &text) {
          QMessageBox::critical(parent, title, text, QMessageBox::Ok);
      }),
      warningBox([](QWidget *parent, const QString &title, const QString &text) {
          QMessageBox::warning(parent, title, text, QMessageBox::Ok);
      }),
      questionBox([](QWidget *parent, const QString &title, const QString &text) {
          return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                       QMessageBox::NoButton)
                 == QMessageBox::Yes;
      }),
      directoryPrompt([](QWidget *parent, const QString &caption) {
          return QFileDialog::getExistingDirectory(parent, caption, QString(),
                                                   QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
      }),
      openFilePrompt([](QWidget *parent, const QString &caption, const QString &directory, const QString &filter) {
          return QFileDialog::getOpenFileName(parent, caption, directory, filter);
      }),
      openFilesPrompt([](QWidget *parent, const QString &caption, const QString &directory,
                         const QStringList &selected, const QString &filter) {
          QFileDialog dialog(parent, caption, directory, filter);
          dialog.setFileMode(QFileDialog::ExistingFiles);
          // The desktop's own dialog may take a single file as chosen at first.
          dialog.setOption(QFileDialog::DontUseNativeDialog);
          // Several names chosen at once are written quoted, as the dialog writes a selection.
          if (selected.size() == 1)
              dialog.selectFile(selected.first());
          else if (selected.size() > 1)
              dialog.selectFile(QLatin1Char('"') + selected.join(QStringLiteral("\" \"")) + QLatin1Char('"'));
          return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
      }),
      saveFilePrompt([](QWidget *parent, const QString &caption, const QString &path, const QString &filter) {
          return QFileDialog::getSaveFileName(parent, caption, path, filter);
      })
{
}
