// Finding the modal dialog that is up and answering it.
#include "ModalDialogAnswerer.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QPushButton>

ModalDialogAnswerer::ModalDialogAnswerer(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalDialogAnswerer::answer);
    m_timer.start();
}

void ModalDialogAnswerer::clear()
{
    m_seen.clear();
    m_buttons.clear();
}

void ModalDialogAnswerer::answer()
{
    // An answered dialog hides at once, so none is answered twice.
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *input = qobject_cast<QInputDialog *>(modal)) {
        m_seen << input->windowTitle() << input->labelText();
        input->setTextValue(m_text);
        input->accept();
    } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        m_seen << box->windowTitle() << box->text();
        m_buttons << box->standardButtons();
        // A question is answered No.
        box->button(box->button(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No)->click();
    } else if (auto *files = qobject_cast<QFileDialog *>(modal)) {
        m_seen << files->windowTitle();
        files->reject();
    }
}
