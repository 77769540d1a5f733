// The modal dialogs through which a window asks the user something. Each is a replaceable function,
// the standard Qt dialog by default, so that the windows' tests answer them without a dialog on
// screen.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

class DialogHooks
{
public:
    // A text, starting from `text`; *ok says whether the dialog was accepted.
    using TextPrompt = std::function<QString(QWidget *parent, const QString &title, const QString &label,
                                             const QString &text, bool *ok)>;
    // A message that returns once the user has acknowledged it.
    using Notice = std::function<void(QWidget *parent, const QString &title, const QString &text)>;
    // A yes-or-no question; true for yes.
    using Question = std::function<bool(QWidget *parent, const QString &title, const QString &text)>;
    // A folder; empty when cancelled.
    using DirectoryPrompt = std::function<QString(QWidget *parent, const QString &caption)>;
    // A file to open; a null text when cancelled.
    using OpenFilePrompt = std::function<QString(QWidget *parent, const QString &caption,
                                                 const QString &directory, const QString &filter)>;
    // Files to open in `directory`, those named in `selected` chosen at first; none when cancelled.
    using OpenFilesPrompt = std::function<QStringList(QWidget *parent, const QString &caption,
                                                      const QString &directory, const QStringList &selected,
                                                      const QString &filter)>;
    // Where to write a file, proposing `path`; a null text when cancelled.
    using SaveFilePrompt = std::function<QString(QWidget *parent, const QString &caption,
                                                 const QString &path, const QString &filter)>;

    DialogHooks();

    TextPrompt textPrompt;            // QInputDialog::getText
    Notice errorBox;                  // QMessageBox::critical, OK button
    Notice warningBox;                // QMessageBox::warning, OK button
    Question questionBox;             // QMessageBox::question, Yes and No buttons
    DirectoryPrompt directoryPrompt;  // QFileDialog::getExistingDirectory, folders only
    OpenFilePrompt openFilePrompt;    // QFileDialog::getOpenFileName
    OpenFilesPrompt openFilesPrompt;  // Qt's own file dialog, several existing files
    SaveFilePrompt saveFilePrompt;    // QFileDialog::getSaveFileName
};
