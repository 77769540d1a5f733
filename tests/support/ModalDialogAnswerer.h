// Answers every modal dialog as soon as it is up, as a user would, and notes what each one asked.
// For the tests that run a window's real dialogs rather than its replaceable ones.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

class ModalDialogAnswerer : public QObject
{
public:
    // Answers from now on, until destroyed.
    explicit ModalDialogAnswerer(QObject *parent = nullptr);

    // What an input dialog is given before it is accepted.
    void setText(const QString &text) { m_text = text; }

    // In order: title and label of each input dialog, title and text of each message box, title of
    // each file dialog (which is cancelled).
    const QStringList &seen() const { return m_seen; }
    // The standard buttons of each message box, in order.
    const QList<QMessageBox::StandardButtons> &buttons() const { return m_buttons; }
    void clear();

private:
    // A modal dialog runs its own event loop: the timer, polled from it, finds the dialog there.
    void answer();

    QTimer m_timer;
    QString m_text;
    QStringList m_seen;
    QList<QMessageBox::StandardButtons> m_buttons;
};
